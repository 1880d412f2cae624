// Quarter turns, flips and mirror.
//
// A clockwise quarter turn moves the source pixel at column x of row y (rows
// from the top) to column H - 1 - y of row x; the anticlockwise turn moves it
// to column y of row W - 1 - x. Byte-sized pixels are copied in 16 x 16 tiles
// so that the source rows a tile touches stay in cache. 1-bit images are
// turned eight rows at a time: eight source bytes form an 8 x 8 bit block
// whose transpose gives one byte of eight target rows. 4-bit images take the
// plain per-pixel path. Half turns are done in place: rows swapped end for
// end and each row mirrored.
#include "dib/rotate.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "dib/allocate.h"
#include "dib/detail.h"
#include "dib/edit.h"
#include "orivane/errors.h"

namespace dib {
namespace {

constexpr int kTile = 16;

template <int B>
void turn_bytes(const DibView& s, const DibView& d, bool clockwise) {
  const int w = s.width(), h = s.height();
  std::vector<const std::uint8_t*> src_rows(static_cast<std::size_t>(h));
  for (int y = 0; y < h; ++y) src_rows[static_cast<std::size_t>(y)] = s.row(y);
  for (int y0 = 0; y0 < w; y0 += kTile) {
    const int y1 = std::min(y0 + kTile, w);
    for (int x0 = 0; x0 < h; x0 += kTile) {
      const int x1 = std::min(x0 + kTile, h);
      for (int yd = y0; yd < y1; ++yd) {
        std::uint8_t* out = d.row(yd);
        const std::size_t xs = static_cast<std::size_t>(clockwise ? yd : w - 1 - yd) * B;
        if (clockwise) {
          for (int xd = x0; xd < x1; ++xd) std::memcpy(out + xd * B, src_rows[static_cast<std::size_t>(h - 1 - xd)] + xs, B);
        } else {
          for (int xd = x0; xd < x1; ++xd) std::memcpy(out + xd * B, src_rows[static_cast<std::size_t>(xd)] + xs, B);
        }
      }
    }
  }
}

// Transposes an 8 x 8 bit block: byte m of `rows` (from the top) is row m,
// most significant bit first; byte j of the result is column j.
inline std::uint64_t transpose8(std::uint64_t x) {
  std::uint64_t t;
  t = (x ^ (x >> 7)) & 0x00AA00AA00AA00AAULL;
  x = x ^ t ^ (t << 7);
  t = (x ^ (x >> 14)) & 0x0000CCCC0000CCCCULL;
  x = x ^ t ^ (t << 14);
  t = (x ^ (x >> 28)) & 0x00000000F0F0F0F0ULL;
  x = x ^ t ^ (t << 28);
  return x;
}

void turn_bits(const DibView& s, const DibView& d, bool clockwise) {
  const int w = s.width(), h = s.height();
  const int src_bytes = (w + 7) / 8, dst_bytes = (h + 7) / 8;
  std::vector<std::uint8_t*> dst_rows(static_cast<std::size_t>(w));
  for (int y = 0; y < w; ++y) dst_rows[static_cast<std::size_t>(y)] = d.row(y);
  for (int k = 0; k < dst_bytes; ++k) {
    // The eight source rows that land in byte k of every target row.
    const std::uint8_t* rows[8];
    for (int m = 0; m < 8; ++m) {
      const int y = clockwise ? h - 1 - 8 * k - m : 8 * k + m;
      rows[m] = (y >= 0 && y < h) ? s.row(y) : nullptr;
    }
    for (int bx = 0; bx < src_bytes; ++bx) {
      std::uint64_t block = 0;
      for (int m = 0; m < 8; ++m) block = (block << 8) | (rows[m] ? rows[m][bx] : 0);
      if (block == 0) {
        // Blank blocks are common on pages; the target bytes start out zero.
        continue;
      }
      const std::uint64_t t = transpose8(block);
      for (int j = 0; j < 8; ++j) {
        const int x = 8 * bx + j;
        if (x >= w) break;
        const int row = clockwise ? x : w - 1 - x;
        dst_rows[static_cast<std::size_t>(row)][k] = static_cast<std::uint8_t>(t >> (56 - 8 * j));
      }
    }
  }
  for (int y = 0; y < w; ++y) detail::clear_tail_bits(dst_rows[static_cast<std::size_t>(y)], 1, h);
}

inline int get_nibble(const std::uint8_t* row, int x) { return (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 0x0F; }
inline void set_nibble(std::uint8_t* row, int x, int v) {
  const int shift = (x & 1) ? 0 : 4;
  row[x >> 1] = static_cast<std::uint8_t>((row[x >> 1] & ~(0x0F << shift)) | (v << shift));
}

void turn_nibbles(const DibView& s, const DibView& d, bool clockwise) {
  const int w = s.width(), h = s.height();
  for (int yd = 0; yd < w; ++yd) {
    std::uint8_t* out = d.row(yd);
    const int xs = clockwise ? yd : w - 1 - yd;
    for (int xd = 0; xd < h; ++xd) set_nibble(out, xd, get_nibble(s.row(clockwise ? h - 1 - xd : xd), xs));
  }
}

void turn(const DibView& s, const DibView& d, bool clockwise) {
  switch (s.depth()) {
    case 1: return turn_bits(s, d, clockwise);
    case 4: return turn_nibbles(s, d, clockwise);
    case 8: return turn_bytes<1>(s, d, clockwise);
    case 16: return turn_bytes<2>(s, d, clockwise);
    case 24: return turn_bytes<3>(s, d, clockwise);
    case 32: return turn_bytes<4>(s, d, clockwise);
    case 48: return turn_bytes<6>(s, d, clockwise);
    default: throw Error(ERR_WRONG_IMAGE_TYPE);
  }
}

// Pixel order reversed within each byte: bits for 1-bit, nibbles for 4-bit.
std::array<std::uint8_t, 256> byte_reversal(int depth) {
  std::array<std::uint8_t, 256> lut{};
  for (int b = 0; b < 256; ++b) {
    int r = 0;
    if (depth == 1) {
      for (int i = 0; i < 8; ++i) r |= ((b >> i) & 1) << (7 - i);
    } else {
      r = ((b & 0x0F) << 4) | (b >> 4);
    }
    lut[static_cast<std::size_t>(b)] = static_cast<std::uint8_t>(r);
  }
  return lut;
}

void mirror_packed(const DibView& v) {
  const auto lut = byte_reversal(v.depth());
  const std::size_t n = v.used_bytes();
  const int pad = static_cast<int>(n * 8 - static_cast<std::size_t>(v.depth()) * static_cast<std::size_t>(v.width()));
  std::vector<std::uint8_t> tmp(n + 1, 0);
  for (int y = 0; y < v.height(); ++y) {
    std::uint8_t* row = v.row(y);
    for (std::size_t i = 0; i < n; ++i) tmp[i] = lut[row[n - 1 - i]];
    // The reversed row starts with the padding bits; shift them out.
    for (std::size_t i = 0; i < n; ++i) {
      row[i] = pad == 0 ? tmp[i] : static_cast<std::uint8_t>((tmp[i] << pad) | (tmp[i + 1] >> (8 - pad)));
    }
    detail::clear_tail_bits(row, v.depth(), v.width());
  }
}

}  // namespace

Dib rotate_quarter(const DibView& src, int turns) {
  src.require_rows();
  const int n = ((turns % 4) + 4) % 4;
  const bool odd = n % 2 == 1;
  Dib out = allocate_like(src, odd ? src.height() : src.width(), odd ? src.width() : src.height());
  Locked d(out.get());
  if (odd) {
    InfoHeader hd = d->header();
    std::swap(hd.x_ppm, hd.y_ppm);
    d->store_header(hd);
    turn(src, d.view(), n == 1);
  } else {
    if (src.depth() != 1 && src.depth() != 4 && src.depth() % 8 != 0) throw Error(ERR_WRONG_IMAGE_TYPE);
    for (int y = 0; y < src.height(); ++y) std::memcpy(d->row(y), src.row(y), src.used_bytes());
    if (n == 2) {
      flip_vertical(d.view());
      mirror(d.view());
    }
  }
  return out;
}

void rotate_in_place(Handle h, int turns) {
  const int n = ((turns % 4) + 4) % 4;
  if (n == 0) return;
  Dib turned;
  {
    Locked lock(h);
    lock->require_rows();
    if (n == 2) {
      flip_vertical(lock.view());
      mirror(lock.view());
      return;
    }
    turned = rotate_quarter(lock.view(), n);
  }
  if (!replace_contents(h, turned.release())) throw Error(ERR_MEMORY);
}

void flip_vertical(const DibView& v) {
  v.require_rows();
  std::vector<std::uint8_t> tmp(v.stride());
  for (int a = 0, b = v.height() - 1; a < b; ++a, --b) {
    std::memcpy(tmp.data(), v.row(a), v.stride());
    std::memcpy(v.row(a), v.row(b), v.stride());
    std::memcpy(v.row(b), tmp.data(), v.stride());
  }
}

void mirror(const DibView& v) {
  v.require_rows();
  const int depth = v.depth();
  if (depth == 1 || depth == 4) return mirror_packed(v);
  if (depth % 8 != 0) throw Error(ERR_WRONG_IMAGE_TYPE);
  const int bpp = depth / 8;
  std::uint8_t tmp[8];
  for (int y = 0; y < v.height(); ++y) {
    std::uint8_t* row = v.row(y);
    for (int a = 0, b = v.width() - 1; a < b; ++a, --b) {
      std::memcpy(tmp, row + a * bpp, static_cast<std::size_t>(bpp));
      std::memcpy(row + a * bpp, row + b * bpp, static_cast<std::size_t>(bpp));
      std::memcpy(row + b * bpp, tmp, static_cast<std::size_t>(bpp));
    }
  }
}

}  // namespace dib
