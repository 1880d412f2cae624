// The capabilities of a virtual device: for each one, what it offers and
// holds (described in the application's current units), how an accepted
// value is stored, and its dependencies on the rest of the device. The
// negotiation rules common to all of them live in negotiation.h.
#pragma once
#include <span>
#include <vector>

#include "orivane/twain.h"
#include "sources/virtual/device.h"
#include "sources/virtual/session.h"

namespace vscan {

struct CapDef {
  TW_UINT16 cap = 0;
  bool read_only = false;
  // A value between those offered is taken as the nearest offered one and
  // answered with TWRC_CHECKSTATUS (otherwise it is refused).
  bool nearest = false;
  // Whether a device has the capability at all; null: every device.
  bool (*present)(const DeviceConfig&) = nullptr;
  CapValue (*describe)(const Session&, const DeviceConfig&) = nullptr;
  // Stores a value the negotiation accepted, with its effects on other
  // capabilities.
  void (*store)(Session&, const DeviceConfig&, double) = nullptr;
  // For values a description cannot bound: TWCC_SUCCESS or the refusal.
  TW_UINT16 (*check)(const Session&, const DeviceConfig&, double) = nullptr;
  // For values that are not single numbers (frames, lists of capabilities):
  // the whole MSG_SET.
  Reply (*set_container)(Session&, const DeviceConfig&, const AppContainer&) = nullptr;
  // Back to the default; null: store the described default.
  void (*reset)(Session&, const DeviceConfig&) = nullptr;
};

// The definition of `cap`, or null when this source does not know it.
const CapDef* cap_find(TW_UINT16 cap);

// Whether `device` offers `cap` (known, present and not refused by config).
bool cap_offered(const DeviceConfig& device, TW_UINT16 cap);

// Every capability `device` offers, in the table's order.
std::vector<TW_UINT16> caps_offered(const DeviceConfig& device);

}  // namespace vscan
