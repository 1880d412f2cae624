// DG_CONTROL / DAT_IDENTITY: listing the sources, the default source, the
// user's choice, and opening and closing a source for an application.
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "dsm/default_source.h"
#include "dsm/dsm_log.h"
#include "dsm/manager.h"
#include "dsm/memory.h"
#include "dsm/user_select.h"

namespace dsm {
namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

// The identity a source writes on MSG_OPENDS, with room behind it for a
// careless one (see dsm/source_protocol.h).
struct IdentityArea {
  TW_IDENTITY identity;
  unsigned char tail[DS_IDENTITY_TAIL_BYTES];
};

// What an open needs once the lock is released.
struct OpenPlan {
  Device device;
  SourceModule module;
};

// The device an MSG_OPENDS identity asks for: by Id when it has one, else by
// product name, else the default source.
const Device* device_for_open(Manager& m, const TW_IDENTITY& wanted) {
  const auto& devices = m.sources.devices;
  if (wanted.Id != 0) return find_device(m, wanted.Id);
  const std::size_t name_length = ::strnlen(wanted.ProductName, sizeof wanted.ProductName);
  if (name_length > 0) {
    const std::string name(wanted.ProductName, name_length);
    do {
      for (const Device& device : devices) {
        if (device_name(device) == name) return &device;
      }
    } while (list_on_demand(m));
    return nullptr;
  }
  const auto index = default_device_index(m);
  return index ? &devices[*index] : nullptr;
}

// The source's condition code after a failed call, as the application would
// read it from the source.
TW_UINT16 source_condition(DSENTRYPROC entry, pTW_IDENTITY origin) {
  TW_STATUS status{};
  if (entry(origin, DG_CONTROL, DAT_STATUS, MSG_GET, &status) != TWRC_SUCCESS) return TWCC_BUMMER;
  return status.ConditionCode;
}

std::optional<OpenPlan> plan_open(const Call& call, Outcome& out_refusal) {
  Manager& m = manager();
  Lock lock(m.mutex);
  Application* app = find_app(m, call.origin);
  if (app == nullptr) {
    out_refusal = failure(TWCC_SEQERROR);
    return std::nullopt;
  }
  const Device* device = device_for_open(m, *static_cast<const TW_IDENTITY*>(call.data));
  if (device == nullptr) {
    out_refusal = failure(TWCC_NODS);
    return std::nullopt;
  }
  if (find_connection(*app, device->identity.Id) != nullptr) {
    out_refusal = failure(TWCC_SEQERROR);
    return std::nullopt;
  }
  return OpenPlan{*device, m.sources.modules[device->module]};
}

void add_connection(const Call& call, TW_UINT32 source_id) {
  Manager& m = manager();
  Lock lock(m.mutex);
  if (Application* app = find_app(m, call.origin)) {
    Connection connection;
    connection.source_id = source_id;
    app->connections.push_back(connection);
  }
}

}  // namespace

Outcome identity_first(const Call& call) {
  if (call.data == nullptr) return failure(TWCC_BADVALUE);
  Manager& m = manager();
  Lock lock(m.mutex);
  Application* app = find_app(m, call.origin);
  if (app == nullptr) return failure(TWCC_SEQERROR);
  app->listing = true;
  app->cursor = 0;
  if (m.sources.devices.empty() && !list_on_demand(m)) return Outcome{TWRC_ENDOFLIST, TWCC_SUCCESS};
  device_copy_identity(m.sources.devices[app->cursor++], static_cast<TW_IDENTITY*>(call.data));
  return kSuccess;
}

Outcome identity_next(const Call& call) {
  if (call.data == nullptr) return failure(TWCC_BADVALUE);
  Manager& m = manager();
  Lock lock(m.mutex);
  Application* app = find_app(m, call.origin);
  if (app == nullptr || !app->listing) return failure(TWCC_SEQERROR);
  // The walk reaching the end of the devices listed so far: the sources
  // listed on demand add theirs after them.
  if (app->cursor >= m.sources.devices.size() && !list_on_demand(m))
    return Outcome{TWRC_ENDOFLIST, TWCC_SUCCESS};
  device_copy_identity(m.sources.devices[app->cursor++], static_cast<TW_IDENTITY*>(call.data));
  return kSuccess;
}

Outcome identity_default(const Call& call) {
  if (call.data == nullptr) return failure(TWCC_BADVALUE);
  Manager& m = manager();
  Lock lock(m.mutex);
  if (find_app(m, call.origin) == nullptr) return failure(TWCC_SEQERROR);
  const auto index = default_device_index(m);
  if (!index) return failure(TWCC_NODS);
  device_copy_identity(m.sources.devices[*index], static_cast<TW_IDENTITY*>(call.data));
  return kSuccess;
}

