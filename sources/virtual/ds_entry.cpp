// The data source's exported functions: DS_Entry, and the device listing our
// Source Manager asks for (dsm/source_protocol.h). DS_Entry sorts each
// triplet to its handler, keeps the condition code for DAT_STATUS, crashes on
// the calls a device's config names, and keeps anything thrown from crossing
// back into the caller.
#include <chrono>
#include <cstring>
#include <new>
#include <thread>

#include "dsm/source_protocol.h"
#include "sources/virtual/config.h"
#include "sources/virtual/device_data.h"
#include "sources/virtual/dialog.h"
#include "sources/virtual/fault.h"
#include "sources/virtual/layout.h"
#include "sources/virtual/negotiation.h"
#include "sources/virtual/session.h"
#include "sources/virtual/transfer.h"

#define VSCAN_EXPORT extern "C" __attribute__((visibility("default")))

namespace vscan {
namespace {

using Lock = std::unique_lock<std::recursive_mutex>;

struct Call {
  pTW_IDENTITY origin;
  TW_UINT32 dg;
  TW_UINT16 dat;
  TW_UINT16 msg;
  TW_MEMREF data;
};

bool have_entry_points(const SourceState& state) { return state.dsm.Size != 0; }

// The device a MSG_OPENDS is for: the one the Source Manager selected, else
// the one whose product name the identity carries, else the first.
std::optional<std::size_t> device_to_open(const SourceState& state, const TW_IDENTITY* wanted) {
  const auto& devices = state.config.devices;
  if (state.selected && *state.selected < devices.size()) return state.selected;
  if (wanted != nullptr && wanted->ProductName[0] != '\0') {
    for (std::size_t i = 0; i < devices.size(); ++i) {
      TW_IDENTITY presented{};
      device_fill_identity(devices[i], presented, NameWrite::InField);
      if (twsource::product_name_is(presented, *wanted)) return i;
    }
    return std::nullopt;
  }
  if (devices.empty()) return std::nullopt;
  return 0;
}

bool device_in_use(const SourceState& state, std::size_t device) {
  for (const auto& session : state.sessions) {
    if (session->device == device) return true;
  }
  return false;
}

Reply open_device(SourceState& state, const Call& call) {
  auto* identity = static_cast<TW_IDENTITY*>(call.data);
  if (identity == nullptr) return refuse(TWCC_BADVALUE);
  // One device per application, each device for one application at a time.
  if (find_session(state, call.origin) != nullptr) return refuse(TWCC_MAXCONNECTIONS);
  // Containers must be made with the Source Manager's memory functions.
  if (!have_entry_points(state)) return refuse(TWCC_BUMMER);
  const auto index = device_to_open(state, identity);
  if (!index) return refuse(TWCC_NODS);
  if (device_in_use(state, *index)) return refuse(TWCC_MAXCONNECTIONS);
  const DeviceConfig& device = state.config.devices[*index];
  // The warm-up of a real device: the caller waits, as it would for one.
  if (device.open_delay_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(device.open_delay_ms));

  auto session = std::make_unique<Session>();
  session->app = *call.origin;
  session->device = *index;
  session->identity.Id = identity->Id;
  device_fill_identity(device, session->identity, NameWrite::InField);
  session->settings = session->defaults = settings_default(device);
  session->flatbed_pages = device.flatbed ? device.flatbed_pages : 0;
  session->feeder_sheets = device.feeder ? device.feeder_sheets : 0;
  device_fill_identity(device, *identity, NameWrite::AsConfigured);
  state.sessions.push_back(std::move(session));
  state.selected.reset();
  return kDone;
}

Reply close_device(SourceState& state, const Call& call) {
  Session* session = find_session(state, call.origin);
  if (session == nullptr || session->state != DsState::Open) return refuse(TWCC_SEQERROR);
  if (session->notifier) state.retired.push_back(std::move(session->notifier));
  twsource::session_remove(state.sessions, session);
  return kDone;
}

Reply identity_call(SourceState& state, Session* session, const Call& call) {
  switch (call.msg) {
    case MSG_GET: {
      auto* identity = static_cast<TW_IDENTITY*>(call.data);
      if (identity == nullptr) return refuse(TWCC_BADVALUE);
      if (session != nullptr) {
        *identity = session->identity;
        return kDone;
      }
      const auto index = device_to_open(state, nullptr);
      if (!index) return refuse(TWCC_NODS);
      device_fill_identity(state.config.devices[*index], *identity, NameWrite::AsConfigured);
      return kDone;
    }
    case MSG_OPENDS:
      return open_device(state, call);
    case MSG_CLOSEDS:
      return close_device(state, call);
    default:
      return refuse(TWCC_BADPROTOCOL);
  }
}

Reply entry_point_call(SourceState& state, Session*, const Call& call) {
  return twsource::entry_points_set(call.msg, call.data, state.dsm);
}

Reply status_call(SourceState& state, Session* session, const Call& call) {
  return twsource::status_get(call.msg, call.data, twsource::condition_of(state, session));
}

Reply capability_handler(SourceState& state, Session* session, const Call& call) {
  auto* capability = static_cast<TW_CAPABILITY*>(call.data);
  if (capability == nullptr) return refuse(TWCC_BADVALUE);
  const DsmMemory memory(state.dsm);
  return capability_call(*session, session_device(state, *session), memory, call.msg, *capability);
}

// Answers the application's event pump: the notifications this source sent,
// oldest first.
Reply event_call(SourceState&, Session* session, const Call& call) {
  auto* event = static_cast<TW_EVENT*>(call.data);
  if (call.msg != MSG_PROCESSEVENT) return refuse(TWCC_BADPROTOCOL);
  if (event == nullptr) return refuse(TWCC_BADVALUE);
  if (session->notifications.empty()) {
    event->TWMessage = MSG_NULL;
    return Reply{TWRC_NOTDSEVENT, TWCC_SUCCESS};
  }
  event->TWMessage = session->notifications.front();
  session->notifications.pop_front();
  return Reply{TWRC_DSEVENT, TWCC_SUCCESS};
}

Reply layout_handler(SourceState& state, Session* session, const Call& call) {
  auto* layout = static_cast<TW_IMAGELAYOUT*>(call.data);
  if (layout == nullptr) return refuse(TWCC_BADVALUE);
  return image_layout_call(*session, session_device(state, *session), call.msg, *layout);
}

using Handler = Reply (*)(SourceState&, Session*, const Call&);
using SessionHandler = Reply (*)(SourceState&, Session&, TW_UINT16, TW_MEMREF);

// The handlers of enabling and transfers, which always have a session.
template <SessionHandler Fn>
Reply with_session(SourceState& state, Session* session, const Call& call) {
  return Fn(state, *session, call.msg, call.data);
}

struct Triplet {
  TW_UINT32 dg;
  TW_UINT16 dat;
  bool needs_session;
  Handler handler;
};

constexpr Triplet kTriplets[] = {
    {DG_CONTROL, DAT_IDENTITY, false, identity_call},
    {DG_CONTROL, DAT_ENTRYPOINT, false, entry_point_call},
    {DG_CONTROL, DAT_STATUS, false, status_call},
    {DG_CONTROL, DAT_CAPABILITY, true, capability_handler},
    {DG_CONTROL, DAT_EVENT, true, event_call},
    {DG_CONTROL, DAT_USERINTERFACE, true, with_session<user_interface_call>},
    {DG_CONTROL, DAT_PENDINGXFERS, true, with_session<pending_xfers_call>},
    {DG_CONTROL, DAT_SETUPMEMXFER, true, with_session<setup_mem_xfer_call>},
    {DG_CONTROL, DAT_SETUPFILEXFER, true, with_session<setup_file_xfer_call>},
    {DG_CONTROL, DAT_XFERGROUP, true, with_session<xfer_group_call>},
    {DG_CONTROL, DAT_DEVICEEVENT, true, with_session<device_event_call>},
    {DG_CONTROL, DAT_CUSTOMDSDATA, true, with_session<custom_data_call>},
    {DG_IMAGE, DAT_IMAGELAYOUT, true, layout_handler},
    {DG_IMAGE, DAT_IMAGEINFO, true, with_session<image_info_call>},
    {DG_IMAGE, DAT_IMAGENATIVEXFER, true, with_session<native_xfer_call>},
    {DG_IMAGE, DAT_IMAGEMEMXFER, true, with_session<mem_xfer_call>},
    {DG_IMAGE, DAT_IMAGEFILEXFER, true, with_session<file_xfer_call>},
    {DG_IMAGE, DAT_PALETTE8, true, with_session<palette_call>},
    {DG_IMAGE, DAT_EXTIMAGEINFO, true, with_session<ext_image_info_call>},
    {DG_IMAGE, DAT_GRAYRESPONSE, true, with_session<gray_response_call>},
    {DG_IMAGE, DAT_RGBRESPONSE, true, with_session<rgb_response_call>},
};

const Triplet* find_triplet(TW_UINT32 dg, TW_UINT16 dat) {
  for (const Triplet& triplet : kTriplets) {
    if (triplet.dg == dg && triplet.dat == dat) return &triplet;
  }
  return nullptr;
}

// The device a call concerns, for its crash fault: the open one, else the one
// an open or an identity request is about.
const DeviceConfig* device_of_call(const SourceState& state, const Session* session,
                                   const Call& call, DsCall kind) {
  if (session != nullptr) return &session_device(state, *session);
  if (kind != DsCall::OpenDs && kind != DsCall::Identity) return nullptr;
  const auto index = device_to_open(
      state, kind == DsCall::OpenDs ? static_cast<const TW_IDENTITY*>(call.data) : nullptr);
  return index ? &state.config.devices[*index] : nullptr;
}

void crash_if_configured(const DeviceConfig* device, DsCall kind, Lock& lock,
                         bool page_crash = false) {
  if (device == nullptr || !(page_crash || device_crashes_on(*device, kind))) return;
  const int signal = device->crash_signal;
  // Left unlocked: the caller's guard jumps out of this call.
  lock.unlock();
  fault_crash(signal);
  lock.lock();
}

// Stops the notifiers of sessions disabled or closed in this call, with the
// lock released: their thread may be waiting for it.
void stop_retired(SourceState& state, Lock& lock) {
  if (state.retired.empty()) return;
  std::vector<std::unique_ptr<Notifier>> retired = std::move(state.retired);
  state.retired.clear();
  lock.unlock();
  retired.clear();
}

// At the end of the process (or when the Source Manager unloads us) no
// notifier may still run: stop those of devices left enabled.
struct StopNotifiersAtExit {
  ~StopNotifiersAtExit() {
    try {
      SourceState& state = source_state();
      Lock lock(state.mutex);
      for (auto& session : state.sessions) {
        if (session->notifier) state.retired.push_back(std::move(session->notifier));
      }
      stop_retired(state, lock);
    } catch (...) {
    }
  }
} stop_notifiers_at_exit;

// Calls whose reply must not replace the condition code the application is
// yet to read: the status itself, and the event pump running in between.
bool keeps_condition(const Call& call) {
  return call.dg == DG_CONTROL && (call.dat == DAT_STATUS || call.dat == DAT_EVENT);
}

TW_UINT16 entry(const Call& call) {
  SourceState& state = source_state();
  Lock lock(state.mutex);
  if (!state.config_loaded) source_reload_config(state);
  if (call.origin == nullptr) return TWRC_FAILURE;
  Session* session = find_session(state, call.origin);
  const DsCall kind = classify_call(call.dg, call.dat, call.msg);
  crash_if_configured(device_of_call(state, session, call, kind), kind, lock);
  // A page scripted to crash the driver does so inside its transfer.
  if (session != nullptr && session_crashes_in(*session, kind))
    crash_if_configured(&session_device(state, *session), kind, lock, true);

  const Triplet* triplet = find_triplet(call.dg, call.dat);
  Reply reply = refuse(TWCC_BADPROTOCOL);
  if (triplet != nullptr) {
    reply = triplet->needs_session && session == nullptr ? refuse(TWCC_SEQERROR)
                                                         : triplet->handler(state, session, call);
  }
  if (!keeps_condition(call)) {
    // Looked up again: the call may have opened or closed the session.
    Session* after = find_session(state, call.origin);
    twsource::condition_of(state, after) = reply.cc;
  }
  stop_retired(state, lock);
  return reply.rc;
}

// What was thrown becomes a failure with a condition code, never an
// exception in the caller.
TW_UINT16 entry_guarded(const Call& call) {
  return twsource::entry_guarded([&] { return entry(call); },
                                 [&](TW_UINT16 cc) {
                                   SourceState& state = source_state();
                                   Lock lock(state.mutex);
                                   Session* session = find_session(state, call.origin);
                                   twsource::condition_of(state, session) = cc;
                                 });
}

}  // namespace
}  // namespace vscan

