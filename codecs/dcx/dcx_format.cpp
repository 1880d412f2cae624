#include "codecs/dcx/dcx_format.h"

#include "codecs/common/image_limits.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace dcx {
namespace {

std::uint16_t get16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t get32(const std::uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
void put16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
void put32(std::uint8_t* p, std::uint32_t v) {
  put16(p, v);
  put16(p + 2, v >> 16);
}

constexpr double kMetresPerInch = 0.0254;
int ppm_to_dpi(std::int32_t ppm) { return ppm > 0 ? static_cast<int>(std::lround(ppm * kMetresPerInch)) : 0; }
std::int32_t dpi_to_ppm(int dpi) { return static_cast<std::int32_t>(dpi / kMetresPerInch + 0.5); }

// A new DIB block: header, a table of `entries` entries (blue, green, red, 0
// from `rgb`), zeroed bottom-up rows.
DibBytes dib_make(int width, int height, int bits, int entries, const std::uint8_t* rgb, int dpi_x,
                  int dpi_y, std::size_t stride) {
  const std::size_t table = static_cast<std::size_t>(entries) * 4;
  DibBytes out(40 + table + stride * static_cast<std::size_t>(height), 0);
  std::uint8_t* h = out.data();
  put32(h, 40);
  put32(h + 4, static_cast<std::uint32_t>(width));
  put32(h + 8, static_cast<std::uint32_t>(height));
  put16(h + 12, 1);
  put16(h + 14, static_cast<std::uint32_t>(bits));
  put32(h + 20, static_cast<std::uint32_t>(stride * static_cast<std::size_t>(height)));
  put32(h + 24, static_cast<std::uint32_t>(dpi_to_ppm(dpi_x)));
  put32(h + 28, static_cast<std::uint32_t>(dpi_to_ppm(dpi_y)));
  for (int i = 0; i < entries; ++i) {
    h[40 + 4 * i] = rgb[3 * i + 2];
    h[40 + 4 * i + 1] = rgb[3 * i + 1];
    h[40 + 4 * i + 2] = rgb[3 * i];
  }
  return out;
}

// Run-length codes one scan line: a byte of 0xC0 or more, or a run of two or
// more, becomes a count byte (0xC0 | n, n <= 63) followed by the value.
void rle_line(const std::uint8_t* line, std::size_t n, std::vector<std::uint8_t>& out) {
  std::size_t i = 0;
  while (i < n) {
    std::size_t run = 1;
    while (i + run < n && run < 63 && line[i + run] == line[i]) ++run;
    if (run > 1 || line[i] >= 0xC0) out.push_back(static_cast<std::uint8_t>(0xC0 | run));
    out.push_back(line[i]);
    i += run;
  }
}

}  // namespace

std::optional<std::vector<std::uint8_t>> pcx_encode_bw(const std::uint8_t* block, std::size_t size) {
  if (!block || size < 40) return std::nullopt;
  const std::uint32_t hsize = get32(block);
  const std::int32_t width = static_cast<std::int32_t>(get32(block + 4));
  const std::int32_t height_raw = static_cast<std::int32_t>(get32(block + 8));
  if (hsize < 40 || get16(block + 14) != 1 || get32(block + 16) != 0) return std::nullopt;
  if (width <= 0 || width > 0xFFFF || height_raw == 0 || height_raw == INT32_MIN) return std::nullopt;
  const std::int64_t height = height_raw < 0 ? -static_cast<std::int64_t>(height_raw) : height_raw;
  if (height > 0xFFFF) return std::nullopt;
  const std::uint32_t used = get32(block + 32);
  const std::uint64_t entries = used ? used : 2;
  const std::uint64_t stride = ((static_cast<std::uint64_t>(width) + 31) / 32) * 4;
  const std::uint64_t pixels = static_cast<std::uint64_t>(hsize) + entries * 4;
  if (entries > 256 || pixels + stride * static_cast<std::uint64_t>(height) > size) return std::nullopt;

  // White is bit 1 in the file: invert when the DIB's entry 0 is the lighter one.
  bool invert = false;
  if (entries >= 2) {
    const std::uint8_t* t = block + hsize;
    const int l0 = t[0] + t[1] + t[2], l1 = t[4] + t[5] + t[6];
    invert = l0 > l1;
  }
  const int dpi_x = ppm_to_dpi(static_cast<std::int32_t>(get32(block + 24)));
  const int dpi_y = ppm_to_dpi(static_cast<std::int32_t>(get32(block + 28)));

  const std::size_t bpl = ((static_cast<std::size_t>(width) + 15) / 16) * 2;
  std::vector<std::uint8_t> out(kPcxHeaderBytes, 0);
  std::uint8_t* h = out.data();
  h[0] = 0x0A;
  h[1] = 5;
  h[2] = 1;
  h[3] = 1;
  put16(h + 8, static_cast<std::uint32_t>(width - 1));
  put16(h + 10, static_cast<std::uint32_t>(height - 1));
  put16(h + 12, static_cast<std::uint32_t>(std::clamp(dpi_x, 0, 0xFFFF)));
  put16(h + 14, static_cast<std::uint32_t>(std::clamp(dpi_y, 0, 0xFFFF)));
  std::memset(h + 19, 0xFF, 3);  // palette entry 1 = white
  h[65] = 1;
  put16(h + 66, static_cast<std::uint32_t>(bpl));
  put16(h + 68, 1);

  std::vector<std::uint8_t> line(bpl);
  const std::size_t used_bytes = (static_cast<std::size_t>(width) + 7) / 8;
  const unsigned tail_bits = static_cast<unsigned>(width % 8);
  for (std::int64_t y = 0; y < height; ++y) {
    const std::int64_t stored = height_raw > 0 ? height - 1 - y : y;
    const std::uint8_t* src = block + pixels + stride * static_cast<std::uint64_t>(stored);
    std::fill(line.begin(), line.end(), 0xFF);  // padding reads as white
    for (std::size_t i = 0; i < used_bytes; ++i) line[i] = invert ? ~src[i] : src[i];
    if (tail_bits) line[used_bytes - 1] |= static_cast<std::uint8_t>(0xFF >> tail_bits);
    rle_line(line.data(), bpl, out);
  }
  return out;
}

std::optional<DibBytes> pcx_decode(std::span<const std::uint8_t> data, std::uint64_t max_pixels,
                                   std::string* out_error) {
  auto fail = [&](const std::string& why) -> std::optional<DibBytes> {
    if (out_error) *out_error = why;
    return std::nullopt;
  };
  if (data.size() < kPcxHeaderBytes) return fail("PCX page truncated");
  const std::uint8_t* h = data.data();
  if (h[0] != 0x0A || h[2] > 1) return fail("not a PCX page");
  const int bits = h[3], planes = h[65];
  const bool bw = bits == 1 && planes == 1, gray8 = bits == 8 && planes == 1,
             rgb = bits == 8 && planes == 3;
  if (!bw && !gray8 && !rgb) return fail("unsupported PCX pixel layout");
  const int x0 = get16(h + 4), y0 = get16(h + 6), x1 = get16(h + 8), y1 = get16(h + 10);
  if (x1 < x0 || y1 < y0) return fail("PCX page has no pixels");
  const int width = x1 - x0 + 1, height = y1 - y0 + 1;
  if (static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) > max_pixels)
    return fail(codec::image_size_refusal(width, height, max_pixels));
  const std::size_t bpl = get16(h + 66);
  const std::size_t need = (static_cast<std::size_t>(width) * bits + 7) / 8;
  if (bpl < need) return fail("PCX line length too short");
  const std::uint64_t scan = static_cast<std::uint64_t>(bpl) * planes;
  const std::uint64_t total = scan * static_cast<std::uint64_t>(height);
  const std::uint64_t body = data.size() - kPcxHeaderBytes;
  // A run pair expands to at most 63 bytes: more than that per two input bytes
  // cannot be there, whatever the header claims.
  if (total > kMaxPixelBytes || total > body * 32) return fail("PCX page size out of range");

