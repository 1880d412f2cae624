// The TWAIN session state and the application identity.
#include "twain/session/session.h"

#include <array>
#include <cstring>

#include "core/state_registry.h"
#include "log/trace.h"
#include "twain/session/error_note.h"
#include "twain/session/identity.h"

namespace twain {

namespace {
constexpr std::array<const char*, 8> kStateNames = {
    "State 0?",     "PRESESSION",     "DSM_LOADED",     "DSM_OPEN",
    "SOURCE_OPEN",  "SOURCE_ENABLED", "TRANSFER_READY", "TRANSFERRING"};

// The error record below this layer notes the session's last TWAIN result
// with every TWAIN-related error. The hooks go in as the program starts,
// before any call can record one: every program that keeps a session links
// this file, and no caller has to remember an initialisation step.
[[maybe_unused]] const bool kErrorHooksInstalled =
    (core::error_set_device_hooks(device_error_hooks()), true);
}  // namespace

TW_IDENTITY Session::default_app_identity() {
  TW_IDENTITY id{};
  id.Version.MajorNum = 1;
  id.Version.MinorNum = 0;
  id.Version.Language = TWLG_ENGLISH_USA;
  id.Version.Country = TWCY_USA;
  identity_set_text(id.Version.Info, "Unknown");
  id.ProtocolMajor = 2;
  id.ProtocolMinor = 1;
  id.SupportedGroups = DG_CONTROL | DG_IMAGE;
  identity_set_text(id.Manufacturer, "Unknown");
  identity_set_text(id.ProductFamily, "Unspecified");
  identity_set_text(id.ProductName, "Application using Orivane");
  return id;
}

Session& session() {
  static Session s;
  return s;
}

const char* state_name(int state) {
  if (state < 1 || state >= static_cast<int>(kStateNames.size())) return kStateNames[0];
  return kStateNames[state];
}

void set_state(int state) {
  Session& s = session();
  if (state == s.state) return;
  LogPrint("State: %s -> %s\n", state_name(s.state), state_name(state));
  LogFlush();
  s.previous_state = s.state;
  s.state = state;
}

void session_set_source_identity(const TW_IDENTITY& identity) {
  Session& s = session();
  s.source_identity = identity;
  s.source_product = identity_text(s.source_identity.ProductName);
  s.source_manufacturer = identity_text(s.source_identity.Manufacturer);
  s.source_family = identity_text(s.source_identity.ProductFamily);
  s.source_major = s.source_identity.Version.MajorNum;
  s.source_minor = s.source_identity.Version.MinorNum;
}

void session_clear_source_identity() { session_set_source_identity(TW_IDENTITY{}); }

void session_reset_for_reset_all() {
  session_clear_source_identity();
  Session& s = session();
  s.saved_parent = 0;
  s.source_dialog = 0;
  s.memory_buffer_count = 0;
  s.transfer_ended = false;
  s.close_request_seen = false;
  s.close_ok_seen = false;
  s.extended_caps_override = false;
}

void session_reset_for_tests() {
  Session& s = session();
  if (s.proxy_window) platform::window_destroy(s.proxy_window);
  if (s.dsm_module) platform::module_close(s.dsm_module);
  s = Session{};
}

}  // namespace twain

namespace {

// The TWAIN session: TWAIN_ResetAll forgets the device's part and keeps the application's.
const bool kSessionRegistered = core::register_state({"twain.session", [] { twain::session_reset_for_tests(); }, [] { twain::session_reset_for_reset_all(); },
                                                     core::ResetStage::Resource});

}  // namespace
