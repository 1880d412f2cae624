#include "dib/allocate.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "dib/live_count.h"
#include "orivane/errors.h"

namespace dib {
namespace {

constexpr std::uint32_t kRgb555Red = 0x7C00, kRgb555Green = 0x03E0, kRgb555Blue = 0x001F;

constexpr Rgbq rgb(int r, int g, int b) {
  return Rgbq{static_cast<std::uint8_t>(b), static_cast<std::uint8_t>(g),
              static_cast<std::uint8_t>(r), 0};
}

bool same_colour(const Rgbq& a, const Rgbq& b) {
  return a.red == b.red && a.green == b.green && a.blue == b.blue;
}

// The fixed palette: the ten standard colours at each end; between them the
// colour cube whose components are multiples of 51, gray steps and half-tone
// mixtures, each colour once.
std::array<Rgbq, 256> build_standard_palette() {
  std::array<Rgbq, 256> p{};
  const Rgbq low[10] = {rgb(0, 0, 0),     rgb(128, 0, 0),     rgb(0, 128, 0),   rgb(128, 128, 0),
                        rgb(0, 0, 128),   rgb(128, 0, 128),   rgb(0, 128, 128), rgb(192, 192, 192),
                        rgb(192, 220, 192), rgb(166, 202, 240)};
  const Rgbq high[10] = {rgb(255, 251, 240), rgb(160, 160, 164), rgb(128, 128, 128),
                         rgb(255, 0, 0),     rgb(0, 255, 0),     rgb(255, 255, 0),
                         rgb(0, 0, 255),     rgb(255, 0, 255),   rgb(0, 255, 255),
                         rgb(255, 255, 255)};
  std::copy(std::begin(low), std::end(low), p.begin());
  std::copy(std::begin(high), std::end(high), p.begin() + 246);

  std::vector<Rgbq> candidates;
  for (int r = 0; r <= 255; r += 51)
    for (int g = 0; g <= 255; g += 51)
      for (int b = 0; b <= 255; b += 51) candidates.push_back(rgb(r, g, b));
  for (int v = 17; v < 255; v += 17) candidates.push_back(rgb(v, v, v));
  const int half[3] = {0, 128, 255};
  for (int r : half)
    for (int g : half)
      for (int b : half) candidates.push_back(rgb(r, g, b));
  for (int v = 8; v < 255; v += 16) candidates.push_back(rgb(v, v, v));

  std::size_t next = 10;
  for (const Rgbq& c : candidates) {
    if (next == 246) break;
    const bool taken = std::any_of(p.begin(), p.begin() + next, [&](const Rgbq& e) { return same_colour(e, c); }) ||
                       std::any_of(p.begin() + 246, p.end(), [&](const Rgbq& e) { return same_colour(e, c); });
    if (!taken) p[next++] = c;
  }
  return p;
}

// Table bytes of a new image: masks for 16 bits, a full table up to 8 bits.
std::size_t new_table_bytes(int depth) {
  if (depth == 16) return kMaskBytes;
  return depth <= 8 ? (std::size_t{1} << depth) * kEntryBytes : 0;
}

// Block size of a new image, or nothing when it overflows.
std::optional<std::size_t> new_block_size(int depth, int width, int height,
                                          std::size_t table_bytes, std::size_t* out_image) {
  const std::optional<std::uint64_t> stride = row_stride(depth, width);
  if (!stride) return std::nullopt;
  std::uint64_t image = 0;
  if (__builtin_mul_overflow(*stride, static_cast<std::uint64_t>(height), &image)) return std::nullopt;
  if (image > 0xFFFFFFFFu) return std::nullopt;  // the header's image-size field is 32 bits
  *out_image = static_cast<std::size_t>(image);
  return kInfoHeaderBytes + table_bytes + static_cast<std::size_t>(image);
}

// Writes the header of a fresh block, before any view of it can be made.
void store_new_header(Handle h, const InfoHeader& hd) {
  auto* p = static_cast<std::uint8_t*>(platform::mem_lock(h));
  header_write(p, hd);
  platform::mem_unlock(h);
}

void fill_from(DibView& v, const Rgbq* entries, std::size_t n) {
  const std::span<Rgbq> t = v.table();
  std::copy(entries, entries + std::min(n, t.size()), t.begin());
}

}  // namespace

const std::array<Rgbq, 256>& standard_palette() {
  static const std::array<Rgbq, 256> palette = build_standard_palette();
  return palette;
}

std::array<Rgbq, 16> standard_palette16() {
  const auto& p = standard_palette();
  std::array<Rgbq, 16> t{};
  std::copy(p.begin(), p.begin() + 8, t.begin());
  std::copy(p.begin() + 248, p.end(), t.begin() + 8);
  return t;
}

int depth_for_type(int pixel_type) {
  switch (pixel_type) {
    case kBW: return 1;
    case kGray:
    case kPalette: return 8;
    case kCMYK: return 32;
    default: return 24;
  }
}

int depth_normalise(int depth, int pixel_type) {
  if (depth <= 0) return depth_for_type(pixel_type);
  switch (depth) {
    case 1: case 4: case 8: case 16: case 24: case 32: case 48: return depth;
    case 15: return 16;
    default: break;
  }
  if (depth >= 9) return 24;
  if (depth >= 5) return 8;
  return 4;
}

int type_for_depth(int depth) {
  switch (depth) {
    case 1: return kBW;
    case 4: case 8: case 16: return kGray;
    default: return kRGB;
  }
}

void table_fill_gray(DibView& v) {
  if (v.depth() == 16 || v.depth() == 15) {
    v.set_masks(kGrayMask16, kGrayMask16, kGrayMask16);
    return;
  }
  const std::span<Rgbq> t = v.table();
  const std::size_t n = t.size();
  for (std::size_t i = 0; i < n; ++i) {
    const auto g = static_cast<std::uint8_t>(n > 1 ? i * 255 / (n - 1) : 0);
    t[i] = Rgbq{g, g, g, 0};
  }
}

void table_fill_default(DibView& v, int pixel_type) {
  const int depth = v.depth();
  if (depth == 16) {
    // A colour 16-bit image gets the 5-5-5 layout; equal masks would make it
    // read back as gray.
    if (pixel_type == kBW || pixel_type == kGray || pixel_type == kPalette) {
      v.set_masks(kGrayMask16, kGrayMask16, kGrayMask16);
    } else {
      v.set_masks(kRgb555Red, kRgb555Green, kRgb555Blue);
    }
    return;
  }
  if (depth > 8) return;
  const bool colour = pixel_type != kBW && pixel_type != kGray;
  if (!colour || depth == 1) {
    table_fill_gray(v);
  } else if (depth == 4) {
    const auto t = standard_palette16();
    fill_from(v, t.data(), t.size());
  } else {
    fill_from(v, standard_palette().data(), 256);
  }
}

Dib try_allocate(int depth, int width, int height, int pixel_type) {
  if (pixel_type < 0) {
    depth = depth_normalise(depth, kRGB);
    pixel_type = type_for_depth(depth);
  } else {
    depth = depth_normalise(depth, pixel_type);
  }
  width = std::max(width, 0);
  height = std::max(height, 0);
  const std::size_t table_bytes = new_table_bytes(depth);
  std::size_t image = 0;
  const std::optional<std::size_t> size = new_block_size(depth, width, height, table_bytes, &image);
  if (!size) return Dib();
  const Handle h = platform::mem_alloc(*size, true);
  if (h == 0) return Dib();
  live_count_add(1);
  Dib dib(h);

  InfoHeader hd;
  hd.size = kInfoHeaderBytes;
  hd.width = width;
  hd.height = height;
  hd.planes = 1;
  hd.bit_count = static_cast<std::uint16_t>(depth);
  hd.compression = depth == 16 ? kCompressionBitFields : kCompressionPlain;
  if ((pixel_type == kCMY || pixel_type == kCMYK) && depth >= 24) hd.compression = kCompressionSubtractive;
  hd.size_image = static_cast<std::uint32_t>(image);
  store_new_header(h, hd);
  Locked lock(h);
  table_fill_default(lock.view(), pixel_type);
  return dib;
}

Dib allocate(int depth, int width, int height, int pixel_type) {
  Dib dib = try_allocate(depth, width, height, pixel_type);
  if (!dib) throw Error(ERR_MEMORY);
  return dib;
}

Dib allocate_like(const DibView& like, int width, int height) {
  const int depth = like.depth();
  const std::size_t table_bytes =
      header_has_masks(like.header()) ? kMaskBytes : like.table().size() * kEntryBytes;
  std::size_t image = 0;
  const std::optional<std::size_t> size =
      new_block_size(depth, std::max(width, 0), std::max(height, 0), table_bytes, &image);
  if (!size) throw Error(ERR_MEMORY);
  const Handle h = platform::mem_alloc(*size, true);
  if (h == 0) throw Error(ERR_MEMORY);
  live_count_add(1);
  Dib dib(h);
  InfoHeader hd = like.header();
  hd.size = kInfoHeaderBytes;
  hd.width = std::max(width, 0);
  hd.height = std::max(height, 0);
  hd.planes = 1;
  hd.compression &= 0xFF;  // the copy holds plain pixels
  hd.size_image = static_cast<std::uint32_t>(image);
  hd.clr_used = header_has_masks(hd) ? 0 : static_cast<std::uint32_t>(like.table().size());
  if (depth <= 8 && hd.clr_used == (1u << depth)) hd.clr_used = 0;
  store_new_header(h, hd);
  Locked lock(h);
  if (auto m = like.masks()) {
    lock->set_masks((*m)[0], (*m)[1], (*m)[2]);
  } else {
    std::copy(like.table().begin(), like.table().end(), lock->table().begin());
  }
  return dib;
}

}  // namespace dib
