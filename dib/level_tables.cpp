// Level tables and their application in place: the last step of automatic
// contrast and the library's brightness/contrast, level-table and posterise
// operations.
//
// A table maps gray levels. Gray pixels map directly (4- and 16-bit ones
// through tables derived once per call). Colour pixels either keep their hue
// and map only their luminance (the page-level operations) or map each
// sample (posterise). 1-bit pages keep their colour table: the mapping decides
// per bit value which entry it shows afterwards, so the page becomes its
// negative, one colour, or stays as it is. Colour-mapped, CMY and CMYK pages
// are left as they are.
#include "dib/contrast.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "dib/detail.h"
#include "dib/negate.h"

namespace dib {
namespace {

using detail::load16;
using detail::store16;

// 16-bit samples: linear interpolation of the 8-bit table, rounded.
std::vector<std::uint16_t> wide_table(const LevelTable& t) {
  std::vector<std::uint16_t> out(65536);
  for (std::uint32_t v = 0; v < 65536; ++v) {
    const double pos = v * 255.0 / 65535.0;
    const int i = static_cast<int>(pos);
    const int j = std::min(i + 1, 255);
    const double level = t[i] + (t[j] - t[i]) * (pos - i);
    out[v] = static_cast<std::uint16_t>(level * (65535.0 / 255.0) + 0.5);
  }
  return out;
}

int clamp_to(double x, int top) { return std::clamp(static_cast<int>(x), 0, top); }

// ---- 1-bit ----

int nearest_entry(const std::array<Rgbq, 2>& entries, int gray) {
  const auto distance = [gray](const Rgbq& e) {
    return std::abs(e.red - gray) + std::abs(e.green - gray) + std::abs(e.blue - gray);
  };
  return distance(entries[1]) < distance(entries[0]) ? 1 : 0;
}

void apply_bw(const DibView& v, const LevelTable& t) {
  const std::span<const Rgbq> tbl = v.table();
  std::array<Rgbq, 2> entries{Rgbq{0, 0, 0, 0}, Rgbq{255, 255, 255, 0}};
  for (std::size_t i = 0; i < 2 && i < tbl.size(); ++i) entries[i] = tbl[i];
  // The level each bit value shows, read as the histogram read it: set bits
  // white unless entry 0 is not black.
  const bool inverted = !tbl.empty() && (tbl[0].red | tbl[0].green | tbl[0].blue) != 0;
  const int shows1 = inverted ? 0 : 255;
  const int becomes0 = nearest_entry(entries, t[255 - shows1]);
  const int becomes1 = nearest_entry(entries, t[shows1]);
  if (becomes0 == 0 && becomes1 == 1) return;
  if (becomes0 == 1 && becomes1 == 0) {
    negate(v);
    return;
  }
  const std::uint8_t fill = becomes0 == 1 ? 0xFF : 0x00;
  for (int y = 0; y < v.height(); ++y) {
    std::uint8_t* row = v.row_unchecked(y);
    std::fill_n(row, v.used_bytes(), fill);
    detail::clear_tail_bits(row, 1, v.width());
  }
}

// ---- gray ----

// Maps n bytes in place, through a local copy of the table so that pixel
// stores cannot alias it.
void map_bytes(std::uint8_t* p, std::size_t n, const LevelTable& table) {
  const LevelTable t = table;
  for (std::size_t i = 0; i < n; ++i) p[i] = t[p[i]];
}

void apply_gray8(const DibView& v, const LevelTable& t) {
  for (int y = 0; y < v.height(); ++y) map_bytes(v.row_unchecked(y), static_cast<std::size_t>(v.width()), t);
}

void apply_gray4(const DibView& v, const LevelTable& t) {
  std::array<std::uint8_t, 16> nibble{};
  for (int n = 0; n < 16; ++n) nibble[n] = static_cast<std::uint8_t>(std::min(15, (t[17 * n] + 8) / 17));
  LevelTable pair;
  for (int b = 0; b < 256; ++b) pair[b] = static_cast<std::uint8_t>(nibble[b >> 4] << 4 | nibble[b & 15]);
  for (int y = 0; y < v.height(); ++y) {
    std::uint8_t* p = v.row_unchecked(y);
    for (std::size_t i = 0; i < v.used_bytes(); ++i) p[i] = pair[p[i]];
    detail::clear_tail_bits(p, 4, v.width());
  }
}

void apply_wide(const DibView& v, const LevelTable& t, int samples_per_pixel) {
  const std::vector<std::uint16_t> wide = wide_table(t);
  const std::size_t n = static_cast<std::size_t>(v.width()) * samples_per_pixel;
  for (int y = 0; y < v.height(); ++y) {
    std::uint8_t* p = v.row_unchecked(y);
    for (std::size_t i = 0; i < n; ++i, p += 2) store16(p, wide[load16(p)]);
  }
}

// ---- colour by luminance ----

// Y, U, V of a colour and the colour of a Y, U, V, each rounded and clamped
// to 0..top, with chroma centred on `mid`. Products come from tables so each
// pixel costs a few additions; the sums are formed in the order of the
// formulas, so the results are those of computing each pixel in full.
class YuvMapper {
 public:
  explicit YuvMapper(const LevelTable& t) : t_(t) {
    for (int i = 0; i < 256; ++i) {
      yr_[i] = 0.299 * i, yg_[i] = 0.587 * i, yb_[i] = 0.114 * i;
      gu_[i] = 0.395 * (i - 128), gv_[i] = 0.581 * (i - 128);
    }
    for (int d = -255; d <= 255; ++d) {
      u_[d + 255] = static_cast<std::uint8_t>(clamp_to(0.492 * d + 128 + 0.5, 255));
      v_[d + 255] = static_cast<std::uint8_t>(clamp_to(0.877 * d + 128 + 0.5, 255));
    }
    r_.resize(65536), b_.resize(65536);
    for (int y = 0; y < 256; ++y) {
      for (int c = 0; c < 256; ++c) {
        r_[y << 8 | c] = static_cast<std::uint8_t>(clamp_to(y + 1.14 * (c - 128) + 0.5, 255));
        b_[y << 8 | c] = static_cast<std::uint8_t>(clamp_to(y + 2.032 * (c - 128) + 0.5, 255));
      }
    }
  }
  // One pixel stored blue, green, red.
  void map(std::uint8_t* bgr) const {
    const int b = bgr[0], g = bgr[1], r = bgr[2];
    const int y = clamp_to(yr_[r] + yg_[g] + yb_[b] + 0.5, 255);
    const int u = u_[b - y + 255], v = v_[r - y + 255];
    const int y2 = t_[y];
    bgr[2] = r_[y2 << 8 | v];
    bgr[1] = static_cast<std::uint8_t>(clamp_to(y2 - gu_[u] - gv_[v] + 0.5, 255));
    bgr[0] = b_[y2 << 8 | u];
  }

