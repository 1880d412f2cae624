// The capability calls: getting, querying, setting and resetting.
#include "orivane/twain_capability.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/error_record.h"
#include "log/trace.h"
#include "orivane/errors.h"
#include "twain/capabilities/capability.h"
#include "twain/capabilities/container.h"
#include "twain/capabilities/deferred.h"
#include "twain/capabilities/item_values.h"
#include "twain/session/constant_names.h"
#include "twain/session/dsm.h"
#include "twain/session/memory.h"
#include "twain/session/session.h"

namespace twain {

namespace {

constexpr std::size_t kDetailBytes = 128;

int state() { return session().state; }

}  // namespace

CONTAINER cap_get(unsigned cap, unsigned msg) {
  if (state() < 4) {
    const std::string detail = "MSG_" + short_name(message_name(msg));
    RecordError(ERR_NO_DEVICE_OPEN, detail.c_str());
    TWAIN_ReportLastError(detail.c_str());
    return nullptr;
  }
  TW_CAPABILITY capability{};
  capability.Cap = static_cast<TW_UINT16>(cap);
  capability.ConType = TWON_DONTCARE16;
  if (!ds_call(DG_CONTROL, DAT_CAPABILITY, msg, &capability)) return nullptr;
  return CONTAINER_Wrap(capability.ConType, capability.hContainer);
}

namespace {

// Items are compatible when equal, or both integers of the same size.
bool compatible(int have, int want) {
  if (have == want) return true;
  return have >= kTyInt8 && have <= kTyUint32 && want >= kTyInt8 && want <= kTyUint32 &&
         item_size(have) == item_size(want);
}

// The item that holds the current value of a container block.
const unsigned char* current_item(int kind, const unsigned char* data, std::size_t size) {
  std::uint16_t type;
  std::memcpy(&type, data, sizeof type);
  const std::size_t item = item_size(type);
  if (kind == TWON_ONEVALUE) return size == 0 || size >= 2 + item ? data + 2 : nullptr;
  if (kind == TWON_RANGE) return size == 0 || size >= kRangeBytes ? data + kRangeCurrent : nullptr;
  if (kind != TWON_ENUMERATION || (size != 0 && size < 14)) return nullptr;
  std::uint32_t count, index;
  std::memcpy(&count, data + kNumItemsAt, sizeof count);
  std::memcpy(&index, data + kCurrentIndexAt, sizeof index);
  if (index >= count) return nullptr;
  const std::size_t at = 14 + static_cast<std::size_t>(index) * item;
  return size == 0 || at + item <= size ? data + at : nullptr;
}

// Sends `c` with MSG_SET under the state rule, then frees it.
int set_and_free(unsigned cap, CONTAINER c) {
  const int ok = TWAIN_Set(cap, c);
  CONTAINER_Free(c);
  return ok;
}

}  // namespace

int cap_set_one(unsigned cap, int item_type, double value) {
  CONTAINER c = CONTAINER_OneValue(item_type, value);
  if (!c) {
    RecordError(ERR_MEMORY, item_type == kTyFix32 ? "SetCapFix32" : "SetCapOneValue");
    return 0;
  }
  return set_and_free(cap, c);
}

bool get_cap_current(unsigned cap, int item_type, void* out) {
  if (state() < 4) {
    RecordError(ERR_NO_DEVICE_OPEN, "GetCapCurrent");
    return false;
  }
  TW_CAPABILITY capability{};
  capability.Cap = static_cast<TW_UINT16>(cap);
  capability.ConType = TWON_ONEVALUE;
  if (!ds_call(DG_CONTROL, DAT_CAPABILITY, MSG_GETCURRENT, &capability) || !capability.hContainer)
    return false;
  bool copied = false;
  if (auto* data = static_cast<const unsigned char*>(block_lock(capability.hContainer))) {
    std::uint16_t have;
    std::memcpy(&have, data, sizeof have);
    const unsigned char* item =
        current_item(capability.ConType, data, block_size(capability.hContainer));
    if (item && compatible(have, item_type)) {
      std::memcpy(out, item, item_size(item_type));
      copied = true;
    }
    block_unlock(capability.hContainer);
  }
  block_free(capability.hContainer);
  return copied;
}

bool set_allowed(unsigned cap) {
  char detail[kDetailBytes];
  std::snprintf(detail, sizeof detail, "Setting capability 0x%04x in State %d.", cap, state());
  if (state() < 4) {
    RecordError(ERR_NO_DEVICE_OPEN, detail);
    return false;
  }
  if (state() > 4 && !session().extended_caps_override) {
    RecordError(ERR_STATE4_ONLY, detail);
    return false;
  }
  return true;
}

int capability_item_type(unsigned cap) {
  CONTAINER c = TWAIN_Get(cap);
  const int type = CONTAINER_ItemType(c);
  CONTAINER_Free(c);
  return item_size(type) != 0 ? type : -1;
}

}  // namespace twain

