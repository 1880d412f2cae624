// Keeping a SANE backend's reader thread from being cancelled inside the C
// library (see ReaderWatch in sane_options.h). Threads and pipes are told
// apart by what /proc/self lists before and after sane_start: a reader is a
// thread that sane_start added, its pipe a read end and a write end of one
// pipe that it opened.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>

#include "sources/sane/sane_options.h"

namespace sanebridge {
namespace {

// A reader that has written its page ends within microseconds: the waits
// between looks start short and grow to kLongestLook.
constexpr auto kFirstLook = std::chrono::microseconds(20);
constexpr auto kLongestLook = std::chrono::microseconds(5000);

// The numbered entries of a /proc folder, but for the descriptor reading
// it: the number it has now may be a pipe's after it is closed.
std::vector<int> numbers_in(const char* folder) {
  std::vector<int> out;
  DIR* dir = ::opendir(folder);
  if (dir == nullptr) return out;
  const int own = ::dirfd(dir);
  while (const dirent* e = ::readdir(dir)) {
    if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
    const int n = std::atoi(e->d_name);
    if (n != own) out.push_back(n);
  }
  ::closedir(dir);
  std::sort(out.begin(), out.end());
  return out;
}

std::vector<int> added(const std::vector<int>& before, const std::vector<int>& after) {
  std::vector<int> out;
  std::set_difference(after.begin(), after.end(), before.begin(), before.end(),
                      std::back_inserter(out));
  return out;
}

bool thread_alive(int tid) {
  return ::access(("/proc/self/task/" + std::to_string(tid)).c_str(), F_OK) == 0;
}

// The pipe inode of `fd` and whether it is the read end; 0 when not a pipe.
ino_t pipe_of(int fd, bool& read_end) {
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISFIFO(st.st_mode)) return 0;
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0) return 0;
  read_end = (flags & O_ACCMODE) == O_RDONLY;
  return st.st_ino;
}

}  // namespace

void ReaderWatch::before_start() {
  release();
  tasks_before_ = numbers_in("/proc/self/task");
  fds_before_ = numbers_in("/proc/self/fd");
}

void ReaderWatch::after_start() {
  for (int tid : added(tasks_before_, numbers_in("/proc/self/task"))) readers_.push_back(tid);
  const std::vector<int> fds = added(fds_before_, numbers_in("/proc/self/fd"));
  // Only a pipe both of whose ends sane_start opened here: a reader thread's.
  for (int fd : fds) {
    bool is_read = false;
    const ino_t pipe = pipe_of(fd, is_read);
    if (pipe == 0 || !is_read) continue;
    const bool writer_here = std::any_of(fds.begin(), fds.end(), [&](int other) {
      bool other_read = true;
      return other != fd && pipe_of(other, other_read) == pipe && !other_read;
    });
    if (!writer_here) continue;
    const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (copy >= 0) pipes_.push_back(copy);
  }
}

bool ReaderWatch::all_written(std::size_t remaining) const {
  for (int fd : pipes_) {
    int queued = 0;
    if (::ioctl(fd, FIONREAD, &queued) == 0 && queued >= 0 &&
        static_cast<std::size_t>(queued) >= remaining)
      return true;
  }
  return false;
}

void ReaderWatch::settle(bool drain, std::chrono::milliseconds wait) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  std::vector<pollfd> polled;
  for (int fd : pipes_) polled.push_back(pollfd{fd, POLLIN, 0});
  char scratch[64 * 1024];
  for (auto look = kFirstLook;; look = std::min(look * 2, kLongestLook)) {
    std::erase_if(readers_, [](int tid) { return !thread_alive(tid); });
    if (readers_.empty() || std::chrono::steady_clock::now() >= deadline) return;
    const timespec pause{0, static_cast<long>(std::chrono::nanoseconds(look).count())};
    if (!drain || polled.empty()) {
      ::ppoll(nullptr, 0, &pause, nullptr);
      continue;
    }
    if (::ppoll(polled.data(), polled.size(), &pause, nullptr) <= 0) continue;
    for (pollfd& p : polled) {
      // One read of what is there: a pipe with data never blocks it. A pipe
      // whose writer is gone has nothing more to drain.
      if (p.revents & POLLIN) {
        (void)!::read(p.fd, scratch, sizeof scratch);
      } else if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) {
        p.fd = -1;
      }
    }
  }
}

void ReaderWatch::release() {
  for (int fd : pipes_) ::close(fd);
  pipes_.clear();
  readers_.clear();
}

}  // namespace sanebridge
