// The device's own dialogs (ShowUI): the scan dialog and the settings
// dialog, shown in the application's windows when it lends them, with the
// settings a person changes most (pixel type, resolution, paper source,
// sides). Without windows the device does what the person at it would.
#pragma once
#include "dsm/source_protocol.h"
#include "sources/common/device_form.h"
#include "sources/virtual/session.h"

namespace vscan {

// Accepted (Scan or OK pressed: the choices are now the settings),
// Cancelled, or NoOneToAsk (no window could be shown).
using DialogAnswer = twsource::FormAnswer;

// Shows the scan dialog (`settings_only` false) or the settings dialog.
// Caller holds the lock.
DialogAnswer device_dialog(SourceState& state, Session& session, bool settings_only);

// The application's form function, from DS_SetHostForm (null: none).
void dialog_set_host_form(DS_HOSTFORMPROC form);

}  // namespace vscan
