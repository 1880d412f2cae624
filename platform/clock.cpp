#include "platform/clock.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

namespace platform {

std::uint32_t tick_count_ms() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  // Truncating to 32 bits wraps like the platform tick count the callers were
  // written for; they compare ticks by unsigned difference only.
  const auto ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                  static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<std::uint32_t>(ms);
}

int thread_id() {
  // The kernel's thread id: never 0, and the number that ps and gdb show, so
  // trace lines can be matched against them. Not cached: a forked child's
  // thread has a new id.
  return static_cast<int>(syscall(SYS_gettid));
}

void sleep_ms(int ms) {
  if (ms <= 0) return;
  timespec left{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
  // A signal interrupts nanosleep; sleep on for the time that remains.
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

}  // namespace platform