VSCAN_EXPORT TW_UINT16 DS_Entry(pTW_IDENTITY origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                                TW_MEMREF data) {
  return vscan::entry_guarded(vscan::Call{origin, dg, dat, msg, data});
}

VSCAN_EXPORT TW_UINT32 DS_DeviceCount(void) {
  try {
    vscan::SourceState& state = vscan::source_state();
    std::lock_guard<std::recursive_mutex> lock(state.mutex);
    vscan::source_reload_config(state);
    return static_cast<TW_UINT32>(state.config.devices.size());
  } catch (...) {
    return 0;
  }
}

VSCAN_EXPORT TW_UINT16 DS_DeviceIdentity(TW_UINT32 index, pTW_IDENTITY out_identity) {
  try {
    vscan::SourceState& state = vscan::source_state();
    vscan::Lock lock(state.mutex);
    if (!state.config_loaded) vscan::source_reload_config(state);
    if (out_identity == nullptr || index >= state.config.devices.size()) return TWRC_FAILURE;
    const vscan::DeviceConfig& device = state.config.devices[index];
    vscan::crash_if_configured(&device, vscan::DsCall::Identity, lock);
    vscan::device_fill_identity(device, *out_identity, vscan::NameWrite::AsConfigured);
    return TWRC_SUCCESS;
  } catch (...) {
    return TWRC_FAILURE;
  }
}

VSCAN_EXPORT TW_UINT16 DS_SelectDevice(TW_UINT32 index) {
  vscan::SourceState& state = vscan::source_state();
  return twsource::device_select(state, state.config.devices.size(), index);
}

VSCAN_EXPORT TW_UINT32 DS_ProtocolFlags(void) { return DS_PROTOCOL_PROCESSEVENT; }

VSCAN_EXPORT void DS_SetHostForm(DS_HOSTFORMPROC form) { vscan::dialog_set_host_form(form); }
