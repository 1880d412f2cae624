#include "platform/paths.h"

#include <dlfcn.h>
#include <link.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <vector>

// The install layout, as paths from the program's folder (set by the build
// from the install directories; see the top CMakeLists.txt).
#if !defined(ORV_INSTALLED_MODULES) || !defined(ORV_INSTALLED_SOURCES) || !defined(ORV_INSTALLED_DOCS)
#error "the build defines ORV_INSTALLED_MODULES, ORV_INSTALLED_SOURCES and ORV_INSTALLED_DOCS"
#endif

namespace platform {
namespace {

constexpr std::size_t kMaxUserNameChars = 256;
constexpr mode_t kPrivateFolderMode = 0700;

std::string env_text(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

// Drops trailing slashes but keeps a lone "/" (the root).
std::string without_trailing_slash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string folder_of(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return std::string();
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool is_folder(const std::string& path) {
  struct stat st{};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The user's passwd entry, read with the re-entrant call so concurrent
// look-ups elsewhere in the process cannot overwrite it.
bool read_own_passwd(std::string* name, std::string* home) {
  long hint = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> scratch(hint > 0 ? static_cast<std::size_t>(hint) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  for (int attempt = 0; attempt < 4; ++attempt) {
    const int rc = getpwuid_r(getuid(), &entry, scratch.data(), scratch.size(), &found);
    if (rc == ERANGE) {
      scratch.resize(scratch.size() * 4);
      continue;
    }
    if (rc != 0 || found == nullptr) return false;
    if (name && entry.pw_name) *name = entry.pw_name;
    if (home && entry.pw_dir) *home = entry.pw_dir;
    return true;
  }
  return false;
}

// A runtime folder must be ours alone: one that someone else created (in the
// shared /tmp) or may write into (a world-writable $XDG_RUNTIME_DIR) would let
// them catch or spoof our sockets and read or replace our trace log, so it is
// refused rather than used. A link is refused too: its owner could point it
// elsewhere between this check and the use.
bool is_private_folder(const std::string& path) {
  struct stat st{};
  if (lstat(path.c_str(), &st) != 0) return false;
  return S_ISDIR(st.st_mode) && st.st_uid == getuid() && (st.st_mode & 077) == 0;
}

}  // namespace

std::string temp_folder() {
  const std::string dir = env_text("TMPDIR");
  return dir.empty() ? std::string("/tmp") : without_trailing_slash(dir);
}

std::string current_folder() {
  std::vector<char> buffer(512);
  while (buffer.size() <= (1u << 20)) {
    if (getcwd(buffer.data(), buffer.size()) != nullptr) return std::string(buffer.data());
    if (errno != ERANGE) return std::string();
    buffer.resize(buffer.size() * 2);
  }
  return std::string();
}

std::string program_path() {
  std::vector<char> buffer(512);
  while (buffer.size() <= (1u << 16)) {
    const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return std::string();
    if (static_cast<std::size_t>(n) < buffer.size()) return std::string(buffer.data(), n);
    buffer.resize(buffer.size() * 2);  // possibly cut: try again with more room
  }
  return std::string();
}

std::string module_path_of(const void* address) {
  Dl_info info{};
  link_map* map = nullptr;
  if (dladdr1(address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) == 0) {
    return std::string();
  }
  // The main program's link map has an empty name and dladdr reports argv[0]
  // for it, which may be relative; the kernel's record is the reliable one.
  if (map != nullptr && (map->l_name == nullptr || map->l_name[0] == '\0')) {
    return program_path();
  }
  if (info.dli_fname == nullptr || info.dli_fname[0] == '\0') return std::string();
  char* resolved = realpath(info.dli_fname, nullptr);
  if (resolved == nullptr) return std::string(info.dli_fname);
  std::string path(resolved);
  free(resolved);
  return path;
}

std::string library_folder() {
  return folder_of(module_path_of(reinterpret_cast<const void*>(&library_folder)));
}

namespace {

// `relative` (a path from the program's folder) as a plain absolute path:
// the trace and the Source Manager's list then show where the part really is.
std::string beside_program(const char* relative) {
  const std::string program_folder = folder_of(program_path());
  if (program_folder.empty()) return std::string();
  const std::filesystem::path joined = std::filesystem::path(program_folder) / relative;
  return without_trailing_slash(joined.lexically_normal().string());
}

}  // namespace

std::string installed_module_folder() { return beside_program(ORV_INSTALLED_MODULES); }
std::string installed_source_folder() { return beside_program(ORV_INSTALLED_SOURCES); }
std::string installed_doc_folder() { return beside_program(ORV_INSTALLED_DOCS); }

std::vector<std::string> module_folders() {
  std::vector<std::string> folders;
  for (const std::string& folder : {library_folder(), installed_module_folder()}) {
    if (!folder.empty() && std::find(folders.begin(), folders.end(), folder) == folders.end())
      folders.push_back(folder);
  }
  return folders;
}

std::string runtime_folder() {
  const std::string xdg = without_trailing_slash(env_text("XDG_RUNTIME_DIR"));
  if (!xdg.empty() && is_private_folder(xdg) && access(xdg.c_str(), W_OK | X_OK) == 0) return xdg;

  const std::string own = "/tmp/Talven-" + std::to_string(getuid());
  if (mkdir(own.c_str(), kPrivateFolderMode) != 0 && errno != EEXIST) return std::string();
  return is_private_folder(own) ? own : std::string();
}

std::string config_file(const std::string& app) {
  std::string base = without_trailing_slash(env_text("XDG_CONFIG_HOME"));
  if (base.empty()) {
    std::string home = env_text("HOME");
    if (home.empty()) read_own_passwd(nullptr, &home);
    base = without_trailing_slash(home) + "/.config";
  }
  return base + "/Talven/" + app + ".ini";
}

std::string user_name() {
  std::string name;
  if (!read_own_passwd(&name, nullptr) || name.empty()) {
    name = env_text("USER");
    if (name.empty()) name = env_text("LOGNAME");
  }
  if (name.size() > kMaxUserNameChars) name.resize(kMaxUserNameChars);
  return name;
}

bool make_folders(const std::string& path, int* out_errno) {
  if (out_errno) *out_errno = 0;
  if (path.empty()) {
    if (out_errno) *out_errno = ENOENT;
    return false;
  }
  // Create each level in turn; a level that exists already (EEXIST) is fine
  // as long as the whole path is a folder at the end. The first failure is the
  // one worth reporting: the levels below it fail only because of it.
  int last_error = 0;
  std::size_t pos = 0;
  while (pos != std::string::npos) {
    pos = path.find('/', pos + 1);
    const std::string level = without_trailing_slash(path.substr(0, pos));
    if (level.empty() || level == "/") continue;
    if (mkdir(level.c_str(), 0777) != 0 && errno != EEXIST && last_error == 0) last_error = errno;
  }
  if (is_folder(path)) return true;
  if (out_errno) *out_errno = last_error != 0 ? last_error : ENOTDIR;
  return false;
}

std::string os_description() {
  utsname u{};
  if (uname(&u) != 0) return "Linux";
  return std::string(u.sysname) + " " + u.release + " (" + u.version + ") " + u.machine;
}

}  // namespace platform
