// Blending a colour into a page. Direct-colour pixels mix their samples
// with the colour in proportion to the coverage; colour-mapped pixels have
// no in-between values of their own, so the mix is worked out in colour and
// the nearest table entry taken (remembered per entry and coverage, so an
// edge costs one table search per distinct pair).
#include "dib/text_blend.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "dib/colour_value.h"
#include "dib/detail.h"

namespace dib {
namespace {

constexpr std::uint32_t kRgb555[3] = {0x7C00, 0x03E0, 0x001F};

std::uint32_t mix(std::uint32_t d, std::uint32_t c, std::uint32_t m) { return ((255 - m) * d + c * m) / 255; }

class Blender {
 public:
  Blender(const DibView& page, int red, int green, int blue)
      : page_(page), rgb_{std::clamp(red, 0, 255), std::clamp(green, 0, 255), std::clamp(blue, 0, 255)} {
    const int depth = page.depth(), type = page.pixel_type();
    const PixelValue value = colour_to_pixel(page, rgb_[0], rgb_[1], rgb_[2]);
    if (depth == 1 || depth == 4 || (depth == 8 && type != kGray)) {
      kind_ = Kind::Indexed;
      index_ = depth == 8 ? value.bytes[0] : value.bytes[0] & ((1 << depth) - 1);
      nearest_.assign(static_cast<std::size_t>(1 << depth) * 256, -1);
    } else if (depth == 8 || depth == 24 || depth == 32) {
      kind_ = Kind::Samples8;
      bytes_ = depth / 8;
      samples_ = depth == 32 && type == kRGB ? 3 : bytes_;  // the fourth byte of RGB is not a colour
      for (int s = 0; s < samples_; ++s) colour_[s] = value.bytes[static_cast<std::size_t>(s)];
    } else if (depth == 48 || (depth == 16 && type == kGray)) {
      kind_ = Kind::Samples16;
      bytes_ = depth / 8;
      samples_ = bytes_ / 2;
      for (int s = 0; s < samples_; ++s) colour_[s] = detail::load16(value.bytes.data() + 2 * s);
    } else if (depth == 16) {
      kind_ = Kind::Rgb16;
      const auto masks = page.masks();
      for (int c = 0; c < 3; ++c) {
        mask_[c] = masks ? (*masks)[c] : kRgb555[c];
        shift_[c] = mask_[c] ? std::countr_zero(mask_[c]) : 0;
        top_[c] = mask_[c] >> shift_[c];
      }
    }
  }

  bool usable() const { return kind_ != Kind::None; }

  // Pixels x0 .. x0 + n - 1 of `row`, coverage m[i] (or `alpha` for all).
  // Most of a text's coverage is 0: it is passed over 8 bytes at a time.
  void run(std::uint8_t* row, int x0, int n, const std::uint8_t* m, int alpha) {
    for (int i = 0; i < n;) {
      std::uint64_t eight = 1;
      if (m != nullptr && i + 8 <= n) std::memcpy(&eight, m + i, 8);
      if (eight == 0) {
        i += 8;
        continue;
      }
      const std::uint32_t c = m ? m[i] : static_cast<std::uint32_t>(alpha);
      if (c != 0) pixel(row, x0 + i, c);
      ++i;
    }
  }

 private:
  enum class Kind { None, Samples8, Samples16, Rgb16, Indexed };

  void pixel(std::uint8_t* row, int x, std::uint32_t m) {
    switch (kind_) {
      case Kind::Samples8: {
        std::uint8_t* p = row + static_cast<std::ptrdiff_t>(x) * bytes_;
        for (int s = 0; s < samples_; ++s) p[s] = static_cast<std::uint8_t>(mix(p[s], colour_[s], m));
        break;
      }
      case Kind::Samples16: {
        std::uint8_t* p = row + static_cast<std::ptrdiff_t>(x) * bytes_;
        for (int s = 0; s < samples_; ++s) detail::store16(p + 2 * s, mix(detail::load16(p + 2 * s), colour_[s], m));
        break;
      }
      case Kind::Rgb16: rgb16(row + 2 * static_cast<std::ptrdiff_t>(x), m); break;
      case Kind::Indexed: put_index(row, x, m >= 255 ? index_ : nearest(get_index(row, x), m)); break;
      case Kind::None: break;
    }
  }

  void rgb16(std::uint8_t* p, std::uint32_t m) {
    std::uint32_t v = detail::load16(p), out = v;
    for (int c = 0; c < 3; ++c) {
      if (top_[c] == 0) continue;
      const std::uint32_t d = ((v & mask_[c]) >> shift_[c]) * 255 / top_[c];
      // Channels in the masks' order are red, green, blue.
      const std::uint32_t blended = mix(d, static_cast<std::uint32_t>(rgb_[c]), m);
      out = (out & ~mask_[c]) | (((blended * top_[c] + 127) / 255) << shift_[c] & mask_[c]);
    }
    detail::store16(p, out);
  }

