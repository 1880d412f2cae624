// Temporary and lock files beside a user's file, the sweep of leftovers,
// and moving a finished file into place with or without replacing.
#include "fileio/output_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <mutex>
#include <map>
#include <string_view>

#include "core/state_registry.h"
#include "log/trace.h"
#include "platform/clock.h"

namespace fileio {
namespace {

constexpr std::string_view kTempTag = ".orv-tmp.";
constexpr std::string_view kLockTag = ".orv-lock.";
constexpr std::size_t kHexDigits = 16;
constexpr int kLockPollMs = 50;
// Names a no-replace move tries before giving up: a folder would need this
// many files of one numbered series in the way.
constexpr int kMaxNumberedTries = 100000;

std::string hex64(std::uint64_t v) {
  char text[kHexDigits + 1];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(v));
  return text;
}

std::uint64_t random64() {
  std::uint64_t v = 0;
  if (::getrandom(&v, sizeof v, 0) == static_cast<ssize_t>(sizeof v)) return v;
  // No entropy source: time and address still make clashes vanishingly rare,
  // and O_EXCL catches the rest.
  return (static_cast<std::uint64_t>(platform::tick_count_ms()) << 32) ^ static_cast<std::uint64_t>(::getpid()) ^
         reinterpret_cast<std::uintptr_t>(&v);
}

// FNV-1a: a fixed-size stand-in for a name of any length.
std::uint64_t name_hash(std::string_view text) {
  std::uint64_t h = 14695981039346656037ull;
  for (unsigned char c : text) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h;
}

struct Split {
  std::string folder;  // with its final slash, or empty
  std::string base;
};

Split split(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {"", path};
  return {path.substr(0, slash + 1), path.substr(slash + 1)};
}

bool is_hex(std::string_view text) {
  return text.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

// The descriptor still names what `path` names: nobody removed or replaced
// the file between our open and our lock.
bool still_named(int fd, const std::string& path) {
  struct stat by_fd {}, by_name {};
  return ::fstat(fd, &by_fd) == 0 && ::lstat(path.c_str(), &by_name) == 0 && by_fd.st_dev == by_name.st_dev &&
         by_fd.st_ino == by_name.st_ino;
}

// Opens a file of ours for a lock test without following links or
// blocking on a FIFO someone planted under our tag; -1 when not a plain file.
int open_plain(const std::string& path, int flags, mode_t mode = 0) {
  const int fd = ::open(path.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, mode);
  if (fd < 0) return -1;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    errno = EINVAL;
    return -1;
  }
  return fd;
}

// A leftover nobody holds is removed under our own lock, so that a run that
// opened it a moment earlier finds it gone and starts over.
void sweep_one(const std::string& path) {
  const int fd = open_plain(path, O_RDONLY);
  if (fd < 0) return;
  if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && still_named(fd, path) && ::unlink(path.c_str()) == 0)
    LogPrint("Removed leftover temporary file %s\n", path.c_str());
  ::close(fd);
}

int rename_no_replace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // File systems without the flag: a hard link fails on a taken name too.
  if (::link(from.c_str(), to.c_str()) == 0) {
    ::unlink(from.c_str());
    return 0;
  }
  if (errno != EPERM && errno != ENOSYS && errno != EOPNOTSUPP) return errno;
  // Neither: the narrowest check there is.
  struct stat st {};
  if (::lstat(to.c_str(), &st) == 0) return EEXIST;
  return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

}  // namespace

// --- Temporary files --------------------------------------------------------

TempFile::TempFile(const std::string& final_path, std::size_t max_path) {
  const Split s = split(final_path);
  const std::size_t fixed = kTempTag.size() + kHexDigits + 1;
  if (max_path != 0 && s.folder.size() + fixed > max_path) {
    status_ = ENAMETOOLONG;
    return;
  }
  std::size_t room = kNameMax - fixed;
  if (max_path != 0) room = std::min(room, max_path - s.folder.size() - fixed);
  const std::string tail = s.base.size() > room ? s.base.substr(s.base.size() - room) : s.base;
  for (int attempt = 0; attempt < 100; ++attempt) {
    path_ = s.folder + std::string(kTempTag) + hex64(random64()) + "." + tail;
    fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd_ < 0) {
      if (errno == EEXIST) continue;
      status_ = errno;
      path_.clear();
      return;
    }
    // A sweep may have taken the new file between its creation and our lock.
    if (::flock(fd_, LOCK_EX) == 0 && still_named(fd_, path_)) return;
    ::close(fd_);
    fd_ = -1;
  }
  status_ = EEXIST;
  path_.clear();
}

TempFile::TempFile(TempFile&& other) noexcept { *this = std::move(other); }

TempFile& TempFile::operator=(TempFile&& other) noexcept {
  if (this != &other) {
    remove();
    path_ = std::move(other.path_);
    fd_ = other.fd_;
    status_ = other.status_;
    other.path_.clear();
    other.fd_ = -1;
  }
  return *this;
}

TempFile::~TempFile() { remove(); }

void TempFile::release() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  path_.clear();
}

void TempFile::remove() {
  // The random name is ours alone: whatever the writer left under it goes.
  if (!path_.empty()) ::unlink(path_.c_str());
  release();
}

// --- Name locks -------------------------------------------------------------

std::string lock_path_of(const std::string& final_path) {
  const Split s = split(final_path);
  return s.folder + std::string(kLockTag) + hex64(name_hash(s.base));
}

