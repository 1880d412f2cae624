// A virtual X display for the tests of the windows: Xvfb on a free display
// number, started by the test and killed at its end, and xdotool to find
// windows and type into them. Tests skip when Xvfb or xdotool is missing.
#pragma once
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "tool_support.h"

namespace test_tools {

class VirtualDisplay {
 public:
  // Xvfb chooses the number itself (-displayfd): it takes the first number
  // whose lock file it can create, so two tests starting side by side never
  // share a server, and it writes the number only once it accepts clients.
  VirtualDisplay() {
    if (!have_tool("Xvfb") || !have_tool("xdotool")) return;
    start();
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

  // Gives `window` the keyboard and types `keys` ("Return", "n", "Down Return").
  void press(const std::string& window, const std::string& keys) const {
    run("xdotool windowfocus --sync " + window);
    run("xdotool key --delay 50 " + keys);
  }

 private:
  void start() {
    int pipe_fds[2];
    if (::pipe(pipe_fds) != 0) return;
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::close(pipe_fds[0]);
      const std::string fd = std::to_string(pipe_fds[1]);
      ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten",
               "tcp", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(pipe_fds[1]);
    if (pid < 0) {
      ::close(pipe_fds[0]);
      return;
    }
    // The number arrives as "93\n" once the server listens; end of file
    // means it gave up. A server that says nothing in 20 s is ended.
    std::string number;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < end && number.find('\n') == std::string::npos) {
      pollfd p{pipe_fds[0], POLLIN, 0};
      if (::poll(&p, 1, 200) <= 0) continue;
      char buffer[16];
      const ssize_t got = ::read(pipe_fds[0], buffer, sizeof buffer);
      if (got <= 0) break;
      number.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(pipe_fds[0]);
    if (number.empty() || number.find('\n') == std::string::npos) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
      return;
    }
    number.erase(number.find('\n'));
    name_ = ":" + number;
    number_ = number;
    pid_ = pid;
  }

  // Removes the lock file and socket of display number_ when the lock names
  // `pid` (they are another server's otherwise).
  void remove_files_of(pid_t pid) const {
    const std::string lock = "/tmp/.X" + number_ + "-lock";
    std::FILE* f = std::fopen(lock.c_str(), "r");
    if (f == nullptr) return;
    long owner = -1;
    const bool read = std::fscanf(f, "%ld", &owner) == 1;
    std::fclose(f);
    if (!read || owner != pid) return;
    ::unlink(("/tmp/.X11-unix/X" + number_).c_str());
    ::unlink(lock.c_str());
  }

  pid_t pid_ = -1;
  std::string name_;
  std::string number_;
};

}  // namespace test_tools
