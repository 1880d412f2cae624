// The DIB family's C surface for blank-page judgement and the gray histogram.
// These queries record nothing in the error record: a page that cannot be
// read is simply not blank, and a histogram that cannot be made reports 0.
#include "orivane/dib_analysis.h"

#include <algorithm>
#include <vector>

#include "dib/blank.h"
#include "dib/dib.h"
#include "dib/histogram.h"
#include "dib/page_analysis.h"
#include "dib/row_readers.h"
#include "log/trace.h"

namespace {

// Runs `body` on the locked image; `on_failure` when the handle is null, stale
// or not a DIB, or the work fails.
template <typename R, typename F>
R quietly(DIB_HANDLE h, R on_failure, F&& body) noexcept {
  try {
    const dib::Locked lock(h);
    return body(lock.view());
  } catch (...) {
    return on_failure;
  }
}

// The histogram of one colour component (the row readers' codes).
dib::Histogram component_histogram(const dib::DibView& v, int component, const dib::Region& r) {
  dib::Histogram h{};
  const dib::RowReader reader(v);
  const int x0 = std::max(0, r.left), y0 = std::max(0, r.top);
  const int x1 = std::min(v.width(), r.right), y1 = std::min(v.height(), r.bottom);
  std::vector<std::uint8_t> row(static_cast<std::size_t>(v.width()) + 4);
  for (int y = y0; y < y1; ++y) {
    if (!reader.component(y, component, row.data())) break;
    for (int x = x0; x < x1; ++x) ++h[row[x]];
  }
  return h;
}

}  // namespace

int32_t DIB_IsBlank(DIB_HANDLE h, double threshold) {
  bool judged = false;
  const bool blank = quietly(h, false, [&](const dib::DibView& v) {
    judged = true;  // the judgement traces itself
    return dib::is_blank(v, threshold);
  });
  // An image that cannot be locked has no pixels and no dark ones.
  if (!judged) LogDibCall("IsBlank(%0.3f : %0.3f) => %d\n", 0.0, threshold, 0);
  return blank ? 1 : 0;
}

double DIB_DarkFraction(DIB_HANDLE h) {
  return quietly(h, -1.0, [](const dib::DibView& v) { return dib::dark_fraction(v).value_or(-1.0); });
}

int32_t DIB_GrayHistogram(DIB_HANDLE h, int32_t mode, uint32_t hist[256], const int32_t region[4]) {
  if (hist == nullptr || mode < dib::kCompGray || mode > dib::kCompHue) return 0;
  std::fill_n(hist, 256, 0u);
  return quietly(h, 0, [&](const dib::DibView& v) {
    if (!v.rows_ok() || !dib::RowReader(v).supported()) return 0;
    const dib::Region whole{0, 0, v.width(), v.height()};
    const dib::Region r = region ? dib::Region{region[0], region[1], region[2], region[3]} : whole;
    const dib::Histogram counts =
        mode == dib::kCompGray ? dib::gray_histogram(v, &r) : component_histogram(v, mode, r);
    std::copy(counts.begin(), counts.end(), hist);
    return 1;
  });
}
