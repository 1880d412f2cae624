// Bright rectangles.
//
// The page is reduced so that the smallest rectangle asked for spans about 5
// pixels each way, which keeps the search cheap and smooths out dust and
// paper grain. The reduced copy is scanned row by row; where a window of the
// minimum size is bright enough a rectangle starts, grows diagonally while
// it stays bright, then wider, then taller, and is painted black so that no
// later window finds it again. Window averages come from a table of running
// sums, brought up to date below a rectangle after each painting.
#include "dib/bright_rects.h"

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "dib/row_readers.h"
#include "dib/scale.h"

namespace dib {
namespace {

constexpr int kReduction = 5;  // reduced pixels across the minimum size

// A gray image with a table of running sums over it.
class SumTable {
 public:
  SumTable(std::vector<std::uint8_t> px, int w, int h)
      : w_(w), h_(h), px_(std::move(px)), sum_(static_cast<std::size_t>(w + 1) * (h + 1)) {
    update_from(0);
  }

  // Whether the rectangle's average is at least `level`.
  bool bright(int x, int y, int w, int h, std::int64_t level) const {
    const std::int64_t s = at(x + w, y + h) - at(x, y + h) - at(x + w, y) + at(x, y);
    return s >= level * w * h;
  }

  void paint_black(int x, int y, int w, int h) {
    for (int r = y; r < y + h; ++r) std::fill_n(&px_[static_cast<std::size_t>(r) * w_ + x], w, 0);
    update_from(y);
  }

 private:
  std::int64_t at(int x, int y) const { return sum_[static_cast<std::size_t>(y) * (w_ + 1) + x]; }

  // Recomputes the sums of the rows from `y` on.
  void update_from(int y) {
    for (int r = y; r < h_; ++r) {
      const std::uint8_t* p = &px_[static_cast<std::size_t>(r) * w_];
      const std::int64_t* above = &sum_[static_cast<std::size_t>(r) * (w_ + 1)];
      std::int64_t* out = &sum_[static_cast<std::size_t>(r + 1) * (w_ + 1)];
      std::int64_t run = 0;
      for (int x = 0; x < w_; ++x) {
        run += p[x];
        out[x + 1] = above[x + 1] + run;
      }
    }
  }

  int w_, h_;
  std::vector<std::uint8_t> px_;
  std::vector<std::int64_t> sum_;
};

std::vector<std::uint8_t> gray_pixels(const DibView& v) {
  const RowReader reader(v);
  std::vector<std::uint8_t> px(static_cast<std::size_t>(v.width()) * v.height() + 4);
  for (int y = 0; y < v.height(); ++y) reader.gray(y, &px[static_cast<std::size_t>(y) * v.width()]);
  return px;
}

}  // namespace

std::vector<CropRect> bright_rects(const DibView& v, int min_w, int min_h, int brightness, int capacity) {
  std::vector<CropRect> found;
  if (min_w < 1 || min_h < 1 || capacity < 1) return found;
  const int fx = (min_w + kReduction - 1) / kReduction, fy = (min_h + kReduction - 1) / kReduction;
  const int sw = v.width() / fx, sh = v.height() / fy;
  const int ww = min_w / fx, wh = min_h / fy;
  if (sw < ww || sh < wh) return found;
  const Dib small = scaled_copy(v, sw, sh);
  const Locked lock(small.get());
  SumTable table(gray_pixels(lock.view()), sw, sh);
  const std::int64_t level = brightness;
  for (int j = 0; j + wh <= sh; ++j) {
    for (int k = 0; k + ww <= sw;) {
      if (!table.bright(k, j, ww, wh, level)) {
        ++k;
        continue;
      }
      int w = ww, h = wh;
      while (k + w < sw && j + h < sh && table.bright(k, j, w + 1, h + 1, level)) ++w, ++h;
      while (k + w < sw && table.bright(k, j, w + 1, h, level)) ++w;
      while (j + h < sh && table.bright(k, j, w, h + 1, level)) ++h;
      found.push_back({k * fx, j * fy, w * fx, h * fy});
      if (static_cast<int>(found.size()) == capacity) return found;
      table.paint_black(k, j, w, h);
      k += w;
    }
  }
  return found;
}

}  // namespace dib
