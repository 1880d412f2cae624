// Preparing an acquisition, enabling the source (with or without its own
// dialog, or for its settings dialog only) and tidying up afterwards.
//
// While the source is enabled the application's window is disabled (unless
// the disable-parent switch is off), so the user deals with the source's
// dialog only; the Source Manager gate re-enables and activates that window
// around MSG_DISABLEDS.
#include "twain/acquisition/acquire.h"

#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <vector>

#include "core/error_record.h"
#include "dib/live_count.h"
#include "engines/ocr_engine.h"
#include "log/trace.h"
#include "orivane/errors.h"
#include "orivane/twain_manager.h"
#include "orivane/twain_session.h"
#include "orivane/twain_settings.h"
#include "orivane/twain_sources.h"
#include "platform/clock.h"
#include "twain/capabilities/deferred.h"
#include "twain/capabilities/switches.h"
#include "twain/session/dsm.h"
#include "twain/session/session.h"

namespace twain {
namespace {

// Longest working directory kept for the restore.
constexpr std::size_t kMaxDirectory = 260;

int state() { return session().state; }

void save_working_directory() {
  Acquisition& a = acquisition();
  std::vector<char> buffer(PATH_MAX + 1);
  a.directory_saved = false;
  if (getcwd(buffer.data(), buffer.size()) == nullptr) return;
  a.saved_directory = buffer.data();
  a.directory_saved = a.saved_directory.size() <= kMaxDirectory;
}

// Drivers may change the working directory; the application gets its own
// back once per acquisition.
void restore_working_directory() {
  Acquisition& a = acquisition();
  if (!a.directory_saved) return;
  a.directory_saved = false;
  if (chdir(a.saved_directory.c_str()) != 0)
    LogPrint("** could not restore the working directory '%s' (errno %d)\n",
             a.saved_directory.c_str(), errno);
}


// The given window must be live and belong to this thread. Records why not.
bool window_usable(platform::WindowHandle window) {
  if (window == 0) return true;
  if (!platform::window_is_valid(window)) {
    RecordError(ERR_BAD_WINDOW, "EnableSource - !IsWindow(HWND)");
    return false;
  }
  if (platform::window_thread(window) != platform::thread_id()) {
    LogPrint("ThreadId(0x%08lx)=%d    CurrentThreadId=%d\n", static_cast<unsigned long>(window),
             platform::window_thread(window), platform::thread_id());
    RecordError(ERR_BAD_WINDOW, "EnableSource - cross-thread HWND");
    return false;
  }
  return true;
}

// Fills the interface record and decides which window is disabled while the
// source is enabled and which keeps its dialog navigation.
void prepare_interface(platform::WindowHandle window, bool ui_only) {
  Acquisition& a = acquisition();
  const Switches& sw = switches();
  a.ui = TW_USERINTERFACE{};
  a.ui.ShowUI = ui_only ? 1 : (sw.hide_ui ? 0 : 1);
  a.ui.ModalUI = ui_only ? (sw.disable_parent ? 1 : 0) : 0;
  const platform::WindowHandle parent = parent_window_check(window);
  a.ui.hParent = reinterpret_cast<TW_HANDLE>(parent);
  a.dialog_window = sw.disable_parent ? 0 : window;
  a.parent_to_disable = 0;
  if (sw.disable_parent) {
    a.parent_to_disable = parent;
    if (parent != 0 && parent == session().proxy_window) {
      a.parent_to_disable = platform::window_active();
      LogPrint("guessing parent is ActiveWindow=0x%08lx\n", static_cast<unsigned long>(a.parent_to_disable));
    }
  }
  session().saved_parent = a.parent_to_disable;
}

// Disables the parent while the source's dialog is up; without disable-parent
// a given parent that was left disabled is enabled again.
void adjust_parent(platform::WindowHandle window, bool may_enable) {
  const Acquisition& a = acquisition();
  const platform::WindowHandle parent = a.parent_to_disable;
  if (parent != 0 && platform::window_is_enabled(parent)) {
    LogPrint("Disabling parent 0x%08lx\n", static_cast<unsigned long>(parent));
    platform::window_enable(parent, false);
  } else if (may_enable && window != 0 &&
             window == reinterpret_cast<platform::WindowHandle>(a.ui.hParent) &&
             !switches().disable_parent && !platform::window_is_enabled(window)) {
    LogPrint("Enabling parent 0x%08lx\n", static_cast<unsigned long>(window));
    platform::window_enable(window, true);
  }
}

// The steps both kinds of enabling share. Answers state >= 5.
int enable(platform::WindowHandle window, bool ui_only) {
  if (!window_usable(window)) return 0;
  if (state() < 4 && !TWAIN_OpenDefaultSource()) return 0;
  if (state() != 4) return state() >= 5 ? 1 : 0;
  acquisition().units_at_enable = TWAIN_GetCurrentUnits();
  prepare_interface(window, ui_only);
  Session& s = session();
  s.close_request_seen = false;
  if (ui_only) s.close_ok_seen = false;
  if (ui_only)
    LogPrint("Thread(twUI.hParent)=%d\n",
             platform::window_thread(reinterpret_cast<platform::WindowHandle>(acquisition().ui.hParent)));
  LogFlush();
  ds_call(DG_CONTROL, DAT_USERINTERFACE, ui_only ? MSG_ENABLEDSUIONLY : MSG_ENABLEDS,
          &acquisition().ui);
  if (state() == 5) {
    if (ui_only) LogPrint("  dialog up...\n");
    adjust_parent(window, !ui_only);
    pump_messages(2);
    // The user closed the source's dialog before anything was scanned.
    if (state() == 4 && s.close_request_seen) s.last_return_code = TWRC_CANCEL;
  }
  return state() >= 5 ? 1 : 0;
}

}  // namespace
}  // namespace twain

