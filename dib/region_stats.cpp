#include "dib/region_stats.h"

#include <algorithm>
#include <vector>

#include "dib/row_readers.h"
#include "orivane/errors.h"

namespace dib {

double avg_region(const DibView& v, int component, int x, int y, int w, int h) {
  const int right = std::min(v.width() - 1, x + w - 1);
  const int bottom = std::min(v.height() - 1, y + h - 1);
  x = std::max(0, x);
  y = std::max(0, y);
  if (right < x || bottom < y) return 0.0;
  const RowReader reader(v);
  std::vector<std::uint8_t> row(static_cast<std::size_t>(v.width()) + 4);
  std::uint64_t sum = 0;
  for (int r = y; r <= bottom; ++r) {
    // A layout the readers do not know has no rows to average.
    if (!reader.component(r, component, row.data())) throw Error(ERR_FAILURE);
    for (int c = x; c <= right; ++c) sum += row[c];
  }
  const double pixels = static_cast<double>(right - x + 1) * (bottom - y + 1);
  return static_cast<double>(sum) / pixels;
}

}  // namespace dib