using twain::session;

CONTAINER TWAIN_Get(unsigned cap) {
  LogApiCall("Get(%04x) ", cap);
  return twain::cap_get(cap, MSG_GET);
}

CONTAINER TWAIN_GetCurrent(unsigned cap) {
  LogApiCall("GetCurrent(%04x) ", cap);
  return twain::cap_get(cap, MSG_GETCURRENT);
}

CONTAINER TWAIN_GetDefault(unsigned cap) {
  LogApiCall("GetDefault(%04x) ", cap);
  return twain::cap_get(cap, MSG_GETDEFAULT);
}

int TWAIN_QuerySupport(unsigned cap) {
  LogApiCall("QuerySupport(%04x) ", cap);
  CONTAINER c = twain::cap_get(cap, MSG_QUERYSUPPORT);
  const int flags = c ? CONTAINER_IntItem(c, 0) : 0;
  CONTAINER_Free(c);
  return flags < 0 ? 0 : flags;
}

int TWAIN_IsCapAvailable(unsigned cap) {
  LogApiCall("IsCapAvailable(%04x) ", cap);
  CONTAINER c = twain::cap_get(cap, MSG_GET);
  CONTAINER_Free(c);
  return c ? 1 : 0;
}

int TWAIN_GetCapBool(unsigned cap, int default_value) {
  LogApiCall("GetCapBool ");
  CONTAINER c = twain::cap_get(cap, MSG_GET);
  if (!c) return default_value;
  const double current = CONTAINER_CurrentValue(c);
  CONTAINER_Free(c);
  return current != 0 ? 1 : 0;
}

double TWAIN_GetCurrentFix32(unsigned cap, double default_value) {
  TW_FIX32 value{};
  if (!twain::get_cap_current(cap, twain::kTyFix32, &value)) return default_value;
  return twain::fix32_to_double(value.Whole, value.Frac);
}

int TWAIN_GetCurrentUint16(unsigned cap, int default_value) {
  TW_UINT16 value = 0;
  return twain::get_cap_current(cap, twain::kTyUint16, &value) ? value : default_value;
}

uint32_t TWAIN_GetCurrentUint32(unsigned cap, uint32_t default_value) {
  TW_UINT32 value = 0;
  return twain::get_cap_current(cap, twain::kTyUint32, &value) ? value : default_value;
}

int TWAIN_Set(unsigned cap, CONTAINER container) {
  LogApiCall("Set: ");
  if (!CONTAINER_IsValid(container)) {
    char detail[32];
    std::snprintf(detail, sizeof detail, "Set(0x%04x)", cap);
    RecordError(ERR_BAD_APP_CONTAINER, detail);
    return 0;
  }
  if (!twain::set_allowed(cap)) return 0;
  // Once CAP_EXTENDEDCAPS passes the state rule, capabilities may be set in
  // the later states too, whatever the source answers.
  if (cap == CAP_EXTENDEDCAPS) session().extended_caps_override = true;
  TW_CAPABILITY capability{};
  capability.Cap = static_cast<TW_UINT16>(cap);
  capability.ConType = static_cast<TW_UINT16>(CONTAINER_Format(container));
  capability.hContainer = CONTAINER_Handle(container);
  return twain::ds_call(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &capability);
}

