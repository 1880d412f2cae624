// The one acquisition's process-wide state.
#include "twain/acquisition/acquire.h"

#include "core/state_registry.h"
#include "dib/live_count.h"

namespace twain {

Acquisition& acquisition() {
  static Acquisition a;
  return a;
}

void acquisition_reset() {
  Acquisition& a = acquisition();
  if (a.pending_dib != 0) {
    platform::mem_free(a.pending_dib);
    dib::live_count_add(-1);
  }
  a = Acquisition{};
}

}  // namespace twain

namespace {

// The acquisition under way and its pending image.
const bool kAcquisitionRegistered = core::register_state({"twain.acquisition", [] { twain::acquisition_reset(); }, [] { twain::acquisition_reset(); }});

}  // namespace
