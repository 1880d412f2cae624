// A small reader for the virtual scanner's config file: "[section]" lines
// start a section (the same name may appear many times: one section per
// device), "key = value" lines fill it, lines starting with '#' or ';' and
// blank lines are ignored. Keys and section names are case-insensitive
// (returned in lower case); values are trimmed, and one pair of surrounding
// double quotes is removed (to keep leading or trailing blanks).
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace vscan {

struct IniEntry {
  std::string key;
  std::string value;
  int line = 0;
};

struct IniSection {
  std::string name;
  int line = 0;
  std::vector<IniEntry> entries;
};

struct IniProblem {
  int line = 0;
  std::string message;
};

struct IniDocument {
  std::vector<IniSection> sections;
  std::vector<IniProblem> problems;  // lines that could not be read
};

// Reads `text` (LF or CR LF line ends).
IniDocument ini_parse(std::string_view text);

}  // namespace vscan
