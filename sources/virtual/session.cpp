#include "sources/virtual/session.h"

#include <algorithm>
#include <cstring>

namespace vscan {
namespace {

// How far past the product name field a careless name may run: the room our
// Source Manager gives behind an identity (see dsm/source_protocol.h).
constexpr std::size_t kNameOverrunRoom = 32;

}  // namespace

SourceState& source_state() {
  // Never destroyed: the Source Manager may still call in during exit.
  static SourceState* state = new SourceState;
  return *state;
}

void source_reload_config(SourceState& state) {
  if (!state.sessions.empty()) return;
  state.config = config_load();
  state.config_loaded = true;
  state.selected.reset();
}

Session* find_session(SourceState& state, const TW_IDENTITY* app) {
  return twsource::session_of(state.sessions, app);
}

Session* find_session_by_id(SourceState& state, TW_UINT32 app_id) {
  for (const auto& session : state.sessions) {
    if (session->app.Id == app_id) return session.get();
  }
  return nullptr;
}

const DeviceConfig& session_device(const SourceState& state, const Session& session) {
  return state.config.devices[session.device];
}

void device_fill_identity(const DeviceConfig& device, TW_IDENTITY& out, NameWrite name_write) {
  out.Version.MajorNum = device.version_major;
  out.Version.MinorNum = device.version_minor;
  twsource::identity_fill(
      out, {device.version_info, device.manufacturer, device.family, device.product});
  if (name_write == NameWrite::AsConfigured && device.name_overrun &&
      device.product.size() >= sizeof out.ProductName) {
    const std::size_t n =
        std::min(device.product.size(), sizeof out.ProductName + kNameOverrunRoom - 1);
    // Deliberately past the field and the structure: this is the fault.
    auto* name = reinterpret_cast<char*>(&out) + offsetof(TW_IDENTITY, ProductName);
    std::memcpy(name, device.product.data(), n);
    name[n] = '\0';
  }
}

}  // namespace vscan
