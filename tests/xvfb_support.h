// A virtual X display for the tests of the windows: Xvfb on a free display
// number, started by the test and killed at its end, and xdotool to find
// windows and type into them. Tests skip when Xvfb or xdotool is missing.
#pragma once
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "tool_support.h"

namespace test_tools {

class VirtualDisplay {
 public:
  VirtualDisplay() {
    if (!have_tool("Xvfb") || !have_tool("xdotool")) return;
    for (int n = 90 + static_cast<int>(::getpid() % 400); n < 1000 && pid_ <= 0; n += 7) {
      const std::string number = std::to_string(n);
      struct stat st {};
      if (::stat(("/tmp/.X11-unix/X" + number).c_str(), &st) == 0 ||
          ::stat(("/tmp/.X" + number + "-lock").c_str(), &st) == 0)
        continue;
      start(number);
    }
  }
  ~VirtualDisplay() { stop(); }
  VirtualDisplay(const VirtualDisplay&) = delete;
  VirtualDisplay& operator=(const VirtualDisplay&) = delete;

  bool ready() const { return pid_ > 0; }
  // ":93", for $DISPLAY.
  const std::string& name() const { return name_; }

  // Ends the X server at once, as a display that goes away does.
  void stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
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
  void start(const std::string& number) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::execlp("Xvfb", "Xvfb", (":" + number).c_str(), "-screen", "0", "1024x768x24",
               "-nolisten", "tcp", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    if (pid < 0) return;
    name_ = ":" + number;
    // Ready when the socket is there and a client is answered.
    for (int i = 0; i < 100; ++i) {
      int status = 0;
      if (::waitpid(pid, &status, WNOHANG) == pid) return;  // taken meanwhile
      struct stat st {};
      if (::stat(("/tmp/.X11-unix/X" + number).c_str(), &st) == 0 &&
          std::system(("DISPLAY=" + name_ + " xdotool getmouselocation >/dev/null 2>&1").c_str()) ==
              0) {
        pid_ = pid;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
  }

  pid_t pid_ = -1;
  std::string name_;
};

}  // namespace test_tools
