// The bridge's exported functions: DS_Entry, and the device listing our
// Source Manager asks for (dsm/source_protocol.h): one TWAIN device per SANE
// device. DS_Entry sorts each triplet to its handler, keeps the condition
// code for DAT_STATUS, and keeps anything thrown from crossing back into the
// caller.
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <new>

#include "dsm/source_protocol.h"
#include "sources/common/device_form.h"
#include "sources/sane/session.h"

#define SANE_BRIDGE_EXPORT extern "C" __attribute__((visibility("default")))

namespace sanebridge {

SourceState& source_state() {
  static SourceState state;
  return state;
}

void source_list_devices(SourceState& state) {
  if (!state.sessions.empty() && state.listed) return;
  state.devices = sane_list_devices();
  state.listed = true;
}

namespace {

// "Vendor Model", unless the model already names its vendor.
std::string product_of(const DeviceInfo& d) {
  if (d.vendor.empty() || d.model.rfind(d.vendor, 0) == 0) return d.model;
  return d.vendor + " " + d.model;
}

}  // namespace

void device_fill_identity(const SourceState& state, std::size_t index, TW_IDENTITY& out) {
  const DeviceInfo& d = state.devices[index];
  constexpr std::size_t kField = sizeof out.ProductName - 1;
  std::string product = product_of(d).substr(0, kField);
  // Two devices of the same model (two scanners, or a backend's two ports)
  // must stay apart by name: later ones are numbered.
  int same = 1;
  for (std::size_t i = 0; i < index; ++i) {
    if (product_of(state.devices[i]).substr(0, kField) == product) ++same;
  }
  if (same > 1) {
    const std::string suffix = " #" + std::to_string(same);
    product = product.substr(0, kField - suffix.size()) + suffix;
  }
  out.Version.MajorNum = SANE_CURRENT_MAJOR;
  out.Version.MinorNum = 0;
  twsource::identity_fill(out, {d.name, d.vendor, d.type, product});
}

namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

struct Call {
  pTW_IDENTITY origin;
  TW_UINT32 dg;
  TW_UINT16 dat;
  TW_UINT16 msg;
  TW_MEMREF data;
};

Session* find_session(SourceState& state, const TW_IDENTITY* app) {
  return twsource::session_of(state.sessions, app);
}

// The device a MSG_OPENDS is for: the one selected, else the one whose
// product name the identity carries, else the first.
std::optional<std::size_t> device_to_open(SourceState& state, const TW_IDENTITY& wanted) {
  if (state.selected && *state.selected < state.devices.size()) return state.selected;
  for (std::size_t i = 0; i < state.devices.size(); ++i) {
    TW_IDENTITY presented{};
    device_fill_identity(state, i, presented);
    if (wanted.ProductName[0] == '\0' || twsource::product_name_is(presented, wanted)) return i;
  }
  return std::nullopt;
}

Reply open_device(SourceState& state, const Call& call) {
  auto* identity = static_cast<TW_IDENTITY*>(call.data);
  if (identity == nullptr) return refuse(TWCC_BADVALUE);
  if (find_session(state, call.origin) != nullptr) return refuse(TWCC_MAXCONNECTIONS);
  if (state.dsm.Size == 0) return refuse(TWCC_BUMMER);
  if (!state.listed) source_list_devices(state);
  const auto index = device_to_open(state, *identity);
  state.selected.reset();
  if (!index) return refuse(TWCC_NODS);
  const std::string& name = state.devices[*index].name;
  for (const auto& s : state.sessions) {
    if (s->sane_name == name) return refuse(TWCC_MAXCONNECTIONS);
  }
  SANE_Status status = SANE_STATUS_GOOD;
  auto device = SaneDevice::open(name, status);
  if (!device) return refuse(status == SANE_STATUS_DEVICE_BUSY ? TWCC_MAXCONNECTIONS : TWCC_NODS);
  auto session = std::make_unique<Session>();
  session->app = *call.origin;
  session->sane_name = name;
  session->model = model_read(device->handle());
  session->device = std::move(device);
  session->settings = session->defaults = settings_default(session->model);
  device_fill_identity(state, *index, session->identity);
  session->identity.Id = identity->Id;
  device_fill_identity(state, *index, *identity);
  state.sessions.push_back(std::move(session));
  return kDone;
}

Reply close_device(SourceState& state, const Call& call) {
  Session* ss = find_session(state, call.origin);
  if (ss == nullptr || ss->state != DsState::Open) return refuse(TWCC_SEQERROR);
  // The SANE device is closed with its session (sane_close).
  twsource::session_remove(state.sessions, ss);
  return kDone;
}

Reply identity_call(SourceState& state, Session* ss, const Call& call) {
  auto* identity = static_cast<TW_IDENTITY*>(call.data);
  switch (call.msg) {
    case MSG_GET:
      if (identity == nullptr) return refuse(TWCC_BADVALUE);
      if (ss != nullptr) {
        *identity = ss->identity;
        return kDone;
      }
      if (!state.listed) source_list_devices(state);
      if (state.devices.empty()) return refuse(TWCC_NODS);
      device_fill_identity(state, state.selected.value_or(0) < state.devices.size()
                                      ? state.selected.value_or(0) : 0,
                           *identity);
      return kDone;
    case MSG_OPENDS: return open_device(state, call);
    case MSG_CLOSEDS: return close_device(state, call);
    default: return refuse(TWCC_BADPROTOCOL);
  }
}

Reply status_call(SourceState& state, Session* ss, const Call& call) {
  return twsource::status_get(call.msg, call.data, twsource::condition_of(state, ss));
}

Reply open_call(SourceState& state, Session* ss, const Call& call) {
  if (call.dg == DG_CONTROL && call.dat == DAT_CAPABILITY) {
    auto* cap = static_cast<TW_CAPABILITY*>(call.data);
    if (cap == nullptr) return refuse(TWCC_BADVALUE);
    return capability_call(*ss, DsmMemory(state.dsm), call.msg, *cap);
  }
  if (call.dg == DG_IMAGE && call.dat == DAT_IMAGELAYOUT) {
    auto* layout = static_cast<TW_IMAGELAYOUT*>(call.data);
    if (layout == nullptr) return refuse(TWCC_BADVALUE);
    return layout_call(*ss, call.msg, *layout);
  }
  using Handler = Reply (*)(SourceState&, Session&, TW_UINT16, TW_MEMREF);
  struct Route {
    TW_UINT32 dg;
    TW_UINT16 dat;
    Handler handler;
  };
  static constexpr Route kRoutes[] = {
      {DG_CONTROL, DAT_USERINTERFACE, user_interface_call},
      {DG_CONTROL, DAT_PENDINGXFERS, pending_xfers_call},
      {DG_CONTROL, DAT_SETUPMEMXFER, setup_mem_xfer_call},
      {DG_IMAGE, DAT_IMAGEINFO, image_info_call},
      {DG_IMAGE, DAT_IMAGENATIVEXFER, native_xfer_call},
      {DG_IMAGE, DAT_IMAGEMEMXFER, mem_xfer_call},
  };
  for (const Route& r : kRoutes) {
    if (r.dg == call.dg && r.dat == call.dat) return r.handler(state, *ss, call.msg, call.data);
  }
  return refuse(TWCC_BADPROTOCOL);
}

TW_UINT16 entry(const Call& call) {
  SourceState& state = source_state();
  Lock lock(state.mutex);
  if (call.origin == nullptr) return TWRC_FAILURE;
  Session* ss = find_session(state, call.origin);
  Reply reply = refuse(TWCC_BADPROTOCOL);
  if (call.dg == DG_CONTROL && call.dat == DAT_IDENTITY) {
    reply = identity_call(state, ss, call);
  } else if (call.dg == DG_CONTROL && call.dat == DAT_ENTRYPOINT) {
    reply = twsource::entry_points_set(call.msg, call.data, state.dsm);
  } else if (call.dg == DG_CONTROL && call.dat == DAT_STATUS) {
    return status_call(state, ss, call).rc;
  } else if (ss == nullptr) {
    reply = refuse(TWCC_SEQERROR);
  } else {
    reply = open_call(state, ss, call);
  }
  Session* after = find_session(state, call.origin);
  twsource::condition_of(state, after) = reply.cc;
  return reply.rc;
}

// At unload, open devices are closed before libsane ends.
struct CloseAtUnload {
  ~CloseAtUnload() {
    try {
      SourceState& state = source_state();
      Lock lock(state.mutex);
      state.sessions.clear();
    } catch (...) {
    }
  }
} close_at_unload;

}  // namespace
}  // namespace sanebridge

