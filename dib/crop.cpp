#include "dib/crop.h"

#include <algorithm>
#include <cstring>

#include "dib/allocate.h"
#include "dib/detail.h"

namespace dib {

namespace {

// Pixel i of a packed row of 1, 2 or 4 bits, most significant bits first.
unsigned packed_get(const std::uint8_t* row, std::int64_t i, int depth) {
  const std::int64_t bit = i * depth;
  const int shift = 8 - depth - static_cast<int>(bit % 8);
  return (row[bit / 8] >> shift) & ((1u << depth) - 1);
}

void packed_set(std::uint8_t* row, std::int64_t i, int depth, unsigned value) {
  const std::int64_t bit = i * depth;
  const int shift = 8 - depth - static_cast<int>(bit % 8);
  const auto mask = static_cast<std::uint8_t>(((1u << depth) - 1) << shift);
  row[bit / 8] = static_cast<std::uint8_t>((row[bit / 8] & ~mask) | ((value << shift) & mask));
}

// Copies columns [from, from + n) of src to [to, to + n) of dst.
void copy_columns(const std::uint8_t* src, std::int64_t from, std::uint8_t* dst, std::int64_t to,
                  std::int64_t n, int depth) {
  if (depth % 8 == 0) {
    const std::int64_t bytes = depth / 8;
    std::memcpy(dst + to * bytes, src + from * bytes, static_cast<std::size_t>(n * bytes));
    return;
  }
  for (std::int64_t k = 0; k < n; ++k) packed_set(dst, to + k, depth, packed_get(src, from + k, depth));
}

}  // namespace

Dib cut_rect(const DibView& v, int x, int y, int w, int h, std::uint8_t fill) {
  v.require_rows();
  w = std::max(w, 0);
  h = std::max(h, 0);
  Dib out = allocate_like(v, w, h);
  Locked lock(out.get());
  const DibView& o = lock.view();
  o.require_rows();
  const int depth = v.depth();
  // Columns of the rectangle that lie on the source, in output coordinates.
  const std::int64_t first = std::clamp<std::int64_t>(-std::int64_t{x}, 0, w);
  const std::int64_t last = std::clamp<std::int64_t>(std::int64_t{v.width()} - x, first, w);
  for (int r = 0; r < h; ++r) {
    std::uint8_t* dst = o.row_unchecked(r);
    std::memset(dst, fill, o.used_bytes());
    const std::int64_t sy = std::int64_t{y} + r;
    if (sy >= 0 && sy < v.height() && last > first)
      copy_columns(v.row_unchecked(static_cast<int>(sy)), x + first, dst, first, last - first, depth);
    detail::clear_tail_bits(dst, depth, w);
  }
  return out;
}

}  // namespace dib
