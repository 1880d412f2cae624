// Device settings: each setter negotiates its capability with the open source
// (state 4) or, before a source is open, keeps the wish as a deferred request
// that NegotiateSettings applies right after the next open.
#include "orivane/twain_settings.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <initializer_list>

#include "core/error_record.h"
#include "log/trace.h"
#include "orivane/errors.h"
#include "orivane/twain.h"
#include "orivane/twain_capability.h"
#include "orivane/twain_session.h"
#include "twain/capabilities/capability.h"
#include "twain/capabilities/deferred.h"
#include "twain/capabilities/item_values.h"
#include "twain/session/dsm.h"

using twain::deferred;

namespace {

constexpr int kStateSourceOpen = 4;

bool source_open() { return TWAIN_State() >= kStateSourceOpen; }
bool in_state_4() { return TWAIN_State() == kStateSourceOpen; }

int set_uint16(unsigned cap, int value) { return twain::cap_set_one(cap, twain::kTyUint16, value); }
int set_bool(unsigned cap, int flag) { return twain::cap_set_one(cap, twain::kTyBool, flag != 0); }
int set_fix32(unsigned cap, double value) { return twain::cap_set_one(cap, twain::kTyFix32, value); }

// After a refusal the capability is read once, so the trace shows the values
// the source would have taken.
void read_capability_once(unsigned cap) { CONTAINER_Free(twain::cap_get(cap, MSG_GET)); }

int traced_result(int ok) {
  LogPrint("=> %d\n", ok);
  return ok;
}

}  // namespace

// ---- transfer mechanism and count -----------------------------------------

int TWAIN_SetXferMech(int mech) {
  LogApiCall("SetXferMech(%d)\n", mech);
  twain::DeferredSettings& d = deferred();
  d.xfer_mech = -1;
  const int state = TWAIN_State();
  if (state < kStateSourceOpen) {
    d.xfer_mech = mech;
    LogPrint("Deferred: xfermech=%d\n", mech);
    return 1;
  }
  if (state == kStateSourceOpen) {
    if (set_uint16(ICAP_XFERMECH, mech)) {
      d.current_xfer_mech = mech;
      return 1;
    }
    d.current_xfer_mech = -1;
    return TWAIN_XferMech() == mech ? 1 : 0;
  }
  if (TWAIN_XferMech() == mech) return 1;
  LogPrint("** SetXferMech(%d) failed in State %d!\n", mech, state);
  return 0;
}

int TWAIN_XferMech(void) {
  LogApiCall("XferMech: ");
  twain::DeferredSettings& d = deferred();
  int mech;
  if (!source_open()) {
    mech = d.xfer_mech < 0 ? 0 : d.xfer_mech;
  } else {
    if (d.current_xfer_mech < 0) d.current_xfer_mech = TWAIN_GetCurrentUint16(ICAP_XFERMECH, 0);
    mech = d.current_xfer_mech;
  }
  LogPrint("%d\n", mech);
  return mech;
}

static int set_xfer_count(int count) {
  twain::DeferredSettings& d = deferred();
  if (!source_open()) {
    d.xfer_count = count;
    LogPrint(" Deferred\n");
    return 1;
  }
  d.xfer_count = 0;
  d.remembered_xfer_count = count;
  return traced_result(twain::cap_set_one(CAP_XFERCOUNT, twain::kTyInt16, count));
}

int TWAIN_SetXferCount(int count) {
  LogApiCall("SetXferCount(%d)", count);
  return set_xfer_count(count);
}

int TWAIN_NegotiateXferCount(int count) {
  LogApiCall("NegotiateXferCount: %d", count);
  return set_xfer_count(count);
}

// ---- units and resolution --------------------------------------------------

static int set_units(int units) {
  twain::DeferredSettings& d = deferred();
  if (!in_state_4()) {
    d.units = units;
    LogPrint(" Deferred\n");
    return 1;
  }
  d.units = -1;
  return traced_result(set_uint16(ICAP_UNITS, units));
}

int TWAIN_SetUnits(int units) {
  LogApiCall("SetUnits(%d)", units);
  return set_units(units);
}

int TWAIN_SetCurrentUnits(int units) {
  LogApiCall("SetCurrentUnits => %d", units);
  return set_units(units);
}

int TWAIN_GetCurrentUnits(void) { return TWAIN_GetCurrentUint16(ICAP_UNITS, 0); }

