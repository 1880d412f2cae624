// The log file: its name and folder rules, the header and end lines, moving
// an open log, and the public TWAIN_ operations on the log.
#include "orivane/trace_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "log/trace.h"
#include "orivane/version.h"
#include "platform/paths.h"

namespace {

constexpr const char* kDefaultExtension = ".log";
constexpr const char* kDefaultApplicationTitle = "Application";
constexpr std::size_t kMaxGivenFolderChars = 258;
constexpr std::size_t kMaxFallbackFolderChars = 244;
constexpr std::size_t kCopyChunkBytes = 64 * 1024;
// The trace shows file names, device names and settings of the user's runs.
constexpr mode_t kLogFileMode = 0600;

bool write_all(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

std::string with_final_slash(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

std::string base_name(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A log name split into its folder part ("" when none, else ending in "/")
// and its file part, the extension ".log" added when the file part has none.
struct LogNameParts {
  std::string folder;
  std::string file;
};

LogNameParts split_log_name(const std::string& text) {
  LogNameParts parts;
  const auto slash = text.rfind('/');
  std::string file = text;
  if (slash != std::string::npos) {
    parts.folder = text.substr(0, slash + 1);
    file = text.substr(slash + 1);
  }
  // A text naming only a folder keeps the current name.
  if (!file.empty() && file.find('.') == std::string::npos) file += kDefaultExtension;
  parts.file = file;
  return parts;
}

std::string os_line() {
  // SSH is this platform's remote session; a log reader wants to know whether
  // a person sits at the machine (dialogs, display) or not.
  const char* ssh = std::getenv("SSH_CONNECTION");
  const bool remote = ssh != nullptr && ssh[0] != '\0';
  return platform::os_description() + (remote ? ", remote session" : ", local session");
}

void write_time_lines() {
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
  char text[64];
  if (gmtime_r(&now, &parts) != nullptr && asctime_r(&parts, text) != nullptr) {
    LogPrint("Universal time:  %s", text);
  }
  if (localtime_r(&now, &parts) != nullptr && asctime_r(&parts, text) != nullptr) {
    LogPrint("Local time:      %s", text);
  }
}

void write_session_lines() {
  const LogHeaderFacts facts = log_collect_header_facts();
  LogPrint("Current State:   %s\n", facts.state_name.c_str());
  if (facts.source_open) {
    LogPrint("Open Source:     \"%s\"  Version %u-%u  Vendor: \"%s\"\n",
             facts.source_product.c_str(), facts.source_major, facts.source_minor,
             facts.source_manufacturer.c_str());
  }
  LogPrint("Loaded Libraries:\n");
  for (const LogHeaderFacts::Library& lib : facts.libraries) {
    LogPrint("%10s: ", lib.name.c_str());
    if (lib.loaded) {
      LogPrint("%d.%02d from %s\n", lib.version / 100, lib.version % 100, lib.path.c_str());
    } else {
      LogPrint("Not loaded.\n");
    }
  }
}

// A new file at `to`, never an existing one: the name was just cleared, and
// whatever appeared there since is someone else's and stays untouched.
int copy_file(const std::string& from, const std::string& to) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (in < 0) return errno;
  const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                         kLogFileMode);
  if (out < 0) {
    const int error = errno;
    ::close(in);
    return error;
  }
  int error = 0;
  char chunk[kCopyChunkBytes];
  for (;;) {
    const ssize_t n = ::read(in, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n < 0) error = errno;
      break;
    }
    if (!write_all(out, chunk, static_cast<std::size_t>(n))) {
      error = errno != 0 ? errno : EIO;
      break;
    }
  }
  ::close(in);
  if (::close(out) != 0 && error == 0) error = errno;
  if (error != 0) ::unlink(to.c_str());
  return error;
}

// The log may take over an existing name only when the file is this user's
// own regular file with no other name: another user's file (planted to read
// our trace, or to have us overwrite it), a device, a FIFO, or a hard link to
// a file kept elsewhere is refused.
bool is_own_log_file(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
         st.st_nlink == 1;
}

// The descriptor of the log file at `path`: created new when the name is
// free, else the existing file if it passes is_own_log_file. -1 with errno.
int open_log_descriptor(const std::string& path, bool append) {
  const int extra = append ? O_APPEND : 0;
  // A name that vanishes between the two opens is simply tried again.
  for (int attempt = 0; attempt < 3; ++attempt) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | extra, kLogFileMode);
    if (fd >= 0 || errno != EEXIST) return fd;
    // O_NOFOLLOW: a link at the name is refused (ELOOP), never followed.
    // O_NONBLOCK: a FIFO without a reader must not hold the run.
    fd = ::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | extra);
    if (fd < 0) {
      if (errno == ENOENT) continue;
      return -1;
    }
    if (!is_own_log_file(fd)) {
      ::close(fd);
      errno = EACCES;
      return -1;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    if (!append && ::ftruncate(fd, 0) != 0) {
      const int error = errno;
      ::close(fd);
      errno = error;
      return -1;
    }
    return fd;
  }
  return -1;
}