 private:
  const LevelTable& t_;
  std::array<double, 256> yr_, yg_, yb_, gu_, gv_;
  std::array<std::uint8_t, 511> u_, v_;
  std::vector<std::uint8_t> r_, b_;
};

void apply_colour_luminance(const DibView& v, const LevelTable& t) {
  const YuvMapper mapper(t);
  const int step = v.depth() / 8;
  for (int y = 0; y < v.height(); ++y) {
    std::uint8_t* p = v.row_unchecked(y);
    for (int x = 0; x < v.width(); ++x, p += step) mapper.map(p);
  }
}

void apply_colour48_luminance(const DibView& v, const LevelTable& t) {
  constexpr int kTop = 65535;
  constexpr double kMid = 32768;
  const std::vector<std::uint16_t> wide = wide_table(t);
  for (int y = 0; y < v.height(); ++y) {
    std::uint8_t* p = v.row_unchecked(y);
    for (int x = 0; x < v.width(); ++x, p += 6) {
      const int b = load16(p), g = load16(p + 2), r = load16(p + 4);
      const int yy = clamp_to(0.299 * r + 0.587 * g + 0.114 * b + 0.5, kTop);
      const double u = clamp_to(0.492 * (b - yy) + kMid + 0.5, kTop) - kMid;
      const double vv = clamp_to(0.877 * (r - yy) + kMid + 0.5, kTop) - kMid;
      const int y2 = wide[yy];
      store16(p + 4, clamp_to(y2 + 1.14 * vv + 0.5, kTop));
      store16(p + 2, clamp_to(y2 - 0.395 * u - 0.581 * vv + 0.5, kTop));
      store16(p, clamp_to(y2 + 2.032 * u + 0.5, kTop));
    }
  }
}

// ---- colour by sample ----

void apply_colour_samples(const DibView& v, const LevelTable& t) {
  const int step = v.depth() / 8;
  for (int y = 0; y < v.height(); ++y) {
    std::uint8_t* p = v.row_unchecked(y);
    for (int x = 0; x < v.width(); ++x, p += step) p[0] = t[p[0]], p[1] = t[p[1]], p[2] = t[p[2]];
  }
}

// Applies `t` to the gray pages and 1-bit pages; false for the others.
bool apply_to_gray(const DibView& v, const LevelTable& t) {
  const int type = v.pixel_type();
  if (type == kBW) {
    apply_bw(v, t);
    return true;
  }
  if (type != kGray) return false;
  switch (v.depth()) {
    case 4: apply_gray4(v, t); return true;
    case 8: apply_gray8(v, t); return true;
    case 16: apply_wide(v, t, 1); return true;
    default: return true;
  }
}

}  // namespace

void apply_gray_table(const DibView& v, const LevelTable& table) {
  v.require_rows();
  if (apply_to_gray(v, table) || v.pixel_type() != kRGB) return;
  switch (v.depth()) {
    case 24:
    case 32: apply_colour_luminance(v, table); break;
    case 48: apply_colour48_luminance(v, table); break;
    default: break;  // 16-bit colour: fields too narrow for a level table
  }
}

void apply_sample_table(const DibView& v, const LevelTable& table) {
  v.require_rows();
  if (apply_to_gray(v, table) || v.pixel_type() != kRGB) return;
  switch (v.depth()) {
    case 24:
    case 32: apply_colour_samples(v, table); break;
    case 48: apply_wide(v, table, 3); break;
    default: break;
  }
}

LevelTable brightness_contrast_table(int brightness, int contrast) {
  const double gain = std::pow(128.0, std::clamp(contrast, -1000, 1000) / 1000.0);
  const double shift = std::clamp(brightness, -1000, 1000) * 255.0 / 1000.0;
  LevelTable table;
  for (int i = 0; i < 256; ++i) table[i] = static_cast<std::uint8_t>(clamp_to(gain * (i - 127.5) + 0.5 + shift + 127.5, 255));
  return table;
}

LevelTable posterize_table(int levels) {
  // More levels than a byte holds leave every sample as it is.
  const int n = std::clamp(levels, 2, 256);
  const int band = (n + 255) / n;
  LevelTable table;
  for (int i = 0; i < 256; ++i) table[i] = static_cast<std::uint8_t>((i / band) * 255 / (n - 1));
  return table;
}

}  // namespace dib
