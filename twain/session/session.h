// The TWAIN session: the one set of process-wide session state (the state
// machine, the loaded Source Manager, the application's TWAIN identity, the
// open source's identity, the gates' bookkeeping).
#pragma once
#include <cstdint>
#include <string>

#include "orivane/twain.h"
#include "platform/module.h"
#include "platform/window.h"

namespace twain {

struct Session {
  int state = 1;            // 1..7
  int previous_state = 1;   // the state before the last change

  // The Source Manager module.
  platform::ModuleHandle dsm_module = nullptr;
  DSMENTRYPROC dsm_entry = nullptr;   // null while not loaded
  std::string dsm_path;               // full path, at most 260 characters
  int tried_to_load = 0;              // 0 never, 1 loaded once, -1 failed once
  int nesting = 0;                    // Source Manager calls in progress
  bool no_guard = false;              // a debugger is attached: call unguarded
  // The Source Manager's memory functions (DAT_ENTRYPOINT); all null until
  // it has answered, and again once it is unloaded.
  TW_ENTRYPOINT dsm_memory{};
  // The Source Manager's blocks are this program's movable blocks (it binds
  // to the program's block functions), so their sizes can be read here.
  bool dsm_memory_shared = false;

  // Last TWAIN result kept by the call gates.
  int last_return_code = 0;
  int last_condition_code = 0;

  // What the application presents to the Source Manager; its title, which
  // the whole library shows, is core::app_identity().
  TW_IDENTITY app_identity = default_app_identity();

  // The open source's identity, copied from the MSG_OPENDS result. The texts
  // below mirror its fields for the parts that only read names.
  TW_IDENTITY source_identity{};
  std::string source_product;
  std::string source_manufacturer;
  std::string source_family;
  unsigned source_major = 0, source_minor = 0;

  platform::WindowHandle proxy_window = 0;   // stand-in parent, made on demand
  platform::WindowHandle saved_parent = 0;   // disabled while the source is enabled
  platform::WindowHandle source_dialog = 0;  // the source's own dialog window
  int attach_count = 0;

  // Per-acquisition bookkeeping read by the transfer code.
  int memory_buffer_count = 0;
  bool transfer_ended = false;
  bool close_request_seen = false;
  bool close_ok_seen = false;
  // CAP_EXTENDEDCAPS was set in this session: capabilities may be set after
  // state 4 as well.
  bool extended_caps_override = false;
  // Thread whose queue receives the source's notifications.
  int notify_thread = 0;

  static TW_IDENTITY default_app_identity();
};

Session& session();
// Name of a state for traces and the front end: 1 "PRESESSION" ... 7
// "TRANSFERRING"; anything else "State 0?".
const char* state_name(int state);
// Enters a state, tracing "State: %s -> %s" and writing the log out when it
// changes; setting the current state again changes nothing.
void set_state(int state);

// Takes the open source's identity (156 bytes) and refreshes the name texts.
void session_set_source_identity(const TW_IDENTITY& identity);
// Zeroes the open source's identity and its texts.
void session_clear_source_identity();

// Test support: unloads a loaded Source Manager (without calling it) and
// returns every member to its start value.
void session_reset_for_tests();
// TWAIN_ResetAll's part: the device's identity and the transfer's flags go;
// the application's identity, the Source Manager and the proxy window stay.
void session_reset_for_reset_all();

}  // namespace twain
