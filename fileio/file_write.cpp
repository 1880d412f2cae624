// Writing one image: DIB_WriteToFilename's dispatch by extension, the BMP
// writer and the public writers of the module formats (their table is in
// format_writers.cpp), and encoding into memory.
#include "orivane/file_api.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "core/error_record.h"
#include "fileio/codec_modules.h"
#include "fileio/file_state.h"
#include "fileio/format_writers.h"
#include "fileio/multipage.h"
#include "fileio/options.h"
#include "fileio/pdf_options.h"
#include "fileio/write_support.h"
#include "log/trace.h"
#include "orivane/bmp_api.h"
#include "orivane/errors.h"
#include "orivane/file_options.h"
#include "orivane/multipage_files.h"
#include "platform/clock.h"
#include "platform/memblock.h"

namespace fileio {

int write_bmp(DIB_HANDLE dib, const char* path) {
  LogDibCall("WriteToBmp(0x%lx, \"%s\")\n", static_cast<unsigned long>(dib), path);
  core::error_clear();
  if (!EnsureFolderExists(path)) return -2;
  int result = write_atomically(path, Existing::Replace, [&](const char* temp, bool) {
    const int fd = ::open(temp, O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
      RecordError(errno == EACCES || errno == EPERM || errno == EROFS ? ERR_FILE_ACCESS : ERR_FILE_WRITE, path);
      return -2;
    }
    int rc = DIB_WriteToBmpFile(dib, fd);
    if (::close(fd) != 0 && rc == 0) {
      RecordError(ERR_FILE_WRITE, path);
      rc = -4;
    }
    return rc;
  });
  if (result == -4) {
    const int code = core::error_record().code != 0 ? core::error_record().code : ERR_FILE_WRITE;
    core::error_clear();
    RecordError(code, path);
  }
  return result;
}

namespace {

// The format a name asks for, adding the save format's extension to a name
// without one (a dot inside a folder name does not count).
int format_for_name(std::string* name, int format) {
  const std::size_t dot = name->rfind('.');
  const std::size_t sep = name->find_last_of("/\\");
  if (dot == std::string::npos || (sep != std::string::npos && sep > dot)) {
    *name += FormatExtension(format, "");
    return format;
  }
  return FormatFromExtension(name->c_str() + dot, format);
}

}  // namespace

int output_refused(int e, const char* path) {
  errno = e;
  RecordError(e == EWOULDBLOCK ? ERR_FILE_IN_USE
              : e == EACCES || e == EPERM ? ERR_FILE_ACCESS
                                         : ERR_FILE_WRITE,
              path);
  return -2;
}

void rename_in_error(const std::string& temp, const std::string& final_path) {
  std::string& text = core::error_record().text;
  for (std::size_t at; (at = text.find(temp)) != std::string::npos;) text.replace(at, temp.size(), final_path);
}

}  // namespace fileio

using fileio::BlockLock;
using fileio::file_state;
using fileio::output_settings;

int32_t DIB_WriteToFilename(DIB_HANDLE dib, const char* path) {
  LogPrint("WriteToFilename(0x%08lx, '%s')\n", static_cast<unsigned long>(dib), path ? path : "");
  const std::uint32_t start = platform::tick_count_ms();
  int format = file_state().save_format;
  int result;
  {
    LogNest nest;
    std::string name = path ? path : "";
    file_state().last_output = name;
    if (name.empty()) {
      std::vector<char> buffer(260, '\0');
      if (!PromptForSaveName(buffer.data(), &format, dib)) {
        result = -1;
        goto done;
      }
      name = buffer.data();
    }
    format = fileio::format_for_name(&name, format);
    file_state().last_output = name;
    try {
      if (format == FF_BMP) {
        result = fileio::write_bmp(dib, name.c_str());
      } else if (const fileio::FormatWriter* writer = fileio::format_writer(format)) {
        if (format == FF_PDF && fileio::pdf_settings().automatic_text) fileio::pdf_settings().automatic_text(dib);
        result = fileio::run_format_writer(*writer, dib, name.c_str());
      } else {
        LogPrint("Hey - nFF=%d?", format);
        result = -3;
      }
    } catch (const std::exception&) {
      LogPrint("\n**Exception (0x%08x)", 0xE06D7363u);
      RecordError(ERR_FAILURE, "WriteToFilename");
      result = -5;
    }
  }
done:
  LogPrint("WriteToFilename => %d [%ums]\n", result, platform::tick_count_ms() - start);
  return result;
}

