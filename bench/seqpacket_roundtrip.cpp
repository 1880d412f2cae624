// Round trips over a Unix-domain SOCK_SEQPACKET socket, made the way a /BG
// client makes one: connect, send one message, read the reply to its end,
// close. Prints the mean and median in microseconds.
//   seqpacket_roundtrip SOCKET COUNT MESSAGE   a running server's round trip
//   seqpacket_roundtrip --bare COUNT           against an echo server of its own
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

sockaddr_un address_of(const std::string& path) {
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::memcpy(a.sun_path, path.c_str(), std::min(path.size() + 1, sizeof a.sun_path - 1));
  return a;
}

// One message in, the same message out, then the end of the reply.
void echo_server(int listener) {
  char buffer[65536];
  while (true) {
    const int c = accept(listener, nullptr, nullptr);
    if (c < 0) continue;
    const ssize_t n = recv(c, buffer, sizeof buffer, 0);
    if (n > 0) send(c, buffer, static_cast<std::size_t>(n), MSG_NOSIGNAL);
    shutdown(c, SHUT_WR);
    close(c);
  }
}

bool round_trip(const sockaddr_un& a, const std::string& message) {
  const int fd = socket(AF_UNIX, SOCK_SEQPACKET, 0);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) return false;
  send(fd, message.data(), message.size(), MSG_NOSIGNAL);
  char buffer[1 << 17];
  ssize_t total = 0;
  for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;) total += n;
  close(fd);
  return total > 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const bool bare = std::strcmp(argv[1], "--bare") == 0;
  const int count = std::atoi(argv[2]);
  std::string path = bare ? "/tmp/seqpacket-bench-" + std::to_string(getpid()) : argv[1];
  const std::string message = bare ? "/BG /NOSCAN" : (argc > 3 ? argv[3] : "/BG /NOSCAN");
  pid_t child = -1;
  if (bare) {
    const int listener = socket(AF_UNIX, SOCK_SEQPACKET, 0);
    const sockaddr_un a = address_of(path);
    unlink(path.c_str());
    if (bind(listener, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 || listen(listener, 16) != 0)
      return 1;
    child = fork();
    if (child == 0) echo_server(listener);
    close(listener);
  }
  const sockaddr_un a = address_of(path);
  std::vector<double> us;
  for (int i = 0; i < count; ++i) {
    const auto start = std::chrono::steady_clock::now();
    if (!round_trip(a, message)) return 1;
    us.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
  }
  if (child > 0) {
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    unlink(path.c_str());
  }
  double sum = 0;
  for (double v : us) sum += v;
  std::sort(us.begin(), us.end());
  std::printf("%.1f %.1f\n", sum / us.size(), us[us.size() / 2]);
  return 0;
}