int TWAIN_SetXResolution(double dpu) {
  LogApiCall("SetXResolution: %g", dpu);
  twain::DeferredSettings& d = deferred();
  if (!source_open() || dpu < 0) {
    d.x_resolution = dpu;
    LogPrint(" Defer: x-res=%g\n", dpu);
    return 1;
  }
  d.x_resolution = -1;
  if (set_fix32(ICAP_XRESOLUTION, dpu)) return 1;
  RecordError(ERR_CAP_REJECTED, "Setting Resolution");
  return 0;
}

int TWAIN_SetYResolution(double dpu) {
  LogApiCall("SetYResolution: %g", dpu);
  twain::DeferredSettings& d = deferred();
  if (!source_open() || dpu < 0) {
    d.y_resolution = dpu;
    LogPrint(" Defer: y-res=%g\n", dpu);
    return 1;
  }
  d.y_resolution = -1;
  return set_fix32(ICAP_YRESOLUTION, dpu);
}

int TWAIN_SetResolution(double dpu) {
  LogApiCall("SetResolution(%g)\n", dpu);
  const int x = TWAIN_SetXResolution(dpu);
  const int y = TWAIN_SetYResolution(dpu);
  return x && y;
}

int TWAIN_SetResolutionInt(int dpu) {
  LogApiCall("SetResolutionInt: %d\n", dpu);
  return TWAIN_SetResolution(dpu);
}

double TWAIN_GetXResolution(void) { return TWAIN_GetCurrentFix32(ICAP_XRESOLUTION, 0); }
double TWAIN_GetYResolution(void) { return TWAIN_GetCurrentFix32(ICAP_YRESOLUTION, 0); }

// ---- pixel type and depth --------------------------------------------------

int TWAIN_SetPixelType(int type) {
  LogApiCall("SetPixelType(%d) ", type);
  twain::DeferredSettings& d = deferred();
  d.pixel_mask = 0;
  if (type < 0) {
    d.pixel_type = -1;
    LogPrint("Cleared.\n");
    return 1;
  }
  // A type beyond the mask's bits is no pixel type at all.
  if (type > 30) {
    RecordErrorF(ERR_BAD_PARAMETER, "SetPixelType(%d)", type);
    return 0;
  }
  if (!source_open()) {
    d.pixel_type = type;
    d.pixel_mask = 1 << type;
    LogPrint("Deferred.\n");
    return 1;
  }
  // Set at once: a type deferred earlier no longer stands for the device's.
  d.pixel_type = -1;
  if (set_uint16(ICAP_PIXELTYPE, type)) {
    d.current_pixel_type = type;
    return traced_result(1);
  }
  d.current_pixel_type = -1;
  return traced_result(0);
}

int TWAIN_GetPixelType(void) {
  twain::DeferredSettings& d = deferred();
  if (!source_open() || d.pixel_type >= 0) return d.pixel_type;
  if (d.current_pixel_type < 0) d.current_pixel_type = TWAIN_GetCurrentUint16(ICAP_PIXELTYPE, -1);
  return d.current_pixel_type;
}

int TWAIN_SetBitDepth(int depth) {
  LogApiCall("SetBitDepth(%d)\n", depth);
  twain::DeferredSettings& d = deferred();
  d.bit_depth = -1;
  const bool deep = depth > 24 || (depth > 8 && TWAIN_GetPixelType() == TWPT_GRAY);
  if (deep && TWAIN_XferMech() == TWSX_NATIVE) {
    LogPrint("Deep data, forcing memory transfer.\n");
    TWAIN_SetXferMech(TWSX_MEMORY);
  }
  if (!source_open()) {
    d.bit_depth = depth;
    LogPrint("(Deferred)\n");
    return 1;
  }
  return set_uint16(ICAP_BITDEPTH, depth);
}

int TWAIN_GetBitDepth(void) { return TWAIN_GetCurrentUint16(ICAP_BITDEPTH, 0); }

// ---- image controls --------------------------------------------------------

int TWAIN_SetCompression(int compression) {
  LogApiCall("SetCompression(%d)... ", compression);
  if (!source_open()) {
    deferred().compression = compression;
    LogPrint("Deferred\n");
    return 1;
  }
  deferred().compression = -1;
  return traced_result(set_uint16(ICAP_COMPRESSION, compression));
}

int TWAIN_SetLightPath(int transmissive) {
  LogApiCall("SetLightPath(%d)\n", transmissive);
  const int path = transmissive ? TWLP_TRANSMISSIVE : TWLP_REFLECTIVE;
  if (!source_open()) {
    deferred().light_path = path;
    return 1;
  }
  deferred().light_path = -1;
  return set_uint16(ICAP_LIGHTPATH, path);
}

