// Running the independent checking tools (tiffinfo, qpdf, identify, ...)
// from tests of every kind.
#pragma once
#include <cstdio>
#include <cstdlib>
#include <string>

namespace test_tools {

// Whether an external tool is installed.
inline bool have_tool(const char* name) {
  return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

// What a shell command writes to its standard output (add "2>&1" to the
// command to have its errors too).
inline std::string command_output(const std::string& command) {
  std::string out;
  if (std::FILE* p = ::popen(command.c_str(), "r")) {
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    ::pclose(p);
  }
  return out;
}

}  // namespace test_tools
