// The Source Manager's source selection: the user's choice becomes the
// Source Manager's default source.
#include "orivane/twain_sources.h"

#include "core/error_record.h"
#include "log/trace.h"
#include "orivane/errors.h"
#include "orivane/twain_manager.h"
#include "platform/window.h"
#include "twain/session/dsm.h"
#include "twain/session/identity.h"
#include "twain/session/session.h"

int TWAIN_SelectImageSource(uintptr_t window) {
  LogApiCall("SelectImageSource(0x%08lx)...\n", static_cast<unsigned long>(window));
  LogNest nest;
  if (!platform::window_is_valid(window)) window = platform::window_active();
  const int noted = twain::session().state;
  int chosen = 0;
  if (twain::session().state >= 3 || TWAIN_OpenSourceManager(window)) {
    // The chosen identity is not kept: the Source Manager makes it its default.
    twain::IdentityArea area;
    chosen = twain::mgr_call(DG_CONTROL, DAT_IDENTITY, MSG_USERSELECT, area.identity());
  } else {
    RecordError(ERR_DSM_INIT, "SelectImageSource");
    TWAIN_ReportLastError("While trying to show Select Source dialog");
  }
  TWAIN_DropToState(noted);
  return chosen;
}
