// Cheque search of auto-crop.
//
// A cheque lies somewhere on a larger scan area whose background may be as
// light as the cheque itself, so its outline is not a reliable step in gray
// level. What sets it apart is its print: lines, text and the MICR band give
// strong local gradients, the empty scan area none. The page is brought to
// 50 DPI, its edge strength taken and stretched to the full range, and the
// result averaged down to 16 DPI. Summed over the rows it gives a column
// profile, over the columns a row profile; in each, the window of a
// cheque-like size holding the most strength (and leaving least outside) is
// the cheque's extent. The direction with the clearer answer is kept and the
// other is searched again inside it, so that print beside the cheque in one
// direction does not pull the other.
//
// Accuracy is that of the 16 DPI grid, about a sixteenth of an inch, and the
// found size is always one of the range's 0.1-inch steps.
#include "dib/cheque_search.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "dib/allocate.h"
#include "dib/contrast.h"
#include "dib/row_readers.h"
#include "dib/scale.h"
#include "orivane/errors.h"

namespace dib {
namespace {

constexpr double kAnalysisDpi = 50;   // where the edge strength is taken
constexpr double kProfileDpi = 16;    // where the windows are searched
constexpr int kStrengthMode = 3;      // spread maximum of the gradients
constexpr int kStrengthThreshold = 30;
constexpr double kSizeStep = 0.1;     // inches between tried sizes
constexpr double kMeanShare = 2.2;    // a window pays width x mean / 2.2

// The edge strength at profile resolution, one byte per pixel, row-major.
struct Grid {
  int u = 0, v = 0;
  std::vector<std::uint8_t> px;
};

void set_resolution(DibView& v, std::int32_t x_ppm, std::int32_t y_ppm) {
  InfoHeader h = v.header();
  h.x_ppm = x_ppm;
  h.y_ppm = y_ppm;
  v.store_header(h);
}

// The page at `dpi`. Resampling takes 8- and 24-bit pages; others get the
// area-averaged copy of the size resampling would give (the edge strength
// reads any layout).
Dib at_resolution(const DibView& page, double dpi) {
  if (page.depth() == 8 || page.depth() == 24) return resample(page, dpi, dpi);
  auto size_at = [&](int n, std::int32_t ppm) {
    const double size = std::trunc(dpi * n / ppm_to_dpi(ppm) + 0.5);
    if (size > std::numeric_limits<std::int32_t>::max()) throw Error(ERR_BAD_PARAMETER);
    return std::max(1, static_cast<int>(size));
  };
  Dib out = scaled_copy(page, size_at(page.width(), page.header().x_ppm), size_at(page.height(), page.header().y_ppm));
  Locked lock(out.get());
  set_resolution(lock.view(), dpi_to_ppm(dpi), dpi_to_ppm(dpi));
  return out;
}

Grid strength_grid(const DibView& work) {
  const Dib a = at_resolution(work, kAnalysisDpi);
  Locked la(a.get());
  const Dib b = edge_strength(la.view(), kStrengthMode, kStrengthThreshold);
  Locked lb(b.get());
  // The strength image stands on A's grid; its resolution is A's.
  set_resolution(lb.view(), la->header().x_ppm, la->header().y_ppm);
  auto_contrast_page(lb.view());
  const Dib c = resample(lb.view(), kProfileDpi, kProfileDpi);
  const Locked lc(c.get());
  const RowReader reader(lc.view());
  Grid g;
  g.u = lc->width();
  g.v = lc->height();
  g.px.resize(static_cast<std::size_t>(g.u) * g.v + 4);
  for (int y = 0; y < g.v; ++y) reader.gray(y, &g.px[static_cast<std::size_t>(y) * g.u]);
  return g;
}

// Integer average of each column over rows [r0, r1).
std::vector<std::uint8_t> column_profile(const Grid& g, int r0, int r1) {
  std::vector<std::uint8_t> p(static_cast<std::size_t>(g.u));
  if (r1 <= r0) return p;
  for (int x = 0; x < g.u; ++x) {
    std::uint32_t sum = 0;
    for (int y = r0; y < r1; ++y) sum += g.px[static_cast<std::size_t>(y) * g.u + x];
    p[x] = static_cast<std::uint8_t>(sum / static_cast<std::uint32_t>(r1 - r0));
  }
  return p;
}

// Average of each row over columns [c0, c1), its fraction dropped.
std::vector<std::uint8_t> row_profile(const Grid& g, int c0, int c1) {
  std::vector<std::uint8_t> p(static_cast<std::size_t>(g.v));
  if (c1 <= c0) return p;
  for (int y = 0; y < g.v; ++y) {
    const std::uint8_t* row = &g.px[static_cast<std::size_t>(y) * g.u];
    std::uint32_t sum = 0;
    for (int x = c0; x < c1; ++x) sum += row[x];
    p[y] = static_cast<std::uint8_t>(sum / static_cast<std::uint32_t>(c1 - c0));
  }
  return p;
}

}  // namespace

CropWindow crop_window_search(std::span<const std::uint8_t> p, double dpi, double min_inches,
                              double max_inches) {
  const int n = static_cast<int>(p.size());
  CropWindow best{0, n, -9999};
  if (n == 0 || !(dpi > 0)) return best;
  std::vector<std::int64_t> prefix(static_cast<std::size_t>(n) + 1, 0);
  for (int i = 0; i < n; ++i) prefix[i + 1] = prefix[i] + p[i];
  const std::int64_t total = prefix[n];
  const double mean = static_cast<double>(total) / n;
  auto consider = [&](int w) {
    for (int j = 0; j + w <= n; ++j) {
      const std::int64_t inside = prefix[j + w] - prefix[j];
      const double score = static_cast<double>(inside - (total - inside)) - w * mean / kMeanShare;
      if (score > best.score) best = {j, j + w, score};
    }
  };
  // Every size from (n - 0.5) / dpi up is the whole profile: it is tried
  // once, and the ladder of sizes resumes on its first step below that, so a
  // huge maximum costs nothing.
  double top = max_inches;
  const double whole = (n - 0.5) / dpi;
  if (!(max_inches < whole)) {
    if (max_inches >= min_inches) consider(n);
    top = std::isfinite(max_inches)
              ? max_inches - (std::floor((max_inches - whole) / kSizeStep) + 1) * kSizeStep
              : whole - kSizeStep;
    // A maximum so large that the step is lost in its precision.
    if (!(top < whole)) top = whole - kSizeStep;
  }
  for (long k = 0;; ++k) {
    const double s = top - kSizeStep * static_cast<double>(k);
    if (!(s >= min_inches)) break;
    const int w = static_cast<int>(std::clamp(std::floor(s * dpi + 0.5), 1.0, static_cast<double>(n)));
    consider(w);
    if (w == 1) break;  // every smaller size is the same one-pixel window
  }
  return best;
}

std::optional<ChequeBox> cheque_search(const DibView& work, const CropSizeInches& size, int top_offset) {
  if (work.header().x_ppm <= 0 || work.header().y_ppm <= 0) return std::nullopt;
  const Grid g = strength_grid(work);
  CropWindow xs = crop_window_search(column_profile(g, 0, g.v), kProfileDpi, size.min_w, size.max_w);
  CropWindow ys = crop_window_search(row_profile(g, 0, g.u), kProfileDpi, size.min_h, size.max_h);
  // Keep the clearer direction and search the other again inside it.
  if (ys.score < xs.score) {
    ys = crop_window_search(row_profile(g, xs.start, xs.end), kProfileDpi, size.min_h, size.max_h);
  } else {
    xs = crop_window_search(column_profile(g, ys.start, ys.end), kProfileDpi, size.min_w, size.max_w);
  }
  const double W = work.width(), H = work.height();
  ChequeBox box;
  box.left = static_cast<int>(W * xs.start / g.u);
  box.right = std::min(work.width() - 1, static_cast<int>(W * xs.end / g.u + 0.5));
  box.top = top_offset + static_cast<int>(H * ys.start / g.v);
  box.bottom = top_offset + std::min(work.height() - 1, static_cast<int>(H * ys.end / g.v + 0.5));
  return box;
}

}  // namespace dib
