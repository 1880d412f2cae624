// Resolution recovery: many drivers leave the pixels-per-metre fields of a
// native DIB at 0, and one family fills them with nonsense. The device's
// current resolution is what the page was scanned at, so it is written into
// the fields; later steps (soft crop, file writers) rely on them.
#include "twain/acquisition/post_process.h"

#include <cmath>
#include <cstdint>
#include <limits>

#include "dib/dib.h"
#include "log/trace.h"
#include "orivane/twain.h"
#include "platform/clock.h"
#include "twain/acquisition/acquire.h"
#include "twain/session/session.h"

namespace twain {

namespace {

constexpr double kCentimetresPerMetre = 100;
constexpr double kMetresPerInch = 0.0254;

// Integer part of (value + 0.5), held inside the field's range.
std::int32_t ppm_field(double ppm) {
  const double t = std::trunc(ppm + 0.5);
  if (!(t > 0)) return 0;
  if (t >= static_cast<double>(std::numeric_limits<std::int32_t>::max()))
    return std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(t);
}

std::int32_t ppm_of(double value, int units) {
  return ppm_field(units == TWUN_CENTIMETERS ? value * kCentimetresPerMetre : value / kMetresPerInch);
}

}  // namespace

bool resolution_trusted(const dib::InfoHeader& header, std::string_view product) {
  if (header.x_ppm == 0 && header.y_ppm == 0) return false;
  return product != kUntrustedResolutionProduct;
}

void resolution_store(dib::DibView& page, double x, double y, int units) {
  const std::uint32_t start = platform::tick_count_ms();
  if (y == 0) y = x;
  dib::InfoHeader h = page.header();
  h.x_ppm = ppm_of(x, units);
  h.y_ppm = ppm_of(y, units);
  page.store_header(h);
  LogPrint("Resolution recovery: XPPM=%d (%g DPI), YPPM=%d (%g DPI) [%dms]\n", h.x_ppm,
           dib::ppm_to_dpi(h.x_ppm), h.y_ppm, dib::ppm_to_dpi(h.y_ppm),
           static_cast<int>(platform::tick_count_ms() - start));
}

void recover_resolution(dib::Handle page) {
  // Also called straight from the memory transfer: nothing may escape.
  try {
    dib::Locked lock(page);
    if (resolution_trusted(lock->header(), session().source_product)) return;
    const PageSteps& steps = page_steps();
    const double x = steps.device_resolution(ICAP_XRESOLUTION);
    const double y = steps.device_resolution(ICAP_YRESOLUTION);
    resolution_store(lock.view(), x, y, acquisition().units_at_enable);
  } catch (const dib::Error& e) {
    LogPrint("** Resolution recovery: not a DIB (%s)\n", e.what());
  }
}

}  // namespace twain
