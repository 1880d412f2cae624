#include "dib/histogram.h"

#include <algorithm>
#include <vector>

#include "dib/row_readers.h"

namespace dib {
namespace {

// The iteration moves the threshold by at least one level each time, so more
// steps than levels means it is cycling.
constexpr int kMaxIsodataSteps = 256;

}  // namespace

Histogram gray_histogram(const DibView& v, const Region* region) {
  Histogram h{};
  const RowReader reader(v);
  int x0 = 0, y0 = 0, x1 = v.width(), y1 = v.height();
  if (region != nullptr) {
    x0 = std::max(0, region->left), y0 = std::max(0, region->top);
    x1 = std::min(x1, region->right), y1 = std::min(y1, region->bottom);
  }
  std::vector<std::uint8_t> row(static_cast<std::size_t>(v.width()) + 4);
  for (int y = y0; y < y1; ++y) {
    if (!reader.gray(y, row.data())) break;
    for (int x = x0; x < x1; ++x) ++h[row[x]];
  }
  return h;
}

int isodata_threshold(const Histogram& h) {
  int t = 128;
  int lowest_seen = 256;
  for (int step = 0; step < kMaxIsodataSteps; ++step) {
    double low_n = 0, low_sum = 0, high_n = 0, high_sum = 0;
    for (int i = 0; i < 256; ++i) {
      if (i < t) {
        low_n += h[i], low_sum += static_cast<double>(h[i]) * i;
      } else {
        high_n += h[i], high_sum += static_cast<double>(h[i]) * i;
      }
    }
    if (low_n == 0 || high_n == 0) return t;
    const int next = static_cast<int>((low_sum / low_n + high_sum / high_n) * 0.5 + 0.5);
    if (next == t) return t;
    lowest_seen = std::min(lowest_seen, t);
    t = next;
  }
  return std::min(lowest_seen, t);
}

}  // namespace dib
