// Server mode with two processes: a server (/SERVER) started in the
// background in its own folder and runtime folder, and clients (/BG) run as a
// user would, or raw connections that play a hostile local program.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <thread>

#include "../other_user.h"
#include "run_program.h"
#include "scan_run.h"

extern char** environ;

namespace {

using Args = std::vector<std::string>;
using Clock = std::chrono::steady_clock;

// A feeder that a server's lifetime does not empty.
constexpr const char* kLongFeeder = "feeder_sheets = 100000\n";

std::string build_file(const std::string& name) {
  const std::string program = quillet_program();
  return program.substr(0, program.rfind('/') + 1) + name;
}

// The server of a ScanRun's folder: started in its own session (no
// terminal), always killed at the end so that no test can hang on it.
class Server {
 public:
  // On a terminal of its own (script(1) records it in `terminal_log`), or
  // in a session without one.
  explicit Server(ScanRun& run, const std::string& terminal_log = "")
      : socket(run.home + "/Talven.Quillet"), run_(run) {
    Args args = {quillet_program(), "/SERVER", "/LOG=" + run.at("server.log")};
    if (!terminal_log.empty())
      args = {"/usr/bin/script", "-qec", args[0] + " " + args[1] + " " + args[2], terminal_log};
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
      const std::string entry = *e;
      if (!run.env.count(entry.substr(0, entry.find('=')))) env.push_back(entry);
    }
    for (const auto& [k, v] : run.env) env.push_back(k + "=" + v);
    std::vector<char*> argv, envp;
    for (std::string& a : args) argv.push_back(a.data());
    for (std::string& e : env) envp.push_back(e.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, run.at("server.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, run.at("server.err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
    const std::string here = std::filesystem::current_path();
    std::filesystem::current_path(run.home);
    if (::posix_spawn(&pid, argv[0], &actions, &attr, argv.data(), envp.data()) != 0) pid = -1;
    std::filesystem::current_path(here);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
  }
  ~Server() { stop(SIGKILL); }

  // True once it answers a request (under the sanitizers a start is slow;
  // a socket a killed server left may be there before).
  bool ready();
  bool alive() { return pid > 0 && ::waitpid(pid, &status_, WNOHANG) == 0; }
  // The exit status once it ended within `timeout_ms`; -1 otherwise.
  int wait_exit(int timeout_ms) {
    for (int waited_ms = 0; pid > 0 && waited_ms < timeout_ms; waited_ms += 20) {
      if (::waitpid(pid, &status_, WNOHANG) == pid) {
        pid = -1;
        return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
  }
  void stop(int signal_number) {
    if (pid > 0 && ::kill(pid, signal_number) == 0) ::waitpid(pid, &status_, 0);
    pid = -1;
  }
  std::string out() const { return read_file(run_.at("server.out")); }

  pid_t pid = -1;
  std::string socket;

 private:
  ScanRun& run_;
  int status_ = 0;
};

// A raw connection to the server, as any local program can make one.
int connect_raw(const std::string& path) {
  const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Everything the server sends until it ends the reply.
std::string read_reply(int fd, int timeout_ms = 20000) {
  std::string reply;
  std::vector<char> chunk(1 << 18);
  for (pollfd p{fd, POLLIN, 0}; ::poll(&p, 1, timeout_ms) == 1;) {
    const ssize_t n = ::recv(fd, chunk.data(), chunk.size(), 0);
    if (n <= 0) break;
    reply.append(chunk.data(), static_cast<std::size_t>(n));
  }
  return reply;
}

std::string exchange_raw(const std::string& path, const std::string& message) {
  const int fd = connect_raw(path);
  if (fd < 0) return "(no connection)";
  ::send(fd, message.data(), message.size(), MSG_NOSIGNAL);
  std::string reply = read_reply(fd);
  ::close(fd);
  return reply;
}

bool Server::ready() {
  for (int waited_ms = 0; pid > 0 && waited_ms < 60000; waited_ms += 50) {
    if (::waitpid(pid, &status_, WNOHANG) == pid) {
      pid = -1;
      return false;
    }
    struct stat st {};
    if (::lstat(socket.c_str(), &st) == 0 && exchange_raw(socket, "/BG /NOSCAN").find("\nExit=0\n") != std::string::npos)
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

// The report lines a client and a local run share: without the process's
// own App, Version and CmdLine, and with the run's folder named alike. The
// State line is left out too: a local run's device may or may not have asked
// to close by the time the report is written.
Args shared_lines(const std::string& report, const std::string& home) {
  Args out;
  for (std::string line : report_lines(report)) {
    if (line.rfind("App=", 0) == 0 || line.rfind("Version=", 0) == 0 ||
        line.rfind("CmdLine=", 0) == 0 || line.rfind("State=", 0) == 0)
      continue;
    for (auto at = line.find(home); at != std::string::npos; at = line.find(home))
      line.replace(at, home.size(), "<home>");
    out.push_back(line);
  }
  return out;
}

// The first file a report names ("File=" or "File<n>=").
std::string first_file(const std::string& report) {
  for (const std::string& line : report_lines(report))
    if (line.rfind("File", 0) == 0 && line.find('=') != std::string::npos) return line.substr(line.find('=') + 1);
  return "";
}

std::string jpeg_quality(const std::string& path) {
  FILE* p = ::popen(("identify -format %Q '" + path + "' 2>/dev/null").c_str(), "r");
  char text[32] = {};
  if (p) {
    if (!std::fgets(text, sizeof text, p)) text[0] = 0;
    ::pclose(p);
  }
  return text;
}

int open_fds(pid_t pid) {
  int n = 0;
  for (const auto& e : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd")) {
    (void)e;
    ++n;
  }
  return n;
}

long rss_kib(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

TEST(Server, ServesRequestsAsLocalRunsAndStopsOnRequest) {
  ScanRun run(kLongFeeder), local(kLongFeeder);
  std::filesystem::create_directory(run.at("scans"));
  std::filesystem::create_directory(local.at("scans"));
  Server server(run);
  ASSERT_TRUE(server.ready()) << read_file(run.at("server.err"));

  // The same report as a local run, but for the process's own lines.
  const RunResult client = run.run({"/BG", "/N=2", "scans/doc.tif"});
  const RunResult alone = local.run({"/N=2", "scans/doc.tif"});
  EXPECT_EQ(client.exit_status, 0) << client.out << client.err;
  EXPECT_EQ(shared_lines(client.out, run.home), shared_lines(alone.out, local.home)) << client.out;
  // The batch ended, the device waits for the next request's settings.
  EXPECT_EQ(report_value(client.out, "State"), "4");

  // A rejected request: the client's 251, and the server goes on.
  const RunResult refused = run.run({"/BG", "/BW", "/DEEP", "x.tif"});
  EXPECT_EQ(refused.exit_status, 251);
  EXPECT_EQ(report_value(refused.out, "Error"), "/deep is incompatible with /BW");
  EXPECT_FALSE(file_exists(run.at("x.tif")));

  // A name with blanks, quotes and a backslash arrives as it was typed.
  const std::string odd = "my \"odd\" sc\\an 1.tif";
  const RunResult named = run.run({"/BG", "/N=1", odd});
  EXPECT_EQ(named.exit_status, 0) << named.out;
  EXPECT_TRUE(file_exists(run.at(odd))) << named.out;

  // Nothing of one request reaches the next: page count, JPEG quality.
  struct Step {
    Args args;
    const char* pages;
    const char* quality;  // of the JPEG file written, "" when none
  };
  const Step steps[] = {
      {{"/BG", "/N=3", "/Q=20", "a.jpg"}, "3", "20"},
      {{"/BG", "b.jpg"}, "1", "75"},
      {{"/BG", "/APPEND", "/TIFF+", "/N=2", "m.tif"}, "2", ""},
      {{"/BG", "/N=1", "c.jpg"}, "1", "75"},
      // The exit code is the reply's Exit line, not an "Exit=" in a name.
      {{"/BG", "/N=1", "Exit=7.tif"}, "1", ""},
  };
  for (const Step& s : steps) {
    const RunResult r = run.run(s.args);
    EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
    EXPECT_EQ(report_value(r.out, "PagesWritten"), s.pages) << r.out;
    if (*s.quality) {
      EXPECT_EQ(jpeg_quality(first_file(r.out)), s.quality) << r.out;
    }
  }

  // A long run's report arrives whole: more than one message of reply.
  const std::string long_name = std::string(200, 'p') + ".tif";
  const RunResult many = run.run({"/BG", "/N=300", long_name});
  EXPECT_EQ(many.exit_status, 0) << many.err;
  EXPECT_GT(many.out.size(), 64u * 1024);
  EXPECT_FALSE(report_value(many.out, "File300").empty());
  EXPECT_EQ(report_value(many.out, "Exit"), "0");

  const RunResult stop = run.run({"/BG", "/STOP"});
  EXPECT_EQ(stop.exit_status, 0) << stop.out;
  EXPECT_EQ(report_value(stop.out, "Exit"), "0");
  EXPECT_EQ(server.wait_exit(10000), 0);
  EXPECT_FALSE(file_exists(server.socket));
  EXPECT_EQ(report_value(server.out(), "Exit"), "0") << server.out();
  const std::string trace = read_file(run.at("server.log"));
  for (const char* line : {"MsgWaitForMultipleObjects\n", "Connect event signaled!\n",
                           "Server request: /BG /N=2 scans/doc.tif\n", "Server stopped\n"})
    EXPECT_NE(trace.find(line), std::string::npos) << line;
}

TEST(Server, SaysItStopsOnItsOwnTerminalOnly) {
  if (::access("/usr/bin/script", X_OK) != 0) GTEST_SKIP() << "script (bsdutils) is not installed";
  ScanRun run(kLongFeeder);
  Server server(run, run.at("terminal.txt"));
  ASSERT_TRUE(server.ready());
  const RunResult stop = run.run({"/BG", "/STOP"});
  EXPECT_EQ(stop.out.find("stopping"), std::string::npos);
  EXPECT_EQ(server.wait_exit(10000), 0);
  EXPECT_NE(read_file(run.at("terminal.txt")).find("Quillet server stopping"), std::string::npos);
}

TEST(Server, OneServerPerUserAndNoStaleSocketAfterAKill) {
  ScanRun run(kLongFeeder);
  const RunResult none = run.run({"/BG", "/NOSCAN"});
  EXPECT_EQ(none.exit_status, 251);
  EXPECT_EQ(report_value(none.out, "Error").rfind("Error sending command to Quillet server. GLE(", 0), 0u)
      << none.out;
  const RunResult both = run.run({"/SERVER", "/BG"});
  EXPECT_EQ(both.exit_status, 251);
  EXPECT_EQ(report_value(both.out, "Error"), "/server and /bg cannot be combined");

  auto first = std::make_unique<Server>(run);
  ASSERT_TRUE(first->ready());
  const RunResult second = run.run({"/SERVER"});
  EXPECT_EQ(second.exit_status, 221) << second.out;
  EXPECT_NE(second.err.find("Details: CreateNamedPipe failed GLE("), std::string::npos) << second.err;
  EXPECT_EQ(run.run({"/BG", "/NOSCAN"}).exit_status, 0);

  // Killed outright, the server leaves its socket; the next one replaces it.
  first->stop(SIGKILL);
  ASSERT_TRUE(file_exists(first->socket));
  Server next(run);
  ASSERT_TRUE(next.ready());
  EXPECT_EQ(run.run({"/BG", "/NOSCAN"}).exit_status, 0);
  // Terminated, it ends in order and takes its socket along.
  ::kill(next.pid, SIGTERM);
  EXPECT_EQ(next.wait_exit(10000), 0);
  EXPECT_FALSE(file_exists(next.socket));
}

TEST(Server, SurvivesHostileTraffic) {
  // An empty feeder: a random request that reads as a file name fails fast.
  ScanRun run("feeder_sheets = 0\n");
  // Freed memory is reused at once, so resident memory tells a leak.
  const char* asan = std::getenv("ASAN_OPTIONS");
  run.env["ASAN_OPTIONS"] = std::string(asan ? asan : "") + ":quarantine_size_mb=0:thread_local_quarantine_size_kb=0";
  Server server(run);
  ASSERT_TRUE(server.ready());
  for (int i = 0; i < 3; ++i) ASSERT_EQ(run.run({"/BG", "/NOSCAN"}).exit_status, 0);
  const int fds_before = open_fds(server.pid);
  const long rss_before = rss_kib(server.pid);

  const char* count_text = std::getenv("QUILLET_HOSTILE_MESSAGES");
  const int count = count_text ? std::atoi(count_text) : 1000;
  std::mt19937 random(77);
  for (int i = 0; i < count; ++i) {
    std::string message(random() % 300, '\0');
    for (char& c : message) c = static_cast<char>(random() % 256);
    const int fd = connect_raw(server.socket);
    ASSERT_GE(fd, 0) << "message " << i;
    ::send(fd, message.data(), message.size(), MSG_NOSIGNAL);
    // Every tenth goes away before its reply.
    if (i % 10 != 0) EXPECT_NE(read_reply(fd).find("\nExit="), std::string::npos) << i;
    ::close(fd);
  }
  EXPECT_NE(exchange_raw(server.socket, "").find("Error=Empty server request\n"), std::string::npos);
  const std::string oversized = exchange_raw(server.socket, "/BG " + std::string(100000, 'x'));
  EXPECT_NE(oversized.find("Error=Server request too long: 100004 bytes"), std::string::npos) << oversized;
  EXPECT_NE(oversized.find("Exit=251\n"), std::string::npos);
  for (const bool half_close : {false, true}) {
    // Silent, or closed for sending: the server waits a bounded time.
    const int fd = connect_raw(server.socket);
    const auto start = Clock::now();
    if (half_close) ::shutdown(fd, SHUT_WR);
    EXPECT_EQ(read_reply(fd, 5000), "");
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    // Silent: dropped after the request time-out; half-closed: at once.
    EXPECT_LT(waited, half_close ? 500 : 3000);
    if (!half_close) EXPECT_GE(waited, 1500);
    ::close(fd);
  }
  if (other_user::cannot_act_as_other_user().empty()) {
    // Even with the folder and socket opened up by mistake, another user's
    // connection is dropped unread.
    ::chmod(run.home.c_str(), 0711);
    ::chmod(server.socket.c_str(), 0666);
    EXPECT_EQ(other_user::run(build_file("tests/fake_peer") + " " + server.socket + " send /BG"), 4);
    ::chmod(server.socket.c_str(), 0600);
    ::chmod(run.home.c_str(), 0700);
  }

  const auto start = Clock::now();
  const std::string answer = exchange_raw(server.socket, "/BG /NOSCAN");
  const auto answer_ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
  EXPECT_NE(answer.find("\nExit=0\n"), std::string::npos) << answer;
  EXPECT_LT(answer_ms, 1000);
  EXPECT_EQ(run.run({"/BG", "/NOSCAN"}).exit_status, 0);
  ASSERT_TRUE(server.alive());
  const int fds_after = open_fds(server.pid);
  const long rss_after = rss_kib(server.pid);
  std::cout << "hostile messages " << count << ": answer " << answer_ms << " ms, fds " << fds_before
            << " -> " << fds_after << ", VmRSS " << rss_before << " -> " << rss_after << " KiB\n";
  EXPECT_EQ(fds_after, fds_before);
  EXPECT_LT(rss_after, rss_before + 16 * 1024);
  EXPECT_EQ(run.run({"/BG", "/STOP"}).exit_status, 0);
  EXPECT_EQ(server.wait_exit(10000), 0);
  const std::string trace = read_file(run.at("server.log"));
  EXPECT_NE(trace.find("ReadFile(pipe) failed GLE(110)"), std::string::npos);  // ETIMEDOUT
  if (other_user::cannot_act_as_other_user().empty())
    EXPECT_NE(trace.find("refused a client of user 65534"), std::string::npos);
}

}  // namespace
