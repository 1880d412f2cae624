// Cutting a rectangle out of an image, across depths, with parts of the
// rectangle inside, across the edges of and outside the source.
#include <gtest/gtest.h>

#include "dib/crop.h"
#include "dib_test_support.h"

namespace {

using namespace dib_test;

// The `depth` bits of pixel x of a packed row, as a number.
std::uint64_t pixel_bits(const std::vector<std::uint8_t>& row, int x, int depth) {
  if (depth < 8) {
    const int bit = x * depth;
    return (row[bit / 8] >> (8 - depth - bit % 8)) & ((1u << depth) - 1);
  }
  std::uint64_t v = 0;
  for (int k = 0; k < depth / 8; ++k) v |= std::uint64_t{row[x * depth / 8 + k]} << (8 * k);
  return v;
}

// The pixel at output column x of a row whose bytes are all `fill`.
std::uint64_t fill_bits(std::uint8_t fill, int x, int depth) {
  const std::vector<std::uint8_t> row(8, fill);
  return pixel_bits(row, depth < 8 ? x % (8 / depth) : 0, depth);
}

struct Rect {
  int x, y, w, h;
};

class CropTest : public DibTest {};

TEST_F(CropTest, CutMatchesTheSourceAndFillsOutside) {
  const int width = 13, height = 7;
  const Rect rects[] = {{2, 1, 5, 4}, {10, 5, 6, 4}, {-3, -2, 5, 5}, {0, 0, width, height},
                        {20, 20, 3, 3}, {-1, 3, width + 2, 1}};
  for (const DepthCase& dc : all_depths()) {
    for (bool top_down : {false, true}) {
      for (const Rect& r : rects) {
        SCOPED_TRACE(label(dc.depth, r.w, r.h) + " at " + std::to_string(r.x) + "," + std::to_string(r.y) +
                     (top_down ? " top-down" : ""));
        Owned src(make_image(dc.depth, width, height));
        if (top_down) make_top_down(src.get());
        const std::uint8_t fill = dc.depth == 32 ? 0x00 : 0xA5;
        dib::Locked lock(src.get());
        Owned out(dib::cut_rect(lock.view(), r.x, r.y, r.w, r.h, fill).release());
        ASSERT_EQ(DIB_Width(out.get()), r.w);
        ASSERT_EQ(DIB_Height(out.get()), r.h);
        EXPECT_EQ(DIB_Depth(out.get()), dc.depth);
        EXPECT_EQ(DIB_XResolutionInt(out.get()), 300);
        const auto src_rows = packed_rows(src.get());
        const auto out_rows = packed_rows(out.get());
        for (int y = 0; y < r.h; ++y) {
          for (int x = 0; x < r.w; ++x) {
            const int sx = r.x + x, sy = r.y + y;
            const bool inside = sx >= 0 && sx < width && sy >= 0 && sy < height;
            const std::uint64_t expected =
                inside ? pixel_bits(src_rows[sy], sx, dc.depth) : fill_bits(fill, x, dc.depth);
            ASSERT_EQ(pixel_bits(out_rows[y], x, dc.depth), expected) << x << "," << y;
          }
        }
      }
    }
  }
}

TEST_F(CropTest, KeepsTheTableAndClearsPaddingBits) {
  Owned src(make_image(1, 9, 4));
  dib::Locked lock(src.get());
  lock->table()[0] = dib::Rgbq{255, 255, 255, 0};
  lock->table()[1] = dib::Rgbq{0, 0, 0, 0};
  Owned out(dib::cut_rect(lock.view(), 4, 0, 11, 2, 0xFF).release());
  dib::Locked cut(out.get());
  EXPECT_EQ(cut->table()[0].green, 255);
  EXPECT_EQ(cut->table()[1].green, 0);
  // 11 pixels: the last 5 bits of the second byte are padding.
  EXPECT_EQ(cut->row(0)[1] & 0x1F, 0);
  EXPECT_EQ(cut->row(1)[1] & 0x1F, 0);
}

TEST_F(CropTest, EmptyRectangleGivesAnEmptyImage) {
  Owned src(make_image(8, 5, 5));
  dib::Locked lock(src.get());
  Owned out(dib::cut_rect(lock.view(), 1, 1, -3, 0, 0).release());
  EXPECT_EQ(DIB_Width(out.get()), 0);
  EXPECT_EQ(DIB_Height(out.get()), 0);
}

}  // namespace