SANE_BRIDGE_EXPORT TW_UINT16 DS_Entry(pTW_IDENTITY origin, TW_UINT32 dg, TW_UINT16 dat,
                                      TW_UINT16 msg, TW_MEMREF data) {
  const sanebridge::Call call{origin, dg, dat, msg, data};
  return twsource::entry_guarded([&] { return sanebridge::entry(call); },
                                 [&](TW_UINT16 cc) {
                                   sanebridge::SourceState& state = sanebridge::source_state();
                                   std::lock_guard<std::recursive_mutex> lock(state.mutex);
                                   sanebridge::Session* ss = sanebridge::find_session(state, origin);
                                   twsource::condition_of(state, ss) = cc;
                                 });
}

// Listing SANE devices starts every backend of the machine's SANE
// configuration, and they probe their buses and the network: seconds, which
// a run that scans from the default source must not pay. The Source Manager
// asks for them only when someone needs them (DS_PROTOCOL_LIST_ON_DEMAND).
// QUILLET_SANE=0 turns the bridge off (no device, libsane never started);
// QUILLET_SANE=1 has the devices listed with every other source's.
enum class SaneListing { Off, OnDemand, Always };

static SaneListing sane_listing() {
  const char* v = std::getenv("QUILLET_SANE");
  if (v == nullptr || *v == '\0') return SaneListing::OnDemand;
  if (std::strcmp(v, "0") == 0 || std::strcmp(v, "no") == 0) return SaneListing::Off;
  if (std::strcmp(v, "1") == 0 || std::strcmp(v, "yes") == 0) return SaneListing::Always;
  return SaneListing::OnDemand;
}

