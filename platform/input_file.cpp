#include "platform/input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {
namespace {

InputProblem problem_of(int error) {
  return error == ENOENT || error == ENOTDIR ? InputProblem::Missing : InputProblem::Unreadable;
}

}  // namespace

int open_regular_file(const std::string& path, InputProblem* out_problem, int* out_errno) {
  *out_problem = InputProblem::None;
  *out_errno = 0;
  // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer
  // for ever. O_NOCTTY: a terminal device named here must not become ours.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    *out_errno = errno;
    *out_problem = problem_of(errno);
    return -1;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    *out_errno = errno;
    *out_problem = InputProblem::Unreadable;
  } else if (!S_ISREG(st.st_mode)) {
    *out_problem = InputProblem::NotRegular;
  }
  if (*out_problem != InputProblem::None) {
    ::close(fd);
    return -1;
  }
  // Regular files ignore O_NONBLOCK, but the descriptor may be handed to code
  // that expects the usual blocking reads.
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return fd;
}

InputText read_config_file(const std::string& path, std::size_t max_bytes) {
  InputText result;
  const int fd = open_regular_file(path, &result.problem, &result.error);
  if (fd < 0) return result;
  // One byte more than allowed tells a file at the cap from one beyond it,
  // whatever fstat said when the file was opened.
  char chunk[16384];
  for (;;) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      result.problem = InputProblem::Unreadable;
      result.error = errno;
      break;
    }
    if (n == 0) break;
    result.text.append(chunk, static_cast<std::size_t>(n));
    if (result.text.size() > max_bytes) {
      result.problem = InputProblem::TooLarge;
      break;
    }
  }
  ::close(fd);
  if (result.problem != InputProblem::None) result.text.clear();
  return result;
}

std::string input_problem_text(InputProblem problem, int error, std::size_t max_bytes) {
  switch (problem) {
    case InputProblem::None: return "read";
    case InputProblem::NotRegular: return "not a regular file";
    case InputProblem::TooLarge: return "larger than " + std::to_string(max_bytes) + " bytes";
    case InputProblem::Missing:
    case InputProblem::Unreadable: break;
  }
  return std::strerror(error != 0 ? error : EIO);
}

}  // namespace platform
