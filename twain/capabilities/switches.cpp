// The process-wide switches with their validation.
#include "twain/capabilities/switches.h"

#include "core/error_record.h"
#include "core/state_registry.h"
#include "log/trace.h"
#include "orivane/errors.h"
#include "orivane/twain_switches.h"

namespace twain {

Switches& switches() {
  static Switches s;
  return s;
}

void switches_reset() {
  int keep_stop_on_empty = switches().stop_on_empty;
  switches() = Switches{};
  switches().stop_on_empty = keep_stop_on_empty;
}

}  // namespace twain

using twain::switches;

void TWAIN_SetMultiTransfer(int flag) {
  LogApiCall("SetMultiTransfer(%d)\n", flag);
  switches().multi_transfer = flag != 0;
}

void TWAIN_DisableParent(int flag) {
  LogApiCall("DisableParent(%d)\n", flag);
  switches().disable_parent = flag != 0;
}

void TWAIN_SetHideUI(int flag) {
  LogApiCall("SetHideUI(%d)\n", flag);
  switches().hide_ui = flag != 0;
}

void TWAIN_SetStopOnEmpty(int flag) {
  LogApiCall("SetStopOnEmpty(%d)\n", flag);
  switches().stop_on_empty = flag != 0;
}

void TWAIN_SetAutoNegate(int flag) {
  LogApiCall("SetAutoNegate(%d)\n", flag);
  switches().auto_negate = flag != 0;
}

void TWAIN_SetAutoDeskew(int mode) {
  LogApiCall("SetAutoDeskew(%d)\n", mode);
  if (mode != 0 && mode != 1) {
    ReportUrgentError(ERR_BAD_PARAMETER, "TWAIN_SetAutoDeskew");
    return;
  }
  switches().auto_deskew = mode;
}

void TWAIN_SetBlankPageMode(int mode) {
  LogApiCall("SetBlankPageMode(%d)\n", mode);
  if (mode != 0 && mode != 1) {
    RecordError(ERR_BAD_PARAMETER, "BlankPageMode (must be 0 or 1)");
    return;
  }
  switches().blank_page_mode = mode;
}

void TWAIN_SetBlankPageThreshold(double t) {
  LogApiCall("SetBlankPageThreshold(%0.5f)\n", t);
  if (!(t > 0.0 && t < 1.0)) {  // also refuses NaN
    RecordError(ERR_BAD_PARAMETER, "BlankPageThreshold (must be > 0.0 and < 1.0)");
    return;
  }
  switches().blank_page_threshold = t;
}

void TWAIN_SetAutoCrop(int mode) {
  LogApiCall("SetAutoCrop(%d)\n", mode);
  if (mode < 0 || mode > 3) {
    RecordError(ERR_BAD_PARAMETER, "AutoCrop mode must be 0..3");
    return;
  }
  switches().auto_crop = mode;
}

void TWAIN_SetAutoCropOptions(int options) {
  LogApiCall("SetAutoCropOptions(%d)\n", options);
  if (options == -1) options = 1;
  if (options < 0 || options > 15) {
    RecordErrorF(ERR_BAD_PARAMETER, "AutoCropOptions(%d)", options);
    return;
  }
  switches().auto_crop_options = options;
}

void TWAIN_SetAutoContrast(int mode) {
  LogApiCall("SetAutoContrast(%d)\n", mode);
  if (mode != 0 && mode != 1) {
    RecordError(ERR_BAD_PARAMETER, "AutoContrast mode must be 0 or 1");
    return;
  }
  switches().auto_contrast = mode;
}

int TWAIN_SetWaitDialogDelay(int seconds) {
  int previous = switches().wait_dialog_delay;
  switches().wait_dialog_delay = seconds;
  return previous;
}

int TWAIN_GetMultiTransfer(void) { return switches().multi_transfer; }
int TWAIN_GetDisableParent(void) { return switches().disable_parent; }
int TWAIN_GetHideUI(void) { return switches().hide_ui; }
int TWAIN_GetStopOnEmpty(void) { return switches().stop_on_empty; }
int TWAIN_GetAutoNegate(void) { return switches().auto_negate; }
int TWAIN_GetAutoDeskew(void) { return switches().auto_deskew; }
int TWAIN_GetBlankPageMode(void) { return switches().blank_page_mode; }
double TWAIN_GetBlankPageThreshold(void) { return switches().blank_page_threshold; }
int TWAIN_GetAutoCrop(void) { return switches().auto_crop; }
int TWAIN_GetAutoCropOptions(void) { return switches().auto_crop_options; }
int TWAIN_GetAutoContrast(void) { return switches().auto_contrast; }
int TWAIN_GetWaitDialogDelay(void) { return switches().wait_dialog_delay; }

namespace {

// The library's acquisition switches.
const bool kSwitchesRegistered = core::register_state({"twain.switches", [] { twain::switches() = twain::Switches{}; }, [] { twain::switches_reset(); }});

}  // namespace
