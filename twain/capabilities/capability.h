// Capability calls shared inside the library (the device settings use them).
#pragma once

#include "orivane/twain_container.h"

namespace twain {

// MSG_GET, MSG_GETCURRENT, MSG_GETDEFAULT or MSG_QUERYSUPPORT of `cap`
// without the public trace line: the source's container (the caller frees
// it) or null. Below state 4 records ERR_NO_DEVICE_OPEN ("MSG_GET", ...) and
// shows it.
CONTAINER cap_get(unsigned cap, unsigned msg);

// Sets `cap` to a one value of `item_type` (TWTY_INT8 ... TWTY_FIX32)
// holding `value`, under the state rule. 1 if the source took it; when the
// container cannot be made, ERR_MEMORY is recorded.
int cap_set_one(unsigned cap, int item_type, double value);

// Reads the current value of `cap` (MSG_GETCURRENT, one value asked for)
// into `out` as `item_type` (item_size(item_type) bytes). The source's item
// type must equal `item_type` or be an integer type of the same size. True
// only if a value was copied; below state 4 records ERR_NO_DEVICE_OPEN.
bool get_cap_current(unsigned cap, int item_type, void* out);

// The state rule for setting `cap`: state 4, or states 5-7 after
// CAP_EXTENDEDCAPS was set. Records ERR_NO_DEVICE_OPEN / ERR_STATE4_ONLY and
// returns false otherwise.
bool set_allowed(unsigned cap);

// The item type the source uses for `cap` (from MSG_GET), or -1.
int capability_item_type(unsigned cap);

}  // namespace twain