int TWAIN_SetPlanarChunky(int value) {
  LogApiCall("SetPlanarChunky(%d)... ", value);
  return traced_result(set_uint16(ICAP_PLANARCHUNKY, value));
}

int TWAIN_SetPixelFlavor(int value) {
  LogApiCall("SetPixelFlavor(%d)... ", value);
  return traced_result(set_uint16(ICAP_PIXELFLAVOR, value));
}

int TWAIN_SetAutoBright(int flag) {
  LogApiCall("SetAutoBright: %d ", flag);
  return traced_result(set_bool(ICAP_AUTOBRIGHT, flag));
}

int TWAIN_SetBrightness(double value) {
  LogApiCall("SetBrightness(%g) ", value);
  const int ok = set_fix32(ICAP_BRIGHTNESS, value);
  if (!ok && in_state_4()) read_capability_once(ICAP_BRIGHTNESS);
  return traced_result(ok);
}

int TWAIN_SetContrast(double value) {
  LogApiCall("SetContrast(%g) ", value);
  twain::DeferredSettings& d = deferred();
  d.contrast = twain::DeferredSettings::kContrastNotSet;
  if (value == twain::DeferredSettings::kContrastNotSet) {
    LogPrint("Cleared.\n");
    return 1;
  }
  if (!source_open()) {
    d.contrast = value;
    LogPrint("Deferred\n");
    return 1;
  }
  const int ok = set_fix32(ICAP_CONTRAST, value);
  if (!ok) read_capability_once(ICAP_CONTRAST);
  return traced_result(ok);
}

int TWAIN_SetThreshold(double value) {
  LogApiCall("SetThreshold: %g ", value);
  return traced_result(set_fix32(ICAP_THRESHOLD, value));
}

int TWAIN_SetGamma(double value) {
  LogApiCall("SetGamma(%g) ", value);
  if (set_fix32(ICAP_GAMMA, value)) return traced_result(1);
  RecordError(ERR_CAP_REJECTED, "ICAP_GAMMA");
  return traced_result(0);
}

int TWAIN_SetShadow(double value) {
  LogApiCall("SetShadow(%g) ", value);
  return traced_result(set_fix32(ICAP_SHADOW, value));
}

int TWAIN_SetHighlight(double value) {
  LogApiCall("SetHighlight(%g) ", value);
  return traced_result(set_fix32(ICAP_HIGHLIGHT, value));
}

int TWAIN_SetIndicators(int flag) {
  LogApiCall("SetIndicators(%d)\n", flag);
  if (!source_open()) {
    deferred().indicators = flag != 0;
    return 1;
  }
  deferred().indicators = -1;
  return set_bool(CAP_INDICATORS, flag);
}

int TWAIN_GetIndicators(void) {
  if (!source_open()) return deferred().indicators < 0 ? 1 : deferred().indicators;
  return TWAIN_GetCapBool(CAP_INDICATORS, 1);
}

int TWAIN_SetTiled(int flag) {
  LogApiCall("SetTiled(%d)... ", flag);
  if (TWAIN_GetCapBool(ICAP_TILES, 0) == (flag != 0)) return traced_result(1);
  return traced_result(set_bool(ICAP_TILES, flag));
}

// ---- paper source ----------------------------------------------------------

int TWAIN_SelectFeeder(int flag) {
  LogApiCall("SelectFeeder(%d)\n", flag);
  twain::DeferredSettings& d = deferred();
  d.feeder_explicitly_selected = true;
  if (!source_open()) {
    d.feeder = flag != 0;
    return 1;
  }
  d.feeder = -1;
  if (set_bool(CAP_FEEDERENABLED, flag)) return 1;
  // A source that refuses to select what is already selected still has it.
  return TWAIN_IsFeederSelected() == (flag != 0) ? 1 : 0;
}

int TWAIN_SetAutoFeed(int flag) {
  LogApiCall("SetAutoFeed(%d)", flag);
  twain::DeferredSettings& d = deferred();
  if (!source_open()) {
    d.auto_feed = flag != 0;
    LogPrint(" Deferred\n");
    return 1;
  }
  LogNewLine();
  d.auto_feed = -1;
  if (flag == 1 || (flag == 0 && !d.feeder_explicitly_selected)) TWAIN_SelectFeeder(1);
  return set_bool(CAP_AUTOFEED, flag);
}

