// Quarter turns, flips, mirror, negation and red/blue exchange: round trips
// across every depth, odd widths and 1 x 1 images, and the pixel mapping
// checked against the turn's definition.
#include <gtest/gtest.h>

#include "dib_test_support.h"

namespace {

using namespace dib_test;

class RotateTest : public DibTest {};

struct Shape {
  int width, height;
};
const Shape kShapes[] = {{1, 1}, {3, 2}, {7, 9}, {13, 1}, {33, 17}, {1, 12}};

// The turned picture worked out from the rule: the pixel at column x of row y
// goes to column H - 1 - y of row x (clockwise).
std::vector<std::uint8_t> turned_by_rule(const std::vector<std::uint8_t>& bgr, int w, int h, bool clockwise) {
  std::vector<std::uint8_t> out(bgr.size());
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const int tx = clockwise ? h - 1 - y : y;
      const int ty = clockwise ? x : w - 1 - x;
      std::memcpy(&out[(static_cast<std::size_t>(ty) * h + tx) * 3], &bgr[(static_cast<std::size_t>(y) * w + x) * 3], 3);
    }
  }
  return out;
}

TEST_F(RotateTest, QuarterTurnsFollowTheRuleAtEveryDepth) {
  for (const DepthCase& d : all_depths()) {
    for (const Shape& s : kShapes) {
      for (bool top_down : {false, true}) {
        SCOPED_TRACE(label(d.depth, s.width, s.height) + (top_down ? " top-down" : ""));
        Owned h(make_image(d.depth, s.width, s.height));
        DIB_SetResolution(h.get(), 200, 300);
        if (top_down) make_top_down(h.get());
        const auto before = rgb_pixels(h.get());
        for (int turns : {1, 3, -1, 5}) {
          Owned t(DIB_Rotate90(h.get(), turns));
          ASSERT_TRUE(t);
          const bool clockwise = turns == 1 || turns == 5;
          EXPECT_EQ(DIB_Width(t.get()), s.height);
          EXPECT_EQ(DIB_Height(t.get()), s.width);
          EXPECT_EQ(DIB_Depth(t.get()), d.depth);
          EXPECT_EQ(DIB_XResolutionInt(t.get()), 300);
          EXPECT_EQ(DIB_YResolutionInt(t.get()), 200);
          EXPECT_EQ(rgb_pixels(t.get()), turned_by_rule(before, s.width, s.height, clockwise)) << turns;
          EXPECT_EQ(DIB_IsValid(t.get()), 1);
        }
      }
    }
  }
}

TEST_F(RotateTest, FourTurnsTwoFlipsTwoNegationsGiveBackTheInput) {
  for (const DepthCase& d : all_depths()) {
    for (const Shape& s : kShapes) {
      SCOPED_TRACE(label(d.depth, s.width, s.height));
      Owned h(make_image(d.depth, s.width, s.height));
      const auto rows = packed_rows(h.get());
      Owned t(DibCopy(h.get()));
      for (int i = 0; i < 4; ++i) ASSERT_EQ(DIB_Rotate90InPlace(t.get(), 1), 1);
      EXPECT_EQ(packed_rows(t.get()), rows);
      Owned u(DibCopy(h.get()));
      ASSERT_EQ(DIB_Rotate90InPlace(u.get(), 2), 1);
      EXPECT_NE(s.width * s.height > 1 && packed_rows(u.get()) == rows, true) << "a half turn changed nothing";
      ASSERT_EQ(DIB_Rotate90InPlace(u.get(), -2), 1);
      EXPECT_EQ(packed_rows(u.get()), rows);
      for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(DIB_FlipVertical(h.get()), 1);
        EXPECT_EQ(DIB_FlipHorizontal(h.get()), 1);
        EXPECT_EQ(DIB_Negate(h.get()), 1);
      }
      EXPECT_EQ(packed_rows(h.get()), rows);
    }
  }
}

TEST_F(RotateTest, HalfTurnInPlaceEqualsTwoQuarterTurns) {
  for (const DepthCase& d : all_depths()) {
    SCOPED_TRACE(d.depth);
    Owned h(make_image(d.depth, 11, 5));
    Owned once(DIB_Rotate90(h.get(), 1));
    Owned twice(DIB_Rotate90(once.get(), 1));
    Owned half(DIB_Rotate90(h.get(), 2));
    EXPECT_EQ(packed_rows(half.get()), packed_rows(twice.get()));
    DIB_Rotate90InPlace(h.get(), 2);
    EXPECT_EQ(packed_rows(h.get()), packed_rows(twice.get()));
  }
}