// The shared part of TWAIN_SetLogFolder and TWAIN_SetLogName: an empty
// folder keeps the current folder, an empty name the current name.
int move_log(const std::string& given_folder, const std::string& given_name) {
  std::string error;
  std::string folder = given_folder.empty() ? log_detail::log_folder()
                                            : given_folder.substr(0, kMaxGivenFolderChars);
  if (folder.empty()) folder = log_detail::default_log_folder();

  int create_error = 0;
  if (folder.empty()) {
    // No private runtime folder: refused, rather than falling back to a
    // shared or unexpected place.
    create_error = EACCES;
  } else {
    folder = with_final_slash(folder);
    // The root always exists; being refused to "create" it is no failure.
    if (!platform::make_folders(folder, &create_error) && create_error == EACCES && folder == "/")
      create_error = 0;
  }
  if (create_error != 0) error = "*!CreateDir GLE(" + std::to_string(create_error) + ")\n";
  if (error.empty()) {
    const std::string name = given_name.empty() ? log_detail::log_name() : given_name;
    error = log_detail::relocate_log(folder, name);
  }
  if (error.empty()) {
    LogPrint("Logging to:      %s\n", LogFullPath().c_str());
    LogFlush();
    return 1;
  }
  LogPrint("MoveLogFile failed: %s\n", error.c_str());
  LogFlush();
  return 0;
}

}  // namespace

namespace log_detail {

void write_header() {
  const std::string program = platform::program_path();
  LogPrint("------ Start of log (%s)------\n", base_name(program).c_str());
  LogPrint("Product          %s\n", header_product().c_str());
  const std::string version = header_version();
  if (!version.empty()) LogPrint("Version          %s\n", version.c_str());
  LogPrint("ORIVANE version: %s\n", ORIVANE_VERSION_TEXT);
  LogPrint("This module:     %s\n",
           platform::module_path_of(reinterpret_cast<const void*>(&LogPrint)).c_str());
  LogPrint("Calling Process: %s\n", program.c_str());
  LogPrint("Logging to:      %s\n", LogFullPath().c_str());
  write_time_lines();
  LogPrint("OS:              %s\n", os_line().c_str());
  LogPrint("\n");
  write_session_lines();
}

std::string default_log_folder() {
  const std::string folder = platform::runtime_folder();
  return folder.empty() ? folder : with_final_slash(folder);
}

std::FILE* open_log_stream(const std::string& path, LogOpenMode mode) {
  const bool append = mode == LogOpenMode::Append;
  const int fd = open_log_descriptor(path, append);
  if (fd < 0) return nullptr;
  std::FILE* file = ::fdopen(fd, append ? "a" : "w");
  if (file == nullptr) {
    const int error = errno;
    ::close(fd);
    errno = error;
    return nullptr;
  }
  // The log's line buffer is the only buffer, so what was written out is in
  // the file even if the process dies right after.
  std::setvbuf(file, nullptr, _IONBF, 0);
  return file;
}

int move_file(const std::string& from, const std::string& to) {
  struct stat st {}, from_st {};
  if (::lstat(to.c_str(), &st) == 0) {
    // Whatever another user keeps at that name is theirs, not ours to replace.
    if (st.st_uid != ::geteuid()) return EACCES;
    // Both names are the log itself (a folder that ignores letter case):
    // only the spelling changes.
    const bool same = ::lstat(from.c_str(), &from_st) == 0 && from_st.st_dev == st.st_dev &&
                      from_st.st_ino == st.st_ino;
    if (!same && std::remove(to.c_str()) != 0) return errno;
  } else if (errno != ENOENT) {
    return errno;
  }
  if (std::rename(from.c_str(), to.c_str()) == 0) return 0;
  if (errno != EXDEV) return errno;
  // Another file system: the move becomes a copy and a delete.
  if (const int error = copy_file(from, to); error != 0) return error;
  std::remove(from.c_str());
  return 0;
}

std::string fallback_log_folder() {
  const std::string folder = default_log_folder();
  if (folder.empty() || folder.size() > kMaxFallbackFolderChars) return std::string();
  return folder;
}

}  // namespace log_detail

extern "C" {

void TWAIN_LogFile(int level) {
  try {
    if (level > 0) {
      const bool was_open = log_detail::open_log_file(level);
      LogApiCall("LogFile(%d)\n", level);
      if (!was_open) log_detail::write_header();
      LogFlush();
      return;
    }
    LogApiCall("LogFile(%d)\n", level);
    LogPrint("------ End of log ------\n");
    log_detail::close_log_file();
  } catch (...) {
  }
}

int TWAIN_SetLogFolder(const char* folder) {
  try {
    const char* text = folder != nullptr ? folder : "";
    LogApiCall("SetLogFolder(\"%s\")\n", text);
    return move_log(text[0] != '\0' ? std::string(text) : log_detail::default_log_folder(),
                    std::string());
  } catch (...) {
    return 0;
  }
}

int TWAIN_SetLogName(const char* name) {
  try {
    const char* text = name != nullptr ? name : "";
    LogApiCall("SetLogName(\"%s\")\n", text);
    const LogNameParts parts = split_log_name(text);
    return move_log(parts.folder, parts.file);
  } catch (...) {
    return 0;
  }
}

const char* TWAIN_LogFileName(void) {
  // Per thread, so a caller's pointer is not overwritten by another thread.
  static thread_local std::string result;
  try {
    result = LogFullPath();
    LogApiCall("LogFileName => '%s'\n", result.c_str());
    LogFlush();
  } catch (...) {
  }
  return result.c_str();
}

void TWAIN_WriteToLog(const char* text) {
  try {
    const char* body = text != nullptr ? text : "";
    const std::size_t n = std::strlen(body);
    const bool has_line_end = n > 0 && (body[n - 1] == '\n' || body[n - 1] == '\r');
    std::string title = log_application_title();
    if (title.empty()) title = kDefaultApplicationTitle;
    LogPrint("[%s] %s%s", title.c_str(), body, has_line_end ? "" : "\n");
  } catch (...) {
  }
}

}  // extern "C"
