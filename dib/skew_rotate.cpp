// Rotation in place by two shears, with the exposed borders refilled.
//
// A small turn by t is made of a column shear followed by a row shear. The
// column pass slides each column up by tan(t) x (x - W/2) rows, which makes
// lines of slope tan(t) horizontal; that is the shear the skew estimate
// measured, so an estimated angle undoes exactly the skew it found. The row
// pass then slides each row right by sin(t) cos(t) x (y - H/2) pixels, which
// makes the page's vertical lines vertical again. Together the two shears
// are the turn by t followed by a scale of cos(t) across and 1 / cos(t)
// down: area is kept, and for the skews of fed pages (a few degrees) the
// scale is below 0.4 % at 5 degrees and 1.5 % at 10.
//
// Offsets follow the shared shear rule (skew_detail.h), so neighbouring
// columns, and rows, with equal offsets form runs that move together: a
// column run moves as one block of bytes per row, and the runs going up are
// moved walking down the image while those going down are moved walking up,
// so every source row is read before it is overwritten. Rows move by whole
// bytes, or bit-exactly for pixels smaller than a byte. The image keeps its
// size: content shifted past an edge is lost. The pixels a shear uncovers
// have no source; they are set to the largest value (every bit set) rather
// than left holding their old bytes, which would show a second, stale copy
// of whatever lay along the edge. The border fill then lays the page's own
// background, taken from the middle of each edge, over the strips the
// shears can have uncovered; it keeps the darker of the two values, so real
// content inside those strips survives and the cleared pixels take the fill.
#include "dib/skew.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <span>
#include <vector>

#include "dib/region_stats.h"
#include "dib/row_readers.h"
#include "dib/skew_detail.h"

