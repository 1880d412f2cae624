#include "platform/interrupt.h"

#include <atomic>

namespace platform {

namespace {

// Read by the acquiring thread, written by the signal thread.
std::atomic<int> raised_by{0};

}  // namespace

void interrupt_raise(int signal_number) {
  int none = 0;
  raised_by.compare_exchange_strong(none, signal_number > 0 ? signal_number : -1);
}

bool interrupt_raised() { return raised_by.load() != 0; }

int interrupt_signal() {
  const int s = raised_by.load();
  return s > 0 ? s : 0;
}

void interrupt_clear() { raised_by.store(0); }

}  // namespace platform
