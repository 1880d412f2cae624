// The background writer: a thread that takes queued pages from a pipe and
// writes them into the open multipage file while the caller scans on.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "core/error_record.h"
#include "fileio/multipage.h"
#include "log/trace.h"
#include "orivane/dib_api.h"
#include "orivane/errors.h"
#include "platform/clock.h"

namespace fileio {
namespace {

bool read_whole(int fd, void* into, std::size_t size) {
  auto* p = static_cast<char*>(into);
  std::size_t got = 0;
  while (got < size) {
    const ssize_t n = ::read(fd, p + got, size - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    got += static_cast<std::size_t>(n);
  }
  return true;
}

// Marks the writer's thread: what it calls while writing a page must not
// wait for the queue it is itself working off.
thread_local bool t_is_writer = false;

void writer_loop(BackgroundWriter* writer) {
  t_is_writer = true;
  // One step below the scanning thread: compression must not slow the scan.
  const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
  errno = 0;
  const int nice = ::getpriority(PRIO_PROCESS, tid);
  if (errno == 0) ::setpriority(PRIO_PROCESS, tid, nice + 1);

  LogPrint("Background Writer started\n");
  QueuedPage page{};
  while (read_whole(writer->read_fd, &page, sizeof page)) {
    if (writer->result.load() == 0) {
      LogPrint("Background - Writing DIB(0x%08lx)\n", static_cast<unsigned long>(page.dib));
      writer->result.store(DibWritePageNow(page.dib, page.compression));
    } else {
      LogPrint("Background flushing DIB(0x%08lx)\n", static_cast<unsigned long>(page.dib));
    }
    DibFree(page.dib);
    writer->pending.fetch_sub(1);
  }
  ::close(writer->read_fd);
  writer->read_fd = -1;
  LogPrint("Background Writer exiting\n");
  writer->done.store(true);
}

}  // namespace

bool in_background_writer() { return t_is_writer; }

void StartBgWriter() {
  BackgroundWriter& writer = multipage().writer;
  LogPrint("StartBgWriter ");
  writer.result = 0;
  writer.pending = 0;
  writer.done = false;
  writer.queue_wait_ms = 0;
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    LogPrint("CreatePipe GLE(%d)\n", errno);
    RecordError(ERR_FAILURE, "StartBackgroundWrite");
    FinishBgWriter();
    return;
  }
  writer.read_fd = fds[0];
  writer.write_fd = fds[1];
  try {
    writer.thread = std::thread(writer_loop, &writer);
  } catch (const std::exception&) {
    LogPrint("CreateThread GLE(%d)\n", errno);
    RecordError(ERR_FAILURE, "StartBgWriter");
    ::close(writer.write_fd);
    ::close(writer.read_fd);
    writer.write_fd = writer.read_fd = -1;
    FinishBgWriter();
  }
}

void FinishBgWriter() {
  BackgroundWriter& writer = multipage().writer;
  if (!writer.thread.joinable()) return;
  LogPrint("FinishBgWriter ");
  const unsigned started = platform::tick_count_ms();
  // The writer sees the end of the pipe after the last queued page.
  ::close(writer.write_fd);
  writer.write_fd = -1;
  LogPrint("Waiting for Background writer...\n");
  writer.thread.join();
  if (writer.pending.load() != 0) LogPrint("** nPendingWrites=%d!\n", writer.pending.load());
  if (writer.read_fd >= 0) ::close(writer.read_fd);
  writer.read_fd = -1;
  LogPrint("FinishBgWriter took [%dms]\n", static_cast<int>(platform::tick_count_ms() - started));
  LogPrint("Writer queue waits: %ldms\n", writer.queue_wait_ms);
}

int WaitForBgWriter() {
  BackgroundWriter& writer = multipage().writer;
  if (!writer.thread.joinable() || writer.write_fd < 0) return writer.pending.load() == 0 ? 1 : 0;
  if (writer.pending.load() > 0) {
    LogPrint("Wait for BgWriter, nPendingWrites=%d\n", writer.pending.load());
    while (writer.pending.load() > 0) {
      if (writer.done.load()) return writer.pending.load() == 0 ? 1 : 0;
      platform::sleep_ms(20);
    }
  }
  return 1;
}

int memory_load_percent() {
  std::ifstream in("/proc/meminfo");
  std::string key;
  long long value = 0, total = 0, available = -1;
  std::string unit;
  while (in >> key >> value) {
    std::getline(in, unit);
    if (key == "MemTotal:") total = value;
    if (key == "MemAvailable:") available = value;
  }
  if (total <= 0 || available < 0) return 0;
  return static_cast<int>(100 - available * 100 / total);
}

}  // namespace fileio
