// What the open source can do and has selected, and the pruning of its pixel
// types to the ones the application asked for.
#include <cmath>

#include "core/error_record.h"
#include "log/trace.h"
#include "orivane/errors.h"
#include "orivane/twain.h"
#include "orivane/twain_capability.h"
#include "orivane/twain_container.h"
#include "orivane/twain_session.h"
#include "orivane/twain_settings.h"
#include "platform/clock.h"
#include "twain/capabilities/capability.h"
#include "twain/capabilities/item_values.h"

namespace {

constexpr int kStateSourceOpen = 4;
constexpr int kDuplexRetryDelayMs = 200;

// The first item of the capability's current value (MSG_GETCURRENT, else
// MSG_GET); `fallback` when neither answers.
int first_current_item(unsigned cap, int fallback) {
  CONTAINER c = twain::cap_get(cap, MSG_GETCURRENT);
  if (!c) c = twain::cap_get(cap, MSG_GET);
  if (!c) return fallback;
  const int value = CONTAINER_Format(c) == TWON_ONEVALUE ? CONTAINER_IntItem(c, 0)
                                                         : CONTAINER_CurrentValueInt(c);
  CONTAINER_Free(c);
  return value;
}

int bool_capability(unsigned cap) {
  const int v = first_current_item(cap, 0);
  LogPrint("=> %d\n", v > 0 ? 1 : 0);
  return v > 0 ? 1 : 0;
}

bool pixel_type_in(int mask, int type) { return type >= 0 && type <= 30 && (mask >> type) & 1; }

// The current type after pruning: the old one if it survived, else RGB, gray
// or black-and-white, whichever is there first.
int preferred_current(CONTAINER c, int old_current) {
  for (int t : {old_current, TWPT_RGB, TWPT_GRAY, TWPT_BW}) {
    if (t < 0) continue;
    const int index = CONTAINER_FindValue(c, t);
    if (index >= 0) return index;
  }
  return 0;
}

int negotiate_list(CONTAINER c, int mask) {
  const int old_default = static_cast<int>(CONTAINER_DefaultValue(c));
  const int old_current = static_cast<int>(CONTAINER_CurrentValue(c));
  for (int i = CONTAINER_ItemCount(c) - 1; i >= 0; --i)
    if (!pixel_type_in(mask, CONTAINER_IntItem(c, i))) CONTAINER_DeleteItem(c, i);
  const int remaining = CONTAINER_ItemCount(c);
  if (remaining <= 0) {
    RecordError(ERR_NONE_SUPPORTED, "Pixel Types");
    return 0;
  }
  if (CONTAINER_Format(c) == TWON_ENUMERATION) {
    const int current_index = preferred_current(c, old_current);
    CONTAINER_SetCurrentIndex(c, current_index);
    // The old default may have been pruned: the default must still name an
    // item of the list, so the chosen current type stands in for it.
    const int default_index = CONTAINER_FindValue(c, old_default);
    CONTAINER_SetDefaultIndex(c, default_index >= 0 ? default_index : current_index);
  }
  int ok = TWAIN_Set(ICAP_PIXELTYPE, c);
  if (remaining == 1) ok |= twain::cap_set_one(ICAP_PIXELTYPE, twain::kTyUint16, CONTAINER_IntItem(c, 0));
  if (ok) return 1;
  RecordError(ERR_CAP_REJECTED, "Setting PixelType");
  return 0;
}

}  // namespace

int TWAIN_NegotiatePixelTypes(int mask) {
  LogApiCall("NegotiatePixelTypes(%d): ", mask);
  if (TWAIN_State() != kStateSourceOpen) {
    RecordError(ERR_STATE4_ONLY, "NegotiatePixelTypes");
    return 0;
  }
  if (mask == 0) {
    LogPrint("No action.\n");
    return 1;
  }
  CONTAINER c = twain::cap_get(ICAP_PIXELTYPE, MSG_GET);
  if (!c) {
    RecordError(ERR_CAP_GET, "PIXELTYPE");
    return 0;
  }
  int ok = 0;
  switch (CONTAINER_Format(c)) {
    case TWON_ENUMERATION:
    case TWON_ARRAY: ok = negotiate_list(c, mask); break;
    case TWON_ONEVALUE:
      ok = pixel_type_in(mask, CONTAINER_IntItem(c, 0)) ? 1 : 0;
      if (!ok) RecordError(ERR_NONE_SUPPORTED, "Pixel Types");
      break;
    default: RecordError(ERR_BAD_CONTAINER_TYPE, "PIXELTYPE"); break;
  }
  CONTAINER_Free(c);
  return ok;
}

