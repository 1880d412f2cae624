// The single-image formats (BMP, JPEG, PNG, GIF) hold a multipage document
// as one tall image: each page is stacked under the ones before it,
// horizontally centred on white.
//
// Pages of one document need not share a layout (a colour cover before
// black-and-white text, two black-and-white pages with opposite colour
// tables, palette pages with palettes of their own), so a page is never
// pasted by its raw pixel values unless they mean the same colours in the
// stack. A page whose colours all appear in the stack's colour table is
// pasted entry by entry through a map; otherwise stack and page both go
// into the narrowest layout that holds each exactly: 8-bit gray when both
// are gray, 24-bit colour otherwise, with 16 bits per sample when either
// has them. Margins take the stack's own white.
#include <algorithm>
#include <array>
#include <cstring>
#include <exception>
#include <optional>

#include "dib/allocate.h"
#include "dib/dib.h"
#include "fileio/multipage.h"
#include "orivane/dib_api.h"
#include "orivane/errors.h"

namespace fileio {
namespace {

using IndexMap = std::array<std::uint8_t, 256>;

bool indexed(const dib::DibView& v) { return v.depth() <= 8 && !v.table().empty(); }

bool subtractive(const dib::DibView& v) {
  return (v.header().compression & 0xFF) == dib::kCompressionSubtractive;
}

// Gray by what the pixels show: a table of grays, or a gray layout.
bool shows_gray(const dib::DibView& v) {
  return indexed(v) ? dib::table_is_gray(v.table()) : v.pixel_type() == dib::kGray;
}

bool wide_samples(const dib::DibView& v) {
  return v.depth() == 48 || (v.depth() == 16 && v.pixel_type() == dib::kGray);
}

bool same_colour(const dib::Rgbq& a, const dib::Rgbq& b) {
  return a.red == b.red && a.green == b.green && a.blue == b.blue;
}

// The entry that shows white, else the brightest one.
int whitest_entry(std::span<const dib::Rgbq> table) {
  int best = 0, best_level = -1;
  for (std::size_t i = 0; i < table.size(); ++i) {
    const dib::Rgbq& e = table[i];
    const int level = e.red * 299 + e.green * 587 + e.blue * 114;
    if (level > best_level) {
      best = static_cast<int>(i);
      best_level = level;
    }
  }
  return best;
}

// Each entry of `from` to the entry of `to` with the same colour; nothing
// when some colour of `from` is not in `to`.
std::optional<IndexMap> index_map(std::span<const dib::Rgbq> from, std::span<const dib::Rgbq> to) {
  IndexMap map{};
  for (std::size_t i = 0; i < from.size() && i < map.size(); ++i) {
    const auto at = std::find_if(to.begin(), to.end(), [&](const dib::Rgbq& e) { return same_colour(e, from[i]); });
    if (at == to.end()) return std::nullopt;
    map[i] = static_cast<std::uint8_t>(at - to.begin());
  }
  return map;
}

bool is_identity(const IndexMap& map, std::size_t entries) {
  for (std::size_t i = 0; i < entries && i < map.size(); ++i)
    if (map[i] != i) return false;
  return true;
}

// Paints every pixel row white: the whitest entry of a table, no ink for
// subtractive data, every bit set for the others.
void fill_white(const dib::DibView& v) {
  std::uint8_t byte = 0xFF;
  if (indexed(v)) {
    const unsigned entry = static_cast<unsigned>(whitest_entry(v.table()));
    byte = 0;
    for (int bit = 0; bit < 8; bit += v.depth()) byte = static_cast<std::uint8_t>(byte | entry << bit);
  } else if (subtractive(v)) {
    byte = 0x00;
  }
  std::memset(v.block() + v.pixel_offset(), byte, v.block_size() - v.pixel_offset());
}

unsigned get_entry(const std::uint8_t* row, long long x, int depth) {
  const long long bit = x * depth;
  const int shift = 8 - depth - static_cast<int>(bit % 8);
  return (row[bit / 8] >> shift) & ((1u << depth) - 1);
}

void put_entry(std::uint8_t* row, long long x, int depth, unsigned value) {
  const long long bit = x * depth;
  const int shift = 8 - depth - static_cast<int>(bit % 8);
  const auto mask = static_cast<std::uint8_t>(((1u << depth) - 1) << shift);
  row[bit / 8] = static_cast<std::uint8_t>((row[bit / 8] & ~mask) | ((value << shift) & mask));
}

// The part of `from` that lands inside `to` with its top-left pixel at (x, y).
struct Overlap {
  int src_x, dst_x, cols, src_y, dst_y, rows;
};

Overlap overlap(const dib::DibView& to, const dib::DibView& from, int x, int y) {
  Overlap o{};
  o.src_x = std::max(0, -x);
  o.dst_x = std::max(0, x);
  o.cols = std::min(from.width() - o.src_x, to.width() - o.dst_x);
  o.src_y = std::max(0, -y);
  o.dst_y = std::max(0, y);
  o.rows = std::min(from.height() - o.src_y, to.height() - o.dst_y);
  return o;
}

// Copies the rows of `from` into `to` at (x, y), clipped to both. Both have
// the same layout, so pixel values are copied as they are.
void paste_raw(const dib::DibView& to, const dib::DibView& from, int x, int y) {
  const Overlap o = overlap(to, from, x, y);
  if (o.cols <= 0 || o.rows <= 0) return;
  const int depth = to.depth();
  const long long src_bit = static_cast<long long>(o.src_x) * depth;
  const long long dst_bit = static_cast<long long>(o.dst_x) * depth;
  const long long bits = static_cast<long long>(o.cols) * depth;
  for (int r = 0; r < o.rows; ++r) {
    const std::uint8_t* s = from.row(o.src_y + r);
    std::uint8_t* d = to.row(o.dst_y + r);
    if (src_bit % 8 == 0 && dst_bit % 8 == 0 && bits % 8 == 0) {
      std::memcpy(d + dst_bit / 8, s + src_bit / 8, static_cast<std::size_t>(bits / 8));
      continue;
    }
    // Shallow pixels off a byte boundary: bit by bit, most significant first.
    for (long long b = 0; b < bits; ++b) {
      const long long sb = src_bit + b, db = dst_bit + b;
      const int v = (s[sb / 8] >> (7 - sb % 8)) & 1;
      const auto mask = static_cast<std::uint8_t>(1u << (7 - db % 8));
      d[db / 8] = static_cast<std::uint8_t>(v ? d[db / 8] | mask : d[db / 8] & ~mask);
    }
  }
}

// Copies the rows of indexed `from` into indexed `to` at (x, y), each pixel
// through `map` (the depths may differ).
void paste_mapped(const dib::DibView& to, const dib::DibView& from, int x, int y, const IndexMap& map) {
  const Overlap o = overlap(to, from, x, y);
  if (o.cols <= 0 || o.rows <= 0) return;
  const int from_depth = from.depth(), to_depth = to.depth();
  for (int r = 0; r < o.rows; ++r) {
    const std::uint8_t* s = from.row(o.src_y + r);
    std::uint8_t* d = to.row(o.dst_y + r);
    for (int c = 0; c < o.cols; ++c)
      put_entry(d, o.dst_x + c, to_depth, map[get_entry(s, o.src_x + c, from_depth)]);
  }
}

// Pastes `from` into `to`, which must either share its layout or both be
// indexed with every colour of `from` in the table of `to`.
void paste(const dib::DibView& to, const dib::DibView& from, int x, int y) {
  if (indexed(to) && indexed(from)) {
    const std::optional<IndexMap> map = index_map(from.table(), to.table());
    if (!map) throw dib::Error(ERR_FAILURE);
    if (from.depth() != to.depth() || !is_identity(*map, from.table().size())) {
      paste_mapped(to, from, x, y, *map);
      return;
    }
  }
  paste_raw(to, from, x, y);
}

// Whether `page` can be pasted into `stack` as it is: both indexed with the
// page's colours in the stack's table, or the same direct layout.
bool fits(const dib::DibView& stack, const dib::DibView& page) {
  if (indexed(stack) || indexed(page)) {
    return indexed(stack) && indexed(page) && index_map(page.table(), stack.table()).has_value();
  }
  const auto stack_masks = stack.masks(), page_masks = page.masks();
  return stack.depth() == page.depth() && stack.pixel_type() == page.pixel_type() &&
         subtractive(stack) == subtractive(page) && stack_masks == page_masks;
}

struct Layout {
  int pixel_type;
  int depth;
};

// The narrowest layout that shows both images exactly.
Layout common_layout(const dib::DibView& a, const dib::DibView& b) {
  const bool gray = shows_gray(a) && shows_gray(b);
  const bool wide = wide_samples(a) || wide_samples(b);
  if (gray) return {DIB_PT_GRAY, wide ? 16 : 8};
  return {DIB_PT_RGB, wide ? 48 : 24};
}

// The 256 grays in order, the table every gray stack of 8 bits gets.
bool plain_ramp(std::span<const dib::Rgbq> table) {
  if (table.size() != 256) return false;
  for (std::size_t i = 0; i < table.size(); ++i)
    if (table[i].red != i || table[i].green != i || table[i].blue != i) return false;
  return true;
}

// `h` in `layout`: 0 when it is in it already (same depth and type, and for
// 8-bit gray the plain ramp), else a new converted image.
DIB_HANDLE to_layout(DIB_HANDLE h, const Layout& layout) {
  {
    dib::Locked lock(h);
    const dib::DibView& v = lock.view();
    const bool same = v.depth() == layout.depth && v.pixel_type() == layout.pixel_type && !subtractive(v);
    if (same && (!indexed(v) || plain_ramp(v.table()))) return 0;
  }
  const DIB_HANDLE converted = DIB_ConvertToFormat(h, layout.pixel_type, layout.depth, nullptr);
  if (!converted) throw dib::Error(ERR_MEMORY);
  return converted;
}

// A new image of the stack's layout, `width` x `height`, white, with the
// old pages in its top rows, centred.
DIB_HANDLE grow(DIB_HANDLE stack, int width, int height) {
  dib::Locked old(stack);
  const dib::DibView& from = old.view();
  dib::Dib grown = dib::allocate_like(from, width, height);
  dib::Locked fresh(grown.get());
  fill_white(fresh.view());
  paste_raw(fresh.view(), from, (width - from.width()) / 2, 0);
  return grown.release();
}

// Brings the stack and the page into one layout where the page does not fit
// the stack as it is. Returns the page to paste: `page` itself, or a
// converted copy the caller frees.
DIB_HANDLE settle_layouts(MultipageState& mp, DIB_HANDLE page) {
  Layout layout{};
  {
    dib::Locked stack(mp.merged), from(page);
    if (fits(stack.view(), from.view())) return page;
    layout = common_layout(stack.view(), from.view());
  }
  if (const DIB_HANDLE wider = to_layout(mp.merged, layout)) {
    DibFree(mp.merged);
    mp.merged = wider;
  }
  const DIB_HANDLE converted = to_layout(page, layout);
  return converted ? converted : page;
}

}  // namespace

int merged_add_page(DIB_HANDLE page) {
  MultipageState& mp = multipage();
  if (!mp.merged) {
    mp.merged = DibCopy(page);
    return mp.merged ? 0 : -2;
  }
  DIB_HANDLE converted = 0;
  try {
    const DIB_HANDLE source = settle_layouts(mp, page);
    if (source != page) converted = source;
    const int old_width = DIB_Width(mp.merged), old_height = DIB_Height(mp.merged);
    const int width = std::max(old_width, DIB_Width(source));
    const int height = old_height + DIB_Height(source);
    const DIB_HANDLE grown = grow(mp.merged, width, height);
    DibFree(mp.merged);
    mp.merged = grown;
    {
      dib::Locked to(grown);
      dib::Locked from(source);
      paste(to.view(), from.view(), (width - from.view().width()) / 2, old_height);
    }
    if (converted) DibFree(converted);
    return 0;
  } catch (const std::exception&) {
    // Also rows a compressed page cannot give: the page is refused, the
    // stack so far stays as it was.
    if (converted) DibFree(converted);
    return -2;
  }
}

}  // namespace fileio
