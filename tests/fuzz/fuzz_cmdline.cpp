// Fuzz target: any command line (arguments separated by NUL bytes) is either
// accepted or rejected with a message; nothing crashes or overflows. Reading
// is pure: the same command line read twice gives the same request, and the
// library's settings are what they were before.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/options.h"
#include "app/report.h"
#include "core/error_record.h"
#include "orivane/file_options.h"
#include "orivane/pdf_api.h"
#include "orivane/twain_switches.h"
#include "platform/locale.h"

namespace {

// The settings a switch could reach, as the library answers for them.
std::vector<double> library_settings() {
  std::vector<double> s = {double(TWAIN_GetJpegQuality()), double(TWAIN_GetFileAppendFlag()),
                           double(TWAIN_GetMultipageFormat()), TWAIN_GetBlankPageThreshold(),
                           double(platform::locale_get()), double(PDF_GetPDFACompliance())};
  for (int type = 0; type <= 5; ++type) {
    s.push_back(TWAIN_GetTiffCompression(type));
    s.push_back(PDF_GetCompression(type));
  }
  return s;
}

// A name template holds the time ("{T}"): two readings a second apart may
// name another file (and, through its extension, another format). Whatever
// else the request holds must be equal.
ScanRequest comparable(ScanRequest r, bool templated) {
  if (templated) {
    r.output_name.clear();
    r.output_extension.clear();
    r.number_position = -1;
    r.file_format = 0;
  }
  return r;
}

bool read(const std::vector<const char*>& argv, ScanRequest& request, std::string& message) {
  return PrepareRequest(request, static_cast<int>(argv.size()), argv.data(), message);
}

}  // namespace

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
  const std::vector<double> before = library_settings();
  const std::string report_before = front_end().report.text();
  ScanRequest request, again;
  std::string message, message_again;
  const bool ok = read(argv, request, message);
  if (!ok && message.empty()) __builtin_trap();
  if (message.size() > kMessageMax) __builtin_trap();
  if (ok && request.output_name.size() > kOutputNameMax) __builtin_trap();
  if (read(argv, again, message_again) != ok || message_again != message) __builtin_trap();
  // A value read as NaN equals nothing, itself included: such requests are
  // compared by their messages only.
  const bool templated = std::any_of(args.begin(), args.end(), [](const std::string& a) {
    return a.find('{') != std::string::npos;
  });
  const ScanRequest first = comparable(request, templated);
  if (first == first && !(first == comparable(again, templated))) __builtin_trap();
  if (library_settings() != before || front_end().report.text() != report_before) __builtin_trap();
  return 0;
}
