// The source gate's per-call rules: what a call's result means for the
// state machine and for the gate's own result.
#pragma once
#include <cstdint>

#include "orivane/twain.h"

namespace twain {

// Applies the rules for a call that returned `rc` and answers the gate's
// result (1 success, 0 failure).
int ds_apply_rules(std::uint32_t dg, unsigned dat, unsigned msg, void* data, int rc);

// Whether a native transfer's handle names a memory block made with the
// Source Manager's memory functions (the only kind an image can live in).
bool native_handle_is_block(TW_HANDLE handle);

// Records a device error (ERR_DS_OPERATION) with the detail the last
// condition code chooses: "Paper jam", "Misfeed", "Device off-line", else
// "Device enable".
void record_device_error();

}  // namespace twain