Outcome identity_user_select(const Call& call) {
  auto* identity = static_cast<TW_IDENTITY*>(call.data);
  if (identity == nullptr) return failure(TWCC_BADVALUE);
  Manager& m = manager();
  std::vector<std::string> names;
  std::size_t preselected = 0;
  {
    Lock lock(m.mutex);
    if (find_app(m, call.origin) == nullptr) return failure(TWCC_SEQERROR);
    // The person chooses among every device.
    list_on_demand(m);
    const auto index = default_device_index(m);
    if (!index) return failure(TWCC_NODS);
    preselected = *index;
    const std::string wanted(identity->ProductName,
                             ::strnlen(identity->ProductName, sizeof identity->ProductName));
    for (const Device& device : m.sources.devices) {
      if (!wanted.empty() && device_name(device) == wanted) preselected = names.size();
      names.push_back(device_name(device));
    }
  }
  // Asked unlocked: a person may take their time, and sources keep running.
  const std::optional<std::size_t> choice = user_select_source(names, preselected);
  if (!choice) return Outcome{TWRC_CANCEL, TWCC_SUCCESS};
  Lock lock(m.mutex);
  // The list only grows while this application has the Source Manager open,
  // but the application may have closed it from another thread.
  if (find_app(m, call.origin) == nullptr || *choice >= m.sources.devices.size())
    return failure(TWCC_SEQERROR);
  const Device& chosen = m.sources.devices[*choice];
  default_source_write(device_name(chosen));
  device_copy_identity(chosen, identity);
  return kSuccess;
}

Outcome identity_open(const Call& call) {
  if (call.data == nullptr) return failure(TWCC_BADVALUE);
  Outcome refusal = kSuccess;
  const std::optional<OpenPlan> plan = plan_open(call, refusal);
  if (!plan) return refusal;
  const DSENTRYPROC entry = plan->module.entry;

  // The caller sees which source was tried even when the open fails.
  device_copy_identity(plan->device, static_cast<TW_IDENTITY*>(call.data));
  if (plan->device.identity.SupportedGroups & DF_DS2) {
    TW_ENTRYPOINT entry_points{};
    memory_fill_entry_points(entry_points, DSM_Entry);
    entry(call.origin, DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, &entry_points);
  }
  if (plan->module.select_device != nullptr &&
      plan->module.select_device(plan->device.index) != TWRC_SUCCESS)
    return failure(TWCC_NODS);

  IdentityArea area{};
  area.identity = plan->device.identity;
  const TW_UINT16 rc = entry(call.origin, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &area.identity);
  if (rc != TWRC_SUCCESS) {
    const TW_UINT16 cc = source_condition(entry, call.origin);
    dsm_log("'%.34s' refused to open (rc %u, cc %u)", plan->device.identity.ProductName, rc, cc);
    return Outcome{rc, cc};
  }
  // The Id is the Source Manager's, whatever the source wrote; what it wrote
  // past the identity stays here.
  area.identity.Id = plan->device.identity.Id;
  if (const std::size_t overrun = identity_tail_length(area.tail); overrun > 0)
    dsm_log("'%.34s' wrote %zu bytes past its identity when opened", area.identity.ProductName,
            overrun);
  Device opened = plan->device;
  opened.identity = area.identity;
  device_copy_identity(opened, static_cast<TW_IDENTITY*>(call.data));
  add_connection(call, opened.identity.Id);
  return kSuccess;
}

Outcome identity_close(const Call& call) {
  const auto* identity = static_cast<const TW_IDENTITY*>(call.data);
  if (identity == nullptr) return failure(TWCC_BADVALUE);
  Manager& m = manager();
  DSENTRYPROC entry = nullptr;
  {
    Lock lock(m.mutex);
    Application* app = find_app(m, call.origin);
    if (app == nullptr) return failure(TWCC_SEQERROR);
    const Device* device = find_device(m, identity->Id);
    if (device == nullptr) return failure(TWCC_NODS);
    if (find_connection(*app, identity->Id) == nullptr) return failure(TWCC_SEQERROR);
    entry = m.sources.modules[device->module].entry;
  }
  const TW_UINT16 rc = entry(call.origin, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, call.data);
  if (rc != TWRC_SUCCESS) return Outcome{rc, source_condition(entry, call.origin)};
  Lock lock(m.mutex);
  if (Application* app = find_app(m, call.origin)) {
    auto& connections = app->connections;
    for (auto it = connections.begin(); it != connections.end(); ++it) {
      if (it->source_id == identity->Id) {
        connections.erase(it);
        break;
      }
    }
  }
  return kSuccess;
}

}  // namespace dsm