NameLock::NameLock(const std::string& final_path, int wait_ms) : path_(lock_path_of(final_path)) {
  const std::uint32_t start = platform::tick_count_ms();
  bool told = false;
  for (;;) {
    // Read-only is enough for a lock, and lets another user's run lock it.
    fd_ = open_plain(path_, O_RDONLY | O_CREAT, 0644);
    if (fd_ < 0) {
      status_ = errno;
      return;
    }
    if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) {
      if (still_named(fd_, path_)) return;
    } else if (errno != EWOULDBLOCK) {
      status_ = errno;
      unlock();
      return;
    } else if (static_cast<int>(platform::tick_count_ms() - start) >= wait_ms) {
      status_ = EWOULDBLOCK;
      unlock();
      return;
    } else if (!told) {
      LogPrint("Waiting for %s: in use by another run\n", final_path.c_str());
      told = true;
    }
    ::close(fd_);
    fd_ = -1;
    platform::sleep_ms(kLockPollMs);
  }
}

NameLock::NameLock(NameLock&& other) noexcept { *this = std::move(other); }

NameLock& NameLock::operator=(NameLock&& other) noexcept {
  if (this != &other) {
    if (held()) {
      ::unlink(path_.c_str());
      unlock();
    }
    path_ = std::move(other.path_);
    fd_ = other.fd_;
    status_ = other.status_;
    other.fd_ = -1;
  }
  return *this;
}

NameLock::~NameLock() {
  // Removed while still locked: a run waiting on this file then finds its
  // name gone and makes a new one.
  if (held()) ::unlink(path_.c_str());
  unlock();
}

void NameLock::unlock() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

// --- Sweeping ---------------------------------------------------------------

bool is_our_leftover(const std::string& name) {
  const std::string_view n = name;
  if (n.substr(0, kTempTag.size()) == kTempTag) {
    const std::string_view rest = n.substr(kTempTag.size());
    return rest.size() > kHexDigits && is_hex(rest.substr(0, kHexDigits)) && rest[kHexDigits] == '.';
  }
  if (n.substr(0, kLockTag.size()) == kLockTag) {
    const std::string_view rest = n.substr(kLockTag.size());
    return rest.size() == kHexDigits && is_hex(rest);
  }
  return false;
}

namespace {

// A folder swept this long ago is swept again: a process that lives long
// (a server) also clears what others left since.
constexpr std::uint32_t kSweepAgainMs = 60000;

// When this process last swept each folder.
struct SweptFolders {
  std::mutex m;
  std::map<std::string, std::uint32_t> last;
};

SweptFolders& swept_folders() {
  static SweptFolders s;
  return s;
}

}  // namespace

void sweep_leftovers(const std::string& path, bool always) {
  const Split s = split(path);
  const std::string folder = s.folder.empty() ? "./" : s.folder;
  {
    SweptFolders& swept = swept_folders();
    std::lock_guard<std::mutex> lock(swept.m);
    const std::uint32_t now = platform::tick_count_ms();
    const auto at = swept.last.find(folder);
    if (!always && at != swept.last.end() && now - at->second < kSweepAgainMs) return;
    swept.last[folder] = now;
  }
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (is_our_leftover(name)) sweep_one(folder + name);
  }
  ::closedir(dir);
}

// --- Moving into place ------------------------------------------------------

std::string next_numbered_name(const std::string& path) {
  // The last component follows the last separator of any platform a name
  // may come from; its extension starts at its last dot and is kept whole.
  const std::size_t separator = path.find_last_of("/\\:");
  const std::size_t name = separator == std::string::npos ? 0 : separator + 1;
  const std::size_t dot = path.rfind('.');
  const std::size_t end = dot != std::string::npos && dot >= name ? dot : path.size();
  std::size_t start = end;
  while (start > name && path[start - 1] >= '0' && path[start - 1] <= '9') --start;
  // Decimal increment on the text itself: exact for any number of digits.
  std::string digits = path.substr(start, end - start);
  if (digits.empty()) digits = "0";
  int i = static_cast<int>(digits.size()) - 1;
  for (; i >= 0 && digits[i] == '9'; --i) digits[i] = '0';
  if (i < 0) digits.insert(digits.begin(), '1');
  else ++digits[i];
  return path.substr(0, start) + digits + path.substr(end);
}

int move_into_place(const std::string& from, std::string* to, bool replace) {
  if (replace) return ::rename(from.c_str(), to->c_str()) == 0 ? 0 : errno;
  for (int tries = 0; tries < kMaxNumberedTries; ++tries) {
    const int rc = rename_no_replace(from, *to);
    if (rc != EEXIST) return rc;
    LogPrint("%s exists: not replaced\n", to->c_str());
    *to = next_numbered_name(*to);
  }
  return EEXIST;
}

int sync_path(const std::string& path, bool folder) {
  const int fd = ::open(path.c_str(), (folder ? O_RDONLY | O_DIRECTORY : O_RDONLY) | O_CLOEXEC);
  if (fd < 0) return errno;
  int rc = ::fsync(fd) == 0 ? 0 : errno;
  if (folder && (rc == EINVAL || rc == EROFS)) rc = 0;
  ::close(fd);
  return rc;
}

}  // namespace fileio

namespace {

// The folders already swept of leftovers, and when.
const bool kSweptFoldersRegistered = core::register_state({"fileio.swept_folders", [] {
  fileio::SweptFolders& s = fileio::swept_folders();
  std::lock_guard<std::mutex> lock(s.m);
  s.last.clear();
}});

}  // namespace
