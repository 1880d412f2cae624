#include "platform/file_copy.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

namespace {

constexpr std::size_t kChunk = 1 << 16;

bool write_all(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// Copies `in` to `out` to the end of `in`.
bool pump(int in, int out) {
  char buffer[kChunk];
  for (;;) {
    const ssize_t n = ::read(in, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    if (!write_all(out, buffer, static_cast<std::size_t>(n))) return false;
  }
}

// Closes `fd` keeping the errno of an earlier failure.
void close_keeping_errno(int fd) {
  const int saved = errno;
  ::close(fd);
  errno = saved;
}

}  // namespace

bool copy_file_to_descriptor(const std::string& path, int fd) {
  const int in = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  const bool ok = pump(in, fd);
  close_keeping_errno(in);
  return ok;
}

bool spool_descriptor_to_file(int fd, const std::string& path) {
  const int out = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (out < 0) return false;
  bool ok = pump(fd, out);
  if (::close(out) != 0 && ok) ok = false;
  return ok;
}

}  // namespace platform