namespace dib {
namespace {

using skew_detail::shear_offset;

// Turns not above this (radians) are left undone: no offset would reach a
// pixel on any page of a practical size.
constexpr double kMinTurn = 0.001;
// Width in pixels of the strips whose average gray level judges the borders.
constexpr int kProbeWidth = 5;

// Neighbouring positions [first, last) with one shear offset.
struct Run {
  int first, last, offset;
};

std::vector<Run> runs_of(double factor, int length) {
  std::vector<Run> runs;
  for (int p = 0; p < length;) {
    const int s = shear_offset(factor, p, length);
    int end = p + 1;
    while (end < length && shear_offset(factor, end, length) == s) ++end;
    if (s != 0) runs.push_back({p, end, s});
    p = end;
  }
  return runs;
}

// ---- Packed pixel spans (most significant bit first within a byte) ----

// The `n` (at most 8) bits of `src` from bit position `bit` on, in the top
// bits of the result; the byte after the one holding `bit` is read only when
// the bits reach into it.
std::uint8_t bits_at(const std::uint8_t* src, std::size_t bit, unsigned n) {
  const std::size_t i = bit >> 3;
  const unsigned shift = bit & 7;
  unsigned value = static_cast<unsigned>(src[i]) << shift;
  if (shift + n > 8) value |= src[i + 1] >> (8 - shift);
  return static_cast<std::uint8_t>(value);
}

// Copies `n` bits of `src` from bit `src_bit` to `dst` at bit `dst_bit`;
// the other bits of the bytes touched are kept. The spans must not overlap.
void bits_copy(std::uint8_t* dst, std::size_t dst_bit, const std::uint8_t* src, std::size_t src_bit,
               std::size_t n) {
  while (n > 0) {
    const unsigned head = dst_bit & 7;
    if (head == 0 && (src_bit & 7) == 0 && n >= 8) {
      const std::size_t whole = n / 8;
      std::memcpy(dst + dst_bit / 8, src + src_bit / 8, whole);
      dst_bit += whole * 8;
      src_bit += whole * 8;
      n -= whole * 8;
      continue;
    }
    const unsigned take = static_cast<unsigned>(std::min<std::size_t>(8 - head, n));
    const auto mask = static_cast<std::uint8_t>((0xFFu >> head) & (0xFFu << (8 - head - take)));
    const auto bits = static_cast<std::uint8_t>(bits_at(src, src_bit, take) >> head);
    std::uint8_t& out = dst[dst_bit >> 3];
    out = static_cast<std::uint8_t>((out & ~mask) | (bits & mask));
    dst_bit += take;
    src_bit += take;
    n -= take;
  }
}

// Copies pixels [first, last) of row `src` into the same columns of `dst`.
void span_copy(std::uint8_t* dst, const std::uint8_t* src, int first, int last, int depth) {
  if (depth % 8 == 0) {
    const std::size_t bytes = static_cast<std::size_t>(depth / 8);
    std::memcpy(dst + first * bytes, src + first * bytes, (last - first) * bytes);
  } else {
    const std::size_t bit = static_cast<std::size_t>(first) * depth;
    bits_copy(dst, bit, src, bit, static_cast<std::size_t>(last - first) * depth);
  }
}

// Sets every bit of pixels [first, last) of a row: the value no sample is
// above, so the border fill's darker-of-two choice takes the fill there.
void span_clear(std::uint8_t* row, int first, int last, int depth) {
  if (first >= last) return;
  std::size_t bit = static_cast<std::size_t>(first) * depth;
  const std::size_t end = static_cast<std::size_t>(last) * depth;
  for (; bit < end && (bit & 7) != 0; ++bit) row[bit >> 3] |= static_cast<std::uint8_t>(0x80u >> (bit & 7));
  const std::size_t whole = (end - bit) / 8;
  std::memset(row + bit / 8, 0xFF, whole);
  for (bit += whole * 8; bit < end; ++bit) row[bit >> 3] |= static_cast<std::uint8_t>(0x80u >> (bit & 7));
}

// Moves the pixels of a row `t` places right (left for negative t) and
// clears the `|t|` pixels uncovered. `scratch` holds the row's used bytes.
void row_shift(std::uint8_t* row, int width, int depth, int t, std::vector<std::uint8_t>& scratch) {
  const int keep = std::max(0, width - std::abs(t));
  if (depth % 8 == 0) {
    const std::size_t bytes = static_cast<std::size_t>(depth / 8);
    if (t > 0) {
      std::memmove(row + t * bytes, row, keep * bytes);
    } else {
      std::memmove(row, row - t * bytes, keep * bytes);
    }
  } else if (keep > 0) {
    const std::size_t used = row_used_bytes(depth, width);
    std::memcpy(scratch.data(), row, used);
    const std::size_t moved = static_cast<std::size_t>(std::abs(t)) * depth;
    if (t > 0) {
      bits_copy(row, moved, scratch.data(), 0, static_cast<std::size_t>(keep) * depth);
    } else {
      bits_copy(row, 0, scratch.data(), moved, static_cast<std::size_t>(keep) * depth);
    }
  }
  if (t > 0) {
    span_clear(row, 0, width - keep, depth);
  } else {
    span_clear(row, keep, width, depth);
  }
}

// ---- Border fill ----

// Whether the fill can combine samples of this depth: whole bytes, 16-bit
// samples, or pixels that pack evenly into a byte.
bool fill_depth_ok(int depth) { return depth % 8 == 0 || (depth < 8 && 8 % depth == 0); }

unsigned pixel_get(const std::uint8_t* row, int x, int depth) {
  const std::size_t bit = static_cast<std::size_t>(x) * depth;
  return (row[bit / 8] >> (8 - depth - bit % 8)) & ((1u << depth) - 1);
}

void pixel_set(std::uint8_t* row, int x, int depth, unsigned value) {
  const std::size_t bit = static_cast<std::size_t>(x) * depth;
  const unsigned shift = 8 - depth - bit % 8;
  const unsigned mask = ((1u << depth) - 1) << shift;
  row[bit / 8] = static_cast<std::uint8_t>((row[bit / 8] & ~mask) | ((value << shift) & mask));
}

// Keeps in every sample of pixels [x0, x1) of `dst` the smaller of it and
// the matching sample of `src`: the same columns of `src`, or, when
// `src_x` >= 0, its one pixel `src_x` for every column. Samples are bytes,
// little-endian 16-bit words for 16, 48 and 64 bits per pixel, or whole
// pixels below 8 bits.
void darker_span(std::uint8_t* dst, const std::uint8_t* src, int x0, int x1, int src_x, int depth) {
  if (x0 >= x1) return;
  if (depth < 8) {
    const unsigned fixed = src_x >= 0 ? pixel_get(src, src_x, depth) : 0;
    for (int x = x0; x < x1; ++x) {
      const unsigned other = src_x >= 0 ? fixed : pixel_get(src, x, depth);
      if (other < pixel_get(dst, x, depth)) pixel_set(dst, x, depth, other);
    }
    return;
  }
  const std::size_t bytes = static_cast<std::size_t>(depth / 8);
  const bool words = depth == 16 || depth == 48 || depth == 64;
  std::uint8_t pixel[8];
  if (src_x >= 0) std::memcpy(pixel, src + src_x * bytes, bytes);
  std::uint8_t* out = dst + x0 * bytes;
  const std::uint8_t* in = src + x0 * bytes;
  const std::size_t total = (x1 - x0) * bytes;
  const std::size_t unit = words ? 2 : 1;
  for (std::size_t i = 0; i < total; i += unit) {
    const std::uint8_t* other = src_x >= 0 ? pixel + i % bytes : in + i;
    if (words) {
      const unsigned a = out[i] | (out[i + 1] << 8), b = other[0] | (other[1] << 8);
      if (b < a) {
        out[i] = other[0];
        out[i + 1] = other[1];
      }
    } else {
      out[i] = std::min(out[i], other[0]);
    }
  }
}

// Refills the strips the shears exposed: `dv` rows at the top and bottom,
// `dh` columns at the left and right. The side strips take row H/2's pixels,
// the top and bottom strips column W/2's, each kept only where darker than
// what the strip holds. The average gray levels of the middle of each edge
// decide how far the top and bottom strips reach into the corners: a top
// strip lighter than a side strip leaves that corner to the side strip, and
// so does a bottom strip lighter than the right one.
void fill_borders(const DibView& v, int dv, int dh) {
  const int w = v.width(), h = v.height(), d = v.depth();
  const double top = avg_region(v, kCompGray, w / 2 - 2, 0, kProbeWidth, dv);
  const double bottom = avg_region(v, kCompGray, w / 2 - 2, h - dv, kProbeWidth, dv);
  const double left = avg_region(v, kCompGray, 0, h / 2 - 2, dh, kProbeWidth);
  const double right = avg_region(v, kCompGray, w - dh, h / 2 - 2, dh, kProbeWidth);

  const std::uint8_t* middle_row = v.row_unchecked(h / 2);
  for (int y = 0; y < h; ++y) {
    std::uint8_t* row = v.row_unchecked(y);
    darker_span(row, middle_row, 0, dh, -1, d);
    darker_span(row, middle_row, w - dh, w, -1, d);
  }
  const int top_first = top > left ? dh : 0;
  const int top_end = top > right ? w - dh : w;
  for (int y = 0; y < dv; ++y) {
    std::uint8_t* row = v.row_unchecked(y);
    darker_span(row, row, top_first, top_end, w / 2, d);
  }
  const int bottom_end = right < bottom ? w - dh : w;
  for (int y = h - dv; y < h; ++y) {
    std::uint8_t* row = v.row_unchecked(y);
    darker_span(row, row, 0, bottom_end, w / 2, d);
  }
}

// ---- The two passes ----

// Moves each run of columns up by its offset (down for a negative one) and
// clears the rows it uncovers at the far end.
void column_pass(const DibView& v, std::span<const Run> runs) {
  const int h = v.height(), d = v.depth();
  for (int y = 0; y < h; ++y) {
    for (const Run& r : runs) {
      if (r.offset <= 0) continue;
      std::uint8_t* row = v.row_unchecked(y);
      if (y + r.offset < h) {
        span_copy(row, v.row_unchecked(y + r.offset), r.first, r.last, d);
      } else {
        span_clear(row, r.first, r.last, d);
      }
    }
  }
  for (int y = h - 1; y >= 0; --y) {
    for (const Run& r : runs) {
      if (r.offset >= 0) continue;
      std::uint8_t* row = v.row_unchecked(y);
      if (y + r.offset >= 0) {
        span_copy(row, v.row_unchecked(y + r.offset), r.first, r.last, d);
      } else {
        span_clear(row, r.first, r.last, d);
      }
    }
  }
}

// Moves each run of rows right by its offset (left for a negative one).
void row_pass(const DibView& v, std::span<const Run> runs, std::vector<std::uint8_t>& scratch) {
  for (const Run& r : runs) {
    for (int y = r.first; y < r.last; ++y) row_shift(v.row_unchecked(y), v.width(), v.depth(), r.offset, scratch);
  }
}

}  // namespace

void rotate_by_radians(const DibView& v, double radians) {
  if (!(std::abs(radians) > kMinTurn) || !std::isfinite(radians)) return;
  v.require_rows();
  const int w = v.width(), h = v.height();
  if (w <= 0 || h <= 0) return;
  const double column_factor = std::tan(radians);
  const double row_factor = std::sin(radians) * std::cos(radians);

  std::vector<Run> column_runs, row_runs;
  std::vector<std::uint8_t> scratch;
  try {
    column_runs = runs_of(column_factor, w);
    row_runs = runs_of(row_factor, h);
    scratch.resize(row_used_bytes(v.depth(), w));
  } catch (const std::bad_alloc&) {
    return;  // without its work buffers the turn is not made
  }
  const int dv = std::min(h, std::max(std::abs(shear_offset(column_factor, 0, w)),
                                      std::abs(shear_offset(column_factor, w - 1, w))));
  const int dh = std::min(w, std::max(std::abs(shear_offset(row_factor, 0, h)),
                                      std::abs(shear_offset(row_factor, h - 1, h))));
  column_pass(v, column_runs);
  row_pass(v, row_runs, scratch);
  if (fill_depth_ok(v.depth()) && RowReader(v).supported()) fill_borders(v, dv, dh);
}

}  // namespace dib
