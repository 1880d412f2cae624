// Triplets for an open source, and the notifications sources send back.
#include <optional>

#include "dsm/dsm_log.h"
#include "dsm/manager.h"

namespace dsm {
namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

// Notifications kept for a source that leaves MSG_PROCESSEVENT to us; an
// application that never asks does not make the queue grow without end.
constexpr std::size_t kMaxUnclaimed = 64;

bool is_process_event(const Call& call) {
  return call.dg == DG_CONTROL && call.dat == DAT_EVENT && call.msg == MSG_PROCESSEVENT;
}

// Answers MSG_PROCESSEVENT from the oldest unclaimed notification.
TW_UINT16 answer_event(Connection& connection, TW_EVENT* event) {
  if (event == nullptr) return TWRC_FAILURE;
  if (connection.unclaimed.empty()) {
    event->TWMessage = MSG_NULL;
    return TWRC_NOTDSEVENT;
  }
  event->TWMessage = connection.unclaimed.front();
  connection.unclaimed.pop_front();
  return TWRC_DSEVENT;
}

// What a relay needs once the lock is released.
struct Delivery {
  Callback callback;
  TW_IDENTITY source{};
  TW_IDENTITY app{};
};

std::optional<Delivery> plan_delivery(const Call& call) {
  Manager& m = manager();
  Lock lock(m.mutex);
  const Device* device = find_device(m, call.origin->Id);
  if (device == nullptr) return std::nullopt;
  for (Application& app : m.apps) {
    if (call.dest != nullptr && call.dest->Id != app.identity.Id) continue;
    Connection* connection = find_connection(app, device->identity.Id);
    if (connection == nullptr) continue;
    const SourceModule& module = m.sources.modules[device->module];
    if (!(module.protocol_flags & DS_PROTOCOL_PROCESSEVENT)) {
      if (connection->unclaimed.size() >= kMaxUnclaimed) connection->unclaimed.pop_front();
      connection->unclaimed.push_back(call.msg);
    }
    Delivery delivery;
    delivery.callback = connection->callback.proc != nullptr ? connection->callback : app.callback;
    delivery.source = device->identity;
    delivery.app = app.identity;
    return delivery;
  }
  return std::nullopt;
}

}  // namespace

TW_UINT16 route_to_source(const Call& call) {
  Manager& m = manager();
  DSENTRYPROC entry = nullptr;
  {
    Lock lock(m.mutex);
    Application* app = find_app(m, call.origin);
    if (app == nullptr) {
      m.condition = TWCC_SEQERROR;
      return TWRC_FAILURE;
    }
    Connection* connection = find_connection(*app, call.dest->Id);
    const Device* device = find_device(m, call.dest->Id);
    if (connection == nullptr || device == nullptr) {
      app->condition = TWCC_BADDEST;
      return TWRC_FAILURE;
    }
    const SourceModule& module = m.sources.modules[device->module];
    if (is_process_event(call) && !(module.protocol_flags & DS_PROTOCOL_PROCESSEVENT))
      return answer_event(*connection, static_cast<TW_EVENT*>(call.data));
    entry = module.entry;
  }
  return entry(call.origin, call.dg, call.dat, call.msg, call.data);
}

TW_UINT16 relay_notification(const Call& call) {
  const std::optional<Delivery> delivery = plan_delivery(call);
  if (!delivery) {
    dsm_log("notification 0x%04x from source %u that no application has open", call.msg,
            call.origin->Id);
    record_condition(nullptr, TWCC_BADDEST);
    return TWRC_FAILURE;
  }
  if (delivery->callback.proc == nullptr) {
    // Nothing to call: the application learns of it through MSG_PROCESSEVENT.
    return TWRC_SUCCESS;
  }
  TW_IDENTITY source = delivery->source;
  TW_IDENTITY app = delivery->app;
  const auto proc = reinterpret_cast<TWAINCALLBACKPROC>(delivery->callback.proc);
  proc(&source, &app, DG_CONTROL, DAT_NULL, call.msg,
       reinterpret_cast<TW_MEMREF>(delivery->callback.ref_con));
  return TWRC_SUCCESS;
}

}  // namespace dsm
