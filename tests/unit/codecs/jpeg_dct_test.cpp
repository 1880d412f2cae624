// The forward DCT picture through the library and OrvJpeg: coefficients
// worked out by hand for flat blocks and for a cosine of known frequency,
// per component, in the block's own place (top rows first), odd sizes, and
// the depths it refuses.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "../dib/dib_test_support.h"
#include "core/error_record.h"
#include "fileio/codec_modules.h"
#include "orivane/file_api.h"
#include "platform/paths.h"

namespace {

using namespace dib_test;
namespace fs = std::filesystem;


class ForwardDctTest : public DibTest {
 protected:
  void SetUp() override {
    setenv("QUILLET_MODULE_PATH", build_folder().c_str(), 1);
    DibTest::SetUp();
  }
  void TearDown() override {
    fileio::codec_modules_reset_for_tests();
    DibTest::TearDown();
    unsetenv("QUILLET_MODULE_PATH");
  }
};

// An image whose byte k of row y is `sample(x, y, component)`.
template <typename Sample>
DIB_HANDLE image_of(int depth, int width, int height, Sample sample) {
  const DIB_HANDLE h = DIB_Allocate(depth, width, height);
  const int n = depth / 8;
  std::vector<std::uint8_t> row(static_cast<std::size_t>(width * n));
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < n; ++c) row[static_cast<std::size_t>(x * n + c)] = sample(x, y, c);
    DIB_WritePackedRow(h, y, row.data());
  }
  return h;
}

TEST_F(ForwardDctTest, FlatBlocksGiveTheirMeanInTheDcTerm) {
  // DC = 8 x (v - 128), offset by 128 and clamped; every AC term 0 -> 128.
  struct Case {
    int depth;
    std::vector<int> values;  // per component
    std::vector<int> dc;
  };
  const Case cases[] = {{8, {130}, {144}},
                        {8, {0}, {0}},
                        {8, {255}, {255}},
                        {24, {130, 120, 128}, {144, 64, 128}},
                        {32, {129, 127, 131, 128}, {136, 120, 152, 128}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.depth);
    Owned src(image_of(c.depth, 16, 16, [&](int, int, int comp) { return std::uint8_t(c.values[comp]); }));
    Owned dct(DIB_ForwardDCT(src.get()));
    ASSERT_TRUE(dct);
    EXPECT_EQ(DIB_Width(dct.get()), 16);
    EXPECT_EQ(DIB_Height(dct.get()), 16);
    EXPECT_EQ(DIB_Depth(dct.get()), c.depth);
    const auto rows = packed_rows(dct.get());
    const int n = c.depth / 8;
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x)
        for (int comp = 0; comp < n; ++comp) {
          const bool dc_place = x % 8 == 0 && y % 8 == 0;
          ASSERT_EQ(rows[y][x * n + comp], dc_place ? c.dc[comp] : 128) << x << "," << y << " c" << comp;
        }
  }
}

TEST_F(ForwardDctTest, ACosineLightsItsOwnFrequencyInItsOwnBlock) {
  // Only the top left block carries a horizontal cosine of frequency 1; the
  // rest is mid gray. Its coefficient (1, 0) is 1/4 x C(0) x 8 rows x 4A =
  // 8A / sqrt(2); everything else stays 0, but for the odd harmonics of the
  // samples' rounding to whole levels (a coefficient of 2 at most).
  constexpr double kAmplitude = 10;
  const double pi = std::acos(-1.0);
  Owned src(image_of(8, 24, 16, [&](int x, int y, int) {
    if (x >= 8 || y >= 8) return std::uint8_t(128);
    return std::uint8_t(std::lround(128 + kAmplitude * std::cos((2 * x + 1) * pi / 16)));
  }));
  Owned dct(DIB_ForwardDCT(src.get()));
  ASSERT_TRUE(dct);
  const auto rows = packed_rows(dct.get());
  EXPECT_NEAR(rows[0][1], 128 + 8 * kAmplitude / std::sqrt(2.0), 1.0);
  int others = 0;
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 24; ++x)
      if (!(x == 1 && y == 0) && std::abs(rows[y][x] - 128) > 2) {
        ADD_FAILURE() << "coefficient at " << x << "," << y << ": " << int(rows[y][x]);
        ++others;
      }
  EXPECT_EQ(others, 0);
}

TEST_F(ForwardDctTest, OddSizesKeepTheImageSize) {
  for (const int width : odd_widths()) {
    SCOPED_TRACE(width);
    Owned src(image_of(24, width, 13, [](int x, int y, int c) { return std::uint8_t(x * 7 + y * 3 + c * 50); }));
    Owned dct(DIB_ForwardDCT(src.get()));
    ASSERT_TRUE(dct);
    EXPECT_EQ(DIB_Width(dct.get()), width);
    EXPECT_EQ(DIB_Height(dct.get()), 13);
  }
}

TEST_F(ForwardDctTest, DepthsWithoutByteSamplesAreRefused) {
  for (const int depth : {1, 4, 16, 48}) {
    SCOPED_TRACE(depth);
    Owned src(DIB_Allocate(depth, 16, 16));
    EXPECT_EQ(DIB_ForwardDCT(src.get()), 0u);
    EXPECT_EQ(TWAIN_LastErrorCode(), ERR_JPEG_PIXELS);
    core::error_clear();
  }
  EXPECT_EQ(DIB_ForwardDCT(0x4242), 0u);
}

}  // namespace
