#include "dib/negate.h"

#include <algorithm>

#include "dib/detail.h"
#include "orivane/errors.h"
#include "platform/rgb_swap.h"

namespace dib {

void negate(const DibView& v) {
  v.require_rows();
  const std::size_t n = v.used_bytes();
  for (int y = 0; y < v.height(); ++y) {
    std::uint8_t* row = v.row(y);
    // Whole words where possible: pages are large.
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
      std::uint64_t word;
      __builtin_memcpy(&word, row + i, 8);
      word = ~word;
      __builtin_memcpy(row + i, &word, 8);
    }
    for (; i < n; ++i) row[i] = static_cast<std::uint8_t>(~row[i]);
    detail::clear_tail_bits(row, v.depth(), v.width());
  }
}

void swap_red_blue(const DibView& v) {
  v.require_rows();
  const int depth = v.depth();
  if (v.pixel_type() != kRGB || (depth != 24 && depth != 32 && depth != 48)) throw Error(ERR_WRONG_IMAGE_TYPE);
  const int bpp = depth / 8;
  const int sample = depth == 48 ? 2 : 1;
  for (int y = 0; y < v.height(); ++y) {
    std::uint8_t* p = v.row(y);
    if (depth == 24) {
      platform::swap_rb24(p, p, static_cast<std::size_t>(v.width()));
      continue;
    }
    for (int x = 0; x < v.width(); ++x, p += bpp) {
      for (int k = 0; k < sample; ++k) std::swap(p[k], p[2 * sample + k]);
    }
  }
}

}  // namespace dib
