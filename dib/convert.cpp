// Format conversion. The target is made by the allocator; its pixel type as
// the allocator laid it out (BW, GRAY, RGB/CMY/CMYK or PALETTE) picks the
// writer. Each writer reads the source one row at a time through the row
// readers, which already undo the source's own layout (colour tables, 4-bit
// and 16-bit gray, 5-5-5 colour, the fourth byte of 32-bit pixels, CMY and
// CMYK), so every pair of formats goes through one of a few row forms: 8-bit
// gray, 24-bit colour, or their 16-bit forms when both ends keep 16 bits per
// sample. Palette targets from colour sources get a palette of 15 fixed
// colours plus an octree's choice and an inverse map (see quantize.cpp).
//
// Subtractive colour is stored cyan first: 24-bit CMY as C, M, Y and 32-bit
// CMYK as C, M, Y, K, where K = min(C, M, Y) has been taken out of the others.
#include "dib/convert.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/state_registry.h"
#include "dib/allocate.h"
#include "dib/detail.h"
#include "dib/diffuse.h"
#include "dib/edit.h"
#include "dib/histogram.h"
#include "dib/quantize.h"
#include "dib/row_readers.h"
#include "orivane/errors.h"

namespace dib {
namespace {

constexpr int kDefaultThreshold = 128;
constexpr int kFixedPaletteColours = 15;
constexpr int kOctreeMinTable = 17;  // smaller tables keep the standard colours

const Rgbq kFixedColours[kFixedPaletteColours] = {
    {0, 0, 0, 0},       {0, 0, 255, 0},     {0, 255, 0, 0},     {0, 255, 255, 0},   {255, 0, 0, 0},
    {255, 0, 255, 0},   {255, 255, 0, 0},   {255, 255, 255, 0}, {128, 128, 128, 0}, {255, 128, 128, 0},
    {128, 255, 128, 0}, {128, 128, 255, 0}, {128, 255, 255, 0}, {255, 128, 255, 0}, {255, 255, 128, 0}};

// Uses up the one-shot colour count however the conversion ends.
struct OneShotReset {
  ~OneShotReset() { convert_defaults().next_colour_count = 0; }
};

std::vector<std::uint8_t> row_buffer(int width, int bytes_per_pixel) {
  return std::vector<std::uint8_t>(static_cast<std::size_t>(width) * static_cast<std::size_t>(bytes_per_pixel) + 4);
}

// ---- writers, one per target class --------------------------------------------------

void write_bw(const DibView& s, const RowReader& reader, DibView& t, const ConvertOptions& o) {
  const int w = s.width();
  if (s.depth() == 1) {
    // Already bits: copied, inverted when the source shows set bits as black.
    const bool invert = !s.table().empty() && (s.table()[0].red | s.table()[0].green | s.table()[0].blue) != 0;
    for (int y = 0; y < s.height(); ++y) {
      std::uint8_t* out = t.row(y);
      std::memcpy(out, s.row(y), t.used_bytes());
      if (invert) {
        for (std::size_t i = 0; i < t.used_bytes(); ++i) out[i] = static_cast<std::uint8_t>(~out[i]);
      }
      detail::clear_tail_bits(out, 1, w);
    }
    return;
  }
  int threshold = o.threshold != 0 ? o.threshold : kDefaultThreshold;
  if (o.flags & kConvertAutoThreshold) threshold = isodata_threshold(gray_histogram(s));
  auto gray = row_buffer(w, 1);
  DiffusionRow state(w);
  for (int y = 0; y < s.height(); ++y) {
    reader.gray(y, gray.data());
    if (o.flags & kConvertDiffuse) {
      gray_to_bw_diffuse(gray.data(), state, t.row(y));
    } else {
      gray_to_bw_threshold(gray.data(), w, threshold, t.row(y));
    }
  }
}

void write_gray(const RowReader& reader, DibView& t, const ConvertOptions& o) {
  const int w = t.width();
  if (t.depth() == 16) {
    std::vector<std::uint16_t> wide(static_cast<std::size_t>(w) + 2);
    for (int y = 0; y < t.height(); ++y) {
      reader.gray16(y, wide.data());
      std::uint8_t* out = t.row(y);
      for (int x = 0; x < w; ++x) detail::store16(out + 2 * x, wide[static_cast<std::size_t>(x)]);
    }
    return;
  }
  if (t.depth() == 8) {
    for (int y = 0; y < t.height(); ++y) reader.gray(y, t.row(y));
    return;
  }
  auto gray = row_buffer(w, 1);
  DiffusionRow state(w);
  for (int y = 0; y < t.height(); ++y) {
    reader.gray(y, gray.data());
    gray_to_4bit(gray.data(), w, (o.flags & kConvertDiffuse) ? &state : nullptr, t.row(y));
  }
}

void write_rgb_wide(const RowReader& reader, DibView& t, bool subtractive) {
  const int w = t.width();
  std::vector<std::uint16_t> rgb(static_cast<std::size_t>(w) * 3 + 4);
  for (int y = 0; y < t.height(); ++y) {
    reader.rgb48(y, rgb.data());
    std::uint8_t* out = t.row(y);
    for (int x = 0; x < w; ++x, out += 6) {
      const std::uint16_t* p = &rgb[static_cast<std::size_t>(x) * 3];  // blue, green, red
      if (subtractive) {
        detail::store16(out, 65535u - p[2]);
        detail::store16(out + 2, 65535u - p[1]);
        detail::store16(out + 4, 65535u - p[0]);
      } else {
        detail::store16(out, p[0]);
        detail::store16(out + 2, p[1]);
        detail::store16(out + 4, p[2]);
      }
    }
  }
}

void write_rgb(const RowReader& reader, DibView& t, int type) {
  const int w = t.width();
  const int depth = t.depth();
  if (depth == 48) return write_rgb_wide(reader, t, type == kCMY);
  if (depth == 24 && type == kRGB) {
    for (int y = 0; y < t.height(); ++y) reader.rgb(y, t.row(y));
    return;
  }
  auto bgr = row_buffer(w, 3);
  for (int y = 0; y < t.height(); ++y) {
    reader.rgb(y, bgr.data());
    std::uint8_t* out = t.row(y);
    const std::uint8_t* p = bgr.data();
    for (int x = 0; x < w; ++x, p += 3) {
      const int b = p[0], g = p[1], r = p[2];
      switch (depth) {
        case 16:
          detail::store16(out + 2 * x, static_cast<std::uint32_t>(((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3)));
          break;
        case 24:  // CMY
          out[3 * x] = static_cast<std::uint8_t>(255 - r);
          out[3 * x + 1] = static_cast<std::uint8_t>(255 - g);
          out[3 * x + 2] = static_cast<std::uint8_t>(255 - b);
          break;
        default:  // 32
          if (type == kCMYK) {
            const int c = 255 - r, m = 255 - g, ye = 255 - b;
            const int k = std::min({c, m, ye});
            out[4 * x] = static_cast<std::uint8_t>(c - k);
            out[4 * x + 1] = static_cast<std::uint8_t>(m - k);
            out[4 * x + 2] = static_cast<std::uint8_t>(ye - k);
            out[4 * x + 3] = static_cast<std::uint8_t>(k);
          } else {
            out[4 * x] = p[0], out[4 * x + 1] = p[1], out[4 * x + 2] = p[2], out[4 * x + 3] = 0;
          }
      }
    }
  }
}

// Palette indices from a palette source whose table the target takes over.
void write_palette_copy(const DibView& s, Locked& t) {
  const int src_count = static_cast<int>(s.table().size());
  if (src_count != static_cast<int>(t->table().size())) {
    if (!table_resize(t.handle(), std::max(src_count, 1))) throw Error(ERR_MEMORY);
    t.refresh();
  }
  std::copy(s.table().begin(), s.table().end(), t->table().begin());
  const int w = s.width();
  for (int y = 0; y < s.height(); ++y) {
    const std::uint8_t* in = s.row(y);
    std::uint8_t* out = t->row(y);
    if (s.depth() == t->depth()) {
      std::memcpy(out, in, t->used_bytes());
    } else {  // 4 to 8 bits
      for (int x = 0; x < w; ++x) out[x] = static_cast<std::uint8_t>((in[x >> 1] >> ((x & 1) ? 0 : 4)) & 0x0F);
    }
  }
}

// The palette of a colour-mapped target from a colour source: the 15 fixed
// colours and the octree's colours, or the standard colours of small tables.
std::vector<Rgbq> palette_for(const RowReader& reader, int depth, int table_size, int wanted) {
  if (wanted < kOctreeMinTable) {
    std::vector<Rgbq> standard;
    if (depth == 4) {
      const auto t = standard_palette16();
      standard.assign(t.begin(), t.end());
    } else {
      standard.assign(standard_palette().begin(), standard_palette().end());
    }
    standard.resize(static_cast<std::size_t>(std::min(wanted, table_size)));
    return standard;
  }
  Octree tree(depth, wanted - kFixedPaletteColours);
  auto bgr = row_buffer(reader.width(), 3);
  for (int y = 0; y < reader.height(); ++y) {
    reader.rgb(y, bgr.data());
    tree.add_row(bgr.data(), reader.width());
  }
  std::vector<Rgbq> palette(std::begin(kFixedColours), std::end(kFixedColours));
  const std::vector<Rgbq> found = tree.colours();
  palette.insert(palette.end(), found.begin(), found.end());
  return palette;
}

void write_palette_quantised(const RowReader& reader, Locked& t, const ConvertOptions& o) {
  const int table_size = static_cast<int>(t->table().size());
  const int wanted = o.colour_count > 0 ? std::min(o.colour_count, table_size) : table_size;
  const std::vector<Rgbq> palette = palette_for(reader, t->depth(), table_size, wanted);
  if (static_cast<int>(palette.size()) != table_size) {
    if (!table_resize(t.handle(), static_cast<int>(palette.size()))) throw Error(ERR_MEMORY);
    t.refresh();
  }
  std::copy(palette.begin(), palette.end(), t->table().begin());
  const std::vector<std::uint8_t> map = inverse_map_build(palette.data(), static_cast<int>(palette.size()));

  const int w = t->width();
  const bool pattern1 = (o.flags & kConvertDiffuse) != 0;
  const bool pattern2 = !pattern1 && (o.flags & kConvertDiffuse2) != 0;
  DiffusionRow state(w, 3);
  auto bgr = row_buffer(w, 3);
  auto index = row_buffer(w, 1);
  const auto* entries = reinterpret_cast<const std::uint8_t*>(palette.data());
  for (int y = 0; y < t->height(); ++y) {
    reader.rgb(y, bgr.data());
    std::uint8_t* out = t->row(y);
    std::uint8_t* idx = t->depth() == 8 ? out : index.data();
    rgb_to_index(bgr.data(), w, map.data(), entries, (pattern1 || pattern2) ? &state : nullptr, pattern2, idx);
    if (t->depth() == 4) {
      for (int x = 0; x < w; ++x) {
        if (x & 1) {
          out[x >> 1] = static_cast<std::uint8_t>(out[x >> 1] | (idx[x] & 0x0F));
        } else {
          out[x >> 1] = static_cast<std::uint8_t>((idx[x] & 0x0F) << 4);
        }
      }
    }
  }
}

void write_palette(const DibView& s, const RowReader& reader, Locked& t, const ConvertOptions& o) {
  const int src_type = s.pixel_type();
  if (src_type == kBW || src_type == kGray) {
    // A gray palette: the levels themselves (16 levels for 4 bits).
    table_fill_gray(t.view());
    write_gray(reader, t.view(), o);
    return;
  }
  if (src_type == kPalette && s.depth() <= t->depth()) return write_palette_copy(s, t);
  write_palette_quantised(reader, t, o);
}

// The options a call without options gets for a target of `type`.
ConvertOptions defaults_for(int type, int table_size) {
  const ConvertDefaults& d = convert_defaults();
  ConvertOptions o;
  switch (type) {
    case kBW: o.threshold = static_cast<std::uint8_t>(std::clamp(d.threshold, 0, 255)); break;
    case kGray: o.flags = kConvertGrayDefaultFlags; break;
    case kPalette:
      o.flags = d.palette_flags | kConvertDiffuse;
      o.colour_count = d.next_colour_count > 0 ? d.next_colour_count : table_size;
      break;
    default: break;
  }
  return o;
}

}  // namespace

ConvertDefaults& convert_defaults() {
  static ConvertDefaults defaults;
  return defaults;
}

void convert_defaults_reset() { convert_defaults() = ConvertDefaults{}; }

Dib convert_format(const DibView& src, int pixel_type, int depth, const ConvertOptions* options) {
  const OneShotReset reset;
  if (!src.rows_ok()) throw Error(ERR_FAILURE);
  const RowReader reader(src);
  if (!reader.supported() || src.pixel_type() < 0) throw Error(ERR_FAILURE);

  Dib out = allocate(depth, src.width(), src.height(), pixel_type);
  Locked t(out.get());
  InfoHeader hd = t->header();
  hd.x_ppm = src.header().x_ppm;
  hd.y_ppm = src.header().y_ppm;
  t->store_header(hd);

  const int target_type = t->pixel_type();
  const ConvertOptions o = options ? *options : defaults_for(target_type, static_cast<int>(t->table().size()));
  switch (target_type) {
    case kBW: write_bw(src, reader, t.view(), o); break;
    case kGray: write_gray(reader, t.view(), o); break;
    case kPalette: write_palette(src, reader, t, o); break;
    default: write_rgb(reader, t.view(), target_type); break;
  }
  return out;
}

}  // namespace dib

namespace {

// The conversion defaults: the program's setting, kept across sessions.
const bool kConvertDefaultsRegistered = core::register_state({"dib.convert_defaults", [] { dib::convert_defaults_reset(); }, nullptr});

}  // namespace
