// Driver faults on request: a config can make a device crash inside a chosen
// call ("fault = opends"), the way a broken driver takes its host down, so
// that the application's guard around the call is tested for real.
#pragma once
#include "orivane/twain.h"
#include "sources/virtual/config.h"

namespace vscan {

// Which call a triplet is, in the config's terms.
DsCall classify_call(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg);

// Crashes the process with `signal`. SIGSEGV is a real invalid write (to a
// page mapped without access), so that it arrives as a hardware fault does:
// a handler must leave by a jump, as a guard around a driver call does (one
// that returns meets the same fault again). The other signals are raised;
// the call returns if a handler for them returns.
void fault_crash(int signal);

}  // namespace vscan
