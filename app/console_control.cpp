// Interrupts and termination: the Source Manager is unloaded first, so that a
// device is not left enabled, and then the signal ends the process as usual.
// The work runs on a thread of its own, where it is safe to call the library.
#include <pthread.h>
#include <signal.h>

#include <thread>

#include "app/app.h"
#include "orivane/twain_session.h"

namespace {

void control_thread(sigset_t signals) {
  int sig = 0;
  if (sigwait(&signals, &sig) != 0) return;
  TWAIN_UnloadSourceManager();
  // Not handled here: the default action ends the process.
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
