// The library's side of the Source Manager: loading it, the parent window
// every open and close needs, the two call gates, and what follows a
// successful open (memory functions, the notification callback). Internal
// callers use these; the public TWAIN_ operations wrap them.
#pragma once
#include <cstdint>

#include "orivane/twain.h"
#include "platform/window.h"

namespace twain {

// Environment variable naming the Source Manager file, or the folder that
// holds it, to load instead of the one beside the library. For tests and
// for installations that keep the Source Manager elsewhere.
constexpr const char* kDsmPathVariable = "QUILLET_DSM_PATH";

// Loads the Source Manager and finds DSM_Entry; enters state 2. True when it
// is loaded (also when it already was). A missing module records
// ERR_DSM_LOAD; a module without DSM_Entry is unloaded and records nothing.
bool load_dsm();
// Releases the module, clears the entry point and the memory functions.
void unload_dsm_module();

// The window to give the Source Manager: `window` if it is a live window,
// else the proxy window (made on demand). A non-null dead handle is
// reported first.
platform::WindowHandle parent_window_check(platform::WindowHandle window);
void proxy_window_destroy();

// The gates without their public trace prefix. Return 1 for success.
int mgr_call(std::uint32_t dg, unsigned dat, unsigned msg, void* data);
int ds_call(std::uint32_t dg, unsigned dat, unsigned msg, void* data);
// The condition code of the last failure: 0 below state 3; else asked of
// the Source Manager (state 3) or of the open source (state 4 and above).
int fetch_condition_code();

// After MSG_OPENDSM: asks for the Source Manager's memory functions.
void fetch_memory_functions();
// After MSG_OPENDS: registers the procedure the Source Manager calls with
// the source's notifications.
void register_notification_callback();
// Drops the notifications still queued for this thread (the source that
// sent them is being closed); other messages keep their order.
void drain_notifications();

}  // namespace twain
