// The print dialog of the window back end: the destinations (the default
// selected), copies fixed at one, and a page range when the job knows its
// pages. Keys: arrows choose the destination, Tab reaches the range, Enter
// prints, Escape cancels. The caller holds the display lock.
#pragma once
#include "platform/ui.h"

namespace ui {

// Chosen with the answer filled, Cancelled, or Failed when there is no
// destination to offer or the display went away.
platform::UiDialogEnd run_print_dialog(const platform::UiPrintRequest& request,
                                       platform::UiPrintAnswer* out_answer);

}  // namespace ui