int TWAIN_SetAutoScan(int flag) {
  LogApiCall("SetAutoScan(%d)", flag);
  if (!source_open()) {
    deferred().auto_scan = flag != 0;
    LogPrint(" Deferred\n");
    return 1;
  }
  LogNewLine();
  deferred().auto_scan = -1;
  return set_bool(CAP_AUTOSCAN, flag);
}

int TWAIN_EnableDuplex(int flag) {
  LogApiCall("EnableDuplex(%d)\n", flag);
  if (!source_open()) {
    deferred().duplex = flag != 0;
    return 1;
  }
  deferred().duplex = -1;
  if (!TWAIN_GetDuplexSupport()) return 0;
  return set_bool(CAP_DUPLEXENABLED, flag);
}

// ---- response curves -------------------------------------------------------

namespace {

constexpr int kResponseEntries = 256;
using ResponseTable = std::array<TW_ELEMENT8, kResponseEntries>;

// The table the source receives: entry i maps level i; each channel's level
// is the low byte of the caller's 32-bit value.
ResponseTable response_table(const std::int32_t* red, const std::int32_t* green,
                             const std::int32_t* blue) {
  ResponseTable table{};
  for (int i = 0; i < kResponseEntries; ++i) {
    table[i].Index = static_cast<TW_UINT8>(i);
    table[i].Channel1 = static_cast<TW_UINT8>(red[i] & 0xff);
    table[i].Channel2 = static_cast<TW_UINT8>(green[i] & 0xff);
    table[i].Channel3 = static_cast<TW_UINT8>(blue[i] & 0xff);
  }
  return table;
}

// Response curves are negotiated with an open, not enabled, source.
bool response_state_ok(const char* operation) {
  if (in_state_4()) return true;
  RecordError(ERR_NO_DEVICE_OPEN, operation);
  return false;
}

bool tables_given(const char* operation, std::initializer_list<const std::int32_t*> tables) {
  for (const std::int32_t* t : tables) {
    if (t == nullptr) {
      RecordErrorF(ERR_BAD_PARAMETER, "%s: null table", operation);
      return false;
    }
  }
  return true;
}

int send_response(unsigned dat, unsigned msg, ResponseTable& table) {
  return traced_result(twain::ds_call(DG_IMAGE, dat, msg, table.data()));
}

}  // namespace

int TWAIN_SetGrayResponse(const int32_t* levels) {
  LogApiCall("SetGrayResponse: ");
  if (!response_state_ok("TWAIN_SetGrayResponse") ||
      !tables_given("TWAIN_SetGrayResponse", {levels}))
    return traced_result(0);
  ResponseTable table = response_table(levels, levels, levels);
  switch (TWAIN_GetPixelType()) {
    case TWPT_GRAY: return send_response(DAT_GRAYRESPONSE, MSG_SET, table);
    // A colour scan gets the same curve on all three channels.
    case TWPT_RGB: return send_response(DAT_RGBRESPONSE, MSG_SET, table);
    default:
      RecordError(ERR_FAILURE, "TWAIN_SetGrayResponse: pixeltype not Gray or RGB");
      return traced_result(0);
  }
}

int TWAIN_SetColorResponse(const int32_t* red, const int32_t* green, const int32_t* blue) {
  LogApiCall("SetColorResponse: ");
  if (!response_state_ok("TWAIN_SetColorResponse") ||
      !tables_given("TWAIN_SetColorResponse", {red, green, blue}))
    return traced_result(0);
  if (TWAIN_GetPixelType() != TWPT_RGB) {
    RecordError(ERR_FAILURE, "TWAIN_SetColorResponse: pixeltype != RGB");
    return traced_result(0);
  }
  ResponseTable table = response_table(red, green, blue);
  return send_response(DAT_RGBRESPONSE, MSG_SET, table);
}

int TWAIN_ResetGrayResponse(void) {
  LogApiCall("ResetGrayResponse: ");
  if (!response_state_ok("TWAIN_ResetGrayResponse")) return traced_result(0);
  // The source may answer the curve it returned to in the same area.
  ResponseTable table{};
  return send_response(DAT_GRAYRESPONSE, MSG_RESET, table);
}

int TWAIN_ResetColorResponse(void) {
  LogApiCall("ResetColorResponse: ");
  if (!response_state_ok("TWAIN_ResetColorResponse")) return traced_result(0);
  ResponseTable table{};
  return send_response(DAT_RGBRESPONSE, MSG_RESET, table);
}
