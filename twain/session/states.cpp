// Opening the Source Manager and walking the states back down, one step at a
// time: end the transfer, drop the pending ones, disable, close the source,
// close and unload the Source Manager.
#include "orivane/twain_manager.h"

#include <cstring>

#include "core/error_record.h"
#include "log/trace.h"
#include "orivane/errors.h"
#include "orivane/twain.h"
#include "orivane/twain_session.h"
#include "twain/capabilities/switches.h"
#include "twain/session/dsm.h"
#include "twain/session/session.h"

using twain::session;

namespace {

int state() { return session().state; }

// One device ends its job without being told when its dialog is hidden.
void end_of_job_quirk() {
  if (state() != 5 || !twain::switches().hide_ui) return;
  if (session().source_product.find("Canon DR-20") == std::string::npos) return;
  LogPrint("#Hack[Canon DR-20xx] end of job, no UI, force Disable.\n");
  TWAIN_DisableSource();
}

}  // namespace

int TWAIN_State(void) { return state(); }

int TWAIN_OpenSourceManager(uintptr_t window) {
  LogApiCall("OpenSourceManager(0x%08lx)\n", static_cast<unsigned long>(window));
  LogNest nest;
  if (state() < 3 && twain::load_dsm()) {
    platform::WindowHandle parent = twain::parent_window_check(window);
    twain::mgr_call(DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &parent);
  }
  return state() > 2 ? 1 : 0;
}

int TWAIN_EndXfer(void) {
  LogApiCall("EndXfer()\n");
  LogNest nest;
  session().transfer_ended = true;
  if (state() == 7) {
    TW_PENDINGXFERS pending{};
    twain::ds_call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending);
  }
  end_of_job_quirk();
  return state() < 7 ? 1 : 0;
}

int TWAIN_AbortAllPendingXfers(void) {
  LogApiCall("AbortAllPendingXfers()\n");
  LogNest nest;
  if (state() == 7) TWAIN_EndXfer();
  if (state() == 6) {
    TW_PENDINGXFERS pending{};
    twain::ds_call(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending);
  }
  return state() < 6 ? 1 : 0;
}

int TWAIN_DisableSource(void) {
  LogApiCall("DisableSource\n");
  LogNest nest;
  if (state() >= 6) TWAIN_AbortAllPendingXfers();
  if (state() >= 5) {
    TW_USERINTERFACE ui{};
    ui.hParent = reinterpret_cast<TW_HANDLE>(session().saved_parent);
    if (!twain::ds_call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui))
      RecordErrorF(ERR_DS_OPERATION, "Disable(%s)", session().source_product.c_str());
  }
  session().source_dialog = 0;
  return state() < 5 ? 1 : 0;
}

int TWAIN_CloseSource(void) {
  LogApiCall("CloseSource()\n");
  LogNest nest;
  session().last_return_code = TWRC_SUCCESS;
  if (state() >= 5) TWAIN_DisableSource();
  if (state() == 4) twain::mgr_call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &session().source_identity);
  session().extended_caps_override = false;
  return state() < 4 ? 1 : 0;
}

int TWAIN_CloseDSM(uintptr_t window) {
  LogApiCall("CloseDSM\n");
  LogNest nest;
  session().last_return_code = TWRC_SUCCESS;
  if (state() > 2) {
    twain::drain_notifications();
    TWAIN_CloseSource();
    if (state() == 3) {
      platform::WindowHandle parent = twain::parent_window_check(window);
      twain::mgr_call(DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &parent);
    }
  }
  return state() < 3 ? 1 : 0;
}

int TWAIN_DropToState(int target) {
  LogPrint(" DropToState(%d)\n", target);
  if (target < state()) {
    LogNest nest;
    switch (target) {
      case 1: TWAIN_UnloadSourceManager(); break;
      case 2: TWAIN_CloseDSM(0); break;
      case 3: TWAIN_CloseSource(); break;
      case 4: TWAIN_DisableSource(); break;
      case 5: TWAIN_AbortAllPendingXfers(); break;
      case 6: TWAIN_EndXfer(); break;
      default: break;
    }
  }
  return state() <= target ? 1 : 0;
}

int TWAIN_IsDone(void) {
  const bool done = state() < 5 || (state() < 6 && twain::switches().hide_ui);
  LogApiCall("IsDone => %s\n", done ? "True" : "False");
  return done ? 1 : 0;
}
