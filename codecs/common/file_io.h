// Whole-file reads and checked writes for the codec modules: a read takes
// regular files only and is capped in size, and a write counts as done only
// when every byte reached the disk (short writes, a failed flush, close or
// fsync are failures, and the partial file is removed).
#pragma once
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "orivane/errors.h"

namespace codec {

// Largest file a module reads into memory, bytes.
constexpr std::uint64_t kMaxFileBytes = 1ull << 30;

// The error code for a failed open of `path` for reading.
inline int open_error_code(int err) {
  if (err == ENOENT || err == ENOTDIR) return ERR_NOT_FOUND;
  if (err == EACCES || err == EPERM) return ERR_FILE_ACCESS;
  return ERR_FILE_READ;
}

// Opens `path` for reading when it names a regular file; nullptr with an error
// code in `*out_code` otherwise. The check is made on the opened file, and the
// open does not wait: a FIFO (or a device) given as an image would otherwise
// hold the caller for ever.
inline std::FILE* file_open_regular(const char* path, int* out_code) {
  *out_code = 0;
  if (!path || !*path) {
    *out_code = ERR_BAD_FILENAME;
    return nullptr;
  }
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    *out_code = open_error_code(errno);
    return nullptr;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    *out_code = ERR_FILE_READ;
    return nullptr;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  std::FILE* f = ::fdopen(fd, "rb");
  if (!f) {
    ::close(fd);
    *out_code = ERR_MEMORY;
  }
  return f;
}

// Reads the file into `out`. 0 or an error code.
inline int file_read_all(const char* path, std::vector<std::uint8_t>* out) {
  int code = 0;
  std::FILE* f = file_open_regular(path, &code);
  if (!f) return code;
  struct stat st {};
  if (fstat(fileno(f), &st) != 0 || std::uint64_t(st.st_size) > kMaxFileBytes) {
    std::fclose(f);
    return ERR_FILE_READ;
  }
  out->resize(std::size_t(st.st_size));
  const std::size_t got = out->empty() ? 0 : std::fread(out->data(), 1, out->size(), f);
  const bool failed = std::ferror(f) != 0;
  std::fclose(f);
  out->resize(got);
  return failed ? ERR_FILE_READ : 0;
}

// Writes `size` bytes to `path` (replacing it). 0 or an error code.
inline int file_write_all(const char* path, const void* data, std::size_t size) {
  if (!path || !*path) return ERR_BAD_FILENAME;
  std::FILE* f = std::fopen(path, "wb");
  if (!f) return errno == EACCES || errno == EPERM ? ERR_FILE_ACCESS : ERR_FILE_WRITE;
  bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
  ok = std::fflush(f) == 0 && ok;
  ok = fsync(fileno(f)) == 0 && ok;
  ok = std::fclose(f) == 0 && ok;
  if (!ok) {
    struct stat st {};
    if (::stat(path, &st) == 0 && S_ISREG(st.st_mode)) std::remove(path);
    return ERR_FILE_WRITE;
  }
  return 0;
}

}  // namespace codec
