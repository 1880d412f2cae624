#include "platform/local_socket.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

int socket_peer_check(int fd, uid_t* out_peer_uid) {
  ucred peer{};
  socklen_t size = sizeof peer;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) return errno;
  if (size != sizeof peer) return EINVAL;
  if (out_peer_uid != nullptr) *out_peer_uid = peer.uid;
  // The effective id: the one our own files and sockets are created with.
  return peer.uid == ::geteuid() ? 0 : EPERM;
}

}  // namespace platform
