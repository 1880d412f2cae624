// The log viewer socket: a listening viewer gets the header and every
// complete line at once; a missing or departed viewer costs nothing.
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

#include "log/trace.h"
#include "log_test_support.h"

namespace {

using log_test::count_of;
using log_test::LogTest;

// A viewer: listens on the log socket in the test's runtime folder.
class Viewer {
 public:
  explicit Viewer(const std::string& folder, bool listen_now = true) {
    path_ = folder + "/Talven-log";
    listener_ = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path_.c_str(), sizeof address.sun_path - 1);
    bound_ = bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (listen_now) listening_ = listen(listener_, 4) == 0;
  }
  ~Viewer() {
    if (peer_ >= 0) close(peer_);
    if (listener_ >= 0) close(listener_);
  }
  bool ready() const { return bound_ && listening_; }
  void stop_listening() {
    close(listener_);
    listener_ = -1;
  }

  // Reads until `what` has arrived or the time is up.
  std::string read_until(const std::string& what, int wait_ms = 1000) {
    if (peer_ < 0) {
      pollfd p{listener_, POLLIN, 0};
      if (poll(&p, 1, wait_ms) != 1) return received_;
      peer_ = accept(listener_, nullptr, nullptr);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
    while (received_.find(what) == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
      pollfd p{peer_, POLLIN, 0};
      if (poll(&p, 1, 20) != 1) continue;
      char chunk[4096];
      const ssize_t n = read(peer_, chunk, sizeof chunk);
      if (n <= 0) break;
      received_.append(chunk, static_cast<std::size_t>(n));
    }
    return received_;
  }
  void hang_up() {
    if (peer_ >= 0) close(peer_);
    peer_ = -1;
    stop_listening();
  }

 private:
  std::string path_;
  int listener_ = -1;
  int peer_ = -1;
  bool bound_ = false;
  bool listening_ = false;
  std::string received_;
};

class LogPipeTest : public LogTest {
 protected:
  // Starts over so the first print checks for the viewer at once.
  void restart_log() {
    LogResetForTests();
    LogAttach();
  }
};

TEST_F(LogPipeTest, ViewerGetsHeaderThenEachCompleteLine) {
  Viewer viewer(run_);
  ASSERT_TRUE(viewer.ready());
  restart_log();
  LogPrint("first line\n");
  const std::string got = viewer.read_until("first line\n");
  EXPECT_EQ(got.rfind("------ Start of log (", 0), 0u) << got;
  EXPECT_EQ(count_of(got, "Loaded Libraries:\n"), 1);
  EXPECT_EQ(count_of(got, "LogInitialize\n"), 1);
  // A partial line waits in the buffer; its end sends it.
  LogPrint("half");
  EXPECT_EQ(count_of(viewer.read_until("half", 200), "half"), 0);
  LogPrint(" done\n");
  EXPECT_EQ(count_of(viewer.read_until("half done\n"), "half done\n"), 1);
}

TEST_F(LogPipeTest, DepartedViewerIsDroppedSilently) {
  struct sigaction old_action{};
  struct sigaction default_action{};
  default_action.sa_handler = SIG_DFL;
  sigaction(SIGPIPE, &default_action, &old_action);  // a SIGPIPE would end the test
  {
    Viewer viewer(run_);
    ASSERT_TRUE(viewer.ready());
    restart_log();
    TWAIN_LogFile(1);
    viewer.read_until("Loaded Libraries:\n");
    viewer.hang_up();
  }
  for (int i = 0; i < 3; ++i) LogPrint("after viewer left %d\n", i);
  const std::string text = log_text();
  sigaction(SIGPIPE, &old_action, nullptr);
  EXPECT_EQ(count_of(text, "after viewer left 2\n"), 1);
  EXPECT_EQ(count_of(text, "*Pipe Check"), 0);
}

TEST_F(LogPipeTest, PipeCheckReportsOnlyRealErrors) {
  struct Case {
    const char* name;
    bool stale_socket;      // a socket file nobody listens on
    bool long_folder;       // a runtime folder too long for a socket address
    const char* expected;   // trace line, or nullptr for none
  };
  const Case cases[] = {
      {"no socket file", false, false, nullptr},
      {"stale socket file", true, false, nullptr},
      {"unusable address", false, true, "*Pipe Check: GLE(36)\n"},  // ENAMETOOLONG
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<Viewer> stale;
    if (c.stale_socket) stale.emplace(run_, false);
    const std::string long_folder = dir_ + "/" + std::string(100, 'r');
    std::optional<log_test::ScopedEnv> runtime;
    if (c.long_folder) {
      ASSERT_EQ(mkdir(long_folder.c_str(), 0700), 0);
      runtime.emplace("XDG_RUNTIME_DIR", long_folder.c_str());
    }
    restart_log();
    TWAIN_LogFile(1);
    const std::string text = log_text();
    EXPECT_EQ(count_of(text, "*Pipe Check"), c.expected ? 1 : 0) << text;
    if (c.expected) {
      EXPECT_EQ(count_of(text, c.expected), 1);
    }
    stale.reset();
    unlink((run_ + "/Talven-log").c_str());
  }
}

}  // namespace
