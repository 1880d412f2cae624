// What follows a successful open: the settings the application asked for
// while no source was open are applied to the one just opened.
#include "twain/session/sources.h"

#include "orivane/twain.h"
#include "orivane/twain_capability.h"
#include "twain/capabilities/deferred.h"
#include "twain/capabilities/switches.h"

namespace twain {

bool apply_settings_after_open() {
  DeferredSettings& d = deferred();
  // Without its dialog the source scans as many pages as it is set up for,
  // unless the application said how many.
  if (switches().hide_ui && d.xfer_count == 0) TWAIN_Reset(CAP_XFERCOUNT);
  if (d.units < 0) d.units = TWUN_INCHES;
  return NegotiateSettings() != 0;
}

}  // namespace twain
