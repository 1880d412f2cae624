#include "dib/colour_value.h"

#include <algorithm>
#include <cstdlib>

#include "dib/detail.h"

namespace dib {
namespace {

int nearest_entry(std::span<const Rgbq> table, int r, int g, int b) {
  int best = 0, best_distance = 1 << 30;
  for (std::size_t i = 0; i < table.size(); ++i) {
    const int d = std::abs(table[i].red - r) + std::abs(table[i].green - g) + std::abs(table[i].blue - b);
    if (d < best_distance) best = static_cast<int>(i), best_distance = d;
  }
  return best;
}

void put16(PixelValue& p, int at, std::uint32_t v) { detail::store16(p.bytes.data() + at, v); }

}  // namespace

PixelValue colour_to_pixel(const DibView& v, int red, int green, int blue) {
  const int r = std::clamp(red, 0, 255), g = std::clamp(green, 0, 255), b = std::clamp(blue, 0, 255);
  PixelValue p;
  const int depth = v.depth();
  const int type = v.pixel_type();
  if (depth <= 8) {
    const int index = nearest_entry(v.table(), r, g, b);
    p.size = 1;
    p.bytes[0] = static_cast<std::uint8_t>(depth == 1 ? (index ? 0xFF : 0x00)
                                           : depth == 4 ? (index << 4 | index) : index);
    return p;
  }
  if (depth == 16) {
    p.size = 2;
    if (type == kGray) {
      put16(p, 0, detail::sample8_to_16(detail::luminance(r, g, b)));
    } else {
      put16(p, 0, static_cast<std::uint32_t>(((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3)));
    }
    return p;
  }
  if (type == kCMY || type == kCMYK) {
    int c = 255 - r, m = 255 - g, y = 255 - b;
    if (type == kCMYK) {
      const int k = std::min({c, m, y});
      c -= k, m -= k, y -= k;
      p.bytes[3] = static_cast<std::uint8_t>(k);
    }
    if (depth == 48) {
      p.size = 6;
      put16(p, 0, detail::sample8_to_16(c)), put16(p, 2, detail::sample8_to_16(m)), put16(p, 4, detail::sample8_to_16(y));
    } else {
      p.size = depth / 8;
      p.bytes[0] = static_cast<std::uint8_t>(c), p.bytes[1] = static_cast<std::uint8_t>(m), p.bytes[2] = static_cast<std::uint8_t>(y);
    }
    return p;
  }
  if (depth == 48) {
    p.size = 6;
    put16(p, 0, detail::sample8_to_16(b)), put16(p, 2, detail::sample8_to_16(g)), put16(p, 4, detail::sample8_to_16(r));
    return p;
  }
  p.size = depth / 8;
  p.bytes[0] = static_cast<std::uint8_t>(b), p.bytes[1] = static_cast<std::uint8_t>(g), p.bytes[2] = static_cast<std::uint8_t>(r);
  return p;
}

}  // namespace dib
