// Scaling: gray thumbnails by whole factors, area-averaged copies of any size,
// resampling to a resolution, and their refusals.
#include <gtest/gtest.h>

#include "dib/scale.h"
#include "dib_test_support.h"

namespace {

using namespace dib_test;

class ScaleTest : public DibTest {};

// An 8-bit gray image painted by f(x, y).
template <typename F>
DIB_HANDLE gray_image(int w, int h, F f) {
  const DIB_HANDLE img = DIB_Allocate(8, w, h);
  std::vector<std::uint8_t> row(static_cast<std::size_t>(w));
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) row[static_cast<std::size_t>(x)] = static_cast<std::uint8_t>(f(x, y));
    DIB_WritePackedRow(img, y, row.data());
  }
  DIB_SetResolution(img, 300, 300);
  return img;
}

TEST_F(ScaleTest, ScaleToGrayAveragesBlocksAndShortEdges) {
  // Column x holds 10 x, row 9 adds 100: the edge groups hold one column or row.
  Owned h(gray_image(10, 10, [](int x, int y) { return 10 * x + (y == 9 ? 100 : 0); }));
  Owned s(DIB_ScaleToGray(h.get(), 3));
  ASSERT_TRUE(s);
  EXPECT_EQ(DIB_Width(s.get()), 4);
  EXPECT_EQ(DIB_Height(s.get()), 4);
  EXPECT_EQ(DIB_XResolutionInt(s.get()), 100);
  const auto rows = packed_rows(s.get());
  EXPECT_EQ(rows[0], (std::vector<std::uint8_t>{10, 40, 70, 90}));
  EXPECT_EQ(rows[3], (std::vector<std::uint8_t>{110, 140, 170, 190}));
}

TEST_F(ScaleTest, ScaleToGrayAcrossDepthsAndFactors) {
  for (const DepthCase& d : all_depths()) {
    for (int factor : {1, 2, 4, 7, 40}) {
      SCOPED_TRACE(label(d.depth, 13, 5) + " factor " + std::to_string(factor));
      Owned h(make_image(d.depth, 13, 5));
      Owned s(DIB_ScaleToGray(h.get(), factor));
      ASSERT_TRUE(s);
      EXPECT_EQ(DIB_Width(s.get()), (13 + factor - 1) / factor);
      EXPECT_EQ(DIB_Height(s.get()), (5 + factor - 1) / factor);
      EXPECT_EQ(DIB_PixelType(s.get()), DIB_PT_GRAY);
      if (factor == 1) {
        Owned g(DIB_ConvertToFormat(h.get(), DIB_PT_GRAY, 8, nullptr));
        EXPECT_EQ(packed_rows(s.get()), packed_rows(g.get()));
      }
    }
  }
  Owned h(DIB_Allocate(8, 4, 4));
  TWAIN_ClearError();
  EXPECT_EQ(DIB_ScaleToGray(h.get(), 0), 0u);
  EXPECT_EQ(TWAIN_LastErrorCode(), ERR_BAD_PARAMETER);
}

