// What the TWAIN layer adds to the library's error record: the device's last
// answer kept with TWAIN-related errors, the note that tells it, and the
// account of a failed transfer.
#pragma once
#include <string>

#include "core/error_record.h"

// Records why a transfer call to the source failed, from the last TWAIN result.
// The plain device error the gate recorded for that failed call gives way to
// the classified one; any older error stays (first error wins).
void ReportTransferFailure();

namespace twain {

// The note appended to a TWAIN-related error: " (Not a valid value)",
// " (TWCC_SEQERROR)", "" for an operation error the device already showed.
std::string device_error_note(const core::DeviceResult& result);

// The hooks that hand the session's last result and the note to the error
// record; installed as the library starts.
core::DeviceErrorHooks device_error_hooks();

}  // namespace twain
