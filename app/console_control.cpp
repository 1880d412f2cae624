// Interrupts and termination (Ctrl-C, SIGTERM, a closed terminal) cancel the
// run as the device's Cancel button does: the wait for the device ends, the
// page loop ends through its cancel path, the report is written and the
// process ends with the cancel's status. A second signal ends the process at
// once, for a device or a write that no longer answers.
//
// The signals are taken by a thread of their own (sigwait), so nothing here
// runs in a signal handler: it only raises the flag the loops watch.
#include <pthread.h>
#include <signal.h>
#include <string.h>
#include <unistd.h>

#include <cstdio>
#include <thread>

#include "app/app.h"
#include "log/trace.h"
#include "platform/interrupt.h"
#include "platform/ui.h"

namespace {

void tell_terminal(const char* line) {
  if (!::isatty(STDERR_FILENO)) return;
  platform::ui_end_open_line();
  std::fputs(line, stderr);
  std::fflush(stderr);
}

void control_thread(sigset_t signals) {
  int sig = 0;
  if (sigwait(&signals, &sig) != 0) return;
  LogPrint("[Quillet] %s: cancelling the scan\n", ::strsignal(sig));
  tell_terminal("quillet: cancelling (interrupt again to stop at once)\n");
  platform::interrupt_raise(sig);
  if (sigwait(&signals, &sig) != 0) return;
  LogPrint("[Quillet] %s again: ending at once\n", ::strsignal(sig));
  // The default action ends the process, with the status a shell expects.
  signal(sig, SIG_DFL);
  pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
  raise(sig);
}

}  // namespace

void install_console_control_handler() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::thread(control_thread, signals).detach();
}
