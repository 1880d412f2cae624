// Notifications from the device to the application (MSG_XFERREADY,
// MSG_CLOSEDSREQ, MSG_CLOSEDSOK, MSG_DEVICEEVENT). A real scanner sends them
// from its own thread when the hardware is ready, not from inside the
// application's call; so does this one: each enabled device has a Notifier,
// a thread that runs planned jobs after their delay. A job takes the source's
// lock itself to change the session, and calls the Source Manager only after
// releasing it (the application's callback may call straight back in).
#pragma once
#include <chrono>
#include <functional>
#include <memory>

#include "orivane/twain.h"

namespace vscan {

class Notifier {
 public:
  using Job = std::function<void()>;
  Notifier();
  // Stops the thread: jobs not yet due are dropped, a running one is waited
  // for (unless the notifier is destroyed from its own thread, by a job whose
  // callback disabled the device: then the thread finishes on its own).
  ~Notifier();
  Notifier(const Notifier&) = delete;
  Notifier& operator=(const Notifier&) = delete;

  // Runs `job` on the notifier's thread after `delay` (jobs run in the order
  // they fall due).
  void schedule(std::chrono::milliseconds delay, Job job);

 private:
  struct Shared;
  std::shared_ptr<Shared> shared_;
};

// Sends `msg` from the device `source` to the application `app` through the
// Source Manager's DSM_Entry (DG_CONTROL / DAT_NULL). Call without the
// source's lock held. Does nothing when `dsm_entry` is null.
void notify_send(DSMENTRYPROC dsm_entry, TW_IDENTITY source, TW_IDENTITY app, TW_UINT16 msg);

}  // namespace vscan