SANE_BRIDGE_EXPORT TW_UINT32 DS_DeviceCount(void) {
  if (sane_listing() == SaneListing::Off) return 0;
  try {
    sanebridge::SourceState& state = sanebridge::source_state();
    std::lock_guard<std::recursive_mutex> lock(state.mutex);
    sanebridge::source_list_devices(state);
    return static_cast<TW_UINT32>(state.devices.size());
  } catch (...) {
    return 0;
  }
}

SANE_BRIDGE_EXPORT TW_UINT16 DS_DeviceIdentity(TW_UINT32 index, pTW_IDENTITY out_identity) {
  try {
    sanebridge::SourceState& state = sanebridge::source_state();
    std::lock_guard<std::recursive_mutex> lock(state.mutex);
    if (out_identity == nullptr || index >= state.devices.size()) return TWRC_FAILURE;
    sanebridge::device_fill_identity(state, index, *out_identity);
    return TWRC_SUCCESS;
  } catch (...) {
    return TWRC_FAILURE;
  }
}

SANE_BRIDGE_EXPORT TW_UINT16 DS_SelectDevice(TW_UINT32 index) {
  sanebridge::SourceState& state = sanebridge::source_state();
  return twsource::device_select(state, state.devices.size(), index);
}

// Real devices are offered, not imposed: the virtual scanner stays the
// default source until the user chooses another (/SS).
SANE_BRIDGE_EXPORT void DS_SetHostForm(DS_HOSTFORMPROC form) { twsource::form_set_host(form); }

SANE_BRIDGE_EXPORT TW_UINT32 DS_ProtocolFlags(void) {
  return sane_listing() == SaneListing::OnDemand
             ? DS_PROTOCOL_NOT_DEFAULT | DS_PROTOCOL_LIST_ON_DEMAND
             : DS_PROTOCOL_NOT_DEFAULT;
}
