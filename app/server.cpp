// The server's loop. It is single-threaded: one client at a time, and the
// request runs on the main thread, which owns the device. Between clients it
// waits on the socket at most kPumpIntervalMs at a time and lets the library
// pump the thread's messages in between, so that the device's notifications
// and dialogs stay alive.
//
// The socket is only for this user: the runtime folder is private (0700, the
// user's own, not a link), the socket is 0600, and every peer's user is
// checked with the kernel's credentials before a byte of it is read. No
// client can hold the server: a request must arrive within
// kRequestTimeoutMs of connecting, and a reply that is not taken fails after
// kReplyTimeoutMs.
#include "app/server.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "app/client.h"
#include "app/command_line.h"
#include "app/device.h"
#include "app/exit_status.h"
#include "app/options.h"
#include "app/process.h"
#include "app/report.h"
#include "app/stream_output.h"
#include "core/state_registry.h"
#include "log/trace.h"
#include "orivane/errors.h"
#include "orivane/twain_acquire.h"
#include "orivane/twain_session.h"
#include "platform/interrupt.h"
#include "platform/local_socket.h"
#include "platform/paths.h"

namespace {

constexpr int kPumpIntervalMs = 500;
constexpr int kRequestTimeoutMs = 2000;
constexpr int kReplyTimeoutMs = 5000;

// The server's process-wide state: the library settings every request
// starts from.
struct ServerState {
  RequestLibrarySettings fresh_settings;
  bool noted = false;
};

ServerState& server_state() {
  static ServerState s;
  return s;
}

const bool kServerRegistered =
    core::register_state({"app.server", [] { server_state() = ServerState{}; }, nullptr});

// For the person at the terminal: why the server did not start.
void hint(const std::string& text) {
  LogPrint("[Quillet] hint: %s\n", text.c_str());
  std::fprintf(stderr, "quillet: %s\n", text.c_str());
  std::fflush(stderr);
}

// "Quillet server stopping" goes to the terminal the server runs on, not
// into any report; without a terminal nothing is shown.
void tell_console(const char* text) {
  const int fd = ::open("/dev/tty", O_WRONLY | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return;
  const ssize_t written = ::write(fd, text, std::strlen(text));
  (void)written;
  ::close(fd);
}

int cannot_listen(const std::string& path, int error) {
  if (path.empty()) {
    hint("the runtime folder ($XDG_RUNTIME_DIR, else /tmp/Talven-" + std::to_string(::getuid()) +
         ") is not private to this user (own folder, mode 0700, not a link)");
  } else if (error == EEXIST) {
    hint(path + " (or its .lock) is not this user's socket: remove it or use another XDG_RUNTIME_DIR");
  } else if (error == EADDRINUSE) {
    hint("a server already listens at " + path + "; stop it with: quillet /BG /STOP");
  }
  char message[256];
  std::snprintf(message, sizeof message,
                "Quillet cannot start in server mode.\nIs an Quillet server already running?\n"
                "Details: CreateNamedPipe failed GLE(%d)",
                error);
  TWAIN_ErrorBox(message);
  return 221;
}

// A request is refused as a rejected command line is: its message, 251.
void refuse(const std::string& message) {
  ReportLine("Error=%s\n", message.c_str());
  ReportLine("Exit=%d\n", 251);
}

// What a server cannot run for a client even though a local run could.
const char* refused_in_server(const ScanRequest& r) {
  if (r.server) return "/server cannot be requested of a running server";
  // The file would go to the server's own output, not to the client's.
  if (!r.stream_target.empty()) return "Standard output cannot be written through a server (/BG)";
  return nullptr;
}

void send_report(int client_fd) {
  const std::string text = front_end().report.text();
  const int error = platform::socket_send_text(client_fd, text, kServerReplyChunk, kReplyTimeoutMs);
  if (error != 0) LogPrint("[Quillet] reply not delivered: GLE(%d)\n", error);
}

// The message's text without trailing white space; "" when it has none.
std::string trimmed(std::string text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' ||
                           text.back() == '\n'))
    text.pop_back();
  return text;
}

