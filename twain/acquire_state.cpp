// The one acquisition's process-wide state.
#include "twain/acquire.h"

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
