// Runs build/quillet as a user would: arguments, environment, standard
// output and error, exit status.
#pragma once
#include <sys/types.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

struct RunResult {
  int exit_status = -1;      // 0..255, or -1 if it did not exit normally
  std::string out;           // standard output
  std::string err;           // standard error
};

// Runs the program (QUILLET_BIN) with `args` in folder `cwd` (empty: the
// current one) with `env` added to the environment.
RunResult run_quillet(const std::vector<std::string>& args,
                      const std::map<std::string, std::string>& env = {},
                      const std::string& cwd = "");

// How a run meets its surroundings beyond arguments and environment.
struct RunOptions {
  std::string stdin_path;              // standard input from this file; "": /dev/null
  bool stderr_terminal = false;        // standard error on a pseudo-terminal
  std::function<void(pid_t)> while_running;  // called once the program has started
};

// run_quillet with options; the program is QUILLET_BIN in `env`, else quillet_program().
RunResult run_quillet_with(const std::vector<std::string>& args,
                           const std::map<std::string, std::string>& env, const std::string& cwd,
                           const RunOptions& options);

// The program under test: QUILLET_BIN, else build/quillet, as a full path.
std::string quillet_program();
// The image tool built beside it.
std::string orivane_program();
// Runs the image tool as run_quillet runs the program.
RunResult run_orivane(const std::vector<std::string>& args, const std::string& cwd = "");

// A fresh empty folder under the temporary folder.
std::string make_temp_folder();
std::string read_file(const std::string& path);
bool file_exists(const std::string& path);
// The report's value for `key` ("" if absent) and the report's lines.
std::string report_value(const std::string& report, const std::string& key);
std::vector<std::string> report_lines(const std::string& report);
