// Output names: fields, extension, format and the page number.
#include "app/naming.h"

#include <cctype>
#include <unistd.h>

#include <ctime>

#include "fileio/output_files.h"
#include "log/trace.h"
#include "platform/paths.h"

namespace {

constexpr std::size_t kExpandedFieldMax = 259;

// The time format for the text between the braces of one group.
std::string group_format(const std::string& fields) {
  std::string format;
  for (char c : fields) {
    if (c == 'D') {
      format += "%Y%m%d";
    } else if (c == 'T') {
      format += "%H%M%S";
    } else if (c == 'u') {
      // The user's name is copied as it is: a "%" in it must not become a
      // conversion of the time formatter.
      for (char n : platform::user_name()) format += n == '%' ? std::string("%%") : std::string(1, n);
    } else {
      format += '%';
      format += c;
    }
  }
  return format;
}

std::string format_now(const std::string& format) {
  if (format.empty()) return "";
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char out[kExpandedFieldMax + 1];
  std::size_t n = std::strftime(out, sizeof out, format.c_str(), &local);
  return std::string(out, n);
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool ExpandNameTemplate(std::string& name) {
  bool replaced = false;
  std::size_t open = name.find('{');
  while (open != std::string::npos) {
    std::size_t close = name.find('}', open + 1);
    if (close == std::string::npos) break;
    std::string value = format_now(group_format(name.substr(open + 1, close - open - 1)));
    name.replace(open, close - open + 1, value);
    replaced = true;
    open = name.find('{', open + 1);
  }
  return replaced;
}

void DeriveOutputName(ScanRequest& r) {
  std::string name = r.output_name;
  if (ExpandNameTemplate(name)) r.output_name = name;
  std::size_t component = r.output_name.find_last_of(":/\\");
  component = component == std::string::npos ? 0 : component + 1;
  std::size_t dot = r.output_name.rfind('.');
  std::size_t ext_start;
  if (dot != std::string::npos && dot >= component) {
    ext_start = dot;
    int format = FormatFromExtension(r.output_name.c_str() + dot, -1);
    if (format >= 0) r.file_format = format;
  } else {
    ext_start = r.output_name.size();
    r.output_name += FormatExtension(r.file_format, "");
  }
  // The whole extension is kept: cutting it would make the next page's name
  // differ from the one the user gave.
  r.output_extension = r.output_name.substr(ext_start);
  std::size_t pos = ext_start;
  while (pos > 0 && is_digit(r.output_name[pos - 1])) --pos;
  r.number_position = static_cast<std::ptrdiff_t>(pos);
}

void IncrementFileName(ScanRequest& r) {
  if (r.number_position < 0) return;
  // The number position stays where DeriveOutputName found it: the library's
  // incrementer counts the digits just before the extension, which start
  // there, and keeps the whole extension.
  r.output_name = fileio::next_numbered_name(r.output_name);
  LogPrint("[Quillet] ++filename=\"%s\"\n", r.output_name.c_str());
}

namespace {

struct NameParts {
  std::string folder;     // with its final slash, or empty
  std::string base;
  std::string extension;  // with its dot, or empty
};

NameParts split_name(const std::string& path) {
  NameParts p;
  std::size_t slash = path.rfind('/');
  std::size_t name_start = slash == std::string::npos ? 0 : slash + 1;
  p.folder = path.substr(0, name_start);
  std::string name = path.substr(name_start);
  std::size_t dot = name.rfind('.');
  if (dot == std::string::npos) {
    p.base = name;
  } else {
    p.base = name.substr(0, dot);
    p.extension = name.substr(dot);
  }
  return p;
}

bool path_exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

}  // namespace

std::string PageFullPath(const std::string& output_name, const std::string& start_folder) {
  std::string path;
  if (!output_name.empty() && output_name[0] == '/') {
    path = output_name;
  } else if (start_folder.empty() || start_folder.back() == '/') {
    path = start_folder + output_name;
  } else {
    path = start_folder + "/" + output_name;
  }
  LogPrint("[Quillet] filename='%s'\n", path.c_str());
  return path;
}

void SkipExistingNames(ScanRequest& r) {
  // Bounded: a folder cannot hold more names than this run could try.
  constexpr int kMaxSkips = 1000000;
  for (int i = 0; r.auto_increment && i < kMaxSkips && path_exists(r.output_name); ++i) {
    LogPrint("[Quillet] autoinc collision: %s\n", r.output_name.c_str());
    IncrementFileName(r);
  }
}

std::string CarbonCopyPath(const std::string& copy_path, const std::string& output_name) {
  NameParts copy = split_name(copy_path);
  NameParts out = split_name(output_name);
  if (copy.base.empty() || copy.base == "*") copy.base = out.base;
  if (copy.folder.empty()) copy.folder = out.folder;
  return copy.folder + copy.base + copy.extension;
}
