// OrvDcx: the entry points of the DCX codec module. Settings and the open
// multipage file are process-wide (the library calls one module from one
// thread at a time).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "codecs/codec_abi.h"
#include "codecs/common/file_io.h"
#include "codecs/common/image_limits.h"
#include "codecs/dcx/dcx_format.h"

namespace {

constexpr int32_t kErrFileRead = 45, kErrFileWrite = 47, kErrMemory = 35, kErrNotFound = 33,
                  kErrDcxConvert = 49, kErrBadParameter = 57;
// Module failure codes (never -1..-5, which mean other things to the callers).
constexpr int32_t kFailWrite = -20, kFailOpen = -21, kFailDib = -22, kFailState = -23,
                  kFailFull = -24, kFailFormat = -25;

struct MultipageFile {
  FILE* file = nullptr;
  std::string path;
  std::vector<std::uint32_t> offsets;
  std::uint64_t end = 0;  // where the next page goes
  bool failed = false;
};

struct ModuleState {
  const OrvHost* host = nullptr;
  OrvLogHandler log = nullptr;
  bool append = false;
  int32_t page_to_read = 0;
  MultipageFile out;
};
ModuleState& state() {
  static ModuleState s;
  return s;
}

void trace(const std::string& text) {
  if (state().log) state().log(text.c_str());
}
void record(int32_t code, const std::string& detail) {
  trace(detail);
  if (state().host && state().host->record_error) state().host->record_error(code, detail.c_str());
}

bool write_at(FILE* f, std::uint64_t at, const void* data, std::size_t n) {
  return fseeko(f, static_cast<off_t>(at), SEEK_SET) == 0 && fwrite(data, 1, n, f) == n;
}

std::vector<std::uint8_t> read_all(FILE* f, std::uint64_t limit, bool* out_ok) {
  std::vector<std::uint8_t> bytes;
  std::uint8_t chunk[65536];
  size_t got;
  while ((got = fread(chunk, 1, sizeof chunk, f)) > 0) {
    if (bytes.size() + got > limit) break;
    bytes.insert(bytes.end(), chunk, chunk + got);
  }
  *out_ok = !ferror(f);
  return bytes;
}

// Opens the file for a new or appended DCX and positions the page table.
int32_t multipage_open(const char* path) {
  MultipageFile& m = state().out;
  if (m.file) {
    record(kErrBadParameter, "DCX multipage file already open");
    return kFailState;
  }
  if (!path || !*path) {
    record(kErrBadParameter, "DCX: no file name");
    return kFailOpen;
  }
  m = MultipageFile{};
  m.path = path;
  FILE* f = nullptr;
  if (state().append) f = std::fopen(path, "r+b");
  if (f) {
    std::uint8_t head[dcx::kHeaderBytes];
    const size_t got = fread(head, 1, sizeof head, f);
    struct stat st {};
    fstat(fileno(f), &st);
    auto offsets = got >= 8 ? dcx::dcx_offsets({head, got}, static_cast<std::uint64_t>(st.st_size))
                            : std::nullopt;
    if (!offsets || got < dcx::kHeaderBytes) {
      std::fclose(f);
      record(kErrFileRead, std::string("not a DCX file to append to: ") + path);
      return kFailFormat;
    }
    m.offsets = *offsets;
    m.end = static_cast<std::uint64_t>(st.st_size);
    trace("appending to " + m.path + " after " + std::to_string(m.offsets.size()) + " pages");
  } else {
    f = std::fopen(path, "w+b");
    if (!f) {
      record(errno == ENOENT ? kErrNotFound : kErrFileWrite, std::string("cannot create ") + path);
      return kFailOpen;
    }
    const auto head = dcx::dcx_header({});
    if (fwrite(head.data(), 1, head.size(), f) != head.size()) {
      std::fclose(f);
      record(kErrFileWrite, std::string("write failed: ") + path);
      return kFailWrite;
    }
    m.end = head.size();
  }
  m.file = f;
  return 0;
}

int32_t multipage_page(const void* bmi) {
  MultipageFile& m = state().out;
  if (!m.file) {
    record(kErrBadParameter, "DCX page without an open file");
    return kFailState;
  }
  if (!bmi) {
    record(kErrDcxConvert, "DCX page: no image");
    return kFailDib;
  }
  if (m.offsets.size() >= static_cast<std::size_t>(dcx::kMaxPages)) {
    record(kErrFileWrite, "DCX file holds 1023 pages already: " + m.path);
    return kFailFull;
  }
  // The block's size is not passed; the header tells how much to read.
  const auto* b = static_cast<const std::uint8_t*>(bmi);
  std::uint32_t hsize, used, img;
  std::int32_t w, h;
  std::memcpy(&hsize, b, 4);
  std::memcpy(&w, b + 4, 4);
  std::memcpy(&h, b + 8, 4);
  std::memcpy(&used, b + 32, 4);
  const std::uint16_t bits = static_cast<std::uint16_t>(b[14] | b[15] << 8);
  const std::uint64_t entries = used ? used : 2;
  if (hsize != 40 || bits != 1 || w <= 0 || h == 0 || h == INT32_MIN || entries > 256) {
    record(kErrDcxConvert, "DCX pages are 1-bit images");
    return kFailDib;
  }
  img = static_cast<std::uint32_t>(((static_cast<std::uint64_t>(w) + 31) / 32) * 4 *
                                   static_cast<std::uint64_t>(h < 0 ? -static_cast<std::int64_t>(h) : h));
  const std::size_t size = 40 + entries * 4 + img;
  auto pcx = dcx::pcx_encode_bw(b, size);
  if (!pcx) {
    record(kErrDcxConvert, "DCX: image cannot be coded");
    return kFailDib;
  }
  if (m.end + pcx->size() > 0xFFFFFFFFull) {
    record(kErrFileWrite, "DCX file over 4 GB: " + m.path);
    return kFailFull;
  }
  if (!write_at(m.file, m.end, pcx->data(), pcx->size())) {
    m.failed = true;
    record(kErrFileWrite, std::string("write failed (") + std::strerror(errno) + "): " + m.path);
    return kFailWrite;
  }
  m.offsets.push_back(static_cast<std::uint32_t>(m.end));
  m.end += pcx->size();
  return 0;
}

int32_t multipage_close() {
  MultipageFile& m = state().out;
  if (!m.file) {
    record(kErrBadParameter, "DCX: no multipage file open");
    return kFailState;
  }
  const auto head = dcx::dcx_header(m.offsets);
  bool ok = !m.failed && write_at(m.file, 0, head.data(), head.size());
  ok = std::fflush(m.file) == 0 && ok;
  ok = !std::ferror(m.file) && ok;
  ok = fsync(fileno(m.file)) == 0 && ok;
  ok = std::fclose(m.file) == 0 && ok;
  const std::string path = m.path;
  const std::size_t pages = m.offsets.size();
  m = MultipageFile{};
  if (!ok) {
    record(kErrFileWrite, std::string("write failed (") + std::strerror(errno) + "): " + path);
    return kFailWrite;
  }
  trace("wrote " + std::to_string(pages) + " pages to " + path);
  return 0;
}

// The file's bytes up to the limit a page may need.
bool file_bytes(const char* path, std::vector<std::uint8_t>* out) {
  int open_code = 0;
  FILE* f = codec::file_open_regular(path, &open_code);
  if (!f) {
    record(open_code == ERR_NOT_FOUND ? kErrNotFound : kErrFileRead,
           std::string("cannot open ") + (path ? path : "(null)"));
    return false;
  }
  bool ok = false;
  *out = read_all(f, 0xFFFFFFFFull, &ok);
  std::fclose(f);
  if (!ok) record(kErrFileRead, std::string("read failed: ") + path);
  return ok;
}

int32_t count_pages(std::span<const std::uint8_t> bytes) {
  auto offsets = dcx::dcx_offsets(bytes.subspan(0, std::min(bytes.size(), dcx::kHeaderBytes)), bytes.size());
  return offsets ? static_cast<int32_t>(offsets->size()) : -1;
}

OrvHandle dib_from_bytes(std::span<const std::uint8_t> bytes, int32_t page, const char* what) {
  const OrvHost* host = state().host;
  auto offsets = dcx::dcx_offsets(bytes.subspan(0, std::min(bytes.size(), dcx::kHeaderBytes)), bytes.size());
  if (!offsets) {
    record(kErrFileRead, std::string("not a DCX file: ") + what);
    return 0;
  }
  if (page < 0 || static_cast<std::size_t>(page) >= offsets->size()) {
    record(kErrFileRead, "no page " + std::to_string(page) + " in " + what);
    return 0;
  }
  std::string why;
  auto dib = dcx::pcx_decode(bytes.subspan((*offsets)[page]), codec::max_image_pixels(host), &why);
  if (!dib) {
    record(kErrFileRead, why + ": " + what);
    return 0;
  }
  std::int32_t w, h;
  std::memcpy(&w, dib->data() + 4, 4);
  std::memcpy(&h, dib->data() + 8, 4);
  const int bits = (*dib)[14];
  int type = ORV_PT_BW;
  if (bits == 24) {
    type = ORV_PT_RGB;
  } else if (bits == 8) {
    type = ORV_PT_GRAY;
    for (int i = 0; i < 256; ++i) {
      const std::uint8_t* e = dib->data() + 40 + 4 * i;
      if (e[0] != e[1] || e[1] != e[2]) type = ORV_PT_PALETTE;
    }
  }
  if (!host || !host->dib_alloc) return 0;
  OrvHandle out = host->dib_alloc(type, w, h, bits);
  if (!out) {
    record(kErrMemory, what);
    return 0;
  }
  void* p = host->mem_lock(out);
  if (!p || host->mem_size(out) < dib->size()) {
    if (p) host->mem_unlock(out);
    host->dib_free(out);
    record(kErrMemory, what);
    return 0;
  }
  std::memcpy(p, dib->data(), dib->size());
  host->mem_unlock(out);
  return out;
}

}  // namespace

