// A CUPS scheduler of the test's own: private configuration, spool and
// domain socket, and queues whose backend copies each job's document into a
// folder, so that what a print job sent can be read back. CUPS_SERVER points
// at it while it runs.
#pragma once
#include <cups/cups.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tool_support.h"

class CupsServer {
 public:
  // Queues by name; the first is the default.
  explicit CupsServer(const std::vector<std::string>& queues) {
    namespace fs = std::filesystem;
    if (access("/usr/sbin/cupsd", X_OK) != 0 || getuid() != 0) return;  // cupsd drops root for its children
    char pattern[] = "/tmp/cups-test-XXXXXX";
    if (!mkdtemp(pattern)) return;
    root_ = pattern;
    for (const char* d : {"spool", "cache", "state", "log", "out", "bin/backend"}) fs::create_directories(root_ + "/" + d);
    for (const auto& e : fs::directory_iterator("/usr/lib/cups"))
      if (e.path().filename() != "backend") fs::create_symlink(e.path(), root_ + "/bin/" + e.path().filename().string());
    write(root_ + "/bin/backend/capture",
          "#!/bin/sh\nif [ $# -eq 0 ]; then echo 'direct capture \"Unknown\" \"Capture\"'; exit 0; fi\n"
          "dir=${DEVICE_URI#capture:}\nif [ -n \"$6\" ]; then cat \"$6\"; else cat; fi > \"$dir/job-$1.pdf.part\" &&\n"
          "mv \"$dir/job-$1.pdf.part\" \"$dir/job-$1.pdf\"\n");
    chmod((root_ + "/bin/backend/capture").c_str(), 0755);
    chmod(root_.c_str(), 0755);
    chmod((root_ + "/out").c_str(), 0777);
    socket_ = root_ + "/cups.sock";
    write(root_ + "/cupsd.conf", "Listen " + socket_ +
                                     "\nLogLevel warn\nWebInterface No\nBrowsing No\nDefaultAuthType None\n"
                                     "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n");
    write(root_ + "/cups-files.conf", "ServerRoot " + root_ + "\nServerBin " + root_ + "/bin\nRequestRoot " + root_ +
                                          "/spool\nCacheDir " + root_ + "/cache\nStateDir " + root_ +
                                          "/state\nTempDir " + root_ + "/spool\nErrorLog " + root_ +
                                          "/log/error_log\nAccessLog " + root_ + "/log/access_log\nPageLog " +
                                          root_ + "/log/page_log\nUser nobody\nGroup nogroup\n");
    pid_ = fork();
    if (pid_ == 0) {
      execl("/usr/sbin/cupsd", "cupsd", "-f", "-c", (root_ + "/cupsd.conf").c_str(), "-s",
            (root_ + "/cups-files.conf").c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    for (int i = 0; i < 100 && access(socket_.c_str(), F_OK) != 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    setenv("CUPS_SERVER", socket_.c_str(), 1);
    cupsSetServer(socket_.c_str());
    for (const std::string& q : queues) {
      test_tools::command_output("lpadmin -p " + q + " -v capture:" + root_ + "/out -E -m raw " +
                                 "-o media-default=na_letter_8.5x11in 2>/dev/null");
    }
    if (!queues.empty()) test_tools::command_output("lpadmin -d " + queues[0] + " 2>/dev/null");
    running_ = true;
  }
  ~CupsServer() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    unsetenv("CUPS_SERVER");
    cupsSetServer(nullptr);
    std::error_code ec;
    if (!root_.empty()) std::filesystem::remove_all(root_, ec);
  }
  CupsServer(const CupsServer&) = delete;
  CupsServer& operator=(const CupsServer&) = delete;

  bool running() const { return running_; }
  // The document job `id` sent, once the backend wrote it (waits a little).
  std::string job_file(int id) const {
    const std::string path = root_ + "/out/job-" + std::to_string(id) + ".pdf";
    for (int i = 0; i < 200 && access(path.c_str(), F_OK) != 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return path;
  }

 private:
  static void write(const std::string& path, const std::string& text) { std::ofstream(path) << text; }
  std::string root_, socket_;
  pid_t pid_ = -1;
  bool running_ = false;
};
