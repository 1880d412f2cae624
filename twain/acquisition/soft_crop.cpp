// Soft crop: many devices ignore the scan region they were given, or round it
// to their own steps, and deliver the whole bed. When the page is larger than
// the region set by TWAIN_SetRegion, the region is cut out here. The region is
// converted to pixels with the page's own resolution, so the resolution
// recovery must have run first.
#include "twain/acquisition/post_process.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>

#include "dib/crop.h"
#include "log/trace.h"
#include "orivane/twain.h"
#include "platform/clock.h"
#include "twain/capabilities/deferred.h"

namespace twain {

namespace {

// A region that starts away from the origin may overhang the page by a few
// pixels (devices round their frames): up to 8 on the right, 3 at the bottom.
constexpr int kRightOverhangMax = 8;
constexpr int kBottomOverhangLimit = 4;

// Pixels per region unit from the page's dots per inch.
double unit_scale(double dpi, int units) {
  switch (units) {
    case TWUN_CENTIMETERS: return dpi / 2.54;
    case TWUN_PICAS: return dpi / 6;
    case TWUN_POINTS: return dpi / 72;
    case TWUN_TWIPS: return dpi / 1440;
    case TWUN_PIXELS: return 1;
    default: return dpi;
  }
}

// Integer part of (value + 0.5); nothing outside the int range.
std::optional<int> pixels(double value) {
  const double t = std::trunc(value + 0.5);
  if (!std::isfinite(t) || t > std::numeric_limits<int>::max() || t < std::numeric_limits<int>::min())
    return std::nullopt;
  return static_cast<int>(t);
}

struct CropRect {
  int x, y, w, h;
};

enum class Plan { kNone, kCut, kFail };

Plan plan_crop(const dib::DibView& v, CropRect* out) {
  const DeferredSettings& d = deferred();
  const double sx = unit_scale(dib::ppm_to_dpi(v.header().x_ppm), d.region_units);
  const double sy = unit_scale(dib::ppm_to_dpi(v.header().y_ppm), d.region_units);
  if (sx == 0 || sy == 0) return Plan::kNone;
  const auto x = pixels(d.region_left * sx), y = pixels(d.region_top * sy);
  const auto right = pixels(d.region_right * sx), bottom = pixels(d.region_bottom * sy);
  const auto w = pixels((d.region_right - d.region_left) * sx);
  const auto h = pixels((d.region_bottom - d.region_top) * sy);
  if (!x || !y || !right || !bottom || !w || !h) return Plan::kFail;
  if (v.width() == *w && v.height() == *h) return Plan::kNone;
  if (d.region_left != 0 || d.region_top != 0) {
    const std::int64_t right_room = std::int64_t{v.width()} - *right;
    const std::int64_t bottom_room = std::int64_t{v.height()} - *bottom;
    if (right_room < -kRightOverhangMax || bottom_room <= -kBottomOverhangLimit) return Plan::kNone;
  }
  // An empty rectangle would throw the page away.
  if (*w < 1 || *h < 1) return Plan::kFail;
  *out = CropRect{*x, *y, *w, *h};
  return Plan::kCut;
}

bool entry0_white(const dib::DibView& v) {
  const std::span<dib::Rgbq> t = v.table();
  return !t.empty() && t[0].red == 255 && t[0].green == 255 && t[0].blue == 255;
}

}  // namespace

dib::Handle soft_crop(dib::Handle page) {
  if (!(deferred().region_right > 0)) return page;
  const std::uint32_t start = platform::tick_count_ms();
  dib::Dib cut;
  CropRect r{};
  try {
    const dib::Locked lock(page);
    const Plan plan = plan_crop(lock.view(), &r);
    if (plan == Plan::kNone) return page;
    if (plan == Plan::kCut)
      cut = dib::cut_rect(lock.view(), r.x, r.y, r.w, r.h, entry0_white(lock.view()) ? 0 : 0xFF);
  } catch (const dib::Error&) {
    cut.reset();
  }
  if (!cut) {
    LogPrint("**Soft crop failed.\n");
    return page;
  }
  dib::dib_free(page);
  LogPrint("? Soft Crop to x=%d y=%d w=%d h=%d [%dms]\n", r.x, r.y, r.w, r.h,
           static_cast<int>(platform::tick_count_ms() - start));
  return cut.release();
}

}  // namespace twain
