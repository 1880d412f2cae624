// From the RGB drawing to the pixel type a transfer delivers. Every type
// shows the same page:
// - gray is the luminance (0.30 R + 0.59 G + 0.11 B), 4-bit its top nibble;
// - black and white is gray thresholded at the middle, so the red rule and
//   the blue logo come out black;
// - 16-bit samples are the 8-bit value times 257 with a small position-
//   dependent pattern XORed into the low byte: the whole range is used and a
//   reader that keeps only one byte of each sample shows;
// - CMY is 255 minus RGB; CMYK takes the shared part of C, M and Y as K
//   (full under-colour removal), so black is K alone;
// - palette pages use the nearest entry of page_palette(): a 6x6x6 colour
//   cube and 40 extra grays for smooth text edges.
#include <algorithm>
#include <unordered_map>

#include "sources/virtual/pages/detail.h"

namespace vscan {
namespace {

constexpr int kCubeLevels = 6;
constexpr int kCubeSize = kCubeLevels * kCubeLevels * kCubeLevels;  // 216
constexpr int kExtraGrays = 256 - kCubeSize;                        // 40

std::array<TW_ELEMENT8, 256> make_palette() {
  std::array<TW_ELEMENT8, 256> p{};
  for (int i = 0; i < kCubeSize; ++i) {
    p[i].Index = TW_UINT8(i);
    p[i].Channel1 = TW_UINT8(i / 36 * 51);
    p[i].Channel2 = TW_UINT8(i / 6 % 6 * 51);
    p[i].Channel3 = TW_UINT8(i % 6 * 51);
  }
  // Grays between the cube's levels (none of them lands on a multiple of 51).
  for (int i = 0; i < kExtraGrays; ++i) {
    const auto v = TW_UINT8(((i + 1) * 255 * 2 + kExtraGrays + 1) / (2 * (kExtraGrays + 1)));
    p[kCubeSize + i] = {TW_UINT8(kCubeSize + i), v, v, v};
  }
  return p;
}

}  // namespace

const std::array<TW_ELEMENT8, 256>& page_palette() {
  static const std::array<TW_ELEMENT8, 256> kPalette = make_palette();
  return kPalette;
}

}  // namespace vscan

namespace vscan::pages {
namespace {

int luminance(const std::uint8_t* rgb) {
  return (77 * rgb[0] + 150 * rgb[1] + 29 * rgb[2] + 128) >> 8;
}

// The pattern in the low byte of 16-bit samples.
unsigned dither(int x, int y, int channel) { return unsigned(x * 7 + y * 13 + channel * 5) & 0x1F; }

void put16(std::uint8_t* out, int v8, unsigned pattern) {
  const unsigned v = unsigned(v8) * 257 ^ pattern;
  out[0] = std::uint8_t(v & 0xFF);
  out[1] = std::uint8_t(v >> 8);
}

// Nearest palette entry, remembered per colour: pages hold few colours, in
// long runs.
class PaletteMapper {
 public:
  std::uint8_t index(const std::uint8_t* rgb) {
    const std::uint32_t key = std::uint32_t(rgb[0]) << 16 | std::uint32_t(rgb[1]) << 8 | rgb[2];
    if (key == last_key_) return last_index_;
    auto [it, inserted] = known_.try_emplace(key, 0);
    if (inserted) it->second = nearest(rgb);
    last_key_ = key;
    last_index_ = it->second;
    return last_index_;
  }

 private:
  static std::uint8_t nearest(const std::uint8_t* rgb) {
    int best = 0;
    long best_distance = -1;
    for (const TW_ELEMENT8& e : page_palette()) {
      const long dr = rgb[0] - e.Channel1, dg = rgb[1] - e.Channel2, db = rgb[2] - e.Channel3;
      const long d = dr * dr + dg * dg + db * db;
      if (best_distance < 0 || d < best_distance) {
        best_distance = d;
        best = e.Index;
      }
    }
    return std::uint8_t(best);
  }

