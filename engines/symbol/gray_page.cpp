// The page an engine reads: any DIB of the library turned into 8-bit gray
// (luma 0.30 R + 0.59 G + 0.11 B), reduced by a whole factor when it is
// larger than kMaxGrayPixels. The header is checked against the block before
// a pixel is read: the block comes from the library, but its header may hold
// anything an image file or a device put there.
#include "engines/symbol/symbol_engine.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>

namespace symbol {
namespace {

constexpr std::size_t kHeaderBytes = 40;
constexpr std::uint32_t kBitFields = 3;
constexpr std::uint32_t kSubtractive = 5;

std::uint32_t u32(const std::uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t(p[3]) << 24; }
std::uint16_t u16(const std::uint8_t* p) { return std::uint16_t(p[0] | p[1] << 8); }

std::uint8_t luma(int r, int g, int b) { return std::uint8_t((77 * r + 150 * g + 29 * b) >> 8); }

// Where the rows are and how to read them.
struct Layout {
  std::int64_t width = 0, rows = 0;
  int depth = 0;
  bool bottom_up = true;
  bool subtractive = false;
  std::uint64_t stride = 0;
  const std::uint8_t* pixels = nullptr;
  std::array<std::uint8_t, 256> table_luma{};  // depths up to 8
};

Layout parse(const std::uint8_t* p, std::size_t bytes) {
  if (!p || bytes < kHeaderBytes) throw BadInput("no DIB header");
  Layout l;
  const std::uint32_t header_size = u32(p);
  const std::int32_t width = std::int32_t(u32(p + 4));
  const std::int32_t height = std::int32_t(u32(p + 8));
  l.depth = u16(p + 14);
  const std::uint32_t compression = u32(p + 16);
  const std::uint32_t clr_used = u32(p + 32);
  if (header_size < kHeaderBytes || header_size > bytes) throw BadInput("bad header size");
  if (width <= 0 || height == 0) throw BadInput("empty image");
  if ((compression & 0xFF00) != 0) throw BadInput("compressed image data");
  const std::uint32_t kind = compression & 0xFF;
  if (kind != 0 && kind != kBitFields && kind != kSubtractive) throw BadInput("unknown pixel coding");
  static constexpr int kDepths[] = {1, 4, 8, 16, 24, 32, 48};
  if (std::find(std::begin(kDepths), std::end(kDepths), l.depth) == std::end(kDepths))
    throw BadInput("unsupported depth");
  l.width = width;
  l.rows = height < 0 ? -std::int64_t(height) : height;
  l.bottom_up = height > 0;
  l.subtractive = kind == kSubtractive;
  std::uint64_t offset = header_size;
  if (kind == kBitFields) offset += 12;
  if (l.depth <= 8) {
    const std::uint64_t entries = clr_used != 0 ? clr_used : (1u << l.depth);
    if (entries > 256 || offset + 4 * entries > bytes) throw BadInput("colour table outside the block");
    for (std::uint64_t i = 0; i < entries; ++i) {
      const std::uint8_t* e = p + offset + 4 * i;
      l.table_luma[i] = luma(e[2], e[1], e[0]);
    }
    offset += 4 * entries;
  }
  l.stride = ((std::uint64_t(l.depth) * std::uint64_t(l.width) + 31) / 32) * 4;
  if (offset > bytes || l.stride == 0 || std::uint64_t(l.rows) > (bytes - offset) / l.stride)
    throw BadInput("pixel rows outside the block");
  l.pixels = p + offset;
  return l;
}

// Pixels x0 .. x1 - 1 of row y (from the top) as gray, into out[0 ..].
void read_row(const Layout& l, std::int64_t y, std::int64_t x0, std::int64_t x1, std::uint8_t* out) {
  const std::int64_t stored = l.bottom_up ? l.rows - 1 - y : y;
  const std::uint8_t* s = l.pixels + std::uint64_t(stored) * l.stride;
  switch (l.depth) {
    case 1: {
      // Whole bytes at a time where they lie inside the range: pages of this
      // depth are the largest there are.
      std::int64_t x = x0;
      for (; x < x1 && (x & 7) != 0; ++x) out[x - x0] = l.table_luma[(s[x >> 3] >> (7 - (x & 7))) & 1];
      for (; x + 8 <= x1; x += 8) {
        const unsigned bits = s[x >> 3];
        std::uint8_t* o = out + (x - x0);
        for (int k = 0; k < 8; ++k) o[k] = l.table_luma[(bits >> (7 - k)) & 1];
      }
      for (; x < x1; ++x) out[x - x0] = l.table_luma[(s[x >> 3] >> (7 - (x & 7))) & 1];
      break;
    }
    case 4:
      for (std::int64_t x = x0; x < x1; ++x) out[x - x0] = l.table_luma[(s[x >> 1] >> ((x & 1) ? 0 : 4)) & 15];
      break;
    case 8:
      for (std::int64_t x = x0; x < x1; ++x) out[x - x0] = l.table_luma[s[x]];
      break;
    case 16:  // gray, little-endian: the high byte
      for (std::int64_t x = x0; x < x1; ++x) out[x - x0] = s[2 * x + 1];
      break;
    case 24:
      for (std::int64_t x = x0; x < x1; ++x) {
        const std::uint8_t* q = s + 3 * x;
        out[x - x0] = l.subtractive ? luma(255 - q[0], 255 - q[1], 255 - q[2]) : luma(q[2], q[1], q[0]);
      }
      break;
    case 32:
      for (std::int64_t x = x0; x < x1; ++x) {
        const std::uint8_t* q = s + 4 * x;
        if (l.subtractive) {
          const int k = q[3];
          out[x - x0] = luma(255 - std::min(255, q[0] + k), 255 - std::min(255, q[1] + k),
                        255 - std::min(255, q[2] + k));
        } else {
          out[x - x0] = luma(q[2], q[1], q[0]);
        }
      }
      break;
    case 48:
      for (std::int64_t x = x0; x < x1; ++x) {
        const std::uint8_t* q = s + 6 * x;
        out[x - x0] = luma(q[5], q[3], q[1]);
      }
      break;
  }
}

std::int64_t reduced(std::int64_t n, int scale) { return (n + scale - 1) / scale; }

int reduction_for(std::int64_t width, std::int64_t rows) {
  int scale = 1;
  while (reduced(width, scale) * reduced(rows, scale) > kMaxGrayPixels) ++scale;
  return scale;
}

// Pixels x .. x + n - 1 of a 1-bit row that are set.
int ones_in(const std::uint8_t* row, std::int64_t x, std::int64_t n) {
  int ones = 0;
  while (n > 0) {
    const int offset = int(x & 7);
    const int k = int(std::min<std::int64_t>(8 - offset, n));
    const unsigned mask = (0xFFu >> offset) & (0xFFu << (8 - offset - k));
    ones += __builtin_popcount(row[x >> 3] & mask);
    x += k, n -= k;
  }
  return ones;
}

// The sums of a reduced 1-bit row, cell by cell, counted from its bits: the
// pages of this depth are the largest there are.
void add_bit_row(const Layout& l, std::int64_t y, int scale, std::uint32_t* sums) {
  const std::uint8_t* row = l.pixels + std::uint64_t(l.bottom_up ? l.rows - 1 - y : y) * l.stride;
  const std::uint32_t set = l.table_luma[1], clear = l.table_luma[0];
  for (std::int64_t x = 0, cell = 0; x < l.width; x += scale, ++cell) {
    const std::int64_t n = std::min<std::int64_t>(scale, l.width - x);
    const std::uint32_t ones = std::uint32_t(ones_in(row, x, n));
    sums[cell] += ones * set + (std::uint32_t(n) - ones) * clear;
  }
}

// Rows are read in pieces of this many pixels, so that a very wide image
// needs no buffer the size of its row.
constexpr std::int64_t kPiecePixels = 1 << 16;

}  // namespace

GrayPage gray_page_from_dib(const void* bmi, std::size_t bytes) {
  const Layout l = parse(static_cast<const std::uint8_t*>(bmi), bytes);
  GrayPage page;
  page.scale = reduction_for(l.width, l.rows);
  const int s = page.scale;
  page.width = int(reduced(l.width, s));
  page.height = int(reduced(l.rows, s));
  page.pixels.resize(std::size_t(page.width) * std::size_t(page.height));
  if (s == 1) {
    for (int y = 0; y < page.height; ++y) read_row(l, y, 0, l.width, page.pixels.data() + std::size_t(y) * page.width);
    return page;
  }
  // Each gray pixel is the mean of the block of page pixels it stands for
  // (blocks at the right and bottom edges may be smaller).
  std::vector<std::uint8_t> piece(std::size_t(std::min(l.width, kPiecePixels)));
  std::vector<std::uint32_t> sums(std::size_t(page.width));
  for (int gy = 0; gy < page.height; ++gy) {
    std::fill(sums.begin(), sums.end(), 0);
    const std::int64_t y0 = std::int64_t(gy) * s, y1 = std::min<std::int64_t>(y0 + s, l.rows);
    for (std::int64_t y = y0; y < y1; ++y) {
      if (l.depth == 1) {
        add_bit_row(l, y, s, sums.data());
        continue;
      }
      for (std::int64_t x0 = 0; x0 < l.width; x0 += kPiecePixels) {
        const std::int64_t x1 = std::min(l.width, x0 + kPiecePixels);
        read_row(l, y, x0, x1, piece.data());
        std::uint32_t* cell = sums.data() + x0 / s;
        int within = int(x0 % s);
        for (std::int64_t x = x0; x < x1; ++x) {
          *cell += piece[std::size_t(x - x0)];
          if (++within == s) within = 0, ++cell;
        }
      }
    }
    std::uint8_t* out = page.pixels.data() + std::size_t(gy) * page.width;
    for (int gx = 0; gx < page.width; ++gx) {
      const std::int64_t cols = std::min<std::int64_t>(s, l.width - std::int64_t(gx) * s);
      out[gx] = std::uint8_t(sums[std::size_t(gx)] / std::uint64_t(cols * (y1 - y0)));
    }
  }
  return page;
}

}  // namespace symbol
