// Fuzz target: any command line (arguments separated by NUL bytes) is either
// accepted or rejected with a message; nothing crashes or overflows.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/options.h"
#include "app/report.h"
#include "core/error_record.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> args = {"quillet"};
  std::string current;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args.push_back(current);
      current.clear();
    } else {
      current += static_cast<char>(data[i]);
    }
  }
  if (!current.empty() || size == 0) args.push_back(current);
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  front_end_reset_for_tests();
  core::error_reset_for_tests();
  ScanRequest request;
  std::string message;
  bool ok = PrepareRequest(request, static_cast<int>(argv.size()), argv.data(), message);
  if (!ok && message.empty()) __builtin_trap();
  if (message.size() > kMessageMax) __builtin_trap();
  if (ok && request.output_name.size() > kOutputNameMax) __builtin_trap();
  return 0;
}