// Takes one client off the queue and serves it; false when a /STOP request
// ends the server.
bool serve_one(int listen_fd) {
  const int client = ::accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
  if (client < 0) return true;  // gone meanwhile
  uid_t peer_uid = 0;
  if (const int error = platform::socket_peer_check(client, &peer_uid); error != 0) {
    LogPrint("[Quillet] server: refused a client of user %ld: GLE(%d)\n", static_cast<long>(peer_uid),
             error);
    ::close(client);
    return true;
  }
  std::string text;
  std::size_t size = 0;
  bool keep_serving = true;
  const int error = platform::socket_receive_message(client, kRequestTimeoutMs, kServerRequestMax, text, &size);
  if (error == EMSGSIZE) {
    // Never cut: a command line cut short could run another job.
    LogPrint("[Quillet] server: request of %zu bytes refused\n", size);
    front_end().report.clear();
    ReportLine("[Quillet]\n");
    char message[128];
    std::snprintf(message, sizeof message, "Server request too long: %zu bytes (at most %zu)", size,
                  kServerRequestMax);
    refuse(message);
    send_report(client);
  } else if (error != 0) {
    LogPrint("ReadFile(pipe) failed GLE(%d)\n", error);
  } else {
    text = trimmed(std::move(text));
    LogPrint("Server request: %s\n", text.c_str());
    keep_serving = HandleServerRequest(client, text);
  }
  ::close(client);
  return keep_serving;
}

}  // namespace

void server_note_fresh_settings() {
  server_state().fresh_settings = TakeRequestLibrarySettings();
  server_state().noted = true;
}

bool HandleServerRequest(int client_fd, const std::string& text) {
  if (server_state().noted) RestoreRequestLibrarySettings(server_state().fresh_settings);
  FrontEnd& fe = front_end();
  fe.report.clear();
  fe.stream = StreamOutput{};
  ReportLine("[Quillet]\n");
  bool stop = false;
  if (text.empty()) {
    refuse("Empty server request");
  } else if (text.find('\0') != std::string::npos) {
    // Read as text it would end at the NUL: another command line than sent.
    refuse("Server request holds a NUL byte");
  } else {
    const std::vector<std::string> args = SplitCommandLine("Quillet " + text);
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    ScanRequest request;
    std::string message;
    const char* refusal = nullptr;
    if (!ReadRequest(request, static_cast<int>(argv.size()), argv.data(), message)) {
      refuse(message);
    } else if ((refusal = refused_in_server(request)) != nullptr) {
      refuse(refusal);
    } else {
      request.client = false;
      request.in_server = true;
      stop = request.stop;
      ProcessRequests(request);
    }
  }
  send_report(client_fd);
  if (!stop) return true;
  tell_console("Quillet server stopping\n");
  return false;
}

int ServeRequests(ScanRequest& request) {
  FrontEnd& fe = front_end();
  if (!OpenDevice(request, fe.main_window)) {
    TWAIN_ReportLastError("");
    return 255;
  }
  const std::string path = server_socket_path();
  platform::LocalListener listener;
  if (const int error = path.empty() ? EACCES : listener.listen_at(path); error != 0)
    return cannot_listen(path, error);
  LogPrint("[Quillet] server listening at %s\n", path.c_str());
  // Each request has a report of its own; the server's own goes on after.
  const std::string own_report = fe.report.text();
  bool running = true;
  while (true) {
    if (!running || platform::interrupt_raised()) break;
    LogPrint("MsgWaitForMultipleObjects\n");
    if (!platform::socket_wait_readable(listener.fd(), kPumpIntervalMs)) {
      TWAIN_EmptyMessageQueue();
      continue;
    }
    LogPrint("Connect event signaled!\n");
    running = serve_one(listener.fd());
  }
  if (platform::interrupt_raised())
    LogPrint("[Quillet] server interrupted (signal %d)\n", platform::interrupt_signal());
  listener.close();
  TWAIN_UnloadSourceManager();
  LogPrint("Server stopped\n");
  fe.report.clear();
  for (std::size_t start = 0; start < own_report.size();) {
    const std::size_t end = own_report.find('\n', start);
    fe.report.add(own_report.substr(start, end - start + 1));
    start = end == std::string::npos ? own_report.size() : end + 1;
  }
  return 0;
}
