// OrvTiff's entry points: the settings kept for the files written next, the
// open multipage file, the hooks, and the hand-over of images to the library.
// The TIFF work is in tiff_read.cpp, tiff_write.cpp and tiff_file.cpp.
#include <sys/stat.h>

#include <cstring>
#include <memory>
#include <string>

#include "codecs/codec_abi.h"
#include "codecs/common/file_io.h"
#include "codecs/common/module_host.h"
#include "codecs/tiff/tiff_codec.h"
#include "orivane/errors.h"

namespace {

using orvtiff::ExtraTag;
using orvtiff::Status;
using orvtiff::TiffFile;

using codec::kWriteFailed;

struct TiffState {
  orvtiff::WriteSettings settings;
  bool append = false;
  OrvErrorHandler on_error = nullptr;
  OrvLogHandler on_log = nullptr;
  std::unique_ptr<TiffFile> multipage;
  std::string multipage_path;
  int multipage_pages = 0;
  bool multipage_failed = false;
};

TiffState& state() {
  static TiffState s;
  return s;
}

void log(const std::string& text) {
  if (state().on_log) state().on_log(text.c_str());
}

// Reports a failure through the error handler and the library's record.
void fail(const Status& s, const char* where) {
  const std::string text = s.text + (where && *where ? std::string(", in ") + where : "");
  if (state().on_error) state().on_error(s.code, text.c_str());
  codec::host_record_error(s.code == ERR_NOT_FOUND || s.code == ERR_FILE_ACCESS ? s.code : ERR_TIFF,
                           text.c_str());
}

bool file_exists(const char* path) {
  struct stat st {};
  return ::stat(path, &st) == 0 && S_ISREG(st.st_mode);
}

void remove_file(const char* path) {
  if (file_exists(path)) std::remove(path);
}

Status open_error(const TiffFile& f, const char* path, const char* mode) {
  if (mode[0] == 'r' && !file_exists(path)) {
    struct stat st {};
    return {::stat(path, &st) == 0 ? ERR_FILE_READ : ERR_NOT_FOUND, "cannot open file"};
  }
  return {mode[0] == 'r' ? ERR_FILE_READ : ERR_FILE_WRITE, f.error("cannot open file")};
}

int pages_in(const char* path) {
  TiffFile f = TiffFile::open_path(path, "r");
  return f.get() ? orvtiff::tiff_count_pages(f.get()) : 0;
}

OrvHandle read_page(TiffFile& f, int page, const char* where) {
  codec::NewDib dib;
  const Status s = orvtiff::tiff_read_page(f.get(), page, &dib);
  if (!s) {
    fail({s.code, f.error(s.text.c_str())}, where);
    return 0;
  }
  return dib.release();
}

std::int32_t keep_tag(ExtraTag tag) {
  if (!orvtiff::tiff_tag_known(tag.tag)) {
    log("tag " + std::to_string(tag.tag) + " unknown");
    return 0;
  }
  auto& tags = state().settings.tags;
  for (ExtraTag& t : tags) {
    if (t.tag == tag.tag) {
      t = std::move(tag);
      return 1;
    }
  }
  tags.push_back(std::move(tag));
  return 1;
}

std::string text_or_empty(const char* text) { return text ? text : ""; }

ExtraTag tag_of(ExtraTag::Kind kind, std::int32_t tag, std::int64_t number = 0) {
  ExtraTag t{};
  t.kind = kind;
  t.tag = std::uint32_t(tag);
  t.number = number;
  return t;
}

}  // namespace

