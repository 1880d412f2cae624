// The DIB block as the codec modules see it: a bounds-checked reading of a
// locked block handed in for writing, and the layout of the blocks a module
// makes for the images it reads. Header-only and free of the library's own
// code, because every module is a separate shared object. Shared by the JPEG,
// PNG, GIF and TIFF modules.
//
// Block: 40-byte little-endian information header, then three 32-bit masks
// (compression low byte 3) or the colour table (blue, green, red, 0 per
// entry), then rows of ((bits x width + 31) / 32) x 4 bytes; positive height =
// bottom-up rows, otherwise top-down. Compression bits 8..15 not 0 = the pixel
// data is a compressed stream of that code (6 = JPEG).
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>

namespace codec {

constexpr std::size_t kInfoHeaderBytes = 40;
constexpr std::uint32_t kCompressionBitFields = 3;
constexpr std::uint32_t kCompressionSubtractive = 5;
constexpr std::uint32_t kCompressionCodeMask = 0xFF00;
constexpr std::uint32_t kCompressionCodeJpeg = 6;
// Largest DIB a module makes for an image it reads (pixel data, bytes): a
// 1200-dpi tabloid 48-bit page fits; a 60000 x 60000 header is refused before
// anything is allocated.
constexpr std::uint64_t kMaxDibBytes = 1ull << 30;

inline std::uint32_t le32(const std::uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t(p[3]) << 24);
}
inline std::uint16_t le16(const std::uint8_t* p) { return std::uint16_t(p[0] | (p[1] << 8)); }
inline void put32(std::uint8_t* p, std::uint32_t v) {
  p[0] = std::uint8_t(v); p[1] = std::uint8_t(v >> 8);
  p[2] = std::uint8_t(v >> 16); p[3] = std::uint8_t(v >> 24);
}
inline void put16(std::uint8_t* p, std::uint16_t v) {
  p[0] = std::uint8_t(v); p[1] = std::uint8_t(v >> 8);
}

// Bytes per stored row, or nothing when it overflows.
inline std::optional<std::uint64_t> dib_stride(std::uint64_t bits, std::uint64_t width) {
  if (bits == 0 || bits > 64 || width > 0x7FFFFFFF) return std::nullopt;
  return (bits * width + 31) / 32 * 4;
}

// A locked DIB block, checked: header, table and every row lie in the block.
struct DibLayout {
  std::int32_t width = 0;
  std::int32_t rows = 0;
  int depth = 0;
  bool bottom_up = false;
  std::uint32_t compression = 0;
  std::int32_t x_ppm = 0, y_ppm = 0;
  const std::uint8_t* table = nullptr;  // entries x 4 bytes (B, G, R, 0)
  std::uint32_t entries = 0;
  std::uint32_t masks[3] = {0, 0, 0};
  bool has_masks = false;
  std::uint8_t* pixels = nullptr;
  std::size_t stride = 0;
  std::size_t pixel_bytes = 0;  // what the block holds after the table

  std::uint32_t low_byte() const { return compression & 0xFF; }
  int compression_code() const { return int((compression & kCompressionCodeMask) >> 8); }
  bool subtractive() const { return low_byte() == kCompressionSubtractive; }
  std::uint8_t* row(int y) const {
    const std::size_t index = bottom_up ? std::size_t(rows - 1 - y) : std::size_t(y);
    return pixels + stride * index;
  }
  // Red, green, blue of table entry i.
  std::uint8_t red(std::uint32_t i) const { return table[4 * i + 2]; }
  std::uint8_t green(std::uint32_t i) const { return table[4 * i + 1]; }
  std::uint8_t blue(std::uint32_t i) const { return table[4 * i]; }
  bool table_gray() const {
    for (std::uint32_t i = 0; i < entries; ++i)
      if (red(i) != green(i) || green(i) != blue(i)) return false;
    return true;
  }
};

// Reads the block at `block` of `size` bytes. Nothing when the header is not a
// DIB's or the data does not fit. A compressed stream (second compression byte
// set) is accepted with pixel_bytes = what the block holds of it.
inline std::optional<DibLayout> dib_parse(std::uint8_t* block, std::size_t size) {
  if (!block || size < kInfoHeaderBytes) return std::nullopt;
  const std::uint32_t header = le32(block);
  if (header < kInfoHeaderBytes || header > size) return std::nullopt;
  DibLayout d;
  const std::int32_t width = std::int32_t(le32(block + 4));
  const std::int32_t height = std::int32_t(le32(block + 8));
  d.depth = le16(block + 14);
  d.compression = le32(block + 16);
  const std::uint32_t size_image = le32(block + 20);
  d.x_ppm = std::int32_t(le32(block + 24));
  d.y_ppm = std::int32_t(le32(block + 28));
  const std::uint32_t used = le32(block + 32);
  if (width < 0 || height == INT32_MIN || d.depth < 1 || d.depth > 64) return std::nullopt;
  d.width = width;
  d.rows = height < 0 ? -height : height;
  d.bottom_up = height > 0;
  std::uint64_t table_bytes = 0;
  if ((d.compression & 0xFF) == kCompressionBitFields) {
    table_bytes = 12;
    d.has_masks = true;
  } else {
    const std::uint64_t entries = used ? used : (d.depth <= 8 ? (1u << d.depth) : 0);
    if (entries > 256) return std::nullopt;
    d.entries = std::uint32_t(entries);
    table_bytes = 4 * entries;
  }
  if (header + table_bytes > size) return std::nullopt;
  if (d.has_masks)
    for (int i = 0; i < 3; ++i) d.masks[i] = le32(block + header + 4 * i);
  else
    d.table = block + header;
  d.pixels = block + header + table_bytes;
  d.pixel_bytes = size - header - table_bytes;
  const auto stride = dib_stride(std::uint64_t(d.depth), std::uint64_t(width));
  if (!stride) return std::nullopt;
  d.stride = std::size_t(*stride);
  if (d.compression & kCompressionCodeMask) {
    if (size_image < d.pixel_bytes) d.pixel_bytes = size_image;
    return d;
  }
  if (d.rows && *stride > d.pixel_bytes / std::uint64_t(d.rows)) return std::nullopt;
  return d;
}

// The size of a new block: header, `entries` table entries (or the masks of a
// 16-bit gray image) and the rows; nothing over kMaxDibBytes.
inline std::optional<std::uint64_t> dib_block_bytes(std::uint32_t width, std::uint32_t rows,
                                                    int depth, std::uint32_t entries) {
  if (width == 0 || rows == 0 || width > 0x7FFFFFFF || rows > 0x7FFFFFFF) return std::nullopt;
  const auto stride = dib_stride(std::uint64_t(depth), width);
  if (!stride) return std::nullopt;
  if (*stride > kMaxDibBytes / rows) return std::nullopt;
  const std::uint64_t pixels = *stride * rows;
  const std::uint64_t table = depth == 16 ? 12 : 4ull * entries;
  return kInfoHeaderBytes + table + pixels;
}

// Resolution: dots per inch <-> pixels per metre.
inline std::int32_t dpi_to_ppm(double dpi) {
  const double ppm = dpi / 0.0254 + 0.5;
  if (!(ppm > 0)) return 0;
  return ppm >= 2147483647.0 ? 2147483647 : std::int32_t(ppm);
}
inline double ppm_to_dpi(std::int32_t ppm) { return ppm > 0 ? ppm * 0.0254 : 0.0; }

}  // namespace codec
