// The single-image formats (BMP, JPEG, PNG, GIF) hold a multipage document
// as one tall image: each page is stacked under the ones before it,
// horizontally centred on white.
#include <algorithm>
#include <cstring>

#include "dib/allocate.h"
#include "dib/dib.h"
#include "fileio/multipage.h"
#include "orivane/dib_api.h"

namespace fileio {
namespace {

// Copies the rows of `from` into `to` with its top-left pixel at (x, y),
// clipped to both images. Both have the same depth.
void paste(const dib::DibView& to, const dib::DibView& from, int x, int y) {
  const int depth = to.depth();
  const int src_x = std::max(0, -x);
  const int dst_x = std::max(0, x);
  const int cols = std::min(from.width() - src_x, to.width() - dst_x);
  const int src_y = std::max(0, -y);
  const int dst_y = std::max(0, y);
  const int rows = std::min(from.height() - src_y, to.height() - dst_y);
  if (cols <= 0 || rows <= 0) return;
  const long long src_bit = static_cast<long long>(src_x) * depth;
  const long long dst_bit = static_cast<long long>(dst_x) * depth;
  const long long bits = static_cast<long long>(cols) * depth;
  for (int r = 0; r < rows; ++r) {
    const std::uint8_t* s = from.row(src_y + r);
    std::uint8_t* d = to.row(dst_y + r);
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

// A new image of the merged image's kind, `width` x `height`, white, with the
// old pages in its top rows, centred.
DIB_HANDLE grow(DIB_HANDLE merged, int width, int height) {
  dib::Locked old(merged);
  const dib::DibView& from = old.view();
  dib::Dib grown = dib::allocate_like(from, width, height);
  dib::Locked fresh(grown.get());
  const dib::DibView& to = fresh.view();
  std::memset(to.block() + to.pixel_offset(), 0xFF, to.block_size() - to.pixel_offset());
  paste(to, from, (width - from.width()) / 2, 0);
  return grown.release();
}

}  // namespace

int merged_add_page(DIB_HANDLE page) {
  MultipageState& mp = multipage();
  if (!mp.merged) {
    mp.merged = DibCopy(page);
    return mp.merged ? 0 : -2;
  }
  try {
    const int page_type = DIB_PixelType(page), page_depth = DIB_Depth(page);
    if (page_type > DIB_PixelType(mp.merged) || page_depth > DIB_Depth(mp.merged)) {
      const DIB_HANDLE deeper = DIB_ConvertToFormat(mp.merged, page_type, page_depth, nullptr);
      if (!deeper) return -2;
      DibFree(mp.merged);
      mp.merged = deeper;
    }
    const int old_width = DIB_Width(mp.merged), old_height = DIB_Height(mp.merged);
    const int width = std::max(old_width, DIB_Width(page));
    const int height = old_height + DIB_Height(page);
    const DIB_HANDLE grown = grow(mp.merged, width, height);
    DibFree(mp.merged);
    mp.merged = grown;

    DIB_HANDLE converted = 0;
    if (DIB_PixelType(page) != DIB_PixelType(grown) || DIB_Depth(page) != DIB_Depth(grown)) {
      converted = DIB_ConvertToFormat(page, DIB_PixelType(grown), DIB_Depth(grown), nullptr);
      if (!converted) return -2;
    }
    {
      dib::Locked to(grown);
      dib::Locked from(converted ? converted : page);
      paste(to.view(), from.view(), (width - from.view().width()) / 2, old_height);
    }
    if (converted) DibFree(converted);
    return 0;
  } catch (const dib::Error&) {
    return -2;
  }
}

}  // namespace fileio