extern "C" {

ORV_CODEC_EXPORT int32_t ORVDCX_SetHost(const OrvHost* host) {
  if (!host || host->abi_version != ORV_CODEC_ABI_VERSION || host->size < ORV_HOST_BASE_SIZE) return 1;
  state().host = host;
  return 0;
}

ORV_CODEC_EXPORT int32_t ORVDCX_Version(void) { return ORVDCX_VERSION; }

ORV_CODEC_EXPORT void ORVDCX_SetLogHandler(OrvLogHandler handler) { state().log = handler; }

ORV_CODEC_EXPORT void ORVDCX_SetAppendFlag(int32_t flag) { state().append = flag != 0; }

ORV_CODEC_EXPORT void ORVDCX_SelectPageToRead(int32_t page) { state().page_to_read = page; }

ORV_CODEC_EXPORT int32_t ORVDCX_BeginMultipageFile(const char* path) { return multipage_open(path); }

ORV_CODEC_EXPORT int32_t ORVDCX_DibWritePage(const void* bmi) { return multipage_page(bmi); }

ORV_CODEC_EXPORT int32_t ORVDCX_EndMultipageFile(void) { return multipage_close(); }

ORV_CODEC_EXPORT int32_t ORVDCX_BmiWriteToFile(const void* bmi, const char* path) {
  if (state().out.file) {
    record(kErrBadParameter, "DCX multipage file open");
    return kFailState;
  }
  int32_t rc = multipage_open(path);
  if (rc != 0) return rc;
  rc = multipage_page(bmi);
  if (rc != 0) state().out.failed = true;
  const int32_t end = multipage_close();
  return rc != 0 ? rc : end;
}

ORV_CODEC_EXPORT OrvHandle ORVDCX_DibFromFile(const char* path) {
  const int32_t page = state().page_to_read;
  state().page_to_read = 0;
  std::vector<std::uint8_t> bytes;
  if (!file_bytes(path, &bytes)) return 0;
  return dib_from_bytes(bytes, page, path);
}

ORV_CODEC_EXPORT int32_t ORVDCX_CountPagesInFile(const char* path) {
  int open_code = 0;
  FILE* f = codec::file_open_regular(path, &open_code);
  if (!f) {
    record(open_code == ERR_NOT_FOUND ? kErrNotFound : kErrFileRead,
           std::string("cannot open ") + (path ? path : "(null)"));
    return -1;
  }
  std::uint8_t head[dcx::kHeaderBytes];
  const size_t got = fread(head, 1, sizeof head, f);
  struct stat st {};
  const bool ok = fstat(fileno(f), &st) == 0 && !ferror(f);
  std::fclose(f);
  auto offsets = ok ? dcx::dcx_offsets({head, got}, static_cast<std::uint64_t>(st.st_size)) : std::nullopt;
  if (!offsets) {
    record(kErrFileRead, std::string("not a DCX file: ") + path);
    return -1;
  }
  return static_cast<int32_t>(offsets->size());
}

ORV_CODEC_EXPORT int32_t ORVDCX_CountPagesInBuffer(const void* bytes, int32_t length) {
  if (!bytes || length <= 0) return -1;
  const int32_t n = count_pages({static_cast<const std::uint8_t*>(bytes), static_cast<std::size_t>(length)});
  if (n < 0) record(kErrFileRead, "not a DCX file: <in memory>");
  return n;
}

}  // extern "C"