  std::unordered_map<std::uint32_t, std::uint8_t> known_;
  std::uint32_t last_key_ = 0xFFFFFFFF;
  std::uint8_t last_index_ = 0;
};

// One row of `n` pixels starting at page column x0 (a multiple of 8), into
// `out`, which points at that column's first byte.
void convert_row(const std::uint8_t* rgb, int n, int x0, int y, const PageFormat& f,
                 PaletteMapper& palette, std::uint8_t* out) {
  switch (f.pixel_type) {
    case TWPT_BW: {
      const std::uint8_t black_bit = f.pixel_flavor == TWPF_VANILLA ? 1 : 0;
      std::fill_n(out, (n + 7) / 8, 0);
      for (int i = 0; i < n; ++i, rgb += 3) {
        const std::uint8_t bit = luminance(rgb) < 128 ? black_bit : 1 - black_bit;
        out[i / 8] |= std::uint8_t(bit << (7 - i % 8));
      }
      return;
    }
    case TWPT_GRAY:
      if (f.bit_depth == 4) {
        std::fill_n(out, (n + 1) / 2, 0);
        for (int i = 0; i < n; ++i, rgb += 3)
          out[i / 2] |= std::uint8_t((luminance(rgb) >> 4) << (i % 2 == 0 ? 4 : 0));
      } else if (f.bit_depth == 16) {
        for (int i = 0; i < n; ++i, rgb += 3, out += 2)
          put16(out, luminance(rgb), dither(x0 + i, y, 0));
      } else {
        for (int i = 0; i < n; ++i, rgb += 3) out[i] = std::uint8_t(luminance(rgb));
      }
      return;
    case TWPT_RGB:
      if (f.bit_depth == 48) {
        for (int i = 0; i < n; ++i, rgb += 3, out += 6)
          for (int c = 0; c < 3; ++c) put16(out + 2 * c, rgb[c], dither(x0 + i, y, c));
      } else {
        std::copy_n(rgb, std::size_t(n) * 3, out);
      }
      return;
    case TWPT_PALETTE:
      for (int i = 0; i < n; ++i, rgb += 3) out[i] = palette.index(rgb);
      return;
    case TWPT_CMY:
      for (int i = 0; i < n * 3; ++i) out[i] = std::uint8_t(255 - rgb[i]);
      return;
    case TWPT_CMYK:
      for (int i = 0; i < n; ++i, rgb += 3, out += 4) {
        const int c = 255 - rgb[0], m = 255 - rgb[1], yl = 255 - rgb[2];
        const int k = std::min({c, m, yl});
        out[0] = std::uint8_t(c - k);
        out[1] = std::uint8_t(m - k);
        out[2] = std::uint8_t(yl - k);
        out[3] = std::uint8_t(k);
      }
      return;
    default:
      return;
  }
}

}  // namespace

std::size_t page_bytes_per_row(const PageFormat& f) {
  int bits = 0;
  switch (f.pixel_type) {
    case TWPT_BW:
      bits = f.bit_depth == 1 ? 1 : 0;
      break;
    case TWPT_GRAY:
      bits = f.bit_depth == 4 || f.bit_depth == 8 || f.bit_depth == 16 ? f.bit_depth : 0;
      break;
    case TWPT_RGB:
      bits = f.bit_depth == 24 || f.bit_depth == 48 ? f.bit_depth : 0;
      break;
    case TWPT_PALETTE:
      bits = f.bit_depth == 8 ? 8 : 0;
      break;
    case TWPT_CMY:
      bits = f.bit_depth == 24 ? 24 : 0;
      break;
    case TWPT_CMYK:
      bits = f.bit_depth == 32 ? 32 : 0;
      break;
    default:
      break;
  }
  if (bits == 0 || f.width <= 0) return 0;
  return (std::size_t(f.width) * bits + 7) / 8;
}

void page_convert(const Canvas& canvas, const PageFormat& f, int x0, int y0, std::uint8_t* out,
                  std::size_t out_bytes_per_row) {
  const std::size_t first_byte = std::size_t(x0) * f.bit_depth / 8;
  PaletteMapper palette;
  for (int y = 0; y < canvas.height(); ++y)
    convert_row(canvas.row(y), canvas.width(), x0, y0 + y, f, palette,
                out + std::size_t(y0 + y) * out_bytes_per_row + first_byte);
}

}  // namespace vscan::pages
