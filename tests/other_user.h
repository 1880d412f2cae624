// Acting as another local user ("nobody") in tests: planting links and files
// in shared folders and listening on our sockets, as a hostile user of the
// same machine would. It needs root (setpriv changes the user); callers skip
// with a message otherwise.
#pragma once
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace other_user {

inline const std::vector<std::string> kSetpriv = {"/usr/bin/setpriv", "--reuid=65534",
                                                  "--regid=65534", "--clear-groups"};

// Empty when the tests can act as another user, else why not.
inline std::string cannot_act_as_other_user() {
  if (::geteuid() != 0) return "acting as another user (setpriv) needs root";
  if (::access(kSetpriv[0].c_str(), X_OK) != 0) return "setpriv (util-linux) is not installed";
  return std::string();
}

// Runs a shell command as the other user; its exit status.
inline int run(const std::string& command) {
  std::string line;
  for (const std::string& word : kSetpriv) line += word + " ";
  const int status = std::system((line + "sh -c '" + command + "'").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A fresh folder under /tmp the other user may pass through (mode 0711).
inline std::string make_passable_folder() {
  std::string pattern = "/tmp/quillet-other-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) return std::string();
  ::chmod(pattern.c_str(), 0711);
  return pattern;
}

// The other user's program listening on a local socket (tests/helpers/
// fake_peer), its received bytes going to `capture` (opened before the user
// changes, so it stays the test's). Stopped by its process id.
class FakePeer {
 public:
  FakePeer(const std::string& program, const std::string& socket, bool seqpacket,
           const std::string& reply, const std::string& capture)
      : capture_(capture) {
    std::vector<std::string> args = kSetpriv;
    args.insert(args.end(), {program, socket, seqpacket ? "seqpacket" : "stream", reply});
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, capture.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    struct stat st {};
    for (int waited_ms = 0; pid_ > 0 && !ready_ && waited_ms < 10000; waited_ms += 20) {
      ready_ = ::lstat(socket.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  ~FakePeer() { stop(); }
  bool ready() const { return ready_; }
  // Everything clients sent; stops the listener first.
  std::string received() {
    stop();
    std::stringstream s;
    s << std::ifstream(capture_, std::ios::binary).rdbuf();
    return s.str();
  }

 private:
  void stop() {
    if (pid_ > 0 && ::kill(pid_, SIGTERM) == 0) ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  std::string capture_;
  pid_t pid_ = -1;
  bool ready_ = false;
};

}  // namespace other_user
