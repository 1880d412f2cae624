// Drawing into a device context in three steps: shrink by area averaging
// (the visible part only when most of the page is out of view), convert what
// a screen cannot take (more than 8 bits a sample, CMY, CMYK, compressed),
// then put the pixels 1:1, or stretched by repeating them when the rectangle
// is larger than the image.
#include "dib/draw.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "dib/convert.h"
#include "dib/crop.h"
#include "dib/row_readers.h"
#include "dib/scale.h"
#include "log/trace.h"
#include "orivane/errors.h"

namespace dib {
namespace {

// A part this small outside the view costs less to scale with the rest than
// to cut out first.
constexpr std::int64_t kMaxPixelsOutsideView = 2000;

// Puts the source rectangle from (sx, sy) to the image's end into the
// destination rectangle, nearest pixel, only where the context shows.
void put_pixels(const DibView& v, platform::DeviceContext& dc, const platform::DrawRect& dest,
                int sx, int sy) {
  const platform::DrawRect visible = platform::rect_intersection(dest, dc.clip_box());
  if (visible.empty()) return;
  sx = std::clamp(sx, 0, v.width() - 1);
  sy = std::clamp(sy, 0, v.height() - 1);
  const int src_w = v.width() - sx, src_h = v.height() - sy;
  RowReader reader(v);
  if (!reader.supported()) throw Error(ERR_WRONG_IMAGE_TYPE);
  const bool gray = reader.pixel_type() == kBW || reader.pixel_type() == kGray;
  const int channels = gray ? 1 : 3;
  // Source column of each visible destination column.
  std::vector<int> column(visible.w);
  for (int i = 0; i < visible.w; ++i) {
    const std::int64_t dx = visible.x + i - dest.x;
    column[i] = sx + static_cast<int>(dx * src_w / dest.w);
  }
  std::vector<std::uint8_t> row(static_cast<std::size_t>(v.width()) * 3);
  std::vector<std::uint8_t> out(static_cast<std::size_t>(visible.w) * channels * visible.h);
  int read_row = -1;
  for (int j = 0; j < visible.h; ++j) {
    const std::int64_t dy = visible.y + j - dest.y;
    const int src_y = sy + static_cast<int>(dy * src_h / dest.h);
    if (src_y != read_row) {
      if (gray ? !reader.gray(src_y, row.data()) : !reader.rgb(src_y, row.data()))
        throw Error(ERR_WRONG_IMAGE_TYPE);
      read_row = src_y;
    }
    std::uint8_t* o = out.data() + static_cast<std::size_t>(j) * visible.w * channels;
    if (gray) {
      for (int i = 0; i < visible.w; ++i) o[i] = row[column[i]];
    } else {
      // The reader gives blue, green, red; the context takes red first.
      for (int i = 0; i < visible.w; ++i) {
        const std::uint8_t* p = row.data() + static_cast<std::size_t>(column[i]) * 3;
        o[3 * i] = p[2];
        o[3 * i + 1] = p[1];
        o[3 * i + 2] = p[0];
      }
    }
  }
  dc.draw_pixels(visible.x, visible.y, visible.w, visible.h, out.data(), channels,
                 visible.w * channels);
}

// Shrinking both ways takes the screen's fast average; a size that grows
// one way, the general copy.
Dib shrunk_copy(const DibView& v, int w, int h) {
  return w <= v.width() && h <= v.height() ? screen_copy(v, w, h) : scaled_copy(v, w, h);
}

bool needs_conversion(const DibView& v) {
  const int type = v.pixel_type();
  return v.compressed() || type == kCMY || type == kCMYK || type < 0 ||
         (v.samples_per_pixel() > 0 && v.depth() / v.samples_per_pixel() > 8);
}

}  // namespace

void draw_to_dc(Handle h, platform::DeviceContext& dc, int x, int y, int w, int height, int sx,
                int sy) {
  if (h == 0) return;
  std::optional<Locked> locked;
  try {
    locked.emplace(h);
  } catch (const Error&) {
    LogPrint("* DrawToDC: Lock(0x%p)=>NULL\n", reinterpret_cast<void*>(h));
    return;
  }
  const DibView& v = locked->view();
  const platform::DrawRect dest{x, y, w, height};
  if (v.width() <= 0 || v.height() <= 0 || dest.empty()) return;
  const platform::DrawRect visible = platform::rect_intersection(dest, dc.clip_box());
  if (visible.empty()) return;

  if (w < v.width() || height < v.height()) {
    // The visible part mapped back onto the image: left and top rounded
    // down, right and bottom to nearest.
    const double fx = static_cast<double>(v.width()) / w;
    const double fy = static_cast<double>(v.height()) / height;
    const int left = std::clamp(static_cast<int>(std::floor((visible.x - x) * fx)), 0, v.width());
    const int top = std::clamp(static_cast<int>(std::floor((visible.y - y) * fy)), 0, v.height());
    const int right = std::clamp(static_cast<int>(std::lround((visible.x + visible.w - x) * fx)),
                                 left, v.width());
    const int bottom = std::clamp(
        static_cast<int>(std::lround((visible.y + visible.h - y) * fy)), top, v.height());
    const std::int64_t outside = static_cast<std::int64_t>(v.width()) * v.height() -
                                 static_cast<std::int64_t>(right - left) * (bottom - top);
    Dib scaled;
    platform::DrawRect place = dest;
    if (outside <= kMaxPixelsOutsideView || right <= left || bottom <= top) {
      scaled = shrunk_copy(v, w, height);
    } else {
      Dib part = cut_rect(v, left, top, right - left, bottom - top, 0xFF);
      Locked part_lock(part.get());
      scaled = shrunk_copy(part_lock.view(), visible.w, visible.h);
      place = visible;
    }
    locked.reset();
    draw_to_dc(scaled.get(), dc, place.x, place.y, place.w, place.h, 0, 0);
    return;
  }
  if (needs_conversion(v)) {
    const bool gray = v.pixel_type() == kGray || v.pixel_type() == kBW;
    Dib converted = convert_format(v, gray ? kGray : kRGB, gray ? 8 : 24, nullptr);
    locked.reset();
    draw_to_dc(converted.get(), dc, x, y, w, height, sx, sy);
    return;
  }
  put_pixels(v, dc, dest, sx, sy);
}

}  // namespace dib
