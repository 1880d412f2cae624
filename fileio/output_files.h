// The files the library puts beside a user's file while it writes it: its
// temporary files and the lock files that give one run a name to itself,
// and the sweep that clears what a killed process left of them.
//
// Every such file is hidden and carries a tag no user file has
// (".orv-tmp." or ".orv-lock." followed by 16 hexadecimal digits), so the
// sweep never takes a file that is not ours. A live one is told by the lock
// (flock) its owner holds on it for its whole life, not by a process id: a
// process id means nothing across PID namespaces or hosts sharing a folder.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace fileio {

// Longest name of one folder entry on the file systems we write to.
constexpr std::size_t kNameMax = 255;

// A temporary file of ours beside a final name: ".orv-tmp.<random>.<tail>",
// where the tail is as much of the end of the final name (its extension
// included) as the name limit and `max_path` leave room for. The file is
// created empty and exclusively, and locked until it is released or
// destroyed; destroying it unreleased removes it.
class TempFile {
 public:
  TempFile() = default;
  // `max_path`: the longest full path the file's user can take (0: only the
  // name limit applies). status() is 0, or the errno of the failure.
  explicit TempFile(const std::string& final_path, std::size_t max_path = 0);
  TempFile(TempFile&& other) noexcept;
  TempFile& operator=(TempFile&& other) noexcept;
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile();

  int status() const { return status_; }
  const std::string& path() const { return path_; }
  // The open, locked descriptor (read and write), -1 when none.
  int fd() const { return fd_; }
  // The file now lives under another name (or was removed by its writer):
  // forget it without removing anything.
  void release();
  // Removes the file now (a no-op when it was released).
  void remove();

 private:
  std::string path_;
  int fd_ = -1;
  int status_ = 0;
};

// An exclusive claim on one final name across processes, for a run that
// reads and rewrites it (appending) or must not have it rewritten under it:
// the lock file ".orv-lock.<hash of the name>" beside it, locked while held
// and removed on release.
class NameLock {
 public:
  NameLock() = default;
  // Tries for up to `wait_ms` milliseconds (0: once). status(): 0 held,
  // EWOULDBLOCK when another run still holds it, else errno.
  NameLock(const std::string& final_path, int wait_ms);
  NameLock(NameLock&& other) noexcept;
  NameLock& operator=(NameLock&& other) noexcept;
  NameLock(const NameLock&) = delete;
  NameLock& operator=(const NameLock&) = delete;
  ~NameLock();

  int status() const { return status_; }
  bool held() const { return fd_ >= 0; }

 private:
  void unlock();
  std::string path_;
  int fd_ = -1;
  int status_ = 0;
};

// The name the lock of `final_path` lives under (tests and the sweep).
std::string lock_path_of(const std::string& final_path);
// True when `name` (one folder entry) is a temporary or lock file of ours.
bool is_our_leftover(const std::string& name);

// Removes, from the folder of `path`, every temporary and lock file of ours
// that no live run holds. Unless `always`, a folder this process swept in
// the last minute is left as it is: one look per run is enough.
void sweep_leftovers(const std::string& path, bool always = false);

// Moves `from` to `to`. With `replace` false a taken `to` is never
// replaced: the next number is tried instead (the digits before the
// extension counted up, "1" added when there are none) and `*to` is
// updated to the name used. 0 or errno.
int move_into_place(const std::string& from, std::string* to, bool replace);

// `path` with the number before its extension counted up by one: width kept,
// one digit added on a carry out ("doc99.tif" -> "doc100.tif"), "1" inserted
// when there are no digits ("scan.tif" -> "scan1.tif"). The name is the
// text after the last '/', '\\' or ':'; its extension, from its last dot,
// is kept whole, and the number may have any number of digits. The one
// incrementer of numbered names: the library's and the front end's.
std::string next_numbered_name(const std::string& path);

// Flushes a file or a folder to disk; 0 or errno. Folders that cannot be
// flushed (some file systems) count as flushed.
int sync_path(const std::string& path, bool folder);

}  // namespace fileio
