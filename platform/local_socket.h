// Local (Unix-domain) sockets through which the system talks to its own other
// processes: the log viewer, the Quillet server and its clients. The server's
// socket is SOCK_SEQPACKET: message boundaries are kept, so one request is
// one message.
#pragma once
#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// Whether the process at the other end of the connected Unix-domain socket
// `fd` runs as this process's user, from the kernel's record of its
// credentials (taken when it connected or started listening), so no name in a
// shared folder can fake it.
// Returns 0 when it does. Otherwise EPERM when it runs as another user (that
// user's id in `*out_peer_uid`, if given), or the system's error number when
// the credentials cannot be read (the socket is then not trusted either).
int socket_peer_check(int fd, uid_t* out_peer_uid = nullptr);

// The listening end of a private local server: a SOCK_SEQPACKET socket at a
// path in the user's runtime folder, mode 0600, and beside it the lock file
// "<path>.lock", held (flock) while the socket listens. The lock tells a
// live server from the socket a killed one left: a killed process loses its
// lock, so a later server replaces the stale socket without any race.
class LocalListener {
 public:
  LocalListener() = default;
  ~LocalListener() { close(); }
  LocalListener(const LocalListener&) = delete;
  LocalListener& operator=(const LocalListener&) = delete;

  // Starts listening at `path`. Returns 0, or: EADDRINUSE when another
  // server holds the lock or answers at `path`; EEXIST when `path` (or its
  // lock) is something else than this user's socket (or plain file), which
  // is never removed or followed; else the system's error number.
  int listen_at(const std::string& path);
  // Stops listening, removes the socket (if it is still the one bound here)
  // and releases the lock. Nothing happens when not listening.
  void close();
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
  int lock_fd_ = -1;
  std::string path_;
  dev_t device_ = 0;
  ino_t inode_ = 0;
};

// Waits up to `timeout_ms` for `fd` to be readable (a connection to accept,
// a message, or the peer's end). True when it is.
bool socket_wait_readable(int fd, int timeout_ms);

// Receives one message of a connected SOCK_SEQPACKET socket, waiting at most
// `timeout_ms` for it. The message's real size is read first, so nothing is
// ever cut: a message longer than `limit` bytes is taken off the socket and
// refused. Returns 0 with the message in `out_text`; ETIMEDOUT when none
// came in time; EPIPE when the peer closed without sending one; EMSGSIZE for
// a message over `limit` (its size in `*out_size`, if given); else the
// system's error number.
int socket_receive_message(int fd, int timeout_ms, std::size_t limit, std::string& out_text,
                           std::size_t* out_size = nullptr);

// Sends `text` as messages of at most `chunk` bytes (one message when it
// fits), then ends the connection's sending side so the peer knows the text
// is complete. A peer that stops reading makes a send wait at most
// `timeout_ms`; a peer that went away fails the send (no SIGPIPE). Returns 0
// or the system's error number.
int socket_send_text(int fd, std::string_view text, std::size_t chunk, int timeout_ms);

}  // namespace platform
