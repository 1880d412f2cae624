#include "app/client.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "app/report.h"
#include "log/trace.h"
#include "orivane/errors.h"
#include "platform/local_socket.h"
#include "platform/paths.h"

namespace {

// A whole report fits: the server's reply is the client's report.
constexpr std::size_t kReplyMax = 1 << 20;
constexpr int kReplyTimeoutSeconds = 60;

int fail(int error) {
  char message[128];
  std::snprintf(message, sizeof message, "Error sending command to Quillet server. GLE(%d)", error);
  TWAIN_ErrorBox(message);
  ReportLine("Error=%s\n", message);
  // As every other rejection: a script that reads only the report still
  // learns how the run ended.
  ReportLine("Exit=%d\n", 251);
  return 251;
}

int exchange(int fd, const std::string& path, const std::string& text, std::string& out_reply) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) return ENAMETOOLONG;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return errno;
  // The request (and its reply, taken as this run's report and exit code)
  // goes only to a server of our own user; any other is as good as none.
  uid_t peer_uid = 0;
  if (const int peer_error = platform::socket_peer_check(fd, &peer_uid); peer_error != 0) {
    if (peer_error == EPERM) {
      LogPrint("[Quillet] %s is served by user %ld, not by this user: not used\n", path.c_str(),
               static_cast<long>(peer_uid));
    } else {
      LogPrint("[Quillet] cannot tell who serves %s: GLE(%d)\n", path.c_str(), peer_error);
    }
    return ECONNREFUSED;
  }
  timeval tv{kReplyTimeoutSeconds, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  if (send(fd, text.data(), text.size(), MSG_NOSIGNAL) < 0) return errno;
  std::string buf(kReplyMax, '\0');
  ssize_t n = recv(fd, buf.data(), buf.size(), 0);
  if (n < 0) return errno;
  out_reply.assign(buf.data(), static_cast<std::size_t>(n));
  return 0;
}

}  // namespace

std::string server_socket_path() {
  std::string folder = platform::runtime_folder();
  return folder.empty() ? std::string() : folder + "/Talven.Quillet";
}

std::string request_text_of(const std::string& command_line) {
  std::size_t i = 0;
  if (!command_line.empty() && command_line[0] == '"') {
    std::size_t close = command_line.find('"', 1);
    i = close == std::string::npos ? command_line.size() : close + 1;
  } else {
    i = command_line.find_first_of(" \t");
    if (i == std::string::npos) i = command_line.size();
  }
  while (i < command_line.size() && (command_line[i] == ' ' || command_line[i] == '\t')) ++i;
  return command_line.substr(i);
}

int SendToServer(const std::string& request_text) {
  const std::string path = server_socket_path();
  if (path.empty()) return fail(ENOENT);
  int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (fd < 0) return fail(errno);
  std::string reply;
  int error = exchange(fd, path, request_text, reply);
  close(fd);
  if (error != 0) return fail(error);
  LogPrint("server replies:\n%s", reply.c_str());
  FrontEnd& fe = front_end();
  fe.report.clear();
  std::size_t start = 0;
  while (start < reply.size()) {
    std::size_t end = reply.find('\n', start);
    if (end == std::string::npos) end = reply.size() - 1;
    fe.report.add(reply.substr(start, end - start + 1));
    start = end + 1;
  }
  std::size_t exit_at = reply.find("Exit=");
  return exit_at == std::string::npos ? 0 : std::atoi(reply.c_str() + exit_at + 5);
}
