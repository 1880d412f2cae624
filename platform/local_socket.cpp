#include "platform/local_socket.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace platform {

namespace {

constexpr int kListenBacklog = 16;  // clients queue here while one is served
constexpr mode_t kSocketMode = 0600;

bool socket_address(const std::string& path, sockaddr_un& out) {
  out = sockaddr_un{};
  out.sun_family = AF_UNIX;
  if (path.size() >= sizeof out.sun_path) return false;
  std::memcpy(out.sun_path, path.c_str(), path.size() + 1);
  return true;
}

// Whether something answers at `path`: a server that runs without our lock
// (or one whose lock file was removed) must not lose its socket either.
bool someone_answers(const sockaddr_un& addr) {
  const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool answers = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
  ::close(fd);
  return answers;
}

// Takes the lock beside the socket. The lock file is never followed when it
// is a link, and only a plain file of ours is used.
int take_lock(const std::string& path, int& out_fd) {
  const int fd = ::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return errno == ELOOP ? EEXIST : errno;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
    ::close(fd);
    return EEXIST;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno == EWOULDBLOCK ? EADDRINUSE : errno;
    ::close(fd);
    return error;
  }
  out_fd = fd;
  return 0;
}

// With the lock held, a socket of ours at `path` is what a killed server
// left: removed. Anything else there stays, and the server does not start.
int clear_stale_socket(const std::string& path, const sockaddr_un& addr) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT ? 0 : errno;
  if (!S_ISSOCK(st.st_mode) || st.st_uid != ::geteuid()) return EEXIST;
  if (someone_answers(addr)) return EADDRINUSE;
  return ::unlink(path.c_str()) == 0 || errno == ENOENT ? 0 : errno;
}

int bind_private(int fd, const std::string& path, const sockaddr_un& addr) {
  // The socket is born 0600: no moment in which another user could connect.
  const mode_t old_mask = ::umask(0177);
  const int rc = ::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
  const int error = errno;
  ::umask(old_mask);
  if (rc != 0) return error;
  if (::chmod(path.c_str(), kSocketMode) != 0) return errno;
  return ::listen(fd, kListenBacklog) == 0 ? 0 : errno;
}

}  // namespace

int socket_peer_check(int fd, uid_t* out_peer_uid) {
  ucred peer{};
  socklen_t size = sizeof peer;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) return errno;
  if (size != sizeof peer) return EINVAL;
  if (out_peer_uid != nullptr) *out_peer_uid = peer.uid;
  // The effective id: the one our own files and sockets are created with.
  return peer.uid == ::geteuid() ? 0 : EPERM;
}

int LocalListener::listen_at(const std::string& path) {
  close();
  sockaddr_un addr{};
  if (!socket_address(path, addr)) return ENAMETOOLONG;
  if (const int error = take_lock(path, lock_fd_); error != 0) return error;
  int error = clear_stale_socket(path, addr);
  if (error == 0) {
    fd_ = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    error = fd_ < 0 ? errno : bind_private(fd_, path, addr);
  }
  struct stat st {};
  if (error == 0 && ::lstat(path.c_str(), &st) != 0) error = errno;
  if (error != 0) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    ::close(lock_fd_);
    lock_fd_ = -1;
    return error;
  }
  path_ = path;
  device_ = st.st_dev;
  inode_ = st.st_ino;
  return 0;
}

void LocalListener::close() {
  if (fd_ < 0) return;
  // Only our own socket goes: the lock held, nobody else could have bound
  // another there, but a name is checked before it is removed all the same.
  struct stat st {};
  if (::lstat(path_.c_str(), &st) == 0 && st.st_dev == device_ && st.st_ino == inode_)
    ::unlink(path_.c_str());
  ::close(fd_);
  fd_ = -1;
  ::close(lock_fd_);
  lock_fd_ = -1;
}

bool socket_wait_readable(int fd, int timeout_ms) {
  pollfd p{fd, POLLIN, 0};
  int rc = 0;
  do {
    rc = ::poll(&p, 1, timeout_ms);
  } while (rc < 0 && errno == EINTR);
  return rc > 0;
}

int socket_receive_message(int fd, int timeout_ms, std::size_t limit, std::string& out_text,
                           std::size_t* out_size) {
  out_text.clear();
  if (out_size) *out_size = 0;
  pollfd p{fd, POLLIN | POLLRDHUP, 0};
  int rc = 0;
  do {
    rc = ::poll(&p, 1, timeout_ms);
  } while (rc < 0 && errno == EINTR);
  if (rc < 0) return errno;
  if (rc == 0) return ETIMEDOUT;
  char probe = 0;
  // MSG_TRUNC with MSG_PEEK answers the message's whole length.
  const ssize_t size = ::recv(fd, &probe, 1, MSG_PEEK | MSG_TRUNC | MSG_DONTWAIT);
  if (size < 0) return errno == EAGAIN ? ETIMEDOUT : errno;
  // No message, and the peer has closed: an end, not an empty request.
  if (size == 0 && (p.revents & (POLLRDHUP | POLLHUP))) {
    ::recv(fd, &probe, 1, MSG_DONTWAIT);
    return EPIPE;
  }
  if (out_size) *out_size = static_cast<std::size_t>(size);
  if (static_cast<std::size_t>(size) > limit) {
    ::recv(fd, &probe, 1, MSG_TRUNC | MSG_DONTWAIT);  // taken off, unread
    return EMSGSIZE;
  }
  std::vector<char> buffer(static_cast<std::size_t>(size) + 1);
  const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
  if (n < 0) return errno;
  out_text.assign(buffer.data(), static_cast<std::size_t>(n));
  return 0;
}

int socket_send_text(int fd, std::string_view text, std::size_t chunk, int timeout_ms) {
  timeval tv{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  std::size_t sent = 0;
  while (sent < text.size()) {
    const std::size_t size = std::min(chunk, text.size() - sent);
    const ssize_t n = ::send(fd, text.data() + sent, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno == EAGAIN ? ETIMEDOUT : errno;
    sent += static_cast<std::size_t>(n);
  }
  ::shutdown(fd, SHUT_WR);
  return 0;
}

}  // namespace platform
