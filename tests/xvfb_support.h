// A virtual X display for the tests of the windows: Xvfb on a free display
// number, started by the test and killed at its end, and xdotool to find
// windows and type into them. Tests skip when Xvfb or xdotool is missing.
#pragma once
#include <fcntl.h>
#include <sys/file.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "tool_support.h"

namespace test_tools {

class VirtualDisplay {
 public:
  // A number is claimed first with a lock of the tests' own (flock, held
  // while the display lives), then Xvfb is started on it. Xvfb alone cannot
  // be trusted to keep two servers apart: it binds its socket path (removing
  // whatever was there) before it takes its lock file, so a second server
  // starting on the same number can take the first one's socket away.
  VirtualDisplay() {
    if (!have_tool("Xvfb") || !have_tool("xdotool")) return;
    for (int n = 100 + static_cast<int>(::getpid() % 800); n < 30000 && pid_ <= 0; n += 13) {
      if (!claim(n)) continue;
      if (!live_server_holds(n)) start(std::to_string(n));
      if (pid_ <= 0) release();
    }
  }
  ~VirtualDisplay() { stop(); }
  VirtualDisplay(const VirtualDisplay&) = delete;
  VirtualDisplay& operator=(const VirtualDisplay&) = delete;

  bool ready() const { return pid_ > 0; }
  // ":93", for $DISPLAY.
  const std::string& name() const { return name_; }

  // Ends the X server at once, as a display that goes away does. A killed
  // server cannot remove its lock file and socket: they are removed here, so
  // that stale numbers do not pile up in /tmp.
  void stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    remove_files_of(pid_);
    pid_ = -1;
    release();
  }

  // A command run against this display (xdotool, import, xprop).
  std::string run(const std::string& command) const {
    return command_output("DISPLAY=" + name_ + " " + command + " 2>/dev/null");
  }

  // The first window whose title matches `title` (an xdotool regular
  // expression), waiting up to `seconds`; "" when none came.
  std::string wait_for_window(const std::string& title, int seconds = 30) const {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < end) {
      std::string id = run("xdotool search --onlyvisible --name '" + title + "'");
      if (!id.empty()) return id.substr(0, id.find('\n'));
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return "";
  }

  // Clicks the left button at (x, y) inside `window`, as a person does.
  void click(const std::string& window, int x, int y) const {
    run("xdotool mousemove --window " + window + " " + std::to_string(x) + " " +
        std::to_string(y) + " click 1");
  }

  // Gives `window` the keyboard and types `keys` ("Return", "n", "Down Return").
  void press(const std::string& window, const std::string& keys) const {
    run("xdotool windowfocus --sync " + window);
    run("xdotool key --delay 50 " + keys);
  }

 private:
  static std::string lock_path(const std::string& number) { return "/tmp/.X" + number + "-lock"; }

  // Takes the tests' own lock on number `n`; false when another test holds it.
  bool claim(int n) {
    const std::string path = "/tmp/.quillet-test-display-" + std::to_string(n);
    claim_fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (claim_fd_ < 0) return false;
    if (::flock(claim_fd_, LOCK_EX | LOCK_NB) != 0) {
      release();
      return false;
    }
    return true;
  }
  void release() {
    if (claim_fd_ >= 0) ::close(claim_fd_);
    claim_fd_ = -1;
  }

  // Whether an X server that is alive holds number `n` (its lock file names
  // a live process). A stale lock is Xvfb's to replace.
  static bool live_server_holds(int n) {
    std::FILE* f = std::fopen(lock_path(std::to_string(n)).c_str(), "r");
    if (f == nullptr) return false;
    long owner = -1;
    const bool read = std::fscanf(f, "%ld", &owner) == 1;
    std::fclose(f);
    return read && owner > 0 && (::kill(static_cast<pid_t>(owner), 0) == 0 || errno == EPERM);
  }

  void start(const std::string& number) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      // -noreset: an X server resets when its last client leaves and refuses
      // connections meanwhile; a test's clients come and go.
      ::execlp("Xvfb", "Xvfb", (":" + number).c_str(), "-screen", "0", "1024x768x24", "-nolisten",
               "tcp", "-noreset", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    if (pid < 0) return;
    name_ = ":" + number;
    number_ = number;
    // Ready when this server's lock is in place and a client is answered.
    for (int i = 0; i < 200; ++i) {
      int status = 0;
      if (::waitpid(pid, &status, WNOHANG) == pid) return;  // it gave up
      if (owner_of_lock() == pid &&
          std::system(("DISPLAY=" + name_ + " xdotool getmouselocation >/dev/null 2>&1").c_str()) == 0) {
        pid_ = pid;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    remove_files_of(pid);
  }

  long owner_of_lock() const {
    std::FILE* f = std::fopen(lock_path(number_).c_str(), "r");
    if (f == nullptr) return -1;
    long owner = -1;
    if (std::fscanf(f, "%ld", &owner) != 1) owner = -1;
    std::fclose(f);
    return owner;
  }

  // Removes the lock file and socket of display number_ when the lock names
  // `pid` (they are another server's otherwise).
  void remove_files_of(pid_t pid) const {
    if (owner_of_lock() != pid) return;
    ::unlink(("/tmp/.X11-unix/X" + number_).c_str());
    ::unlink(lock_path(number_).c_str());
  }

  pid_t pid_ = -1;
  int claim_fd_ = -1;
  std::string name_;
  std::string number_;
};

// A virtual display for a test fixture to hold (the fixture keeps a
// reference to it); not ready() when Xvfb or xdotool is missing.
inline std::unique_ptr<VirtualDisplay> start_virtual_display() {
  return std::make_unique<VirtualDisplay>();
}

}  // namespace test_tools