int TWAIN_IsFeederSelected(void) {
  LogApiCall("IsFeederSelected\n");
  return first_current_item(CAP_FEEDERENABLED, 0) > 0 ? 1 : 0;
}

int TWAIN_HasFeeder(void) {
  LogApiCall("HasFeeder\n");
  if (TWAIN_IsFeederSelected()) return 1;
  const int set = twain::cap_set_one(CAP_FEEDERENABLED, twain::kTyBool, 1);
  const int has = set || TWAIN_IsFeederSelected();
  twain::cap_set_one(CAP_FEEDERENABLED, twain::kTyBool, 0);
  return has ? 1 : 0;
}

int TWAIN_ProbablyHasFlatbed(void) {
  LogApiCall("HasFlatbed\n");
  if (TWAIN_State() < kStateSourceOpen) {
    RecordError(ERR_NO_DEVICE_OPEN, "TWAIN_ProbablyHasFlatbed");
    return 0;
  }
  CONTAINER saved = twain::cap_get(CAP_FEEDERENABLED, MSG_GET);
  int answer = 1;
  if (saved) {
    TWAIN_Reset(CAP_FEEDERENABLED);
    twain::cap_set_one(CAP_FEEDERENABLED, twain::kTyBool, 0);
    const int read_back = first_current_item(CAP_FEEDERENABLED, 1);
    TWAIN_Set(CAP_FEEDERENABLED, saved);
    CONTAINER_Free(saved);
    answer = read_back == 0 ? 1 : 0;
  }
  LogPrint("=> %d\n", answer);
  return answer;
}

int TWAIN_IsFeederLoaded(void) {
  LogApiCall("IsFeederLoaded ");
  return bool_capability(CAP_FEEDERLOADED);
}

int TWAIN_IsAutoFeedOn(void) {
  LogApiCall("IsAutoFeedOn ");
  return bool_capability(CAP_AUTOFEED);
}

int TWAIN_IsDuplexEnabled(void) {
  LogApiCall("IsDuplexEnabled ");
  return bool_capability(CAP_DUPLEXENABLED);
}

int TWAIN_IsPaperDetectable(void) {
  LogApiCall("IsPaperDetectable ");
  if (TWAIN_State() < kStateSourceOpen) {
    ReportUrgentError(ERR_NO_DEVICE_OPEN, "Orivane.IsPaperDetectable");
    return 0;
  }
  return bool_capability(CAP_PAPERDETECTABLE);
}

int TWAIN_Tiled(void) {
  LogApiCall("Tiled ");
  return bool_capability(ICAP_TILES);
}

int TWAIN_GetDuplexSupport(void) {
  LogApiCall("GetDuplexSupport(): ");
  int support = first_current_item(CAP_DUPLEX, 0);
  if (support <= 0) {
    // Some scanners report their duplex unit only once it has woken up.
    platform::sleep_ms(kDuplexRetryDelayMs);
    CONTAINER c = twain::cap_get(CAP_DUPLEX, MSG_GET);
    support = c ? CONTAINER_IntItem(c, 0) : 0;
    CONTAINER_Free(c);
    LogPrint("#HACK: Duplex Retry => %d\n", support);
  }
  if (support < 0) support = 0;
  LogPrint(" GetDuplexSupport=> %d\n", support);
  return support;
}

int TWAIN_CanDoDuplex(void) {
  LogApiCall("CanDoDuplex()\n");
  return TWAIN_GetDuplexSupport() != TWDX_NONE ? 1 : 0;
}

int TWAIN_IsUIControllable(void) {
  CONTAINER c = twain::cap_get(CAP_UICONTROLLABLE, MSG_GETCURRENT);
  if (!c) return -1;
  const int v = CONTAINER_IntItem(c, 0);
  CONTAINER_Free(c);
  return v != 0 ? 1 : 0;
}

int TWAIN_CanDoFileXfer(void) {
  CONTAINER c = twain::cap_get(ICAP_XFERMECH, MSG_GET);
  if (!c) return 0;
  const int has = CONTAINER_ContainsValue(c, TWSX_FILE) ? 1 : 0;
  CONTAINER_Free(c);
  return has;
}
