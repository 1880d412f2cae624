// Loading pages from files and from memory, page counts and array loads. The
// format always comes from the first bytes; BMP is read here, every other
// format by its codec module.
#include "orivane/file_api.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <string>

#include "core/error_record.h"
#include "dib/api_guard.h"
#include "dib/dib.h"
#include "fileio/codec_modules.h"
#include "fileio/file_state.h"
#include "fileio/url_pages.h"
#include "fileio/pdf_options.h"
#include "log/trace.h"
#include "orivane/bmp_api.h"
#include "orivane/errors.h"
#include "orivane/file_api.h"
#include "platform/clock.h"
#include "platform/memblock.h"

namespace fileio {
namespace {

// What a fault inside a codec's reader is recorded with.
constexpr const char* kFileContext = "LoadFromFilename";
constexpr const char* kBufferContext = "LoadFromBuffer";
constexpr const char* kCountContext = "FilePageCount";
constexpr const char* kBufferCountContext = "BufferPageCount";

// One call into a codec's reader under the fault guard: a fault gives no
// image, with ERR_FAILURE and `context` recorded.
template <typename Call>
OrvHandle guarded_load(const char* context, Call call) {
  return codec_guarded(context, OrvHandle{0}, call);
}

UrlPagesLoader& installed_url_loader() {
  static UrlPagesLoader loader = nullptr;
  return loader;
}

const char* skip_spaces(const char* p) {
  while (*p == ' ') ++p;
  return p;
}

bool is_url(const char* p) {
  return strncasecmp(p, "http:", 5) == 0 || strncasecmp(p, "https:", 6) == 0 || strncasecmp(p, "ftp:", 4) == 0;
}

// A handle a module returned: kept when it is a DIB block, else freed.
DIB_HANDLE accept(OrvHandle h, const char* context) {
  if (h == 0) return 0;
  if (!dib::dib_is_block(h)) {
    platform::mem_free(h);
    RecordError(ERR_BAD_DIB, context);
    return 0;
  }
  return h;
}

// A module that returned nothing without saying why still failed.
void ensure_recorded(int code, const char* detail) {
  if (core::error_record().code == 0) RecordError(code, detail);
}

const char* open_password() { return pdf_settings().open_password.c_str(); }

DIB_HANDLE load_jpeg(const char* path) {
  DIB_HANDLE h = 0;
  if (const JpegApi* jpeg = jpeg_api(); !jpeg) {
    RecordError(ERR_JPEG_LIBRARY, path);
  } else {
    h = accept(guarded_load(kFileContext, [&] { return jpeg->DibFromFile(path); }), path);
    if (!h) {
      const int code = jpeg->LastErrorCode();
      const char* text = jpeg->LastErrorText();
      char detail[256];
      std::snprintf(detail, sizeof detail, "%s, in %s", text ? text : "", path);
      RecordError(code > 0 && *core::error_format(code) ? code : ERR_FILE_READ, detail);
    }
  }
  LogPrint("Returning from Orivane::LoadJpeg\n");
  return h;
}

// One page of the file at a URL, through the download when it is there.
DIB_HANDLE page_from_url(const char* url, int page) {
  DIB_HANDLE h = 0;
  if (const UrlPagesLoader load = url_pages_loader()) {
    if (load(url, &h, page, 1) != 1) h = 0;
  } else {
    RecordError(ERR_FILE_TRANSFER, url);
  }
  return h;
}

DIB_HANDLE dib_from_filename(const char* path_in, int page) {
  LogPrint("DibFromFilename('%s', %d)\n", path_in ? path_in : "", page);
  const std::uint32_t start = platform::tick_count_ms();
  char chosen[260] = {0};
  if (!path_in || !*path_in) {
    if (!PromptForOpenFilename(chosen)) return 0;
    path_in = chosen;
  }
  const char* path = skip_spaces(path_in);
  DIB_HANDLE h = 0;
  if (is_url(path)) {
    h = page_from_url(path, page);
  } else {
    switch (TWAIN_FormatOfFile(path)) {
      case FF_TIFF:
        if (const TiffApi* tiff = tiff_api(); !tiff) {
          RecordError(ERR_TIFF_LIBRARY, path);
        } else {
          TiffUse use(tiff);
          h = accept(guarded_load(kFileContext, [&] { return tiff->DibFromFile(path, page); }), path);
          if (!h) ensure_recorded(ERR_FILE_READ, path);
        }
        break;
      case FF_BMP: {
        char message[1024] = {0};
        h = LoadBmp(path, message);
        if (!h) RecordError(ERR_FILE_READ, message[0] ? message : path);
        break;
      }
      case FF_JPEG: h = load_jpeg(path); break;
      case FF_PNG:
        if (const PngApi* png = png_api(); !png) {
          RecordError(ERR_LIBRARY_LOAD, "OrvPng.dll");
        } else if (!(h = accept(guarded_load(kFileContext, [&] { return png->DibFromFile(path); }), path))) {
          ensure_recorded(ERR_FILE_READ, path);
        }
        break;
      case FF_GIF:
        if (const GifApi* gif = gif_api(); !gif) {
          RecordError(ERR_LIBRARY_LOAD, "OrvGif.dll");
        } else if (!(h = accept(guarded_load(kFileContext, [&] { return gif->DibFromFile(path); }), path))) {
          ensure_recorded(ERR_FILE_READ, path);
        }
        break;
      case FF_DCX:
        if (const DcxApi* dcx = dcx_api(); !dcx) {
          RecordError(ERR_DCX_LIBRARY, path);
        } else {
          dcx->SelectPageToRead(page);
          h = accept(guarded_load(kFileContext, [&] { return dcx->DibFromFile(path); }), path);
          if (!h) ensure_recorded(ERR_FILE_READ, path);
        }
        break;
      case FF_PDF:
        if (const PdfApi* pdf = pdf_api(); pdf) {
          pdf_prepare(pdf);
          const char* password = open_password();
          h = accept(guarded_load(kFileContext, [&] { return pdf->DibFromFile(path, page, password); }), path);
          if (!h) ensure_recorded(ERR_FILE_READ, path);
        }
        break;
      default: RecordError(ERR_UNKNOWN_FORMAT, path); break;
    }
  }
  if (h) LogDumpDib(h);
  LogPrint("DibFromFilename [%ums]\n", platform::tick_count_ms() - start);
  return h;
}

// Writes bytes to a new file; true when all were written.
bool write_whole_file(const char* path, const void* bytes, uint32_t length) {
  const int fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  std::size_t done = 0;
  bool ok = true;
  while (done < length) {
    const ssize_t n = ::write(fd, static_cast<const char*>(bytes) + done, length - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0) ok = false;
  return ok;
}

// Formats without a memory reader go through a temporary file.
DIB_HANDLE load_through_file(const void* bytes, uint32_t length, int format, int page) {
  char temp[260];
  if (!GenerateTempImageName("OVT", format, temp)) {
    RecordError(ERR_FAILURE, "LoadFromBuffer");
    return 0;
  }
  DIB_HANDLE h = 0;
  if (write_whole_file(temp, bytes, length)) h = DIB_LoadPage(temp, page);
  else RecordError(ERR_FILE_WRITE, temp);
  ::unlink(temp);
  return h;
}

DIB_HANDLE dib_from_buffer(const void* bytes, uint32_t length, int page) {
  const std::uint32_t start = platform::tick_count_ms();
  core::error_clear();
  DIB_HANDLE h = 0;
  const int format = DIB_FormatOfBuffer(bytes, length);
  if (format != FF_UNKNOWN && length > static_cast<uint32_t>(INT32_MAX)) {
    RecordError(ERR_FILE_READ, "LoadFromBuffer");
  } else {
    const auto len = static_cast<int32_t>(length);
    switch (format) {
      case FF_TIFF:
        if (const TiffApi* tiff = tiff_api(); !tiff) {
          RecordError(ERR_TIFF_LIBRARY, "LoadFromBuffer");
        } else {
          TiffUse use(tiff);
          h = accept(guarded_load(kBufferContext, [&] { return tiff->DibFromBuffer(bytes, len, page); }),
                     kBufferContext);
          if (!h) ensure_recorded(ERR_FILE_READ, kBufferContext);
        }
        break;
      case FF_BMP: h = BMP_LoadFromBuffer(length, bytes); break;
      case FF_JPEG:
        if (const JpegApi* jpeg = jpeg_api(); !jpeg) {
          RecordError(ERR_JPEG_LIBRARY, "LoadFromBuffer");
        } else if (!jpeg->DibFromBuffer) {
          h = load_through_file(bytes, length, format, page);
        } else if (!(h = accept(guarded_load(kBufferContext, [&] { return jpeg->DibFromBuffer(bytes, len); }),
                                kBufferContext))) {
          const int code = jpeg->LastErrorCode();
          ensure_recorded(code > 0 && *core::error_format(code) ? code : ERR_FILE_READ, "LoadFromBuffer");
        }
        break;
      case FF_PDF:
        if (const PdfApi* pdf = pdf_api(); pdf) {
          pdf_prepare(pdf);
          const char* password = open_password();
          h = accept(guarded_load(kBufferContext, [&] { return pdf->DibFromBuffer(bytes, len, page, password); }),
                     kBufferContext);
          if (!h) ensure_recorded(ERR_FILE_READ, kBufferContext);
        }
        break;
      case FF_PNG:
      case FF_GIF:
      case FF_DCX: h = load_through_file(bytes, length, format, page); break;
      default: RecordError(ERR_UNKNOWN_FORMAT, "LoadFromBuffer"); break;
    }
  }
  LogPrint("DibFromBuffer [%ums]\n", platform::tick_count_ms() - start);
  return h;
}

int take_load_page() {
  const int page = file_state().load_page;
  file_state().load_page = 0;
  return page;
}

void free_pages(DIB_HANDLE* array, int count) {
  for (int i = 0; i < count; ++i) {
    if (array[i]) DibFree(array[i]);
    array[i] = 0;
  }
}

}  // namespace

void set_url_pages_loader(UrlPagesLoader loader) { installed_url_loader() = loader; }
UrlPagesLoader url_pages_loader() { return installed_url_loader(); }

}  // namespace fileio

void TWAIN_SetLoadPage(int page) {
  LogApiCall("SetLoadPage(%d)\n", page);
  fileio::file_state().load_page = page;
}

DIB_HANDLE DIB_LoadFromFilename(const char* path) {
  return dib::api::guard("DIB_LoadFromFilename", DIB_HANDLE{0},
                         [&] { return fileio::dib_from_filename(path, fileio::take_load_page()); });
}

DIB_HANDLE TWAIN_LoadNativeFromFilename(const char* path) { return DIB_LoadFromFilename(path); }

DIB_HANDLE DIB_LoadPage(const char* path, int page) {
  return dib::api::guard("DIB_LoadPage", DIB_HANDLE{0}, [&] { return fileio::dib_from_filename(path, page); });
}

DIB_HANDLE DIB_LoadFromBuffer(const void* bytes, uint32_t length) {
  return dib::api::guard("DIB_LoadFromBuffer", DIB_HANDLE{0},
                         [&] { return fileio::dib_from_buffer(bytes, length, fileio::take_load_page()); });
}

DIB_HANDLE DIB_LoadPageFromBuffer(const void* bytes, uint32_t length, int page) {
  return dib::api::guard("DIB_LoadPageFromBuffer", DIB_HANDLE{0},
                         [&] { return fileio::dib_from_buffer(bytes, length, page); });
}

int FilePageCount(const char* path) {
  const std::uint32_t start = platform::tick_count_ms();
  int pages = -1;
  const char* p = path ? path : "";
  switch (TWAIN_FormatOfFile(p)) {
    case FF_TIFF:
      if (const fileio::TiffApi* tiff = fileio::tiff_api()) {
        fileio::TiffUse use(tiff);
        pages = fileio::codec_guarded(fileio::kCountContext, -1, [&] { return tiff->CountPagesInFile(p); });
      }
      break;
    case FF_DCX:
      if (const fileio::DcxApi* dcx = fileio::dcx_api())
        pages = fileio::codec_guarded(fileio::kCountContext, -1, [&] { return dcx->CountPagesInFile(p); });
      break;
    case FF_PDF:
      if (const fileio::PdfApi* pdf = fileio::pdf_api()) {
        fileio::pdf_prepare(pdf);
        const char* password = fileio::open_password();
        pages = fileio::codec_guarded(fileio::kCountContext, -1, [&] { return pdf->CountPagesInFile(p, password); });
      }
      break;
    case FF_BMP:
    case FF_JPEG:
    case FF_PNG:
    case FF_GIF: pages = 1; break;
    default: RecordError(ERR_UNKNOWN_FORMAT, p); break;
  }
  if (pages < 0) pages = -1;
  LogPrint("FilePageCount => %d [%ums]\n", pages, platform::tick_count_ms() - start);
  return pages;
}

int BufferPageCount(const void* bytes, uint32_t length) {
  int pages = -1;
  const int format = DIB_FormatOfBuffer(bytes, length);
  const auto len = static_cast<int32_t>(std::min<uint32_t>(length, INT32_MAX));
  switch (format) {
    case FF_TIFF:
      if (const fileio::TiffApi* tiff = fileio::tiff_api()) {
        fileio::TiffUse use(tiff);
        pages = fileio::codec_guarded(fileio::kBufferCountContext, -1,
                                      [&] { return tiff->CountPagesInMemory(bytes, len); });
      }
      break;
    case FF_DCX:
      if (const fileio::DcxApi* dcx = fileio::dcx_api())
        pages = fileio::codec_guarded(fileio::kBufferCountContext, -1,
                                      [&] { return dcx->CountPagesInBuffer(bytes, len); });
      break;
    case FF_PDF:
      if (const fileio::PdfApi* pdf = fileio::pdf_api()) {
        fileio::pdf_prepare(pdf);
        const char* password = fileio::open_password();
        pages = fileio::codec_guarded(fileio::kBufferCountContext, -1,
                                      [&] { return pdf->CountPagesInBuffer(bytes, len, password); });
      }
      break;
    case FF_BMP:
    case FF_JPEG:
    case FF_PNG:
    case FF_GIF: pages = 1; break;
    default: RecordError(ERR_UNKNOWN_FORMAT, "<in memory>"); break;
  }
  if (pages < 0) pages = -1;
  LogPrint("BufferPageCount => %d\n", pages);
  return pages;
}

int DIB_PageCountOfBuffer(const void* bytes, uint32_t length) { return BufferPageCount(bytes, length); }

int DIB_LoadPagesFromFilename(DIB_HANDLE* array, int start, int count, const char* path_in) {
  LogPrint("LoadPagesFromFilename(0x%08lx, start=%d, count=%d, '%s')\n",
           static_cast<unsigned long>(reinterpret_cast<uintptr_t>(array)), start, count, path_in ? path_in : "");
  core::error_clear();
  int result = -1;
  if (!array || count < 0 || start < 0) {
    RecordError(ERR_BAD_PARAMETER, "LoadPagesFromFilename");
    LogPrint("LoadPagesFromFilename => %d\n", result);
    return result;
  }
  std::fill(array, array + count, DIB_HANDLE{0});
  char chosen[260] = {0};
  if (!path_in || !*path_in) {
    if (!PromptForOpenFilename(chosen)) {
      LogPrint("LoadPagesFromFilename => %d\n", -10);
      return -10;
    }
    path_in = chosen;
  }
  const char* path = fileio::skip_spaces(path_in);
  if (fileio::is_url(path)) {
    if (const fileio::UrlPagesLoader load = fileio::url_pages_loader()) result = load(path, array, start, count);
    else RecordError(ERR_FILE_TRANSFER, path);
  } else if (TWAIN_FormatOfFile(path) == FF_PDF) {
    if (const fileio::PdfApi* pdf = fileio::pdf_api()) {
      fileio::pdf_prepare(pdf);
      const char* password = fileio::open_password();
      const int n = fileio::codec_guarded("LoadPagesFromFilename", -1, [&] {
        return pdf->LoadDibsFromFile(path, start, count, password, array);
      });
      for (int i = 0; i < std::max(n, 0) && i < count; ++i)
        array[i] = fileio::accept(array[i], path);
      if (n < 0 || core::error_record().code != 0 || std::count(array, array + std::min(n, count), 0) > 0) {
        fileio::free_pages(array, count);
        fileio::ensure_recorded(ERR_FILE_READ, path);
      } else {
        result = std::min(n, count);
      }
    }
  } else if (core::error_record().code == 0) {
    const int pages = FilePageCount(path);
    if (pages >= 0) {
      if (static_cast<long>(start) + count > pages) count = pages - start;
      if (count < 0) {
        RecordError(ERR_NOT_ENOUGH_PAGES, path);
      } else {
        int loaded = 0;
        while (loaded < count && (array[loaded] = fileio::dib_from_filename(path, start + loaded)) != 0) ++loaded;
        if (core::error_record().code != 0 || loaded < count) fileio::free_pages(array, loaded);
        else result = count;
      }
    }
  }
  LogPrint("LoadPagesFromFilename => %d\n", result);
  return result;
}

int DIB_LoadArrayFromFilename(DIB_HANDLE* array, int count, const char* path) {
  return DIB_LoadPagesFromFilename(array, 0, count, path);
}

int DIB_LoadArrayFromBuffer(DIB_HANDLE* array, int max, const void* bytes, uint32_t length) {
  core::error_clear();
  if (!array || max < 0) {
    RecordError(ERR_BAD_PARAMETER, "DIB_LoadArrayFromBuffer");
    return -1;
  }
  std::fill(array, array + max, DIB_HANDLE{0});
  const int pages = BufferPageCount(bytes, length);
  if (pages < 0) return -1;
  const int n = std::min(max, pages);
  for (int i = 0; i < n; ++i) {
    array[i] = fileio::dib_from_buffer(bytes, length, i);
    if (!array[i] || core::error_record().code != 0) {
      fileio::free_pages(array, i + 1);
      return -1;
    }
  }
  return n;
}

