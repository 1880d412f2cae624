// Encoded documents handed to callers that take strings: the document is
// written to a temporary file by the multipage writer and read back into a
// length-prefixed byte string (the platform has no counted string type of
// its own; a 4-byte length before the bytes serves any caller, including
// documents that hold zero bytes).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/error_record.h"
#include "fileio/file_state.h"
#include "log/trace.h"
#include "orivane/errors.h"
#include "orivane/file_api.h"
#include "orivane/file_options.h"
#include "orivane/multipage_files.h"

namespace fileio {
namespace {

constexpr std::size_t kLengthBytes = 4;
// The length field's limit, less the prefix and the closing zero byte.
constexpr std::uint64_t kMaxDocument = 0xFFFFFFFFull - kLengthBytes - 1;

bool read_all(int fd, std::uint8_t* into, std::size_t size) {
  std::size_t got = 0;
  while (got < size) {
    const ssize_t n = ::read(fd, into + got, size - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    got += static_cast<std::size_t>(n);
  }
  return true;
}

// The whole file as a length-prefixed byte string, or null with the reason
// recorded.
std::uint8_t* file_as_byte_string(const char* path) {
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0) {
    if (fd >= 0) ::close(fd);
    RecordError(ERR_FAILURE, "FileAsBSTR");
    return nullptr;
  }
  const auto size = static_cast<std::uint64_t>(st.st_size);
  auto* text = size <= kMaxDocument ? static_cast<std::uint8_t*>(std::malloc(kLengthBytes + size + 1)) : nullptr;
  if (!text) {
    ::close(fd);
    RecordError(ERR_MEMORY, "FileAsBSTR");
    return nullptr;
  }
  if (!read_all(fd, text + kLengthBytes, static_cast<std::size_t>(size))) {
    ::close(fd);
    std::free(text);
    RecordError(ERR_FAILURE, "FileAsBSTR");
    return nullptr;
  }
  ::close(fd);
  for (std::size_t i = 0; i < kLengthBytes; ++i) text[i] = static_cast<std::uint8_t>(size >> (8 * i));
  text[kLengthBytes + size] = 0;
  return text;
}

}  // namespace
}  // namespace fileio

uint8_t* DIB_ArrayAsBSTR(const DIB_HANDLE* array, int count, int format) {
  LogPrint("ArrayAsBSTR(0x%08lx,n=%d,nFF=%d)\n", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(array)),
           count, format);
  core::error_clear();
  // A code with no format behind it would be written in the multipage
  // format in its place.
  if (*FormatExtension(format, "") == '\0') {
    RecordError(ERR_BAD_PARAMETER, "DIB_ArrayAsBSTR");
    return nullptr;
  }
  char temp[260];
  if (!GenerateTempImageName("OrvPTU", format, temp)) {
    RecordError(ERR_FAILURE, "ArrayAsBSTR:GTIN");
    return nullptr;
  }
  // A document made for the caller's memory is no output file of the run.
  const std::string last = fileio::file_state().last_output;
  const int rc = DIB_WriteArrayToFilename(array, count, temp);
  fileio::file_state().last_output = last;
  uint8_t* text = rc == 0 ? fileio::file_as_byte_string(temp) : nullptr;
  ::unlink(temp);
  return text;
}

void DIB_FreeBSTR(uint8_t* text) { std::free(text); }