int32_t TWAIN_WriteNativeToFilename(DIB_HANDLE dib, const char* path) { return DIB_WriteToFilename(dib, path); }
int32_t TWAIN_SaveToFilename(DIB_HANDLE dib, const char* path) { return DIB_WriteToFilename(dib, path); }

namespace {

int32_t write_as(int format, DIB_HANDLE dib, const char* path) {
  return fileio::run_format_writer(*fileio::format_writer(format), dib, path);
}

}  // namespace

int32_t DIB_WriteToJpeg(DIB_HANDLE dib, const char* path) { return write_as(FF_JPEG, dib, path); }
int32_t DIB_WriteToTiff(DIB_HANDLE dib, const char* path) { return write_as(FF_TIFF, dib, path); }
int32_t DIB_WriteToPng(DIB_HANDLE dib, const char* path) { return write_as(FF_PNG, dib, path); }
int32_t DIB_WriteToGif(DIB_HANDLE dib, const char* path) { return write_as(FF_GIF, dib, path); }
int32_t DIB_WriteToDcx(DIB_HANDLE dib, const char* path) { return write_as(FF_DCX, dib, path); }
int32_t DIB_WriteToPdf(DIB_HANDLE dib, const char* path) { return write_as(FF_PDF, dib, path); }

namespace {

// Reads a whole file (at most `capacity` bytes into `buffer`); its size, or -1.
long read_file_into(const char* path, void* buffer, uint32_t capacity) {
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    LogPrint("CreateFile GLE(%d) ", errno);
    return -1;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || st.st_size > 0xFFFFFFFFLL) {
    ::close(fd);
    return -1;
  }
  const std::size_t want = static_cast<std::size_t>(st.st_size);
  if (buffer && capacity >= want) {
    std::size_t got = 0;
    while (got < want) {
      const ssize_t n = ::read(fd, static_cast<char*>(buffer) + got, want - got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        LogPrint("ReadFile GLE(%d) ", errno);
        ::close(fd);
        return -1;
      }
      got += static_cast<std::size_t>(n);
    }
  }
  ::close(fd);
  return static_cast<long>(want);
}

uint32_t jpeg_layout_to_buffer(DIB_HANDLE dib, void* buffer, uint32_t capacity) {
  BlockLock lock(dib);
  if (!lock.get()) {
    RecordError(ERR_BAD_DIB, "(WriteDibToJpegBuffer)");
    return 0;
  }
  const fileio::JpegApi* jpeg = fileio::jpeg_api();
  if (!jpeg) {
    RecordError(ERR_JPEG_LIBRARY, "JPEG in memory");
    return 0;
  }
  jpeg->SetQuality(output_settings().jpeg_quality);
  OrvHandle block = 0;
  const int32_t size =
      fileio::codec_guarded("WriteToBuffer", -5, [&] { return jpeg->BmiWriteToMemory(lock.get(), &block); });
  if (size < 0) {
    RecordError(fileio::known_code(jpeg->LastErrorCode()), "JPEG compress-to-memory");
    if (block) platform::mem_free(block);
    return 0;
  }
  if (buffer && capacity >= static_cast<uint32_t>(size)) {
    const void* bytes = platform::mem_lock(block);
    if (!bytes || platform::mem_size(block) < static_cast<std::size_t>(size)) {
      if (bytes) platform::mem_unlock(block);
      RecordError(ERR_FAILURE, "WriteDibToJpegBuffer GL");
      platform::mem_free(block);
      return 0;
    }
    std::memcpy(buffer, bytes, static_cast<std::size_t>(size));
    platform::mem_unlock(block);
  }
  platform::mem_free(block);
  return static_cast<uint32_t>(size);
}

// JPEG into memory takes the same widened copy as JPEG into a file.
uint32_t jpeg_to_buffer(DIB_HANDLE dib, void* buffer, uint32_t capacity) {
  const fileio::FormatWriter& jpeg = *fileio::format_writer(FF_JPEG);
  const fileio::ConvertedImage image(jpeg.depth, jpeg.name, dib, "JPEG compress-to-memory");
  if (image.failed()) return 0;
  return jpeg_layout_to_buffer(image.get(), buffer, capacity);
}

