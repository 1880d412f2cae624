// The fault guard: a fault inside the guarded call comes back as its signal,
// and the handlers that were there before are there again afterwards.
#include "platform/crash_guard.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <cstring>
#include <thread>

namespace {

void raise_signal(void* context) { raise(*static_cast<int*>(context)); }
void returns_normally(void* context) { *static_cast<int*>(context) = 42; }
void guard_inside_guard(void* context) {
  int inner = SIGFPE;
  *static_cast<int*>(context) = platform::run_guarded(raise_signal, &inner);
}

struct sigaction current_action(int signal_number) {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  sigaction(signal_number, nullptr, &action);
  return action;
}

TEST(CrashGuard, AFaultComesBackAsItsSignal) {
  for (int signal_number : {SIGSEGV, SIGBUS, SIGFPE, SIGILL}) {
    const struct sigaction before = current_action(signal_number);
    int context = signal_number;
    EXPECT_EQ(platform::run_guarded(raise_signal, &context), signal_number);
    const struct sigaction after = current_action(signal_number);
    EXPECT_EQ(before.sa_handler, after.sa_handler) << "handler restored for " << signal_number;
    EXPECT_EQ(before.sa_flags, after.sa_flags);
  }
}

TEST(CrashGuard, NormalCallsAndNestedGuards) {
  int value = 0;
  EXPECT_EQ(platform::run_guarded(returns_normally, &value), 0);
  EXPECT_EQ(value, 42);
  // A guard inside a guard catches its own fault; the outer call returns.
  int inner_result = 0;
  EXPECT_EQ(platform::run_guarded(guard_inside_guard, &inner_result), 0);
  EXPECT_EQ(inner_result, SIGFPE);
  // The guard can be used again after a fault.
  int segv = SIGSEGV;
  EXPECT_EQ(platform::run_guarded(raise_signal, &segv), SIGSEGV);
  EXPECT_EQ(platform::run_guarded(returns_normally, &value), 0);
}

TEST(CrashGuard, GuardsOnSeveralThreadsLeaveTheOldHandlersInPlace) {
  const struct sigaction before = current_action(SIGSEGV);
  auto many_faults = [] {
    for (int i = 0; i < 200; ++i) {
      int signal_number = i % 2 ? SIGSEGV : SIGBUS;
      EXPECT_EQ(platform::run_guarded(raise_signal, &signal_number), signal_number);
    }
  };
  std::thread a(many_faults), b(many_faults);
  a.join();
  b.join();
  EXPECT_EQ(current_action(SIGSEGV).sa_handler, before.sa_handler);
}

}  // namespace
