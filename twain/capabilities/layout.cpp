// The scan area: region, image layout, frame and paper size.
#include <cstdint>
#include <cstdio>
#include <utility>

#include "core/error_record.h"
#include "core/paper_sizes.h"
#include "log/trace.h"
#include "orivane/errors.h"
#include "orivane/twain.h"
#include "orivane/twain_capability.h"
#include "orivane/twain_container.h"
#include "orivane/twain_session.h"
#include "orivane/twain_settings.h"
#include "twain/capabilities/capability.h"
#include "twain/capabilities/deferred.h"
#include "twain/capabilities/item_values.h"
#include "twain/session/dsm.h"

using twain::deferred;

namespace {

constexpr int kStateSourceOpen = 4;

// A frame must start at or right of the origin and have a positive size.
bool frame_valid(double l, double t, double r, double b) {
  if (l < 0 || t < 0 || l >= r || t >= b) {
    RecordErrorF(ERR_BAD_REGION, "Left %g, Top %g, Right %g, Bottom %g", l, t, r, b);
    return false;
  }
  return true;
}

TW_FIX32 to_fix32(double v) {
  const std::uint32_t scaled = static_cast<std::uint32_t>(twain::fix32_from_double(v));
  TW_FIX32 f;
  f.Whole = static_cast<TW_INT16>(static_cast<std::uint16_t>(scaled >> 16));
  f.Frac = static_cast<TW_UINT16>(scaled & 0xffff);
  return f;
}

double from_fix32(const TW_FIX32& f) { return f.Whole + f.Frac / 65536.0; }

// Asks the source for its image layout (MSG_GET or MSG_GETDEFAULT) and hands
// out the frame's edges; outputs that are null are skipped.
int get_layout(unsigned msg, double* out_left, double* out_top, double* out_right,
               double* out_bottom) {
  TW_IMAGELAYOUT layout{};
  if (!twain::ds_call(DG_IMAGE, DAT_IMAGELAYOUT, msg, &layout)) return 0;
  const std::pair<double*, const TW_FIX32*> edges[] = {{out_left, &layout.Frame.Left},
                                                       {out_top, &layout.Frame.Top},
                                                       {out_right, &layout.Frame.Right},
                                                       {out_bottom, &layout.Frame.Bottom}};
  for (const auto& [out, edge] : edges) {
    if (out) *out = from_fix32(*edge);
  }
  return 1;
}

void forget_region() {
  twain::DeferredSettings& d = deferred();
  d.region_left = d.region_top = d.region_right = d.region_bottom = 0;
}

}  // namespace

int TWAIN_SetImageLayout(double l, double t, double r, double b) {
  LogApiCall("SetImageLayout(%g,%g,%g,%g)\n", l, t, r, b);
  if (!frame_valid(l, t, r, b)) return 0;
  TW_IMAGELAYOUT layout{};
  layout.Frame.Left = to_fix32(l);
  layout.Frame.Top = to_fix32(t);
  layout.Frame.Right = to_fix32(r);
  layout.Frame.Bottom = to_fix32(b);
  layout.DocumentNumber = TWON_DONTCARE32;
  layout.PageNumber = TWON_DONTCARE32;
  layout.FrameNumber = TWON_DONTCARE32;
  return twain::ds_call(DG_IMAGE, DAT_IMAGELAYOUT, MSG_SET, &layout);
}

int TWAIN_ResetImageLayout(void) {
  LogApiCall("ResetImageLayout\n");
  TW_IMAGELAYOUT layout{};
  return twain::ds_call(DG_IMAGE, DAT_IMAGELAYOUT, MSG_RESET, &layout);
}

int TWAIN_GetImageLayout(double* left, double* top, double* right, double* bottom) {
  LogApiCall("GetImageLayout\n");
  return get_layout(MSG_GET, left, top, right, bottom);
}

int TWAIN_GetDefaultImageLayout(double* left, double* top, double* right, double* bottom) {
  LogApiCall("GetDefaultImageLayout\n");
  return get_layout(MSG_GETDEFAULT, left, top, right, bottom);
}

int TWAIN_SetFrame(double l, double t, double r, double b) {
  LogApiCall("SetFrame(%g,%g,%g,%g): ", l, t, r, b);
  if (!frame_valid(l, t, r, b)) return 0;
  CONTAINER c = CONTAINER_OneValue(TWTY_FRAME, 0);
  if (!c) return 0;
  CONTAINER_SetItemFrame(c, 0, l, t, r, b);
  const int ok = TWAIN_Set(ICAP_FRAMES, c);
  CONTAINER_Free(c);
  return ok;
}

int TWAIN_SetRegion(double l, double t, double r, double b) {
  LogApiCall("SetRegion(%g, %g, %g, %g)\n", l, t, r, b);
  if (!frame_valid(l, t, r, b)) {
    forget_region();
    return 0;
  }
  twain::DeferredSettings& d = deferred();
  d.region_left = l;
  d.region_top = t;
  d.region_right = r;
  d.region_bottom = b;
  if (TWAIN_State() < kStateSourceOpen) {
    d.region_units = d.units >= 0 ? d.units : TWUN_INCHES;
    return 1;
  }
  d.region_units = TWAIN_GetCurrentUnits();
  const int layout = TWAIN_SetImageLayout(l, t, r, b);
  const int frame = TWAIN_SetFrame(l, t, r, b);
  return layout || frame;
}

int TWAIN_ResetRegion(void) {
  LogApiCall("ResetRegion\n");
  forget_region();
  if (TWAIN_State() != kStateSourceOpen) return 1;
  const int layout = TWAIN_ResetImageLayout();
  const int frames = TWAIN_Reset(ICAP_FRAMES);
  return layout && frames;
}

int TWAIN_SetPaperSize(int size) {
  LogApiCall("SetPaperSize(%d)\n", size);
  twain::DeferredSettings& d = deferred();
  if (TWAIN_State() != kStateSourceOpen) {
    d.paper_size = size;
    return 1;
  }
  d.paper_size = -1;
  if (size < 0) {
    const int reset = TWAIN_Reset(ICAP_SUPPORTEDSIZES);
    return TWAIN_ResetImageLayout() && reset;
  }
  if (size == 0) {
    const int none = twain::cap_set_one(ICAP_SUPPORTEDSIZES, twain::kTyUint16, TWSS_NONE);
    return TWAIN_ResetImageLayout() && none;
  }
  if (twain::cap_set_one(ICAP_SUPPORTEDSIZES, twain::kTyUint16, size)) return 1;
  // A source without this paper size can still scan its area.
  core::PaperSize paper;
  if (!core::paper_size_inches(size, &paper) || paper.width <= 0) {
    RecordError(ERR_BAD_PARAMETER, "");
    return 0;
  }
  const int units = TWAIN_GetCurrentUnits();
  const double dpi = TWAIN_GetXResolution();
  return TWAIN_SetRegion(0, 0, core::inches_to_units(paper.width, units, dpi),
                         core::inches_to_units(paper.height, units, dpi));
}
