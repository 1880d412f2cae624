// Per-user settings kept in an INI file.
//
// A write keeps every line it does not change (comments, other sections, the
// line ends the file already uses), so a file a person edited by hand stays as
// they left it apart from the one value.
#include "platform/settings_store.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>
#include <vector>

#include "platform/input_file.h"
#include "platform/paths.h"

namespace platform {
namespace {

constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";

struct SettingsState {
  // Serialises read-modify-write within the process so that two threads
  // writing different values do not lose one of them.
  std::mutex write_mutex;
};

SettingsState& settings_state() {
  static SettingsState* state = new SettingsState;
  return *state;
}

// The file as lines without their ends, and how to write it back.
struct IniText {
  std::vector<std::string> lines;
  bool crlf = false;
  bool bom = false;
};

enum class LineKind { Other, Section, Entry };

struct ParsedLine {
  LineKind kind = LineKind::Other;
  std::string name;   // section or entry name
  std::string value;  // entry value, quotes removed
};

std::string trim(const std::string& s) {
  const char* blanks = " \t";
  const std::size_t first = s.find_first_not_of(blanks);
  if (first == std::string::npos) return std::string();
  return s.substr(first, s.find_last_not_of(blanks) - first + 1);
}

char to_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool same_name(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (to_lower(a[i]) != to_lower(b[i])) return false;
  }
  return true;
}

// Values are trimmed when read, so a value with outer blanks is written in
// double quotes (as is one that is itself quoted) and the quotes come off here.
std::string unquote(const std::string& v) {
  if (v.size() >= 2 && v.front() == '"' && v.back() == '"') return v.substr(1, v.size() - 2);
  return v;
}

std::string quote_if_needed(const std::string& v) {
  const bool outer_blank = !v.empty() && (trim(v).size() != v.size());
  const bool looks_quoted = v.size() >= 2 && v.front() == '"' && v.back() == '"';
  return outer_blank || looks_quoted ? "\"" + v + "\"" : v;
}

ParsedLine parse_line(const std::string& raw) {
  ParsedLine parsed;
  const std::string line = trim(raw);
  if (line.empty() || line[0] == ';') return parsed;
  if (line[0] == '[') {
    const std::size_t close = line.find(']');
    if (close == std::string::npos) return parsed;
    parsed.kind = LineKind::Section;
    parsed.name = trim(line.substr(1, close - 1));
    return parsed;
  }
  const std::size_t eq = line.find('=');
  if (eq == std::string::npos) return parsed;
  parsed.kind = LineKind::Entry;
  parsed.name = trim(line.substr(0, eq));
  parsed.value = unquote(trim(line.substr(eq + 1)));
  return parsed;
}

IniText split_text(std::string content) {
  IniText ini;
  if (content.compare(0, 3, kUtf8Bom) == 0) {
    ini.bom = true;
    content.erase(0, 3);
  }
  const std::size_t first_end = content.find('\n');
  ini.crlf = first_end != std::string::npos && first_end > 0 && content[first_end - 1] == '\r';
  std::size_t start = 0;
  while (start < content.size()) {
    std::size_t end = content.find('\n', start);
    if (end == std::string::npos) end = content.size();
    std::string line = content.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    ini.lines.push_back(std::move(line));
    start = end + 1;
  }
  return ini;
}

std::string join_text(const IniText& ini) {
  const char* eol = ini.crlf ? "\r\n" : "\n";
  std::string content = ini.bom ? kUtf8Bom : "";
  for (const std::string& line : ini.lines) content += line + eol;
  return content;
}

// Reads the whole file. A missing file reads as empty; false on other errors,
// among them a name that is no regular file or a file over the config cap
// (then a write leaves it alone too).
bool read_file(const std::string& path, std::string* out_content) {
  InputText file = read_config_file(path);
  *out_content = std::move(file.text);
  return file.problem == InputProblem::None || file.problem == InputProblem::Missing;
}

std::string parent_folder(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// mkdir -p, creating missing folders private to the user: settings may hold
// server names and account details.
bool make_private_folders(const std::string& folder) {
  struct stat st {};
  if (::stat(folder.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  const std::string parent = parent_folder(folder);
  if (parent != folder && !make_private_folders(parent)) return false;
  return ::mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST;
}

bool write_all(int fd, const std::string& content) {
  std::size_t done = 0;
  while (done < content.size()) {
    const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Writes beside the file and renames over it, so a reader (or a crash) sees
// either the old file or the new one, never half of one.
bool replace_file(const std::string& path, const std::string& content) {
  std::string temp = path + ".tmp-XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return false;
  struct stat st {};
  // Keep the permissions of a file the user made, else mkstemp's private 0600.
  if (::stat(path.c_str(), &st) == 0) ::fchmod(fd, st.st_mode & 07777);
  bool ok = write_all(fd, content) && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  ok = ok && ::rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) {
    ::unlink(temp.c_str());
    return false;
  }
  // Makes the rename itself durable; the new contents are already safe.
  const int dir = ::open(parent_folder(path).c_str(), O_RDONLY | O_DIRECTORY);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

// The app name becomes a file name; one that would leave the settings folder
// is refused.
std::string settings_path(const std::string& app) {
  if (app.empty() || app == "." || app == ".." ||
      app.find_first_of(std::string("/\0", 2)) != std::string::npos) {
    return std::string();
  }
  return config_file(app);
}

bool has_line_break_or_nul(const std::string& s) {
  return s.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

// Names that would read back differently (or not at all) are refused.
bool writable_names(const std::string& section, const std::string& name,
                    const std::string& value) {
  if (section.empty() || trim(section) != section || section.find(']') != std::string::npos ||
      has_line_break_or_nul(section)) {
    return false;
  }
  if (name.empty() || trim(name) != name || name[0] == ';' || name[0] == '[' ||
      name.find('=') != std::string::npos || has_line_break_or_nul(name)) {
    return false;
  }
  return !has_line_break_or_nul(value);
}

// Sets the value in the first entry of that name in a section of that name;
// else adds it at the end of the first such section; else adds the section.
void put_value(IniText* ini, const std::string& section, const std::string& name,
               const std::string& value) {
  const std::string entry = name + "=" + quote_if_needed(value);
  bool in_section = false;
  int sections_seen = 0;
  std::size_t insert_at = std::string::npos;
  for (std::size_t i = 0; i < ini->lines.size(); ++i) {
    const ParsedLine parsed = parse_line(ini->lines[i]);
    if (parsed.kind == LineKind::Section) {
      in_section = same_name(parsed.name, section);
      if (in_section && ++sections_seen == 1) insert_at = i + 1;
      continue;
    }
    if (!in_section || parsed.kind != LineKind::Entry) continue;
    if (same_name(parsed.name, name)) {
      ini->lines[i] = parsed.name + "=" + quote_if_needed(value);  // keeps the file's spelling
      return;
    }
    // After the section's last entry, not its trailing comments and blank
    // lines, which belong to what follows.
    if (sections_seen == 1) insert_at = i + 1;
  }
  if (insert_at != std::string::npos) {
    ini->lines.insert(ini->lines.begin() + static_cast<std::ptrdiff_t>(insert_at), entry);
    return;
  }
  if (!ini->lines.empty() && !trim(ini->lines.back()).empty()) ini->lines.emplace_back();
  ini->lines.push_back("[" + section + "]");
  ini->lines.push_back(entry);
}

}  // namespace

std::optional<std::string> settings_get(const std::string& app, const std::string& section,
                                        const std::string& name) {
  try {
    const std::string path = settings_path(app);
    std::string content;
    if (path.empty() || !read_file(path, &content)) return std::nullopt;
    const IniText ini = split_text(std::move(content));
    // Entries before the first section header belong to the section "".
    bool in_section = section.empty();
    for (const std::string& line : ini.lines) {
      const ParsedLine parsed = parse_line(line);
      if (parsed.kind == LineKind::Section) {
        in_section = same_name(parsed.name, section);
      } else if (in_section && parsed.kind == LineKind::Entry && same_name(parsed.name, name)) {
        return parsed.value;
      }
    }
    return std::nullopt;
  } catch (...) {
    return std::nullopt;
  }
}

bool settings_put(const std::string& app, const std::string& section, const std::string& name,
                  const std::string& value) {
  try {
    if (!writable_names(section, name, value)) return false;
    const std::string path = settings_path(app);
    if (path.empty() || !make_private_folders(parent_folder(path))) return false;
    std::lock_guard<std::mutex> lock(settings_state().write_mutex);
    std::string content;
    if (!read_file(path, &content)) return false;
    IniText ini = split_text(std::move(content));
    put_value(&ini, section, name, value);
    return replace_file(path, join_text(ini));
  } catch (...) {
    return false;
  }
}

}  // namespace platform
