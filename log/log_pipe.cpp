// The connection to a log viewer: a Unix-domain stream socket "Talven-log" in
// the per-user runtime folder. The viewer listens; the log connects as a
// client and never waits for it, so a stalled viewer cannot slow the library.
#include "log/trace.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/local_socket.h"
#include "platform/paths.h"

namespace {

constexpr const char* kPipeName = "Talven-log";

}  // namespace

namespace log_detail {

std::string pipe_path() {
  const std::string folder = platform::runtime_folder();
  return folder.empty() ? std::string() : folder + "/" + kPipeName;
}

int pipe_connect(int* error, long* out_foreign_uid) {
  *error = 0;
  if (out_foreign_uid != nullptr) *out_foreign_uid = -1;
  // Without a private runtime folder no viewer of ours can be listening.
  const std::string path = pipe_path();
  if (path.empty()) return -1;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) {
    *error = ENAMETOOLONG;
    return -1;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = errno;
    return -1;
  }
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
    // Only a viewer of our own user may read the trace. The folder is private
    // already; this holds even if a socket of someone else got into it.
    uid_t peer_uid = 0;
    *error = platform::socket_peer_check(fd, &peer_uid);
    if (*error == 0) return fd;
    if (*error == EPERM && out_foreign_uid != nullptr) *out_foreign_uid = peer_uid;
    close(fd);
    return -1;
  }
  const int connect_error = errno;
  close(fd);
  // No socket file, or one left behind by a viewer that has gone: the usual
  // case of nobody listening, not worth a trace line.
  if (connect_error != ENOENT && connect_error != ECONNREFUSED) *error = connect_error;
  return -1;
}

bool pipe_send(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t sent = send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += sent;
    size -= static_cast<std::size_t>(sent);
  }
  return true;
}

void pipe_close(int fd) {
  if (fd >= 0) close(fd);
}

}  // namespace log_detail
