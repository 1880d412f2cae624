// Projections: one-row images of column and row averages. Auto-crop and the
// deskew border fill read pages through them, and applications use them to
// look for rules, gutters and bands.
#include "dib/region_stats.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "dib/allocate.h"
#include "dib/detail.h"
#include "dib/row_readers.h"
#include "orivane/errors.h"

namespace dib {
namespace {

void set_resolution(const Dib& d, std::int32_t x_ppm, std::int32_t y_ppm) {
  Locked lock(d.get());
  InfoHeader h = lock->header();
  h.x_ppm = x_ppm;
  h.y_ppm = y_ppm;
  lock->store_header(h);
}

// Sample `code` (0 gray, 1 red, 2 green, 3 blue) of every pixel of row y at
// 16 bits; false when the row cannot be read.
bool read_wide(const RowReader& reader, int y, int code, std::vector<std::uint16_t>& rgb,
               std::uint16_t* out) {
  if (code == kCompGray) return reader.gray16(y, out);
  if (!reader.rgb48(y, rgb.data())) return false;
  const int at = code == kCompRed ? 2 : code == kCompGreen ? 1 : 0;  // stored blue, green, red
  for (int x = 0; x < reader.width(); ++x) out[x] = rgb[3 * static_cast<std::size_t>(x) + at];
  return true;
}

}  // namespace

Dib project_columns(const DibView& v, int x, int y, int w, int h, int component) {
  if (w < 1) throw Error(ERR_BAD_PARAMETER);
  const RowReader reader(v);
  Dib out = allocate(8, w, 1, kGray);
  set_resolution(out, v.header().x_ppm, v.header().y_ppm);
  // Rows and columns of the region that lie on the image.
  const int r0 = std::max(0, y);
  const int r1 = static_cast<int>(std::min<std::int64_t>(v.height(), std::int64_t{y} + std::max(h, 0)));
  const int j0 = static_cast<int>(std::clamp<std::int64_t>(-std::int64_t{x}, 0, w));
  const int j1 = static_cast<int>(std::clamp<std::int64_t>(std::int64_t{v.width()} - x, j0, w));
  std::vector<std::uint64_t> sums(static_cast<std::size_t>(w));
  std::vector<std::uint8_t> row(static_cast<std::size_t>(v.width()) + 4);
  for (int r = r0; r < r1; ++r) {
    if (!reader.component(r, component, row.data())) throw Error(ERR_FAILURE);
    for (int j = j0; j < j1; ++j) sums[j] += row[x + j];
  }
  const Locked lock(out.get());
  std::uint8_t* dst = lock->row(0);
  for (int j = 0; j < w; ++j) dst[j] = r1 > r0 ? static_cast<std::uint8_t>(sums[j] / static_cast<std::uint64_t>(r1 - r0)) : 0;
  return out;
}

Dib project_rows(const DibView& v, int component) {
  const RowReader reader(v);
  const int W = v.width(), H = v.height();
  const bool wide = reader.wide() && component >= kCompGray && component <= kCompBlue;
  Dib out = allocate(wide ? 16 : 8, H, 1, kGray);
  // The image's rows run along the projection.
  set_resolution(out, v.header().y_ppm, v.header().x_ppm);
  const Locked lock(out.get());
  std::uint8_t* dst = lock->row(0);
  if (W < 1) return out;
  if (wide) {
    std::vector<std::uint16_t> row(static_cast<std::size_t>(W) + 4), rgb(3 * static_cast<std::size_t>(W) + 4);
    for (int i = 0; i < H; ++i) {
      if (!read_wide(reader, i, component, rgb, row.data())) throw Error(ERR_FAILURE);
      std::uint64_t sum = 0;
      for (int x = 0; x < W; ++x) sum += row[x];
      detail::store16(dst + 2 * static_cast<std::size_t>(i), static_cast<std::uint32_t>(sum / static_cast<std::uint64_t>(W)));
    }
    return out;
  }
  std::vector<std::uint8_t> row(static_cast<std::size_t>(W) + 4);
  for (int i = 0; i < H; ++i) {
    if (!reader.component(i, component, row.data())) throw Error(ERR_FAILURE);
    std::uint64_t sum = 0;
    for (int x = 0; x < W; ++x) sum += row[x];
    dst[i] = static_cast<std::uint8_t>(sum / static_cast<std::uint64_t>(W));
  }
  return out;
}

}  // namespace dib