// The caller's buffer as the in-memory PDF's chunk writer sees it.
struct MemoryPdf {
  char* next;         // where the next chunk goes; null once one did not fit
  int64_t left;       // capacity not yet used (negative once overrun)
  int64_t total = 0;  // every byte the document has
};

int32_t memory_pdf_write(void* context, const void* bytes, int32_t length) {
  auto* m = static_cast<MemoryPdf*>(context);
  if (length < 0) return -1;
  if (m->next && length <= m->left) {
    std::memcpy(m->next, bytes, static_cast<std::size_t>(length));
    m->next += length;
  } else {
    // A chunk cut in two would leave a document that looks whole but is not:
    // once a chunk did not fit, nothing more is copied.
    m->next = nullptr;
  }
  m->left -= length;
  m->total += length;
  return 0;
}

// Temporary-file route of the buffer writers: `write(temp path)` produces
// the file, which is read into the buffer and removed. The file's size, or
// 0 with the error recorded under `context`.
template <typename Write>
uint32_t encode_through_file(int format, const char* prefix, const char* context, void* buffer,
                             uint32_t capacity, Write write) {
  char temp[260];
  if (!GenerateTempImageName(prefix, format, temp)) {
    RecordError(ERR_FAILURE, context);
    return 0;
  }
  // The file writers keep the last output name for the front end; a write
  // into memory is no output file.
  const std::string last = file_state().last_output;
  const int rc = write(temp);
  file_state().last_output = last;
  uint32_t result = 0;
  if (rc == 0) {
    const long size = read_file_into(temp, buffer, capacity);
    if (size < 0) RecordError(ERR_FAILURE, context);
    else result = static_cast<uint32_t>(size);
  }
  ::unlink(temp);
  return result;
}

// Formats the temporary-file route can produce: a code without an encoder
// would get a ".tmp" name, and the save format would be written in its place.
// (PDF never takes this route: its documents are built in memory.)
bool has_file_encoder(int format) { return format == FF_BMP || fileio::format_writer(format) != nullptr; }

}  // namespace

namespace fileio {

uint32_t PdfWriteArrayToBuffer(const DIB_HANDLE* array, int count, void* buffer, uint32_t capacity) {
  LogPrint("PdfWriteArrayToBuffer(..., %d, ..., %d\n", count, static_cast<int>(capacity));
  if (!array || count < 0) {
    RecordError(ERR_BAD_PARAMETER, "PdfWriteArrayToBuffer: NULL array");
    LogPrint("PdfWriteArrayToBuffer => %d\n", 0);
    return 0;
  }
  const PdfApi* pdf = pdf_api();
  if (!pdf) {
    LogPrint("PdfWriteArrayToBuffer => %d\n", 0);
    return 0;
  }
  // OrvPdf builds one document at a time: a multipage PDF file still open
  // would be refused by the codec, or worse, be mixed with this one while
  // its background writer runs.
  if (multipage().open && multipage().format == MPF_PDF) {
    RecordError(ERR_MULTIPAGE_OPEN, multipage().path.c_str());
    LogPrint("PdfWriteArrayToBuffer => %d\n", 0);
    return 0;
  }
  pdf_prepare(pdf);
  file_state().output_page_count = count;
  MemoryPdf m{static_cast<char*>(buffer), buffer ? static_cast<int64_t>(capacity) : 0};
  const OrvPdfWriter writer{"PDF-in-memory", &m, memory_pdf_write};
  uint32_t result = 0;
  int rc = codec_guarded("PDF-in-memory", -5, [&] { return pdf->BeginMultipage(&writer); });
  if (rc == 0) {
    for (int i = 0; i < count && rc == 0; ++i) rc = pdf_write_page(array[i]);
    // The document is ended even after a failed page: OrvPdf must not be
    // left with a document open.
    const int end = codec_guarded("PDF-in-memory", -5, [&] { return pdf->EndMultipage(); });
    if (rc == 0) rc = end;
  }
  file_state().output_page_count = -1;
  if (rc != 0) {
    // OrvPdf's own numbers are no error codes of the library: only a code the
    // error table knows is recorded as such.
    RecordError(known_code(rc), "PDF-in-memory");
  } else if (m.total > 0xFFFFFFFFLL) {
    RecordError(ERR_MEMORY, "PDF-in-memory");
  } else {
    result = static_cast<uint32_t>(m.total);
  }
  pdf_reset_defaults(pdf);
  LogPrint("PdfWriteArrayToBuffer => %d\n", static_cast<int>(result));
  return result;
}

}  // namespace fileio