TEST_F(RotateTest, AThreeByTwoImageTurnedByHand) {
  Owned h(DIB_Allocate(8, 3, 2));
  const std::uint8_t r0[] = {1, 2, 3}, r1[] = {4, 5, 6};
  DIB_WritePackedRow(h.get(), 0, r0);
  DIB_WritePackedRow(h.get(), 1, r1);
  Owned cw(DIB_Rotate90(h.get(), 1));
  EXPECT_EQ(packed_rows(cw.get()), (std::vector<std::vector<std::uint8_t>>{{4, 1}, {5, 2}, {6, 3}}));
  Owned ccw(DIB_Rotate90(h.get(), 3));
  EXPECT_EQ(packed_rows(ccw.get()), (std::vector<std::vector<std::uint8_t>>{{3, 6}, {2, 5}, {1, 4}}));
  Owned same(DIB_Rotate90(h.get(), 0));
  EXPECT_EQ(packed_rows(same.get()), packed_rows(h.get()));
  ASSERT_EQ(DIB_Rotate90InPlace(h.get(), -1), 1);  // anticlockwise
  EXPECT_EQ(packed_rows(h.get()), packed_rows(ccw.get()));
}

TEST_F(RotateTest, MirrorIsBitExactBelowEightBits) {
  struct Case {
    int depth, width;
    std::vector<std::uint8_t> row, mirrored;
  };
  const Case cases[] = {
      {1, 3, {0xC0}, {0x60}},              // 110 -> 011
      {1, 10, {0x80, 0x40}, {0x80, 0x40}},  // 1000000001 is its own mirror
      {1, 9, {0xF0, 0x80}, {0x87, 0x80}},   // 111100001 -> 100001111
      {4, 3, {0x12, 0x30}, {0x32, 0x10}},
      {4, 4, {0x12, 0x34}, {0x43, 0x21}},
      {8, 3, {1, 2, 3}, {3, 2, 1}},
      {24, 2, {1, 2, 3, 4, 5, 6}, {4, 5, 6, 1, 2, 3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(label(c.depth, c.width, 1));
    Owned h(DIB_Allocate(c.depth, c.width, 1));
    DIB_WritePackedRow(h.get(), 0, c.row.data());
    ASSERT_EQ(DIB_FlipHorizontal(h.get()), 1);
    EXPECT_EQ(packed_rows(h.get())[0], c.mirrored);
  }
}

TEST_F(RotateTest, NegationInvertsUsedBytesAndKeepsTheTable) {
  Owned g(DIB_Allocate(8, 3, 1));
  const std::uint8_t row[] = {0, 100, 255};
  DIB_WritePackedRow(g.get(), 0, row);
  DIB_Negate(g.get());
  EXPECT_EQ(packed_rows(g.get())[0], (std::vector<std::uint8_t>{255, 155, 0}));
  EXPECT_EQ(DIB_ColorTableR(g.get(), 1), 1);
  Owned bw(DIB_Allocate(1, 3, 1));
  DIB_Negate(bw.get());
  EXPECT_EQ(packed_rows(bw.get())[0], (std::vector<std::uint8_t>{0xE0}));  // bits beyond the width stay clear
}

TEST_F(RotateTest, SwapRedBlue) {
  struct Case {
    int depth;
    std::vector<std::uint8_t> row, swapped;
  };
  const Case cases[] = {{24, {1, 2, 3}, {3, 2, 1}},
                        {32, {1, 2, 3, 4}, {3, 2, 1, 4}},
                        {48, {1, 2, 3, 4, 5, 6}, {5, 6, 3, 4, 1, 2}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.depth);
    Owned h(DIB_Allocate(c.depth, 1, 1));
    DIB_WritePackedRow(h.get(), 0, c.row.data());
    ASSERT_EQ(DIB_SwapRedBlue(h.get()), 1);
    EXPECT_EQ(packed_rows(h.get())[0], c.swapped);
  }
  Owned gray(DIB_Allocate(8, 1, 1));
  TWAIN_ClearError();
  EXPECT_EQ(DIB_SwapRedBlue(gray.get()), 0);
  EXPECT_EQ(TWAIN_LastErrorCode(), ERR_WRONG_IMAGE_TYPE);
  Owned cmy(DIB_Create(DIB_PT_CMY, 1, 1, 24));
  EXPECT_EQ(DIB_SwapRedBlue(cmy.get()), 0);
}

}  // namespace