TEST_F(ScaleTest, ScaledCopyWeighsPartlyCoveredPixels) {
  struct Case {
    const char* what;
    std::vector<std::uint8_t> row;
    int width;
    std::vector<std::uint8_t> want;
  };
  const Case cases[] = {
      {"halve", {0, 100, 200, 255}, 2, {50, 228}},
      {"2 to 3", {0, 90}, 3, {0, 45, 90}},
      {"3 to 2", {0, 90, 180}, 2, {30, 150}},
      {"1 to 4", {77}, 4, {77, 77, 77, 77}},
      {"5 to 1", {0, 0, 0, 0, 255}, 1, {51}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Owned h(gray_image(static_cast<int>(c.row.size()), 1, [&](int x, int) { return c.row[static_cast<std::size_t>(x)]; }));
    Owned s(DIB_ScaledCopy(h.get(), c.width, 1));
    ASSERT_TRUE(s);
    EXPECT_EQ(packed_rows(s.get())[0], c.want);
  }
  // Vertically the same.
  Owned col(gray_image(1, 3, [](int, int y) { return y * 90; }));
  Owned s(DIB_ScaledCopy(col.get(), 1, 2));
  EXPECT_EQ(packed_rows(s.get()), (std::vector<std::vector<std::uint8_t>>{{30}, {150}}));
}

TEST_F(ScaleTest, ScaledCopyKeepsOneColourAndPicksItsFormat) {
  struct Case {
    int type, depth;
    int want_depth;
  };
  for (const Case& c : {Case{DIB_PT_BW, 1, 8}, Case{DIB_PT_GRAY, 4, 8}, Case{DIB_PT_GRAY, 16, 8},
                        Case{DIB_PT_PALETTE, 8, 24}, Case{DIB_PT_RGB, 32, 24}, Case{DIB_PT_CMYK, 32, 24},
                        Case{DIB_PT_RGB, 48, 24}}) {
    for (auto [w, h] : {std::pair{1, 1}, std::pair{7, 3}, std::pair{40, 41}}) {
      SCOPED_TRACE(label(c.depth, w, h));
      Owned img(DIB_Create(c.type, 9, 6, c.depth));
      const std::vector<std::uint8_t> ones(64, c.depth == 1 ? 0xFF : c.depth == 4 ? 0x55 : 0x5A);
      for (int y = 0; y < 6; ++y) DIB_WritePackedRow(img.get(), y, ones.data());
      DIB_SetResolution(img.get(), 200, 200);
      Owned s(DIB_ScaledCopy(img.get(), w, h));
      ASSERT_TRUE(s);
      EXPECT_EQ(DIB_Depth(s.get()), c.want_depth);
      EXPECT_EQ(DIB_XResolutionInt(s.get()), 200);
      const auto first = rgb_pixels(img.get());
      for (std::size_t i = 0; i + 2 < rgb_pixels(s.get()).size(); i += 3) {
        EXPECT_EQ(rgb_pixels(s.get())[i], first[0]);
      }
    }
  }
  Owned same(make_image(24, 5, 5));
  Owned copy(DIB_ScaledCopy(same.get(), 5, 5));
  EXPECT_EQ(block_bytes(copy.get()), block_bytes(same.get()));
  TWAIN_ClearError();
  EXPECT_EQ(DIB_ScaledCopy(same.get(), 0, 5), 0u);
  EXPECT_EQ(TWAIN_LastErrorCode(), ERR_WRONG_IMAGE_TYPE);
  EXPECT_EQ(error_text(), "Image of wrong type given to DIB_ScaledCopy");
}

TEST_F(ScaleTest, ResampleToAResolution) {
  Owned page(DIB_Allocate(24, 2550, 3300));
  DIB_SetResolution(page.get(), 300, 300);
  Owned r(DIB_Resample(page.get(), 100, 100));
  ASSERT_TRUE(r);
  EXPECT_EQ(DIB_Width(r.get()), 850);
  EXPECT_EQ(DIB_Height(r.get()), 1100);
  EXPECT_EQ(DIB_XResolution(r.get()), 100);

  Owned tiny(make_image(8, 3, 3));
  Owned one(DIB_Resample(tiny.get(), 1, 1));
  EXPECT_EQ(DIB_Width(one.get()), 1);
  EXPECT_EQ(DIB_Height(one.get()), 1);

  struct Case {
    const char* what;
    int depth;
    double source_dpi, x, y;
    int error;
  };
  const Case cases[] = {{"1-bit", 1, 300, 100, 100, ERR_WRONG_IMAGE_TYPE},
                        {"32-bit", 32, 300, 100, 100, ERR_WRONG_IMAGE_TYPE},
                        {"no resolution", 8, 0, 100, 100, ERR_BAD_PARAMETER},
                        {"zero target", 8, 300, 0, 100, ERR_BAD_PARAMETER},
                        {"negative target", 24, 300, 100, -5, ERR_BAD_PARAMETER},
                        {"enormous target", 8, 300, 1e15, 100, ERR_BAD_PARAMETER}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Owned h(DIB_Allocate(c.depth, 30, 30));
    DIB_SetResolution(h.get(), c.source_dpi, c.source_dpi);
    TWAIN_ClearError();
    EXPECT_EQ(DIB_Resample(h.get(), c.x, c.y), 0u);
    EXPECT_EQ(TWAIN_LastErrorCode(), c.error);
  }
}

TEST_F(ScaleTest, ScaleInPlace) {
  Owned h(make_image(24, 6, 4));
  const auto block = block_bytes(h.get());
  EXPECT_EQ(DIB_ScaleInPlace(h.get(), 6, 4), 1);
  EXPECT_EQ(block_bytes(h.get()), block);
  EXPECT_EQ(DIB_ScaleInPlace(h.get(), 3, 2), 1);
  EXPECT_EQ(DIB_Width(h.get()), 3);
  EXPECT_EQ(DIB_Height(h.get()), 2);
}

}  // namespace

namespace {

// The screen's shrink rounds once where the scaled copy rounds twice: never
// more than one level apart, for every depth the reader takes and for sizes
// that split pixels unevenly; sizes that grow are refused.
TEST_F(ScaleTest, ScreenCopyIsWithinOneLevelOfTheScaledCopy) {
  struct Size { int w, h; };
  for (const DepthCase& d : all_depths()) {
    Owned img(make_image(d.depth, 97, 61));
    dib::Locked src(img.get());
    for (const Size s : {Size{97, 61}, Size{40, 23}, Size{13, 60}, Size{1, 1}, Size{31, 7}}) {
      SCOPED_TRACE(label(d.depth, s.w, s.h));
      const dib::Dib fast = dib::screen_copy(src.view(), s.w, s.h);
      const dib::Dib exact = dib::scaled_copy(src.view(), s.w, s.h);
      dib::Locked a(fast.get()), b(exact.get());
      ASSERT_EQ(a.view().depth(), b.view().depth());
      int worst = 0;
      for (int y = 0; y < s.h; ++y) {
        for (int x = 0; x < s.w * a.view().depth() / 8; ++x)
          worst = std::max(worst, std::abs(a.view().row(y)[x] - b.view().row(y)[x]));
      }
      EXPECT_LE(worst, 1);
    }
    EXPECT_THROW(dib::screen_copy(src.view(), 98, 61), dib::Error);
  }
  // A page large enough to be made in two bands at once agrees too.
  Owned page(make_image(24, 2100, 1001));
  dib::Locked src(page.get());
  const dib::Dib fast = dib::screen_copy(src.view(), 700, 333);
  const dib::Dib exact = dib::scaled_copy(src.view(), 700, 333);
  dib::Locked a(fast.get()), b(exact.get());
  int worst = 0;
  for (int y = 0; y < 333; ++y) {
    for (int x = 0; x < 700 * 3; ++x) worst = std::max(worst, std::abs(a.view().row(y)[x] - b.view().row(y)[x]));
  }
  EXPECT_LE(worst, 1);
}

}  // namespace