extern "C" {

ORV_CODEC_EXPORT int32_t ORVTIFF_SetHost(const OrvHost* host) { return codec::host_set(host); }
ORV_CODEC_EXPORT int32_t ORVTIFF_Version(void) { return ORVTIFF_VERSION; }
ORV_CODEC_EXPORT void ORVTIFF_SetErrorHandler(OrvErrorHandler h) { state().on_error = h; }
ORV_CODEC_EXPORT void ORVTIFF_SetLogHandler(OrvLogHandler h) { state().on_log = h; }
ORV_CODEC_EXPORT void ORVTIFF_SetSoftwareName(const char* name) {
  state().settings.software = text_or_empty(name);
}
ORV_CODEC_EXPORT void ORVTIFF_SetScannerModel(const char* model) {
  state().settings.model = text_or_empty(model);
}
ORV_CODEC_EXPORT void ORVTIFF_SetJpegQuality(int32_t q) {
  state().settings.jpeg_quality = q < 1 ? 1 : q > 100 ? 100 : q;
}
ORV_CODEC_EXPORT int32_t ORVTIFF_GetStripSize(void) { return state().settings.strip_rows; }
ORV_CODEC_EXPORT int32_t ORVTIFF_SetStripSize(int32_t rows) {
  state().settings.strip_rows = rows > 0 ? rows : 0;
  return state().settings.strip_rows;
}
ORV_CODEC_EXPORT int32_t ORVTIFF_SetCompression(int32_t pixel_type, int32_t compression) {
  if (pixel_type < 0 || pixel_type > 5 || compression < 1 || compression > 65535 ||
      !orvtiff::compression_allowed(pixel_type, compression) ||
      !TIFFIsCODECConfigured(std::uint16_t(compression)))
    return 0;
  state().settings.compression[std::size_t(pixel_type)] = compression;
  return 1;
}
ORV_CODEC_EXPORT int32_t ORVTIFF_GetCompression(int32_t pixel_type) {
  if (pixel_type < 0 || pixel_type > 5) return -1;
  return state().settings.compression[std::size_t(pixel_type)];
}
ORV_CODEC_EXPORT void ORVTIFF_SetAppendFlag(int32_t flag) { state().append = flag != 0; }
ORV_CODEC_EXPORT void ORVTIFF_SetPageCount(int32_t pages) { state().settings.page_count = pages; }
ORV_CODEC_EXPORT int32_t ORVTIFF_SetImageDescription(const char* text) {
  state().settings.description = text_or_empty(text);
  return 1;
}
ORV_CODEC_EXPORT int32_t ORVTIFF_SetDocumentName(const char* text) {
  state().settings.document_name = text_or_empty(text);
  return 1;
}

ORV_CODEC_EXPORT int32_t ORVTIFF_SetTagLong(int32_t tag, int32_t value) {
  return keep_tag(tag_of(ExtraTag::Long, tag, value));
}
ORV_CODEC_EXPORT int32_t ORVTIFF_SetTagShort(int32_t tag, int32_t value) {
  return keep_tag(tag_of(ExtraTag::Short, tag, value));
}
ORV_CODEC_EXPORT int32_t ORVTIFF_SetTagAscii(int32_t tag, const char* text) {
  if (!text) return 0;
  ExtraTag t = tag_of(ExtraTag::Ascii, tag);
  t.text = text;
  return keep_tag(std::move(t));
}
ORV_CODEC_EXPORT int32_t ORVTIFF_SetTagDouble(int32_t tag, double value) {
  ExtraTag t = tag_of(ExtraTag::Double, tag);
  t.real = value;
  return keep_tag(std::move(t));
}
ORV_CODEC_EXPORT int32_t ORVTIFF_SetTagRational(int32_t tag, double value) {
  if (!(value >= 0)) return 0;
  ExtraTag t = tag_of(ExtraTag::Rational, tag);
  t.real = value;
  return keep_tag(std::move(t));
}
ORV_CODEC_EXPORT int32_t ORVTIFF_SetTagRationalArray(int32_t tag, const double* values, int32_t count) {
  if (!values || count <= 0 || count > 65535) return 0;
  ExtraTag t = tag_of(ExtraTag::RationalArray, tag);
  t.reals.assign(values, values + count);
  return keep_tag(std::move(t));
}
ORV_CODEC_EXPORT int32_t ORVTIFF_SetTagBytes(int32_t tag, const void* bytes, int32_t count) {
  if (!bytes || count <= 0) return 0;
  ExtraTag t = tag_of(ExtraTag::Bytes, tag);
  t.bytes.assign(static_cast<const std::uint8_t*>(bytes), static_cast<const std::uint8_t*>(bytes) + count);
  return keep_tag(std::move(t));
}
ORV_CODEC_EXPORT int32_t ORVTIFF_SetTagUndefined(int32_t tag, const void* bytes, int32_t count) {
  if (!bytes || count <= 0) return 0;
  ExtraTag t = tag_of(ExtraTag::Undefined, tag);
  t.bytes.assign(static_cast<const std::uint8_t*>(bytes), static_cast<const std::uint8_t*>(bytes) + count);
  return keep_tag(std::move(t));
}
ORV_CODEC_EXPORT void ORVTIFF_ResetTags(void) { state().settings.tags.clear(); }
ORV_CODEC_EXPORT int32_t ORVTIFF_DefineCustomTag(int32_t tag, int32_t read_count, int32_t field_type,
                                                 const char* name) {
  return orvtiff::tiff_define_tag(std::uint32_t(tag), read_count, field_type, name) ? 1 : 0;
}

ORV_CODEC_EXPORT OrvHandle ORVTIFF_DibFromFile(const char* path, int32_t page) {
  if (!path || !*path) {
    fail({ERR_BAD_FILENAME, "no file name"}, "");
    return 0;
  }
  TiffFile f = TiffFile::open_path(path, "r");
  if (!f.get()) {
    fail(open_error(f, path, "r"), path);
    return 0;
  }
  return read_page(f, page, path);
}

ORV_CODEC_EXPORT OrvHandle ORVTIFF_DibFromBuffer(const void* bytes, int32_t length, int32_t page) {
  if (!bytes || length <= 0) {
    fail({ERR_BAD_PARAMETER, "empty buffer"}, "memory");
    return 0;
  }
  TiffFile f = TiffFile::open_memory(static_cast<const std::uint8_t*>(bytes), std::size_t(length));
  if (!f.get()) {
    fail({ERR_FILE_READ, f.error("not a TIFF")}, "memory");
    return 0;
  }
  return read_page(f, page, "memory");
}

ORV_CODEC_EXPORT int32_t ORVTIFF_CountPagesInFile(const char* path) {
  if (!path || !*path) return -1;
  TiffFile f = TiffFile::open_path(path, "r");
  if (!f.get()) {
    fail(open_error(f, path, "r"), path);
    return -1;
  }
  return orvtiff::tiff_count_pages(f.get());
}

ORV_CODEC_EXPORT int32_t ORVTIFF_CountPagesInMemory(const void* bytes, int32_t length) {
  if (!bytes || length <= 0) return -1;
  TiffFile f = TiffFile::open_memory(static_cast<const std::uint8_t*>(bytes), std::size_t(length));
  if (!f.get()) {
    fail({ERR_FILE_READ, f.error("not a TIFF")}, "memory");
    return -1;
  }
  return orvtiff::tiff_count_pages(f.get());
}

ORV_CODEC_EXPORT int32_t ORVTIFF_GetTagAscii(const char* path, int32_t page, int32_t tag,
                                             char* buffer, int32_t size) {
  if (buffer && size > 0) buffer[0] = '\0';
  if (!path || !*path) return -1;
  TiffFile f = TiffFile::open_path(path, "r");
  if (!f.get() || page < 0 || page >= orvtiff::tiff_count_pages(f.get()) ||
      !TIFFSetDirectory(f.get(), tdir_t(page)))
    return -1;
  const TIFFField* fi = TIFFFindField(f.get(), std::uint32_t(tag), TIFF_ANY);
  if (!fi || TIFFFieldDataType(fi) != TIFF_ASCII) return -1;
  const char* text = nullptr;
  std::uint32_t count = 0;
  const bool got = TIFFFieldPassCount(fi) ? TIFFGetField(f.get(), std::uint32_t(tag), &count, &text)
                                          : TIFFGetField(f.get(), std::uint32_t(tag), &text);
  if (!got || !text) return -1;
  const std::size_t length = std::strlen(text);
  if (buffer && size > 0) {
    const std::size_t n = std::min(length, std::size_t(size) - 1);
    std::memcpy(buffer, text, n);
    buffer[n] = '\0';
  }
  return int32_t(length);
}

ORV_CODEC_EXPORT int32_t ORVTIFF_BmiWriteToFile(const void* bmi, const char* path) {
  TiffState& st = state();
  const int pages = st.settings.page_count;
  st.settings.page_count = -1;
  const auto dib = codec::dib_from_bmi(bmi);
  if (!dib || !path || !*path) {
    fail({dib ? ERR_BAD_FILENAME : ERR_BAD_DIB, dib ? "no file name" : "not a DIB"}, path);
    return kWriteFailed;
  }
  const bool append = st.append && file_exists(path);
  const int page = append ? pages_in(path) : 0;
  TiffFile f = TiffFile::open_path(path, append ? "a" : "w");
  if (!f.get()) {
    fail(open_error(f, path, "w"), path);
    return kWriteFailed;
  }
  const Status s = orvtiff::tiff_write_page(f.get(), *dib, st.settings, page, pages);
  const bool flushed = s && f.finish();
  if (!s || !flushed) {
    fail(s ? Status{ERR_FILE_WRITE, f.error("write failed")} : Status{s.code, f.error(s.text.c_str())}, path);
    if (!append) remove_file(path);
    return kWriteFailed;
  }
  return 0;
}

ORV_CODEC_EXPORT int32_t ORVTIFF_BeginMultipageFile(const char* path) {
  TiffState& st = state();
  if (st.multipage) {
    fail({ERR_MULTIPAGE_OPEN, "a multipage file is open"}, st.multipage_path.c_str());
    return kWriteFailed;
  }
  if (!path || !*path) {
    fail({ERR_BAD_FILENAME, "no file name"}, "");
    return kWriteFailed;
  }
  const bool append = st.append && file_exists(path);
  st.multipage_pages = append ? pages_in(path) : 0;
  auto f = std::make_unique<TiffFile>(TiffFile::open_path(path, append ? "a" : "w"));
  if (!f->get()) {
    fail(open_error(*f, path, "w"), path);
    return kWriteFailed;
  }
  st.multipage = std::move(f);
  st.multipage_path = path;
  st.multipage_failed = false;
  return 0;
}

ORV_CODEC_EXPORT int32_t ORVTIFF_DibWritePage(const void* bmi) {
  TiffState& st = state();
  if (!st.multipage) {
    fail({ERR_FAILURE, "no multipage file open"}, "");
    return kWriteFailed;
  }
  const auto dib = codec::dib_from_bmi(bmi);
  // A page refused before anything of it was written costs only itself:
  // the pages already in the file stay good.
  const Status refused = dib ? orvtiff::tiff_page_refusal(*dib) : Status{ERR_BAD_DIB, "not a DIB"};
  if (!refused) {
    fail(refused, st.multipage_path.c_str());
    return kWriteFailed;
  }
  const Status s = orvtiff::tiff_write_page(st.multipage->get(), *dib, st.settings, st.multipage_pages, -1);
  if (!s) {
    st.multipage_failed = true;
    fail({s.code, st.multipage->error(s.text.c_str())}, st.multipage_path.c_str());
    return kWriteFailed;
  }
  ++st.multipage_pages;
  return 0;
}

ORV_CODEC_EXPORT int32_t ORVTIFF_EndMultipageFile(void) {
  TiffState& st = state();
  if (!st.multipage) return 0;
  const bool ok = st.multipage->finish() && !st.multipage_failed;
  if (!ok && !st.multipage_failed)
    fail({ERR_FILE_WRITE, st.multipage->error("write failed")}, st.multipage_path.c_str());
  st.multipage.reset();
  return ok ? 0 : kWriteFailed;
}

}  // extern "C"
