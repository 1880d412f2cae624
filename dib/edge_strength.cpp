// The edge-strength image: for each pixel, how sharply the gray level changes
// across it, from the Sobel differences of its 3 x 3 neighbourhood (divided
// by 4, so a full black-to-white step measures 255). Border pixels see their
// image extended by repeating the outer rows and columns, so a uniform page
// is 0 everywhere, borders included.
//
// Mode 3, used to find the outline of a document against its background,
// weights horizontal edges above vertical ones and lets strong edges bleed
// into the pixels below and beside them, so that a faint or broken outline
// still forms a connected band. The threshold then removes the weak
// responses of texture and noise.
#include "dib/contrast.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "dib/allocate.h"
#include "dib/row_readers.h"
#include "orivane/errors.h"

namespace dib {
namespace {

constexpr int kSpreadDivisor = 8;  // a pixel takes 1/8 of its strongest neighbour

// Source rows y - 1, y and y + 1 as gray, clamped to the picture, each with
// one repeated pixel on either side: column x is at x + 1. Each source row is
// read once.
class RowWindow {
 public:
  explicit RowWindow(const RowReader& reader) : reader_(reader), w_(reader.width()) {
    for (auto& row : rows_) row.resize(static_cast<std::size_t>(w_) + 6);
    read(0, rows_[1]);
    rows_[0] = rows_[1];
    read(std::min(1, reader_.height() - 1), rows_[2]);
  }
  // Moves the window down one row.
  void advance(int y) {
    std::rotate(rows_.begin(), rows_.begin() + 1, rows_.end());
    read(std::min(y + 1, reader_.height() - 1), rows_[2]);
  }
  const std::uint8_t* above() const { return rows_[0].data(); }
  const std::uint8_t* at() const { return rows_[1].data(); }
  const std::uint8_t* below() const { return rows_[2].data(); }

 private:
  void read(int y, std::vector<std::uint8_t>& row) const {
    reader_.gray(y, row.data() + 1);
    row[0] = row[1];
    row[w_ + 1] = row[w_];
  }
  const RowReader& reader_;
  int w_;
  std::array<std::vector<std::uint8_t>, 3> rows_;
};

void strength_row(const RowWindow& src, int mode, int width, std::uint8_t* out) {
  const std::uint8_t *a = src.above(), *c = src.at(), *b = src.below();
  for (int x = 0; x < width; ++x) {
    // Columns x - 1, x, x + 1 are at x, x + 1, x + 2.
    const int gy = (2 * (a[x + 1] - b[x + 1]) + a[x] + a[x + 2] - b[x] - b[x + 2]) / 4;
    const int gx = (2 * (c[x + 2] - c[x]) + a[x + 2] + b[x + 2] - a[x] - b[x]) / 4;
    int s;
    switch (mode) {
      case 0: s = gy; break;
      case 1: s = gx; break;
      case 2: s = std::abs(gy) + std::abs(gx); break;
      default: s = std::max(std::abs(gy) * 5 / 4, std::abs(gx) * 3 / 4); break;
    }
    out[x] = static_cast<std::uint8_t>(std::clamp(s, 0, 255));
  }
}

// Mode 3's bleeding of inner pixels: down from the row above, then across,
// left to right in place.
void spread_row(const std::uint8_t* above, std::uint8_t* out, int width) {
  for (int x = 1; x + 1 < width; ++x) {
    const int top = std::max({above[x - 1], above[x], above[x + 1]});
    out[x] = static_cast<std::uint8_t>(std::min(255, out[x] + top / kSpreadDivisor));
  }
  for (int x = 1; x + 1 < width; ++x) {
    const int side = std::max(out[x - 1], out[x + 1]);
    out[x] = static_cast<std::uint8_t>(std::min(255, out[x] + side / kSpreadDivisor));
  }
}

}  // namespace

Dib edge_strength(const DibView& v, int mode, int threshold) {
  const RowReader reader(v);
  if (mode < 0 || mode > 3) throw Error(ERR_BAD_PARAMETER);
  if (!reader.supported()) throw Error(ERR_WRONG_IMAGE_TYPE);
  const int w = v.width(), h = v.height();
  Dib out = allocate(8, w, h, kGray);
  Locked lock(out.get());
  DibView& o = lock.view();
  InfoHeader hd = o.header();
  hd.x_ppm = v.header().x_ppm;
  hd.y_ppm = v.header().y_ppm;
  o.store_header(hd);
  if (w == 0 || h == 0) return out;

  RowWindow src(reader);
  for (int y = 0; y < h; ++y) {
    std::uint8_t* row = o.row_unchecked(y);
    if (y > 0) src.advance(y);
    strength_row(src, mode, w, row);
    if (mode == 3 && y > 0 && y + 1 < h) spread_row(o.row_unchecked(y - 1), row, w);
    if (threshold > 0) {
      for (int x = 0; x < w; ++x) {
        if (row[x] < threshold) row[x] = 0;
      }
    }
  }
  return out;
}

}  // namespace dib
