// Splitting and quoting command lines. The rules are those of the C runtime
// that builds a program's argument vector from its one-line command line, so
// a request text reads the same here as it would there. UTF-8 text passes
// through byte by byte: no byte of a multibyte sequence is a blank, a quote
// or a backslash.
#include "app/command_line.h"

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// The program name: no escapes, a leading quote runs to the next quote.
std::size_t take_program_name(std::string_view text, std::string& out_name) {
  if (!text.empty() && text[0] == '"') {
    const std::size_t close = text.find('"', 1);
    out_name = std::string(text.substr(1, close == std::string_view::npos ? close : close - 1));
    return close == std::string_view::npos ? text.size() : close + 1;
  }
  std::size_t end = 0;
  while (end < text.size() && !is_blank(text[end])) ++end;
  out_name = std::string(text.substr(0, end));
  return end;
}

// One further argument from `i` (not a blank); `i` ends after it.
std::string take_argument(std::string_view text, std::size_t& i) {
  std::string arg;
  bool quoted = false;
  while (i < text.size()) {
    std::size_t slashes = 0;
    while (i < text.size() && text[i] == '\\') ++slashes, ++i;
    if (i < text.size() && text[i] == '"') {
      arg.append(slashes / 2, '\\');
      if (slashes % 2 == 1) {
        arg += '"';
      } else if (quoted && i + 1 < text.size() && text[i + 1] == '"') {
        arg += '"';
        ++i;
      } else {
        quoted = !quoted;
      }
      ++i;
      continue;
    }
    arg.append(slashes, '\\');
    if (i >= text.size() || (!quoted && is_blank(text[i]))) break;
    arg += text[i++];
  }
  return arg;
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view text) {
  std::vector<std::string> args;
  if (text.empty()) return args;
  std::string name;
  std::size_t i = take_program_name(text, name);
  args.push_back(std::move(name));
  while (true) {
    while (i < text.size() && is_blank(text[i])) ++i;
    if (i >= text.size()) break;
    args.push_back(take_argument(text, i));
  }
  return args;
}

std::string command_line_quote(std::string_view argument) {
  if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string_view::npos)
    return std::string(argument);
  std::string out = "\"";
  std::size_t slashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++slashes;
      continue;
    }
    // Backslashes before a quote are doubled, and the quote escaped.
    out.append(c == '"' ? slashes * 2 + 1 : slashes, '\\');
    slashes = 0;
    out += c;
  }
  // Before the closing quote they are doubled too, or it would be escaped.
  out.append(slashes * 2, '\\');
  return out + "\"";
}