using twain::acquisition;
using twain::session;
using twain::switches;

int TWAIN_PreAcquire(uintptr_t window) {
  LogApiCall("PreAcquire <<\n");
  int result = 0;
  {
    LogNest nest;
    core::error_clear();
    // A new page: the text recognised for the last one belongs to it only.
    engines::ocr_page_reset();
    twain::save_working_directory();
    twain::Session& s = session();
    twain::DeferredSettings& d = twain::deferred();
    bool done = false;
    if (switches().hide_ui && s.state == 5) {
      // With the dialog hidden the source may stay enabled between pages; a
      // source that was just enabled is ready, any other is started afresh.
      if (s.previous_state == 4) {
        result = 1;
        done = true;
      } else if (!TWAIN_DisableSource()) {
        done = true;
      }
    }
    if (!done && s.state <= 4) {
      if (!switches().multi_transfer) {
        d.auto_scan = 0;
        d.xfer_count = 1;
        d.auto_feed = 0;
      }
      if (s.state < 4) {
        if (!TWAIN_OpenSourceManager(window)) {
          RecordError(ERR_DSM_INIT, "Preparing to Acquire");
          done = true;
        } else if (!TWAIN_OpenDefaultSource()) {
          done = true;
        }
      }
      if (!done && s.state == 4) twain::NegotiateSettings();
    }
    if (!done) {
      d.feeder_explicitly_selected = false;
      result = s.state >= 4 ? 1 : 0;
    }
  }
  LogPrint("PreAcquire() => %d\n", result);
  return result;
}

namespace {

// The two enabling entries after their call traces: an enabled source is
// left as it is.
int enable_entry(uintptr_t window, bool ui_only) {
  LogNest nest;
  core::error_clear();
  twain::deferred().feeder_explicitly_selected = false;
  if (session().state >= 5) {
    LogPrint("** EnableSource in State %d\n", session().state);
    return 1;
  }
  return twain::enable(window, ui_only);
}

}  // namespace

int TWAIN_EnableSource(uintptr_t window) {
  LogApiCall("EnableSource(0x%08lx)\n", static_cast<unsigned long>(window));
  return enable_entry(window, false);
}

int TWAIN_EnableSourceUiOnly(uintptr_t window) {
  LogApiCall("EnableSourceUiOnly(..)\n");
  return enable_entry(window, true);
}

int TWAIN_DoSettingsDialog(uintptr_t window) {
  LogApiCall("DoSettingsDialog(0x%08lx)...\n", static_cast<unsigned long>(window));
  int result = -1;
  {
    LogNest nest;
    if (TWAIN_EnableSourceUiOnly(window)) {
      twain::wait_for_state_change(-1, -1);
      result = session().close_ok_seen ? 1 : 0;
    }
  }
  LogPrint("DoSettingsDialog() => %d\n", result);
  return result;
}

void TWAIN_PostAcquire(void) {
  const twain::Switches& sw = switches();
  LogApiCall("PostAcquire (MultiTransfer=%d)\n", sw.multi_transfer);
  LogNest nest;
  twain::Session& s = session();
  if (sw.multi_transfer) {
    int mode = 1;
    if (sw.hide_ui && s.state == 6 && core::error_record().code == 0) {
      // A device that ends its job with a close request while pages are still
      // pending would otherwise lose them.
      LogPrint("#Hack[Kyocera] Ignore CLOSEDSREQ\n");
      mode = 0;
    }
    twain::pump_messages(mode);
    if (s.source_product.compare(0, 4, "WIA-") == 0 && s.close_request_seen &&
        core::error_record().code == ERR_CANCELLED) {
      LogPrint("#Hack[WIA] USER CANCEL => normal EOJ\n");
      core::error_clear();
    }
    if (sw.stop_on_empty && s.state == 5 && !sw.hide_ui) {
      LogPrint("Stop On Empty\n");
      TWAIN_DisableSource();
    }
  } else {
    TWAIN_CloseSource();
  }
  twain::restore_working_directory();
  LogPrint("DIBs in use: %ld\n", dib::live_count());
  twain::deferred().feeder_explicitly_selected = false;
}
