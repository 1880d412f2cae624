// Text as the man macros read it, for the manual pages the programs write
// from their own switch and command tables.
#pragma once
#include <string>
#include <string_view>

namespace core {

// A backslash is written "\e", a minus "\-" (a hyphen would be typeset in its
// place), and a line that would begin with a control character is guarded.
inline std::string roff(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\\') out += "\\e";
    else if (c == '-') out += "\\-";
    else out += c;
  }
  if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out.insert(0, "\\&");
  return out;
}

}  // namespace core
