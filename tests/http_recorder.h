// The recording web server of tests/helpers/http_recorder.py, run for one
// test: started on a free port of 127.0.0.1 (plain or TLS), killed at the end.
#pragma once
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tool_support.h"

class HttpRecorder {
 public:
  // `serve_dir`: the folder /file/<name> serves; `tls`: a certificate made
  // for 127.0.0.1 (ca_file() names it).
  explicit HttpRecorder(const std::string& serve_dir = "", bool tls = false) {
    char pattern[] = "/tmp/http-recorder-XXXXXX";
    folder_ = mkdtemp(pattern) ? pattern : "/tmp";
    std::vector<std::string> args = {"python3", std::string(QUILLET_SOURCE_DIR) + "/tests/helpers/http_recorder.py",
                                      "--port-file", folder_ + "/port", "--log", log_path()};
    if (!serve_dir.empty()) args.insert(args.end(), {"--serve-dir", serve_dir});
    if (tls) {
      test_tools::command_output("openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 "
                                 "-addext subjectAltName=IP:127.0.0.1 -keyout '" + folder_ + "/key.pem' -out '" +
                                 ca_file() + "' 2>/dev/null");
      args.insert(args.end(), {"--tls", ca_file(), folder_ + "/key.pem"});
    }
    pid_ = fork();
    if (pid_ == 0) {
      std::vector<char*> argv;
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execvp(argv[0], argv.data());
      _exit(127);
    }
    for (int i = 0; i < 200 && port_ == 0; ++i) {
      std::ifstream f(folder_ + "/port");
      if (!(f >> port_)) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    url_ = std::string(tls ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_);
  }
  ~HttpRecorder() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
  }
  HttpRecorder(const HttpRecorder&) = delete;
  HttpRecorder& operator=(const HttpRecorder&) = delete;

  bool running() const { return port_ != 0; }
  std::string url(const std::string& path = "/") const { return url_ + path; }
  std::string ca_file() const { return folder_ + "/cert.pem"; }
  std::string log_path() const { return folder_ + "/log"; }
  // Everything recorded so far.
  std::string log() const {
    std::ifstream f(log_path());
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
  }
  // The recorded lines that begin with `prefix`, in order.
  std::vector<std::string> lines(const std::string& prefix) const {
    std::vector<std::string> out;
    std::istringstream in(log());
    for (std::string line; std::getline(in, line);)
      if (line.rfind(prefix, 0) == 0) out.push_back(line);
    return out;
  }
  void clear_log() const { std::ofstream(log_path(), std::ios::trunc); }

 private:
  std::string folder_, url_;
  pid_t pid_ = -1;
  int port_ = 0;
};
