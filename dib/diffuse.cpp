// Thresholding and error diffusion of single rows.
//
// The diffusion walks each row left to right with one error term carried to
// the next pixel and one row of terms for the row below. The row-below array
// doubles as the row-above input: at column x the term left by the row above
// is read before this row's term for the pixel below is stored, and the
// below-left share is added to column x - 1, which already holds this row's
// term. Integer divisions truncate toward zero; the shares add up to the
// whole error, so the mean gray level is kept to within a level.
#include "dib/diffuse.h"

#include <algorithm>
#include <cstring>

namespace dib {
namespace {

constexpr int kBwMidpoint = 128;
constexpr int kLevelStep4 = 17;  // 16 gray levels, 0..255

}  // namespace

void gray_to_bw_threshold(const std::uint8_t* gray, int width, int threshold, std::uint8_t* out) {
  const int full = width / 8;
  for (int i = 0; i < full; ++i) {
    const std::uint8_t* g = gray + 8 * i;
    unsigned byte = 0;
    for (int k = 0; k < 8; ++k) byte |= static_cast<unsigned>(g[k] >= threshold) << (7 - k);
    out[i] = static_cast<std::uint8_t>(byte);
  }
  if (width % 8) {
    unsigned byte = 0;
    for (int k = 0; k < width % 8; ++k) byte |= static_cast<unsigned>(gray[8 * full + k] >= threshold) << (7 - k);
    out[full] = static_cast<std::uint8_t>(byte);
  }
}

void gray_to_bw_diffuse(const std::uint8_t* gray, DiffusionRow& state, std::uint8_t* out) {
  const int width = state.width();
  int* below = state.channel(0);
  int carry = 0;
  unsigned byte = 0;
  for (int x = 0; x < width; ++x) {
    const int v = carry + below[x] + gray[x];
    const bool white = v >= kBwMidpoint;
    const int e = white ? v - 255 : v;
    const int third = e / 3;
    carry = third;
    if (x > 0) below[x - 1] += third;
    below[x] = third;
    byte |= static_cast<unsigned>(white) << (7 - (x & 7));
    if ((x & 7) == 7) {
      out[x >> 3] = static_cast<std::uint8_t>(byte);
      byte = 0;
    }
  }
  if (width & 7) out[width >> 3] = static_cast<std::uint8_t>(byte);
}

void gray_to_4bit(const std::uint8_t* gray, int width, DiffusionRow* state, std::uint8_t* out) {
  int* below = state ? state->channel(0) : nullptr;
  int carry = 0;
  for (int x = 0; x < width; ++x) {
    int level;
    if (below) {
      const int v = carry + below[x] + gray[x];
      level = std::clamp((v + kLevelStep4 / 2) / kLevelStep4, 0, 15);
      const int e = v - level * kLevelStep4;
      carry = e / 2;
      below[x] = e - e / 2;
    } else {
      // The nearest of the 16 levels, so that 4-bit gray survives a trip
      // through 8 bits unchanged.
      level = (gray[x] + kLevelStep4 / 2) / kLevelStep4;
    }
    if (x & 1) {
      out[x >> 1] = static_cast<std::uint8_t>(out[x >> 1] | level);
    } else {
      out[x >> 1] = static_cast<std::uint8_t>(level << 4);
    }
  }
}

void rgb_to_index(const std::uint8_t* bgr, int width, const std::uint8_t* inverse_map,
                  const std::uint8_t* entries, DiffusionRow* state, bool pattern2, std::uint8_t* out) {
  if (state == nullptr) {
    for (int x = 0; x < width; ++x, bgr += 3) out[x] = inverse_map[inverse_map_cell(bgr[2], bgr[1], bgr[0])];
    return;
  }
  int* below_r = state->channel(0);
  int* below_g = state->channel(1);
  int* below_b = state->channel(2);
  int carry_r = 0, carry_g = 0, carry_b = 0;
  for (int x = 0; x < width; ++x, bgr += 3) {
    const int vr = carry_r + below_r[x] + bgr[2];
    const int vg = carry_g + below_g[x] + bgr[1];
    const int vb = carry_b + below_b[x] + bgr[0];
    const std::uint8_t index =
        inverse_map[inverse_map_cell(std::clamp(vr, 0, 255), std::clamp(vg, 0, 255), std::clamp(vb, 0, 255))];
    out[x] = index;
    const std::uint8_t* e = entries + 4 * index;  // blue, green, red
    const int er = vr - e[2], eg = vg - e[1], eb = vb - e[0];
    if (pattern2) {
      // Half below, a quarter below-left, a quarter to the right.
      const int add_r = er / 4, add_g = eg / 4, add_b = eb / 4;
      if (x > 0) below_r[x - 1] += add_r, below_g[x - 1] += add_g, below_b[x - 1] += add_b;
      below_r[x] = er / 2, below_g[x] = eg / 2, below_b[x] = eb / 2;
      carry_r = add_r, carry_g = add_g, carry_b = add_b;
      continue;
    }
    // Red: a quarter below-left, then a quarter of the rest below, the
    // remainder to the right. Green: a third below-left, half of the rest
    // below. Blue: a quarter below-left, a third of the rest below.
    const int qr = er / 4, qg = eg / 3, qb = eb / 4;
    if (x > 0) below_r[x - 1] += qr, below_g[x - 1] += qg, below_b[x - 1] += qb;
    const int rr = er - qr, rg = eg - qg, rb = eb - qb;
    below_r[x] = rr / 4, below_g[x] = rg / 2, below_b[x] = rb / 3;
    carry_r = rr - rr / 4, carry_g = rg - rg / 2, carry_b = rb - rb / 3;
  }
}

}  // namespace dib