uint32_t DIB_WriteToBuffer(DIB_HANDLE dib, int format, void* buffer, uint32_t capacity) {
  LogDibCall("WriteToBuffer(%08lx, %d, %08lx, %u)\n", static_cast<unsigned long>(dib), format,
             static_cast<unsigned long>(reinterpret_cast<uintptr_t>(buffer)), capacity);
  const std::uint32_t start = platform::tick_count_ms();
  core::error_clear();
  uint32_t result = 0;
  if (format == FF_BMP) {
    result = WriteDibToBmpBuffer(dib, buffer, capacity);
  } else if (format == FF_JPEG) {
    result = jpeg_to_buffer(dib, buffer, capacity);
  } else if (format == FF_PDF) {
    result = fileio::PdfWriteArrayToBuffer(&dib, 1, buffer, capacity);
  } else if (!has_file_encoder(format)) {
    RecordError(ERR_BAD_PARAMETER, "DIB_WriteToBuffer");
  } else {
    result = encode_through_file(format, "OrvTDWB", "DIB_WriteToBuffer", buffer, capacity,
                                 [&](const char* temp) { return DIB_WriteToFilename(dib, temp); });
  }
  LogPrint("WriteToBuffer => %u [%ums]\n", result, platform::tick_count_ms() - start);
  return result;
}

uint32_t DIB_WriteArrayToBuffer(const DIB_HANDLE* array, int count, int format, void* buffer, uint32_t capacity) {
  LogPrint("WriteArrayToBuffer(0x%08lx, %d, %d, %08lx, %u)\n",
           static_cast<unsigned long>(reinterpret_cast<uintptr_t>(array)), count, format,
           static_cast<unsigned long>(reinterpret_cast<uintptr_t>(buffer)), capacity);
  const std::uint32_t start = platform::tick_count_ms();
  uint32_t result = 0;
  if (array && count == 1) {
    result = DIB_WriteToBuffer(array[0], format, buffer, capacity);
  } else if (format == FF_PDF) {
    core::error_clear();
    result = fileio::PdfWriteArrayToBuffer(array, count, buffer, capacity);
  } else if (!array || count < 1 || !has_file_encoder(format)) {
    core::error_clear();
    RecordError(ERR_BAD_PARAMETER, "DIB_WriteArrayToBuffer");
  } else {
    core::error_clear();
    result = encode_through_file(format, "OrvTDWB", "DIB_WriteArrayToBuffer", buffer, capacity,
                                 [&](const char* temp) { return DIB_WriteArrayToFilename(array, count, temp); });
  }
  LogPrint("WriteArrayToBuffer => %d [%dms]\n", static_cast<int>(result),
           static_cast<int>(platform::tick_count_ms() - start));
  return result;
}

DIB_HANDLE DIB_ForwardDCT(DIB_HANDLE dib) {
  LogDibCall("ForwardDCT(0x%lx)\n", static_cast<unsigned long>(dib));
  const fileio::JpegApi* jpeg = fileio::jpeg_api();
  if (!jpeg) return 0;
  if (!jpeg->DibForwardDCT) {
    RecordError(ERR_FAILURE, "No DIB_ForwardDCT");
    return 0;
  }
  BlockLock src(dib);
  if (!src.get()) {
    RecordError(ERR_BAD_DIB, "(DIB_ForwardDCT)");
    return 0;
  }
  DIB_HANDLE out = DIB_Create(src.pixel_type() < 0 ? DIB_PT_RGB : src.pixel_type(), DIB_Width(dib),
                              DIB_Height(dib), src.depth());
  if (!out) return 0;
  void* dst = platform::mem_lock(out);
  const int rc =
      dst ? fileio::codec_guarded("DIB_ForwardDCT", -5, [&] { return jpeg->DibForwardDCT(src.get(), dst); }) : -1;
  if (dst) platform::mem_unlock(out);
  if (rc != 0) {
    DibFree(out);
    RecordError(fileio::known_code(jpeg->LastErrorCode()), "DIB_ForwardDCT");
    return 0;
  }
  return out;
}