  int get_index(const std::uint8_t* row, int x) const {
    switch (page_.depth()) {
      case 1: return row[x >> 3] >> (7 - (x & 7)) & 1;
      case 4: return (x & 1) ? row[x >> 1] & 0x0F : row[x >> 1] >> 4;
      default: return row[x];
    }
  }

  void put_index(std::uint8_t* row, int x, int index) const {
    switch (page_.depth()) {
      case 1: {
        const auto bit = static_cast<std::uint8_t>(0x80 >> (x & 7));
        row[x >> 3] = static_cast<std::uint8_t>(index ? row[x >> 3] | bit : row[x >> 3] & ~bit);
        break;
      }
      case 4: {
        std::uint8_t& b = row[x >> 1];
        b = static_cast<std::uint8_t>((x & 1) ? (b & 0xF0) | index : (b & 0x0F) | index << 4);
        break;
      }
      default: row[x] = static_cast<std::uint8_t>(index);
    }
  }

  // The table entry nearest to entry `index` mixed with the colour.
  int nearest(int index, std::uint32_t m) {
    int& known = nearest_[static_cast<std::size_t>(index) * 256 + m];
    if (known >= 0) return known;
    const std::span<Rgbq> table = page_.table();
    const Rgbq e = static_cast<std::size_t>(index) < table.size() ? table[static_cast<std::size_t>(index)] : Rgbq{0, 0, 0, 0};
    const int r = static_cast<int>(mix(e.red, static_cast<std::uint32_t>(rgb_[0]), m));
    const int g = static_cast<int>(mix(e.green, static_cast<std::uint32_t>(rgb_[1]), m));
    const int b = static_cast<int>(mix(e.blue, static_cast<std::uint32_t>(rgb_[2]), m));
    int best = index, best_distance = 1 << 30;
    for (std::size_t i = 0; i < table.size() && i < nearest_.size() / 256; ++i) {
      const int d = std::abs(table[i].red - r) + std::abs(table[i].green - g) + std::abs(table[i].blue - b);
      if (d < best_distance) best = static_cast<int>(i), best_distance = d;
    }
    return known = best;
  }

  const DibView& page_;
  std::array<int, 3> rgb_;
  Kind kind_ = Kind::None;
  int bytes_ = 0, samples_ = 0;
  std::array<std::uint32_t, 4> colour_{};
  std::array<std::uint32_t, 3> mask_{}, top_{};
  std::array<int, 3> shift_{};
  int index_ = 0;
  std::vector<int> nearest_;
};

// The part of `r` inside the page and `clip`.
PixelRect intersect(PixelRect r, PixelRect clip, const DibView& page) {
  const int x0 = std::max({r.x, clip.x, 0}), y0 = std::max({r.y, clip.y, 0});
  const long x1 = std::min({static_cast<long>(r.x) + r.w, static_cast<long>(clip.x) + clip.w, static_cast<long>(page.width())});
  const long y1 = std::min({static_cast<long>(r.y) + r.h, static_cast<long>(clip.y) + clip.h, static_cast<long>(page.height())});
  return {x0, y0, static_cast<int>(std::max<long>(0, x1 - x0)), static_cast<int>(std::max<long>(0, y1 - y0))};
}

}  // namespace

void blend_coverage(const DibView& page, const Coverage& cov, int x, int y, PixelRect clip, int red, int green,
                    int blue) {
  page.require_rows();
  Blender blender(page, red, green, blue);
  const PixelRect r = intersect({x, y, cov.width, cov.height}, clip, page);
  if (!blender.usable() || r.w == 0 || r.h == 0) return;
  for (int row = r.y; row < r.y + r.h; ++row) {
    const std::uint8_t* m = cov.top + cov.step * (row - y) + (r.x - x);
    blender.run(page.row_unchecked(row), r.x, r.w, m, 0);
  }
}

void blend_fill(const DibView& page, PixelRect rect, int red, int green, int blue, int alpha) {
  page.require_rows();
  Blender blender(page, red, green, blue);
  const PixelRect r = intersect(rect, {0, 0, page.width(), page.height()}, page);
  alpha = std::clamp(alpha, 0, 255);
  if (!blender.usable() || r.w == 0 || r.h == 0 || alpha == 0) return;
  for (int row = r.y; row < r.y + r.h; ++row) blender.run(page.row_unchecked(row), r.x, r.w, nullptr, alpha);
}

}  // namespace dib
