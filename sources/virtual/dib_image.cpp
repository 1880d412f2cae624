#include "sources/virtual/dib_image.h"

#include <array>
#include <cmath>
#include <cstring>

#include "platform/rgb_swap.h"

namespace vscan {

namespace {

constexpr double kMetresPerInch = 0.0254;
constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiBitfields = 3;
// Low byte of biCompression for separated (CMY, CMYK) pixels.
constexpr std::uint32_t kBiSeparated = 5;

void put16(std::uint8_t* p, std::uint16_t v) { std::memcpy(p, &v, 2); }
void put32(std::uint8_t* p, std::uint32_t v) { std::memcpy(p, &v, 4); }

std::size_t mask_bytes(const PageFormat& f) {
  return f.pixel_type == TWPT_GRAY && f.bit_depth == 16 ? 12 : 0;
}

// One raster row (TWAIN order) to a DIB row.
void row_to_dib(const PageFormat& f, const std::uint8_t* in, std::size_t in_bytes,
                std::uint8_t* out) {
  if (f.pixel_type == TWPT_RGB && f.bit_depth == 24) {
    platform::swap_rb24(in, out, static_cast<std::size_t>(f.width));
  } else if (f.pixel_type == TWPT_RGB && f.bit_depth == 48) {
    for (int x = 0; x < f.width; ++x) {
      std::memcpy(out + 6 * x, in + 6 * x + 4, 2);
      std::memcpy(out + 6 * x + 2, in + 6 * x + 2, 2);
      std::memcpy(out + 6 * x + 4, in + 6 * x, 2);
    }
  } else {
    std::memcpy(out, in, in_bytes);
  }
}

}  // namespace

std::size_t dib_stride(const PageFormat& f) {
  return (static_cast<std::size_t>(f.width) * f.bit_depth + 31) / 32 * 4;
}

std::size_t dib_bytes(const PageFormat& f) {
  return kDibHeaderBytes + dib_colour_table(f).size() + mask_bytes(f) +
         dib_stride(f) * static_cast<std::size_t>(f.height);
}

std::vector<std::uint8_t> dib_colour_table(const PageFormat& f) {
  std::vector<std::uint8_t> table;
  auto add = [&](std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    table.insert(table.end(), {b, g, r, 0});
  };
  if (f.pixel_type == TWPT_BW && f.bit_depth == 1) {
    const bool vanilla = f.pixel_flavor == TWPF_VANILLA;
    add(vanilla ? 255 : 0, vanilla ? 255 : 0, vanilla ? 255 : 0);
    add(vanilla ? 0 : 255, vanilla ? 0 : 255, vanilla ? 0 : 255);
  } else if (f.pixel_type == TWPT_PALETTE && f.bit_depth == 8) {
    for (const TW_ELEMENT8& e : page_palette()) add(e.Channel1, e.Channel2, e.Channel3);
  } else if (f.bit_depth == 4 || (f.bit_depth == 8 && f.pixel_type != TWPT_PALETTE)) {
    const int levels = 1 << f.bit_depth;
    for (int i = 0; i < levels; ++i) {
      const auto v = static_cast<std::uint8_t>(i * 255 / (levels - 1));
      add(v, v, v);
    }
  }
  return table;
}

void dib_write(const Raster& raster, std::uint8_t* out) {
  const PageFormat& f = raster.format;
  const std::vector<std::uint8_t> colours = dib_colour_table(f);
  const std::size_t stride = dib_stride(f);
  std::memset(out, 0, kDibHeaderBytes);
  put32(out, kDibHeaderBytes);
  put32(out + 4, static_cast<std::uint32_t>(f.width));
  put32(out + 8, static_cast<std::uint32_t>(f.height));  // positive: bottom-up
  put16(out + 12, 1);
  put16(out + 14, f.bit_depth);
  std::uint32_t compression = kBiRgb;
  if (mask_bytes(f) != 0) compression = kBiBitfields;
  if (f.pixel_type == TWPT_CMY || f.pixel_type == TWPT_CMYK) compression = kBiSeparated;
  put32(out + 16, compression);
  put32(out + 20, static_cast<std::uint32_t>(stride * f.height));
  put32(out + 24, static_cast<std::uint32_t>(std::lround(f.x_dpi / kMetresPerInch)));
  put32(out + 28, static_cast<std::uint32_t>(std::lround(f.y_dpi / kMetresPerInch)));
  put32(out + 32, static_cast<std::uint32_t>(colours.size() / 4));
  std::uint8_t* p = out + kDibHeaderBytes;
  if (!colours.empty()) std::memcpy(p, colours.data(), colours.size());
  p += colours.size();
  if (mask_bytes(f) != 0) {
    for (int i = 0; i < 3; ++i) put32(p + 4 * i, 0xffff);
    p += mask_bytes(f);
  }
  for (int y = 0; y < f.height; ++y) {
    std::uint8_t* row = p + stride * static_cast<std::size_t>(f.height - 1 - y);
    row_to_dib(f, raster.pixels.data() + raster.bytes_per_row * y, raster.bytes_per_row, row);
    // Only the padding is left to clear: the row itself was just written.
    const std::size_t used = (static_cast<std::size_t>(f.width) * f.bit_depth + 7) / 8;
    std::memset(row + used, 0, stride - used);
  }
}

}  // namespace vscan
