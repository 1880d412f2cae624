// The parent window the Source Manager is opened and closed with, and the
// hidden proxy window that stands in when the application gives none.
#include "twain/session/dsm.h"

#include <cerrno>

#include "core/app_identity.h"
#include "core/error_record.h"
#include "log/trace.h"
#include "orivane/errors.h"
#include "twain/session/session.h"

namespace twain {

platform::WindowHandle parent_window_check(platform::WindowHandle window) {
  if (platform::window_is_valid(window)) return window;
  if (window != 0) {
    RecordError(ERR_BAD_WINDOW, nullptr);
    TWAIN_ReportLastError(nullptr);
  }
  Session& s = session();
  if (!platform::window_is_valid(s.proxy_window)) {
    // A disabled window nobody sees: it only owns the Source Manager's dialogs.
    s.proxy_window = platform::window_create(core::app_identity().title);
    if (s.proxy_window) {
      platform::window_enable(s.proxy_window, false);
    } else {
      RecordError(ERR_PROXY_WINDOW, nullptr);
      TWAIN_ReportLastError("Internal error.");
      LogPrint("CreateProxyWindow internal failure. GetLastError()=0x%08x\n",
               static_cast<unsigned>(ENOMEM));
    }
  }
  return s.proxy_window;
}

void proxy_window_destroy() {
  Session& s = session();
  if (!s.proxy_window) return;
  LogPrint("Destroying proxy window\n");
  platform::window_destroy(s.proxy_window);
  s.proxy_window = 0;
}

}  // namespace twain
