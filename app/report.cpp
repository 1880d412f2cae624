// The report and the front end's process-wide state.
#include "app/report.h"
#include "core/state_registry.h"

#include <cstdarg>
#include <cstdio>

FrontEnd& front_end() {
  static FrontEnd f;
  return f;
}

void front_end_reset_for_tests() {
  FrontEnd& f = front_end();
  if (f.report_stream && f.report_stream != stderr) std::fclose(f.report_stream);
  f = FrontEnd{};
}

namespace {

// A line is one line: control characters inside it (a line end in a file
// name, say) become blanks, so no value can forge another key, and a line
// cut at its limit still ends with its line end.
std::string one_line(std::string line) {
  bool had_end = !line.empty() && line.back() == '\n';
  if (had_end) line.pop_back();
  for (char& c : line)
    if (static_cast<unsigned char>(c) < 32 && c != '\t') c = ' ';
  if (line.size() > kReportLineMax - 1) line.resize(kReportLineMax - 1);
  return line + "\n";
}

}  // namespace

void Report::add(std::string line) {
  line = one_line(std::move(line));
  std::size_t eq = line.find('=');
  if (eq == std::string::npos) {
    lines_.push_back(std::move(line));
    return;
  }
  std::string key = line.substr(0, eq + 1);
  if (auto it = by_key_.find(key); it != by_key_.end()) lines_.erase(it->second);
  lines_.push_back(std::move(line));
  by_key_[key] = std::prev(lines_.end());
}

std::string Report::text() const {
  std::string out;
  for (const std::string& l : lines_) out += l;
  return out;
}

void Report::clear() {
  lines_.clear();
  by_key_.clear();
}

void ReportLine(const char* format, ...) {
  char line[kReportLineMax + 1];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  front_end().report.add(line);
}

void write_report() {
  FrontEnd& f = front_end();
  std::string text = f.report.text();
  std::FILE* out = f.report_stream ? f.report_stream : stdout;
  std::fwrite(text.data(), 1, text.size(), out);
  std::fflush(out);
  if (f.report_stream && f.report_stream != stderr) std::fclose(f.report_stream);
  f.report_stream = nullptr;
}

namespace {

// The front end's run: its report, names and exit code.
const bool kFrontEndRegistered = core::register_state({"app.front_end", [] { front_end_reset_for_tests(); }, nullptr});

}  // namespace
