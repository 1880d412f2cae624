// How the call gates show the structures that pass through them.
#pragma once
#include <string>

#include "orivane/twain.h"

namespace twain {

// Identity after MSG_OPENDS: several indented lines ending in a line end.
std::string describe_identity(const TW_IDENTITY& id);
// The structure passed with a call, appended to the call's line (" ..."):
// DAT_USERINTERFACE, DAT_EVENT, DAT_SETUPFILEXFER, DAT_IMAGELAYOUT; "" for
// other DATs or no data.
std::string describe_call_data(unsigned dat, const void* data);
// What a successful get returned, as a line of its own ending in a line end:
// DAT_SETUPMEMXFER, DAT_IMAGEINFO, DAT_IMAGELAYOUT, DAT_IMAGEMEMXFER,
// DAT_EXTIMAGEINFO; "" for others.
std::string describe_result_data(unsigned dat, const void* data);

}  // namespace twain
