// A scan run in its own folder with its own virtual scanner, shared by the
// end-to-end tests that scan.
#pragma once
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "run_program.h"

// A run in its own folder with its own virtual scanner: `config` is added to
// a device named "Scanner" (a feeder of 5 sheets unless it says otherwise).
struct ScanRun {
  explicit ScanRun(const std::string& config = "") : home(make_temp_folder()) {
    env["HOME"] = home;
    env["TMPDIR"] = home;
    env["XDG_RUNTIME_DIR"] = home;  // the trace log's folder
    env["QUILLET_UI"] = "none";
    const std::string path = home + "/vscan.ini";
    std::ofstream(path) << "[device]\nproduct = Scanner\nfeeder_sheets = 5\ntwo_sided = yes\n"
                           "resolutions = 100\ndpi_default = 100\nwidth = 4\nheight = 5\n" +
                               config;
    env["QUILLET_VSCAN"] = path;
  }
  RunResult run(std::vector<std::string> args) { return run_quillet(args, env, home); }
  std::string at(const std::string& name) const { return home + "/" + name; }
  std::vector<std::string> files() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(home)) {
      const std::string n = e.path().filename().string();
      if (n != "vscan.ini" && n.find(".log") == std::string::npos) names.push_back(n);
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  std::string home;
  std::map<std::string, std::string> env;
};

