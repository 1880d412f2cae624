// The fault guard of the TWAIN gates is the platform's (platform/crash_guard.h),
// shared with the file writers and loaders.
#pragma once
#include "platform/crash_guard.h"

namespace twain {

using platform::debugger_attached;
using platform::run_guarded;

}  // namespace twain
