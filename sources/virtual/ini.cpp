#include "sources/virtual/ini.h"

#include <cctype>

namespace vscan {
namespace {

std::string_view trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string unquote(std::string_view value) {
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
    value = value.substr(1, value.size() - 2);
  return std::string(value);
}

}  // namespace

IniDocument ini_parse(std::string_view text) {
  IniDocument doc;
  int number = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    ++number;
    line = trim(line);
    if (line.empty() || line.front() == '#' || line.front() == ';') continue;
    if (line.front() == '[') {
      if (line.back() != ']') {
        doc.problems.push_back({number, "section line without ']'"});
        continue;
      }
      doc.sections.push_back({lower(trim(line.substr(1, line.size() - 2))), number, {}});
      continue;
    }
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
      doc.problems.push_back({number, "expected 'key = value'"});
      continue;
    }
    if (doc.sections.empty()) {
      doc.problems.push_back({number, "setting before the first section"});
      continue;
    }
    const std::string_view key = trim(line.substr(0, equals));
    if (key.empty()) {
      doc.problems.push_back({number, "empty key"});
      continue;
    }
    doc.sections.back().entries.push_back(
        {lower(key), unquote(trim(line.substr(equals + 1))), number});
  }
  return doc;
}

}  // namespace vscan
