#include "sources/virtual/negotiation.h"

#include <algorithm>
#include <cmath>

#include "sources/virtual/cap_table.h"

namespace vscan {
namespace {

constexpr Reply kNearest{TWRC_CHECKSTATUS, TWCC_SUCCESS};

// How far a value may be from an offered one and still be it: FIX32 values
// carry half a unit of rounding; whole numbers match exactly.
double tolerance(TW_UINT16 item_type) { return item_type == TWTY_FIX32 ? 1.0 / 65536 : 1e-9; }

// The description with the application's narrowing applied.
CapValue effective_value(const CapDef& def, const Session& session, const DeviceConfig& device) {
  CapValue value = def.describe(session, device);
  const auto narrowed = session.settings.constraints.find(def.cap);
  if (narrowed != session.settings.constraints.end() && value.shape == Shape::Enumeration)
    value.items = narrowed->second;
  return value;
}

std::optional<double> find_offered(const std::vector<double>& items, double value, double tol) {
  for (double item : items) {
    if (std::fabs(item - value) <= tol) return item;
  }
  return std::nullopt;
}

double nearest_offered(const std::vector<double>& items, double value) {
  double best = items.front();
  for (double item : items) {
    if (std::fabs(item - value) < std::fabs(best - value)) best = item;
  }
  return best;
}

bool may_set(const Session& session, TW_UINT16 cap) {
  if (session.state == DsState::Open) return true;
  const auto& extended = session.settings.extended_caps;
  return std::find(extended.begin(), extended.end(), cap) != extended.end();
}

TW_UINT16 query_flags(const CapDef& def) {
  TW_UINT16 flags = TWQC_GET | TWQC_GETCURRENT | TWQC_GETDEFAULT;
  if (!def.read_only) flags |= TWQC_SET | TWQC_RESET;
  return flags;
}

Reply answer_get(const CapDef& def, Session& session, const DeviceConfig& device,
                 const DsmMemory& memory, ValueWanted wanted, TW_CAPABILITY& capability) {
  const CapValue value = effective_value(def, session, device);
  TW_UINT16 kind = wanted == ValueWanted::All || value.shape == Shape::Array
                       ? static_cast<TW_UINT16>(value.shape)
                       : TW_UINT16{TWON_ONEVALUE};
  if (const auto odd = device.odd_containers.find(def.cap); odd != device.odd_containers.end())
    kind = odd->second;
  TW_UINT16 built = kind;
  TW_HANDLE handle = container_build(memory, value, kind, wanted, built);
  if (handle == nullptr) return refuse(TWCC_LOWMEMORY);
  capability.ConType = built;
  capability.hContainer = handle;
  return kDone;
}

// A single value for a capability whose description bounds it.
Reply set_one(const CapDef& def, Session& session, const DeviceConfig& device, double wanted) {
  if (device_refuses_value(device, def.cap, wanted)) return refuse(TWCC_BADVALUE);
  const CapValue value = effective_value(def, session, device);
  const double tol = tolerance(value.item_type);
  switch (value.shape) {
    case Shape::Enumeration: {
      if (value.items.empty()) return refuse(TWCC_BADVALUE);
      if (const auto offered = find_offered(value.items, wanted, tol)) {
        def.store(session, device, *offered);
        return kDone;
      }
      const auto [low, high] = std::minmax_element(value.items.begin(), value.items.end());
      if (!def.nearest || wanted < *low || wanted > *high) return refuse(TWCC_BADVALUE);
      def.store(session, device, nearest_offered(value.items, wanted));
      return kNearest;
    }
    case Shape::Range: {
      if (wanted < value.min - tol || wanted > value.max + tol) return refuse(TWCC_BADVALUE);
      const double steps = std::round((wanted - value.min) / value.step);
      const double snapped = std::min(value.max, value.min + steps * value.step);
      def.store(session, device, snapped);
      return std::fabs(snapped - wanted) <= tol ? kDone : kNearest;
    }
    case Shape::OneValue:
    case Shape::Array:
      if (!value.items.empty() && !find_offered(value.items, wanted, tol))
        return refuse(TWCC_BADVALUE);
      if (def.check != nullptr) {
        if (const TW_UINT16 cc = def.check(session, device, wanted); cc != TWCC_SUCCESS)
          return refuse(cc);
      }
      def.store(session, device, wanted);
      return kDone;
  }
  return refuse(TWCC_BADVALUE);
}

// An enumeration or array narrowing what an enumeration offers.
Reply set_narrowed(const CapDef& def, Session& session, const DeviceConfig& device,
                   const AppContainer& container) {
  CapValue offered = def.describe(session, device);
  if (offered.shape != Shape::Enumeration || container.items.empty()) return refuse(TWCC_BADVALUE);
  const double tol = tolerance(offered.item_type);
  std::vector<double> kept;
  for (double item : container.items) {
    const auto match = find_offered(offered.items, item, tol);
    if (!match || device_refuses_value(device, def.cap, item)) return refuse(TWCC_BADVALUE);
    kept.push_back(*match);
  }
  double current = offered.current;
  if (container.kind == TWON_ENUMERATION && container.current_index < kept.size()) {
    current = kept[container.current_index];
  } else if (!find_offered(kept, current, tol)) {
    current = kept.front();
  }
  def.store(session, device, current);
  session.settings.constraints[def.cap] = kept;
  return kDone;
}

Reply answer_set(const CapDef& def, Session& session, const DeviceConfig& device,
                 const DsmMemory& memory, const TW_CAPABILITY& capability) {
  if (capability.hContainer == nullptr) return refuse(TWCC_BADVALUE);
  const auto container = container_read(memory, capability.ConType, capability.hContainer);
  if (!container) return refuse(TWCC_BADVALUE);
  if (def.set_container != nullptr) return def.set_container(session, device, *container);
  if (container->item_type == TWTY_FRAME) return refuse(TWCC_BADVALUE);
  switch (container->kind) {
    case TWON_ONEVALUE:
      return set_one(def, session, device, container->items.front());
    case TWON_ENUMERATION:
    case TWON_ARRAY:
      return set_narrowed(def, session, device, *container);
    default:
      return refuse(TWCC_BADVALUE);
  }
}

void reset_cap(const CapDef& def, Session& session, const DeviceConfig& device) {
  session.settings.constraints.erase(def.cap);
  if (def.reset != nullptr) {
    def.reset(session, device);
  } else {
    def.store(session, device, def.describe(session, device).default_value);
  }
}

Reply reset_all(Session& session, const DeviceConfig& device) {
  if (session.state != DsState::Open) return refuse(TWCC_SEQERROR);
  for (TW_UINT16 cap : caps_offered(device)) {
    const CapDef& def = *cap_find(cap);
    if (!def.read_only) reset_cap(def, session, device);
  }
  return kDone;
}

}  // namespace

Reply capability_call(Session& session, const DeviceConfig& device, const DsmMemory& memory,
                      TW_UINT16 msg, TW_CAPABILITY& capability) {
  if (msg == MSG_RESETALL) return reset_all(session, device);
  if (!cap_offered(device, capability.Cap)) return refuse(device.unsupported_cc);
  const CapDef& def = *cap_find(capability.Cap);
  if (def.cap == CAP_DUPLEX && (msg == MSG_GET || msg == MSG_GETCURRENT || msg == MSG_GETDEFAULT))
    ++session.duplex_reads;
  switch (msg) {
    case MSG_GET:
      return answer_get(def, session, device, memory, ValueWanted::All, capability);
    case MSG_GETCURRENT:
      return answer_get(def, session, device, memory, ValueWanted::Current, capability);
    case MSG_GETDEFAULT:
      return answer_get(def, session, device, memory, ValueWanted::Default, capability);
    case MSG_QUERYSUPPORT: {
      TW_HANDLE handle = container_one_value(memory, TWTY_INT32, query_flags(def));
      if (handle == nullptr) return refuse(TWCC_LOWMEMORY);
      capability.ConType = TWON_ONEVALUE;
      capability.hContainer = handle;
      return kDone;
    }
    case MSG_SET:
    case MSG_RESET: {
      if (def.read_only) return refuse(TWCC_CAPBADOPERATION);
      if (!may_set(session, def.cap)) return refuse(TWCC_SEQERROR);
      if (msg == MSG_SET) return answer_set(def, session, device, memory, capability);
      reset_cap(def, session, device);
      return answer_get(def, session, device, memory, ValueWanted::Current, capability);
    }
    case MSG_GETHELP:
    case MSG_GETLABEL:
    case MSG_GETLABELENUM:
    case MSG_SETCONSTRAINT:
      return refuse(TWCC_CAPBADOPERATION);
    default:
      return refuse(TWCC_BADPROTOCOL);
  }
}

}  // namespace vscan
