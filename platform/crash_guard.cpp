// The guard is sigsetjmp/siglongjmp: the handler jumps back into
// run_guarded's frame when the faulting thread is inside a guarded call. The
// frames skipped belong to the module that faulted; their cleanup is lost,
// which is the price of keeping the process alive.
#include "platform/crash_guard.h"

#include <setjmp.h>
#include <signal.h>

#include <cstdio>
#include <cstring>
#include <mutex>

namespace platform {

namespace {

constexpr int kGuardedSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};
constexpr int kSignalCount = sizeof kGuardedSignals / sizeof kGuardedSignals[0];

thread_local sigjmp_buf* t_jump = nullptr;
thread_local volatile sig_atomic_t t_signal = 0;

// The handlers in place before the first guard, restored when the last guard
// ends. Guards may run on several threads at once (the file writer's beside
// the engine's), so installing is counted under a lock; the handler only
// reads `previous`, which does not change while any guard is installed.
struct GuardHandlers {
  std::mutex mutex;
  int active = 0;
  struct sigaction previous[kSignalCount];
};

GuardHandlers& guard_handlers() {
  static GuardHandlers* handlers = new GuardHandlers;
  return *handlers;
}

void on_fault(int signal_number, siginfo_t* info, void* context) {
  if (t_jump != nullptr) {
    t_signal = signal_number;
    siglongjmp(*t_jump, 1);
  }
  // A fault on a thread outside any guard goes to the handler that was there
  // before: called directly when it takes the details, otherwise put back so
  // that the faulting instruction meets it when it runs again.
  for (int i = 0; i < kSignalCount; ++i) {
    if (kGuardedSignals[i] != signal_number) continue;
    const struct sigaction& prev = guard_handlers().previous[i];
    if ((prev.sa_flags & SA_SIGINFO) && prev.sa_sigaction) {
      prev.sa_sigaction(signal_number, info, context);
      return;
    }
    sigaction(signal_number, &prev, nullptr);
    return;
  }
}

void install() {
  GuardHandlers& h = guard_handlers();
  std::lock_guard<std::mutex> lock(h.mutex);
  if (h.active++ > 0) return;
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_sigaction = on_fault;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
  sigemptyset(&action.sa_mask);
  for (int i = 0; i < kSignalCount; ++i) sigaction(kGuardedSignals[i], &action, &h.previous[i]);
}

void uninstall() {
  GuardHandlers& h = guard_handlers();
  std::lock_guard<std::mutex> lock(h.mutex);
  if (--h.active > 0) return;
  for (int i = 0; i < kSignalCount; ++i) sigaction(kGuardedSignals[i], &h.previous[i], nullptr);
}

}  // namespace

int run_guarded(void (*fn)(void*), void* context) {
  sigjmp_buf jump;
  sigjmp_buf* const outer = t_jump;
  const bool outermost = outer == nullptr;
  if (outermost) install();
  int fault = 0;
  if (sigsetjmp(jump, 1) == 0) {
    t_jump = &jump;
    fn(context);
  } else {
    fault = t_signal;
  }
  t_jump = outer;
  if (outermost) uninstall();
  return fault;
}

bool debugger_attached() {
  std::FILE* status = std::fopen("/proc/self/status", "r");
  if (!status) return false;
  char line[256];
  int tracer = 0;
  while (std::fgets(line, sizeof line, status)) {
    if (std::sscanf(line, "TracerPid: %d", &tracer) == 1) break;
  }
  std::fclose(status);
  return tracer != 0;
}

}  // namespace platform
