// Attaching and detaching the library: the first and last calls of a process.
#include "orivane/twain_session.h"

#include "core/error_record.h"
#include "fileio/url_pages.h"
#include "log/trace.h"
#include "orivane/errors.h"
#include "orivane/upload_api.h"
#include "platform/crash_guard.h"
#include "platform/paths.h"
#include "platform/ui.h"
#include "twain/capabilities/switches.h"
#include "twain/session/session.h"
#include "ui/window_ui.h"

void ORIVANE_Attach(void) {
  twain::Session& s = twain::session();
  if (s.attach_count++ > 0) return;
  s.no_guard = platform::debugger_attached();
  LogAttach();
  // The file loaders fetch URL names through the download.
  fileio::set_url_pages_loader(&DibArrayFromURL);
  // Windows when a display answers: the user interface lives below the
  // toolkit, so the toolkit's back end is handed down here.
  platform::ui_register_window_backend(&ui::make_window_ui);
  twain::settings_process_file(platform::library_folder());
}

void ORIVANE_Detach(void) {
  twain::Session& s = twain::session();
  if (s.attach_count <= 0) return;
  if (--s.attach_count > 0) return;
  LogPrint("ORIVANE_Detach() pre(nAttached==%d)\n", s.attach_count + 1);
  if (s.state > 1) RecordError(ERR_IMPROPER_SHUTDOWN, "TWAIN left open. Call TWAIN_Shutdown.");
  LogDetach();
}

void ORIVANE_SetProductInfo(const char* product, const char* version) {
  LogSetHeaderTexts(product ? product : "", version ? version : "");
}
