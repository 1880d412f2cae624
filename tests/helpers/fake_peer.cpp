// Plays another user's program on a local socket, for the tests that act as
// another user (started through setpriv): listens at PATH, writes every byte a
// client sends to standard output, and answers each message of a seqpacket
// client with REPLY (a forged report, say). Ends when killed, or after a
// minute so that nothing outlives a broken test.
//
//   fake_peer PATH stream|seqpacket [REPLY]
//
// As a client instead: connects to the seqpacket socket PATH, sends MESSAGE
// and reads the reply to its end (at most 5 s). Exit status 0 when a reply
// came, 4 when the connection was taken but nothing came back, 3 when the
// connection was refused.
//
//   fake_peer PATH send MESSAGE
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

int send_as_client(const std::string& path, const std::string& message) {
  const int fd = socket(AF_UNIX, SOCK_SEQPACKET, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (fd < 0 || path.size() >= sizeof address.sun_path) return 1;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return 3;
  send(fd, message.data(), message.size(), MSG_NOSIGNAL);
  std::string reply;
  char chunk[65536];
  for (pollfd p{fd, POLLIN, 0}; poll(&p, 1, 5000) == 1;) {
    const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
    if (n <= 0) break;
    reply.append(chunk, static_cast<std::size_t>(n));
  }
  close(fd);
  return reply.empty() ? 4 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  if (std::strcmp(argv[2], "send") == 0) return send_as_client(argv[1], argc > 3 ? argv[3] : "");
  const bool seqpacket = std::strcmp(argv[2], "seqpacket") == 0;
  const std::string path = argv[1], side = path + ".new", reply = argc > 3 ? argv[3] : "";
  const int listener = socket(AF_UNIX, seqpacket ? SOCK_SEQPACKET : SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (listener < 0 || side.size() >= sizeof address.sun_path) return 1;
  std::memcpy(address.sun_path, side.c_str(), side.size() + 1);
  // Bound under a side name and renamed once listening: a test that sees
  // PATH appear can connect at once.
  if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      chmod(side.c_str(), 0777) != 0 || listen(listener, 8) != 0 ||
      rename(side.c_str(), path.c_str()) != 0) {
    std::perror("fake_peer");
    return 1;
  }
  for (int waited_ms = 0; waited_ms < 60000; waited_ms += 100) {
    pollfd p{listener, POLLIN, 0};
    const int client = poll(&p, 1, 100) == 1 ? accept(listener, nullptr, nullptr) : -1;
    char chunk[65536];
    for (pollfd c{client, POLLIN, 0}; client >= 0 && poll(&c, 1, 1000) == 1;) {
      const ssize_t n = recv(client, chunk, sizeof chunk, 0);
      if (n <= 0) break;
      std::fwrite(chunk, 1, static_cast<std::size_t>(n), stdout);
      std::fflush(stdout);
      if (seqpacket) send(client, reply.data(), reply.size(), MSG_NOSIGNAL);
    }
    if (client >= 0) close(client);
  }
  return 0;
}
