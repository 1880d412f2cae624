#include "run_program.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <memory>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace {


std::vector<std::string> environment_with(const std::map<std::string, std::string>& env) {
  std::vector<std::string> out;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    std::string key = entry.substr(0, entry.find('='));
    if (!env.count(key)) out.push_back(entry);
  }
  for (const auto& [k, v] : env) out.push_back(k + "=" + v);
  return out;
}

}  // namespace

std::string quillet_program() {
  const char* bin = std::getenv("QUILLET_BIN");
  std::string program = bin && *bin ? bin : "build/quillet";
  if (program[0] != '/') {
    char here[4096];
    if (getcwd(here, sizeof here)) program = std::string(here) + "/" + program;
  }
  return program;
}

std::string orivane_program() {
  const std::string program = quillet_program();
  return program.substr(0, program.rfind('/') + 1) + "orivane";
}

RunResult run_orivane(const std::vector<std::string>& args, const std::string& cwd) {
  return run_quillet(args, {{"QUILLET_BIN", orivane_program()}}, cwd);
}

RunResult run_quillet(const std::vector<std::string>& args,
                      const std::map<std::string, std::string>& env, const std::string& cwd) {
  return run_quillet_with(args, env, cwd, RunOptions{});
}

namespace {

// A pseudo-terminal whose far end stands for standard error, read on a
// thread of its own so that the program never blocks on a full terminal.
struct Terminal {
  int master = -1;
  std::string slave_path;
  std::string text;
  std::thread reader;

  Terminal() {
    master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) throw std::runtime_error("pty");
    slave_path = ptsname(master);
  }
  void start() {
    reader = std::thread([this] {
      char buffer[4096];
      ssize_t n;
      // EIO once the program's end is closed.
      while ((n = ::read(master, buffer, sizeof buffer)) > 0) text.append(buffer, n);
    });
  }
  ~Terminal() {
    if (reader.joinable()) reader.join();
    if (master >= 0) ::close(master);
  }
};

}  // namespace

RunResult run_quillet_with(const std::vector<std::string>& args,
                           const std::map<std::string, std::string>& env, const std::string& cwd,
                           const RunOptions& options) {
  // The caller may name another copy of the program in `env`.
  std::string program = quillet_program();
  if (auto it = env.find("QUILLET_BIN"); it != env.end()) program = it->second;
  // Output goes to files, not pipes: a large report cannot dead-lock us.
  std::string folder = make_temp_folder();
  std::string out_path = folder + "/stdout", err_path = folder + "/stderr";
  std::unique_ptr<Terminal> terminal;
  if (options.stderr_terminal) terminal = std::make_unique<Terminal>();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const std::string in_path = options.stdin_path.empty() ? "/dev/null" : options.stdin_path;
  posix_spawn_file_actions_addopen(&actions, 0, in_path.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (terminal) {
    posix_spawn_file_actions_addopen(&actions, 2, terminal->slave_path.c_str(), O_RDWR | O_NOCTTY, 0);
  } else {
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  }
  std::vector<std::string> full_env = environment_with(env);
  std::vector<char*> envp;
  for (std::string& e : full_env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> argv_store = {program};
  argv_store.insert(argv_store.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argv_store) argv.push_back(a.data());
  argv.push_back(nullptr);

  std::string old_cwd;
  if (!cwd.empty()) {
    char here[4096];
    if (getcwd(here, sizeof here)) old_cwd = here;
    if (chdir(cwd.c_str()) != 0) throw std::runtime_error("chdir " + cwd);
  }
  pid_t pid = 0;
  int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  if (!old_cwd.empty() && chdir(old_cwd.c_str()) != 0) throw std::runtime_error("chdir back");
  posix_spawn_file_actions_destroy(&actions);
  RunResult result;
  if (rc != 0) throw std::runtime_error("cannot start " + program);
  if (terminal) terminal->start();
  if (options.while_running) options.while_running(pid);
  int status = 0;
  waitpid(pid, &status, 0);
  result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = read_file(out_path);
  if (terminal) {
    terminal->reader.join();
    result.err = terminal->text;
  } else {
    result.err = read_file(err_path);
  }
  return result;
}

std::string make_temp_folder() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/quillet-e2e-XXXXXX";
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp");
  return pattern;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool file_exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

std::vector<std::string> report_lines(const std::string& report) {
  std::vector<std::string> lines;
  std::istringstream in(report);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

std::string report_value(const std::string& report, const std::string& key) {
  for (const std::string& line : report_lines(report))
    if (line.compare(0, key.size() + 1, key + "=") == 0) return line.substr(key.size() + 1);
  return "";
}
