// Opening TIFF files and memory with bounded allocations and collected
// messages, and the custom tag definitions merged into every file opened.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "codecs/tiff/tiff_codec.h"

namespace orvtiff {

struct TiffFile::Impl {
  std::string first_error;
  const std::uint8_t* data = nullptr;  // memory input
  std::uint64_t size = 0, pos = 0;
};

namespace {

int on_error(TIFF*, void* user, const char* module, const char* format, va_list ap) {
  auto* impl = static_cast<TiffFile::Impl*>(user);
  char text[512];
  std::vsnprintf(text, sizeof text, format, ap);
  if (impl && impl->first_error.empty())
    impl->first_error = std::string(module ? module : "") + (module ? ": " : "") + text;
  return 1;
}

int on_warning(TIFF*, void*, const char* module, const char* format, va_list ap) {
  char text[512];
  std::vsnprintf(text, sizeof text, format, ap);
  codec::host_log(std::string("[OrvTiff] warning: ") + text);
  return 1;
}

tmsize_t mem_read(thandle_t h, void* buf, tmsize_t n) {
  auto* m = static_cast<TiffFile::Impl*>(h);
  if (n < 0 || m->pos >= m->size) return 0;
  const std::uint64_t take = std::min<std::uint64_t>(std::uint64_t(n), m->size - m->pos);
  std::memcpy(buf, m->data + m->pos, take);
  m->pos += take;
  return tmsize_t(take);
}
tmsize_t mem_write(thandle_t, void*, tmsize_t) { return 0; }
toff_t mem_seek(thandle_t h, toff_t off, int whence) {
  auto* m = static_cast<TiffFile::Impl*>(h);
  std::uint64_t base = whence == SEEK_CUR ? m->pos : whence == SEEK_END ? m->size : 0;
  m->pos = base + off;
  return m->pos;
}
int mem_close(thandle_t) { return 0; }
toff_t mem_size(thandle_t h) { return static_cast<TiffFile::Impl*>(h)->size; }
int no_map(thandle_t, void**, toff_t*) { return 0; }
void no_unmap(thandle_t, void*, toff_t) {}

TIFFOpenOptions* make_options(TiffFile::Impl* impl) {
  TIFFOpenOptions* opts = TIFFOpenOptionsAlloc();
  TIFFOpenOptionsSetMaxSingleMemAlloc(opts, kMaxSingleAlloc);
  TIFFOpenOptionsSetErrorHandlerExtR(opts, on_error, impl);
  TIFFOpenOptionsSetWarningHandlerExtR(opts, on_warning, impl);
  return opts;
}

// ---- custom tags ------------------------------------------------------------

struct CustomTag {
  std::uint32_t tag;
  int read_count;
  int type;
  std::string name;
};

std::vector<CustomTag>& custom_tags() {
  static std::vector<CustomTag> tags;
  return tags;
}

TIFFExtendProc& previous_extender() {
  static TIFFExtendProc p = nullptr;
  return p;
}

void extend(TIFF* tif) {
  std::vector<TIFFFieldInfo> info;
  for (const CustomTag& t : custom_tags()) {
    // Text is passed without a count (libtiff measures it); other variable
    // fields are passed with one.
    const bool ascii = t.type == TIFF_ASCII;
    const short count = ascii ? short(TIFF_VARIABLE) : short(t.read_count);
    info.push_back({t.tag, count, count, TIFFDataType(t.type), FIELD_CUSTOM, 1,
                    static_cast<unsigned char>(!ascii && count < 0 ? 1 : 0),
                    const_cast<char*>(t.name.c_str())});
  }
  if (!info.empty()) TIFFMergeFieldInfo(tif, info.data(), std::uint32_t(info.size()));
  if (previous_extender()) previous_extender()(tif);
}

// libtiff may outlive this module (the program can use it too): when the
// module is unloaded its extender must leave libtiff's chain, or the next
// file opened would call into unmapped code.
__attribute__((destructor)) void uninstall_extender() {
  const TIFFExtendProc ours = TIFFSetTagExtender(previous_extender());
  if (ours != extend && ours != nullptr) TIFFSetTagExtender(ours);  // not ours: leave it
}

void install_extender() {
  static std::once_flag once;
  std::call_once(once, [] {
    // libtiff's process-wide handlers would print; each file has its own.
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
    previous_extender() = TIFFSetTagExtender(extend);
  });
}

tmsize_t probe_write(thandle_t, void*, tmsize_t n) { return n; }

}  // namespace

TiffFile::TiffFile() : impl_(new Impl) { install_extender(); }

TiffFile::TiffFile(TiffFile&& o) noexcept : tif_(o.tif_), impl_(o.impl_) {
  o.tif_ = nullptr;
  o.impl_ = nullptr;
}

TiffFile::~TiffFile() {
  if (tif_ && tif_ != nullptr && TIFFGetMode(tif_) == O_RDONLY) {
    TIFFClose(tif_);
  } else if (tif_) {
    // A file being written that was not finished: drop it without writing
    // the pending directory.
    const int fd = impl_->data ? -1 : TIFFFileno(tif_);
    TIFFCleanup(tif_);
    if (fd >= 0) ::close(fd);
  }
  delete impl_;
}

TiffFile TiffFile::open_path(const char* path, const char* mode) {
  TiffFile f;
  TIFFOpenOptions* opts = make_options(f.impl_);
  f.tif_ = TIFFOpenExt(path, mode, opts);
  TIFFOpenOptionsFree(opts);
  return f;
}

TiffFile TiffFile::open_memory(const std::uint8_t* data, std::size_t size) {
  TiffFile f;
  f.impl_->data = data;
  f.impl_->size = size;
  TIFFOpenOptions* opts = make_options(f.impl_);
  f.tif_ = TIFFClientOpenExt("memory", "rm", f.impl_, mem_read, mem_write, mem_seek, mem_close,
                             mem_size, no_map, no_unmap, opts);
  TIFFOpenOptionsFree(opts);
  return f;
}

std::string TiffFile::error(const char* fallback) const {
  return impl_ && !impl_->first_error.empty() ? impl_->first_error : fallback;
}

bool TiffFile::finish() {
  if (!tif_) return false;
  const bool flushed = TIFFFlush(tif_) == 1;
  TIFFClose(tif_);
  tif_ = nullptr;
  return flushed && impl_->first_error.empty();
}

bool tiff_define_tag(std::uint32_t tag, int read_count, int field_type, const char* name) {
  if (tag < 256 || tag > 65535 || field_type < TIFF_BYTE || field_type > TIFF_IFD8 ||
      read_count < -3 || read_count > 32767)
    return false;
  install_extender();
  for (CustomTag& t : custom_tags()) {
    if (t.tag == tag) {
      t = {tag, read_count, field_type, name && *name ? name : "Custom" + std::to_string(tag)};
      return true;
    }
  }
  custom_tags().push_back({tag, read_count, field_type,
                           name && *name ? name : "Custom" + std::to_string(tag)});
  return true;
}

bool tiff_tag_known(std::uint32_t tag) {
  install_extender();
  // A TIFF "written" to nowhere knows every tag libtiff and our definitions do.
  static TiffFile::Impl nowhere;
  TIFF* probe = TIFFClientOpen("probe", "w", &nowhere, mem_read, probe_write, mem_seek, mem_close,
                               mem_size, no_map, no_unmap);
  if (!probe) return false;
  const bool known = TIFFFindField(probe, tag, TIFF_ANY) != nullptr;
  TIFFCleanup(probe);
  return known;
}

}  // namespace orvtiff
