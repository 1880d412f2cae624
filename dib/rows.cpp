#include "dib/rows.h"

#include <algorithm>
#include <cstring>

#include "dib/detail.h"

namespace dib {
namespace {

bool row_inside(const DibView& v, int y) { return v.rows_ok() && y >= 0 && y < v.height(); }

}  // namespace

std::size_t row_read(const DibView& v, int y, std::uint8_t* out, std::size_t length) {
  if (out == nullptr || !row_inside(v, y)) return 0;
  const std::size_t n = std::min(v.stride(), length);
  std::memcpy(out, v.row(y), n);
  return n;
}

std::size_t row_write(const DibView& v, int y, const std::uint8_t* data, std::size_t length) {
  if (data == nullptr || !row_inside(v, y)) return 0;
  const std::size_t n = std::min(v.stride(), length);
  std::memcpy(v.row(y), data, n);
  return n;
}

std::size_t row_read_packed(const DibView& v, int y, std::uint8_t* out) {
  return row_read(v, y, out, v.used_bytes());
}

std::size_t row_write_packed(const DibView& v, int y, const std::uint8_t* data) {
  const std::size_t n = row_write(v, y, data, v.used_bytes());
  if (n != 0) detail::clear_tail_bits(v.row(y), v.depth(), v.width());
  return n;
}

bool row_write_sample(const DibView& v, int y, const std::uint8_t* data, int sample) {
  if (data == nullptr || !row_inside(v, y)) return false;
  const int spp = v.samples_per_pixel();
  if (v.depth() != 8 * spp || sample < 0 || sample >= spp) return false;
  std::uint8_t* row = v.row(y);
  const int w = v.width();
  if (spp == 1) {
    std::memcpy(row, data, static_cast<std::size_t>(w));
    return true;
  }
  for (int x = 0; x < w; ++x) row[x * spp + sample] = data[x];
  return true;
}

}  // namespace dib
