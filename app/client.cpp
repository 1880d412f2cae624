#include "app/client.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/report.h"
#include "log/trace.h"
#include "orivane/errors.h"
#include "platform/interrupt.h"
#include "platform/local_socket.h"
#include "platform/paths.h"

namespace {

// The server's reply is the client's report, whatever its length: it comes
// as messages of at most kServerReplyChunk bytes, ended by the server
// closing its side. This much is plenty for a report of a hundred thousand
// pages, and still ends a reply that would never end.
constexpr std::size_t kReplyMax = std::size_t{64} << 20;
// A server busy with another client queues the connection; a full queue
// makes the client wait this long, as for a busy pipe.
constexpr int kConnectTimeoutMs = 1000;
// The reply comes when the request's pages are scanned, which takes as long
// as the scan does: the wait has no end but the user's interrupt (or the
// server's going away), and looks at the interrupt this often.
constexpr int kReplyPollMs = 500;

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

int connect_to(int fd, const std::string& path) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) return ENAMETOOLONG;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  timeval tv{kConnectTimeoutMs / 1000, (kConnectTimeoutMs % 1000) * 1000};
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
    return errno == EINPROGRESS || errno == EAGAIN ? ETIMEDOUT : errno;
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
  return 0;
}

// The reply's messages up to the server's end of sending.
int read_reply(int fd, std::string& out_reply) {
  std::vector<char> buffer(kServerReplyChunk * 2);
  while (true) {
    if (!platform::socket_wait_readable(fd, kReplyPollMs)) {
      if (platform::interrupt_raised()) return EINTR;
      continue;
    }
    const ssize_t n = recv(fd, buffer.data(), buffer.size(), MSG_TRUNC | MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (n < 0) return errno;
    if (n == 0) return 0;
    // A message longer than any the server sends would arrive cut.
    if (static_cast<std::size_t>(n) > buffer.size()) return EMSGSIZE;
    if (out_reply.size() + static_cast<std::size_t>(n) > kReplyMax) return EMSGSIZE;
    out_reply.append(buffer.data(), static_cast<std::size_t>(n));
  }
}

int exchange(int fd, const std::string& path, const std::string& text, std::string& out_reply) {
  if (const int error = connect_to(fd, path); error != 0) return error;
  if (send(fd, text.data(), text.size(), MSG_NOSIGNAL) < 0) return errno;
  return read_reply(fd, out_reply);
}

// The number of the reply's "Exit=" line (a line of its own: a file name may
// hold "Exit=" too); false when the reply has none.
bool reply_exit_code(const std::string& reply, int* out_code) {
  std::size_t at = reply.rfind("Exit=", 0) == 0 ? 0 : reply.find("\nExit=");
  if (at == std::string::npos) return false;
  if (reply[at] == '\n') ++at;
  const long value = std::strtol(reply.c_str() + at + 5, nullptr, 10);
  *out_code = static_cast<int>(value < INT_MIN ? INT_MIN : value > INT_MAX ? INT_MAX : value);
  return true;
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
  int exit_code = 0;
  if (reply_exit_code(reply, &exit_code)) return exit_code;
  // A reply cut short (the server ended while it answered) tells nothing
  // of how the request went.
  ReportLine("Error=%s\n", "Incomplete reply from Quillet server (no Exit= line)");
  ReportLine("Exit=%d\n", 251);
  return 251;
}