int TWAIN_SetCapOneValue(unsigned cap, int item_type, int value) {
  LogApiCall("SetCapOneValue: ");
  if (item_type < 0 || item_type > twain::kTyBool) {
    ReportUrgentError(ERR_BAD_PARAMETER, "SetCapOneValue - ItemType");
    return 0;
  }
  return twain::cap_set_one(cap, item_type, value);
}

int TWAIN_SetCapBool(unsigned cap, int flag) {
  LogApiCall("SetCapBool: ");
  return twain::cap_set_one(cap, twain::kTyBool, flag != 0 ? 1 : 0);
}

int TWAIN_SetCapFix32(unsigned cap, double value) {
  LogApiCall("SetCapFix32: ");
  return twain::cap_set_one(cap, twain::kTyFix32, value);
}

int TWAIN_SetCapFix32R(unsigned cap, int numerator, int denominator) {
  LogApiCall("SetCapFix32R(%d, %d, %d): ", cap, numerator, denominator);
  if (denominator == 0) {
    ReportUrgentError(ERR_BAD_PARAMETER, "SetCapFix32R - denominator 0");
    return 0;
  }
  return twain::cap_set_one(cap, twain::kTyFix32, static_cast<double>(numerator) / denominator);
}

int TWAIN_SetCapability(unsigned cap, double value) {
  LogApiCall("SetCapability(%d, %f): ", cap, value);
  if (!twain::set_allowed(cap)) return 0;
  const int type = twain::capability_item_type(cap);
  if (type < 0) {
    RecordErrorF(ERR_CAP_REJECTED, "Can't deduce ItemType of cap(0x%04x)", cap);
    return 0;
  }
  if (type == twain::kTyFix32) return TWAIN_SetCapFix32(cap, value);
  const double whole = std::trunc(value);
  const int as_int = whole >= 2147483647.0 ? 2147483647
                     : whole <= -2147483648.0 ? -2147483647 - 1
                                              : static_cast<int>(whole);
  return TWAIN_SetCapOneValue(cap, type, std::isnan(value) ? 0 : as_int);
}

int TWAIN_SetCapString(unsigned cap, const char* text) {
  LogApiCall("SetCapString(%d, %s): ", cap, text ? text : "");
  if (!twain::set_allowed(cap)) return 0;
  const int type = twain::capability_item_type(cap);
  if (type < 0) {
    RecordErrorF(ERR_CAP_REJECTED, "Can't deduce ItemType of cap(0x%04x)", cap);
    return 0;
  }
  if (type < twain::kTyStr32 || type > twain::kTyStr1024) {
    RecordErrorF(ERR_CAP_REJECTED, "Cap(0x%04x) does not want string value", cap);
    return 0;
  }
  CONTAINER c = CONTAINER_OneValue(type, 0);
  if (!c) {
    RecordError(ERR_MEMORY, "SetCapString");
    return 0;
  }
  CONTAINER_SetItemString(c, 0, text ? text : "");
  return twain::set_and_free(cap, c);
}

int TWAIN_Reset(unsigned cap) {
  LogApiCall("Reset(%04x)\n", cap);
  int ok = 0;
  if (session().state < 4) {
    RecordError(ERR_NO_DEVICE_OPEN, "Reset");
  } else {
    TW_CAPABILITY capability{};
    capability.Cap = static_cast<TW_UINT16>(cap);
    ok = twain::ds_call(DG_CONTROL, DAT_CAPABILITY, MSG_RESET, &capability);
    // A reset answers a container the caller does not need.
    twain::block_free(capability.hContainer);
  }
  // What the library remembered of the reset value is the source's again.
  twain::DeferredSettings& d = twain::deferred();
  if (cap == ICAP_PIXELTYPE) d.current_pixel_type = -1;
  if (cap == ICAP_XFERMECH) {
    d.current_xfer_mech = -1;
    d.xfer_mech = twain::DeferredSettings{}.xfer_mech;
  }
  return ok;
}

int TWAIN_GetImageInfo(TW_IMAGEINFO* out_info) {
  LogApiCall("GetImageInfo, ");
  if (!out_info) {
    ReportNullString("GetImageInfo");
    return 0;
  }
  return twain::ds_call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, out_info);
}
