#include "dsm/manager.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>

#include "dsm/default_source.h"
#include "dsm/dsm_log.h"
#include "dsm/memory.h"

namespace dsm {

Manager& manager() {
  // Never destroyed: a source's worker thread may still send a notification
  // while the process exits.
  static Manager* instance = new Manager;
  return *instance;
}

Application* find_app(Manager& m, const TW_IDENTITY* origin) {
  if (origin == nullptr || origin->Id == 0) return nullptr;
  for (Application& app : m.apps) {
    if (app.identity.Id == origin->Id) return &app;
  }
  return nullptr;
}

Connection* find_connection(Application& app, TW_UINT32 source_id) {
  for (Connection& connection : app.connections) {
    if (connection.source_id == source_id) return &connection;
  }
  return nullptr;
}

const Device* find_device(const Manager& m, TW_UINT32 id) {
  for (const Device& device : m.sources.devices) {
    if (device.identity.Id == id) return &device;
  }
  return nullptr;
}

std::string device_name(const Device& device) {
  const char* name = device.identity.ProductName;
  return std::string(name, ::strnlen(name, sizeof device.identity.ProductName));
}

namespace {

std::optional<std::size_t> index_named(const Manager& m, const std::string& name) {
  const auto& devices = m.sources.devices;
  for (std::size_t i = 0; i < devices.size(); ++i) {
    if (device_name(devices[i]) == name) return i;
  }
  return std::nullopt;
}

std::optional<std::size_t> first_that_may_be_default(const Manager& m) {
  const auto& devices = m.sources.devices;
  for (std::size_t i = 0; i < devices.size(); ++i) {
    if (!(m.sources.modules[devices[i].module].protocol_flags & DS_PROTOCOL_NOT_DEFAULT)) return i;
  }
  return std::nullopt;
}

}  // namespace

bool list_on_demand(Manager& m) { return source_list_on_demand(m.sources, m.next_id); }

std::optional<std::size_t> default_device_index(Manager& m) {
  const auto remembered = default_source_read();
  // The sources listed on demand are asked only when the answer may be
  // theirs: a remembered name no listed device has, or no listed device
  // that may be the default.
  for (;;) {
    if (remembered) {
      if (const auto i = index_named(m, *remembered)) return i;
      if (source_list_pending(m.sources)) {
        list_on_demand(m);
        continue;
      }
    }
    if (const auto i = first_that_may_be_default(m)) return i;
    if (source_list_pending(m.sources)) {
      list_on_demand(m);
      continue;
    }
    if (m.sources.devices.empty()) return std::nullopt;
    return 0;
  }
}

void record_condition(const TW_IDENTITY* origin, TW_UINT16 cc) {
  Manager& m = manager();
  std::lock_guard<std::recursive_mutex> lock(m.mutex);
  if (Application* app = find_app(m, origin)) {
    app->condition = cc;
  } else {
    m.condition = cc;
  }
}

Outcome parent_open(const Call& call) {
  // The data is the parent window; there are no windows to check here.
  Manager& m = manager();
  std::lock_guard<std::recursive_mutex> lock(m.mutex);
  if (find_app(m, call.origin) != nullptr) return failure(TWCC_SEQERROR);
  if (m.apps.empty()) {
    source_list_unload(m.sources);
    m.sources = source_list_scan(*call.origin, m.next_id);
  }
  call.origin->Id = m.next_id++;
  call.origin->SupportedGroups |= DF_DSM2;
  Application app;
  app.identity = *call.origin;
  m.apps.push_back(app);
  dsm_log("application %u '%.34s' opened the Source Manager (%zu devices)", app.identity.Id,
          app.identity.ProductName, m.sources.devices.size());
  return kSuccess;
}

Outcome parent_close(const Call& call) {
  Manager& m = manager();
  std::lock_guard<std::recursive_mutex> lock(m.mutex);
  Application* app = find_app(m, call.origin);
  if (app == nullptr || !app->connections.empty()) return failure(TWCC_SEQERROR);
  const TW_UINT32 id = app->identity.Id;
  m.apps.erase(m.apps.begin() + (app - m.apps.data()));
  if (m.apps.empty()) source_list_unload(m.sources);
  dsm_log("application %u closed the Source Manager", id);
  return kSuccess;
}

Outcome status_get(const Call& call) {
  auto* status = static_cast<TW_STATUS*>(call.data);
  if (status == nullptr) return failure(TWCC_BADVALUE);
  Manager& m = manager();
  std::lock_guard<std::recursive_mutex> lock(m.mutex);
  Application* app = find_app(m, call.origin);
  TW_UINT16& condition = app != nullptr ? app->condition : m.condition;
  status->ConditionCode = condition;
  status->Data = 0;
  condition = TWCC_SUCCESS;
  return kSuccess;
}

Outcome entry_point_get(const Call& call) {
  auto* entry_points = static_cast<TW_ENTRYPOINT*>(call.data);
  {
    Manager& m = manager();
    std::lock_guard<std::recursive_mutex> lock(m.mutex);
    const bool known = find_app(m, call.origin) != nullptr ||
                       (call.origin->Id != 0 && find_device(m, call.origin->Id) != nullptr);
    if (!known) return failure(TWCC_SEQERROR);
  }
  // Size says how much the caller's structure holds; a smaller one is from a
  // layout we do not know.
  if (entry_points == nullptr || entry_points->Size < sizeof(TW_ENTRYPOINT))
    return failure(TWCC_BADVALUE);
  memory_fill_entry_points(*entry_points, DSM_Entry);
  return kSuccess;
}

Outcome callback_register(const Call& call) {
  if (call.data == nullptr) return failure(TWCC_BADVALUE);
  Callback callback;
  if (call.dat == DAT_CALLBACK2) {
    const auto* data = static_cast<const TW_CALLBACK2*>(call.data);
    callback = Callback{data->CallBackProc, data->RefCon};
  } else {
    const auto* data = static_cast<const TW_CALLBACK*>(call.data);
    callback = Callback{data->CallBackProc, data->RefCon};
  }
  Manager& m = manager();
  std::lock_guard<std::recursive_mutex> lock(m.mutex);
  Application* app = find_app(m, call.origin);
  if (app == nullptr) return failure(TWCC_SEQERROR);
  if (call.dest == nullptr) {
    app->callback = callback;
    return kSuccess;
  }
  Connection* connection = find_connection(*app, call.dest->Id);
  if (connection == nullptr) return failure(TWCC_BADDEST);
  connection->callback = callback;
  return kSuccess;
}

}  // namespace dsm
