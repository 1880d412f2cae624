// Releasing an application that leaves without closing what it opened (see
// dsm/manager_protocol.h).
#include <vector>

#include "dsm/dsm_log.h"
#include "dsm/manager.h"

namespace dsm {
namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

// A source the departing application still had open.
struct Departure {
  DSENTRYPROC entry = nullptr;
  TW_IDENTITY source{};
};

// Takes the application out of the books and answers what it left open.
std::vector<Departure> forget_application(const TW_IDENTITY* origin, TW_IDENTITY& out_app) {
  Manager& m = manager();
  Lock lock(m.mutex);
  std::vector<Departure> left_open;
  Application* app = find_app(m, origin);
  if (app == nullptr) return left_open;
  out_app = app->identity;
  for (const Connection& connection : app->connections) {
    if (const Device* device = find_device(m, connection.source_id))
      left_open.push_back(Departure{m.sources.modules[device->module].entry, device->identity});
  }
  m.apps.erase(m.apps.begin() + (app - m.apps.data()));
  dsm_log("application %u released (%zu sources left open)", out_app.Id, left_open.size());
  return left_open;
}

// The calls an application makes to leave a source from any state, in
// order; each one the state does not allow simply fails.
void walk_down(const Departure& departure, TW_IDENTITY app) {
  TW_PENDINGXFERS pending{};
  departure.entry(&app, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending);
  pending = TW_PENDINGXFERS{};
  departure.entry(&app, DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending);
  TW_USERINTERFACE ui{};
  departure.entry(&app, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
  TW_IDENTITY source = departure.source;
  if (departure.entry(&app, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source) != TWRC_SUCCESS)
    dsm_log("'%.34s' refused to close for a released application", departure.source.ProductName);
}

}  // namespace

TW_UINT32 release_application(const TW_IDENTITY* origin) {
  TW_IDENTITY app{};
  const std::vector<Departure> left_open = forget_application(origin, app);
  for (const Departure& departure : left_open) walk_down(departure, app);
  Manager& m = manager();
  Lock lock(m.mutex);
  // As when the last application closes the Source Manager: a source that
  // could not be closed is unloaded, so the next one to list it starts afresh.
  if (m.apps.empty()) source_list_unload(m.sources);
  return static_cast<TW_UINT32>(left_open.size());
}

}  // namespace dsm
