// Checks on the local (Unix-domain) sockets through which the system talks to
// its own other processes: the log viewer, the Quillet server and its clients.
#pragma once
#include <sys/types.h>

namespace platform {

// Whether the process at the other end of the connected Unix-domain socket
// `fd` runs as this process's user, from the kernel's record of its
// credentials (taken when it connected or started listening), so no name in a
// shared folder can fake it.
// Returns 0 when it does. Otherwise EPERM when it runs as another user (that
// user's id in `*out_peer_uid`, if given), or the system's error number when
// the credentials cannot be read (the socket is then not trusted either).
int socket_peer_check(int fd, uid_t* out_peer_uid = nullptr);

}  // namespace platform
