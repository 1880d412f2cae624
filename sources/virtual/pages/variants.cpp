// Sheets that are not lying straight with print on them, for the page
// checks that look for them: the empty back of a one-sided sheet, which a
// real scanner still delivers with some dust on it, and a sheet fed at an
// angle.
//
// The turn maps each output pixel back onto the straight page in inches
// (so a page scanned at unequal horizontal and vertical resolutions turns
// as paper does) and samples it bilinearly; what falls outside the page is
// white, like the scanner's lid behind a turned sheet. Edges stay
// anti-aliased, so the angle a deskew finds should be within a few
// hundredths of a degree of the one asked for.
#include <algorithm>
#include <cmath>
#include <numbers>

#include "sources/virtual/pages/detail.h"

namespace vscan::pages {
namespace {

constexpr double kSpeckInches = 0.01;  // a speck of dust: 2 pixels at 200 dpi
constexpr int kSpecksMin = 12;

// Park-Miller: a fixed, portable sequence, so a page is the same everywhere.
struct Sequence {
  std::uint32_t state;
  std::uint32_t next() {
    state = std::uint32_t(std::uint64_t(state) * 48271 % 2147483647);
    return state;
  }
};

}  // namespace

Canvas page_blank(const PageFormat& f, const PageFacts& facts) {
  Canvas c(f.width, f.height);
  if (c.width() == 0 || c.height() == 0) return c;
  Sequence seq{std::uint32_t(facts.page) * 7919u % 2147483646u + 1};
  const int w = std::max(1, int(std::lround(kSpeckInches * f.x_dpi)));
  const int h = std::max(1, int(std::lround(kSpeckInches * f.y_dpi)));
  const int specks = kSpecksMin + facts.page % 7;
  for (int i = 0; i < specks; ++i) {
    const int x = int(seq.next() % std::uint32_t(c.width()));
    const int y = int(seq.next() % std::uint32_t(c.height()));
    const auto v = std::uint8_t(60 + seq.next() % 150);
    c.fill({x, y, x + w, y + h}, {v, v, v});
  }
  return c;
}

Canvas page_rotate(const Canvas& page, double degrees, double x_dpi, double y_dpi) {
  Canvas out(page.width(), page.height());
  const double a = degrees * std::numbers::pi / 180;
  const double cos_a = std::cos(a), sin_a = std::sin(a);
  const double cx = (page.width() - 1) / 2.0, cy = (page.height() - 1) / 2.0;
  for (int y = 0; y < out.height(); ++y) {
    std::uint8_t* dst = out.row(y);
    const double v = (y - cy) / y_dpi;  // inches, down
    for (int x = 0; x < out.width(); ++x, dst += 3) {
      const double u = (x - cx) / x_dpi;
      // The image shows the page turned counter-clockwise by `a` (y grows
      // downwards), so each output point comes from the point turned back.
      const double su = cos_a * u - sin_a * v;
      const double sv = sin_a * u + cos_a * v;
      const double sx = cx + su * x_dpi, sy = cy + sv * y_dpi;
      const int x0 = int(std::floor(sx)), y0 = int(std::floor(sy));
      const double fx = sx - x0, fy = sy - y0;
      double acc[3] = {0, 0, 0};
      for (int k = 0; k < 4; ++k) {
        const int px = x0 + (k & 1), py = y0 + (k >> 1);
        const double weight = ((k & 1) != 0 ? fx : 1 - fx) * ((k >> 1) != 0 ? fy : 1 - fy);
        const bool inside = px >= 0 && py >= 0 && px < page.width() && py < page.height();
        const std::uint8_t* p = inside ? page.row(py) + std::size_t(px) * 3 : nullptr;
        for (int ch = 0; ch < 3; ++ch) acc[ch] += weight * (p != nullptr ? p[ch] : 255);
      }
      for (int ch = 0; ch < 3; ++ch)
        dst[ch] = std::uint8_t(std::clamp(std::lround(acc[ch]), 0L, 255L));
    }
  }
  return out;
}

Canvas page_turned_over(const Canvas& page) {
  Canvas out(page.width(), page.height());
  for (int y = 0; y < page.height(); ++y) {
    const std::uint8_t* src = page.row(y);
    std::uint8_t* dst = out.row(page.height() - 1 - y) + std::size_t(page.width() - 1) * 3;
    for (int x = 0; x < page.width(); ++x, src += 3, dst -= 3) std::copy(src, src + 3, dst);
  }
  return out;
}

}  // namespace vscan::pages
