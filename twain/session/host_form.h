// The sources of our Source Manager show their own dialog in our windows:
// given at load, taken back before unload. Another Source Manager lacks the
// entry point, and its sources show nothing of ours.
#pragma once
#include "platform/module.h"

namespace twain {

void lend_windows_to_sources(platform::ModuleHandle dsm);
void take_windows_back(platform::ModuleHandle dsm);

}  // namespace twain
