// Fuzz target: any text splits into an argument vector without a crash, no
// argument is longer than the text, and the vector quoted back into one line
// (as a client sends it) splits into the same vector again.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> args = SplitCommandLine(text);
  if (text.empty() != args.empty()) __builtin_trap();
  for (const std::string& a : args)
    if (a.size() > text.size()) __builtin_trap();
  if (args.empty()) return 0;
  // The program name takes no escapes: only the further arguments are quoted.
  std::string line = "q";
  for (std::size_t i = 1; i < args.size(); ++i) line += " " + command_line_quote(args[i]);
  std::vector<std::string> again = SplitCommandLine(line);
  again[0] = args[0];
  if (again != args) __builtin_trap();
  return 0;
}