  std::vector<std::uint8_t> raw(static_cast<std::size_t>(total));
  std::size_t pos = kPcxHeaderBytes, outpos = 0;
  const bool rle = h[2] == 1;
  while (outpos < raw.size()) {
    if (pos >= data.size()) return fail("PCX page truncated");
    std::uint8_t b = data[pos++];
    std::size_t run = 1;
    if (rle && b >= 0xC0) {
      run = b & 0x3F;
      if (pos >= data.size()) return fail("PCX page truncated");
      b = data[pos++];
    }
    run = std::min(run, raw.size() - outpos);
    std::memset(raw.data() + outpos, b, run);
    outpos += run;
  }

  const int dpi_x = get16(h + 12), dpi_y = get16(h + 14);
  const int out_bits = rgb ? 24 : bits;
  const std::size_t stride = ((static_cast<std::size_t>(width) * out_bits + 31) / 32) * 4;
  std::uint8_t table[256 * 3];
  int entries = 0;
  if (bw) {
    entries = 2;
    const std::uint8_t bw_table[6] = {0, 0, 0, 255, 255, 255};
    std::memcpy(table, bw_table, 6);
  } else if (gray8) {
    entries = 256;
    const std::size_t at = data.size() >= kPcxHeaderBytes + 769 ? data.size() - 769 : 0;
    if (at >= pos && data[at] == 0x0C) {
      std::memcpy(table, data.data() + at + 1, 768);
    } else {
      for (int i = 0; i < 256; ++i) table[3 * i] = table[3 * i + 1] = table[3 * i + 2] = static_cast<std::uint8_t>(i);
    }
  }
  DibBytes out = dib_make(width, height, out_bits, entries, table, dpi_x, dpi_y, stride);
  std::uint8_t* pixels = out.data() + 40 + static_cast<std::size_t>(entries) * 4;
  for (int y = 0; y < height; ++y) {
    std::uint8_t* dst = pixels + stride * static_cast<std::size_t>(height - 1 - y);
    const std::uint8_t* src = raw.data() + scan * static_cast<std::uint64_t>(y);
    if (rgb) {
      for (int x = 0; x < width; ++x) {
        dst[3 * x] = src[2 * bpl + x];
        dst[3 * x + 1] = src[bpl + x];
        dst[3 * x + 2] = src[x];
      }
    } else {
      std::memcpy(dst, src, need);
      if (bw && width % 8) dst[need - 1] &= static_cast<std::uint8_t>(0xFF << (8 - width % 8));
    }
  }
  return out;
}

std::optional<std::vector<std::uint32_t>> dcx_offsets(std::span<const std::uint8_t> header,
                                                      std::uint64_t file_size) {
  if (header.size() < 8 || get32(header.data()) != kDcxMagic) return std::nullopt;
  std::vector<std::uint32_t> offsets;
  for (std::size_t at = 4; at + 4 <= header.size() && offsets.size() < kMaxPages; at += 4) {
    const std::uint32_t off = get32(header.data() + at);
    if (off == 0) break;
    if (off < 8 || off >= file_size) return std::nullopt;
    offsets.push_back(off);
  }
  return offsets;
}

std::vector<std::uint8_t> dcx_header(const std::vector<std::uint32_t>& offsets) {
  std::vector<std::uint8_t> out(kHeaderBytes, 0);
  put32(out.data(), kDcxMagic);
  for (std::size_t i = 0; i < offsets.size() && i < kMaxPages; ++i) put32(out.data() + 4 + 4 * i, offsets[i]);
  return out;
}

}  // namespace dcx
