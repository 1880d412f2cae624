// Pixel conversions: the row readers for every layout, the threshold and
// both diffusions, palette quantisation, subtractive colour, lossless trips
// through wider formats, and every source/target pair run under the
// sanitizers.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "dib/colour_value.h"
#include "dib/convert.h"
#include "dib_test_support.h"

namespace {

using namespace dib_test;

class ConvertTest : public DibTest {
 protected:
  void SetUp() override {
    DibTest::SetUp();
    dib::convert_defaults_reset();
  }
};

// An image of `depth` whose used bytes of row y are given by `bytes`.
DIB_HANDLE image_from_rows(int type, int depth, int width, const std::vector<std::vector<std::uint8_t>>& rows) {
  const DIB_HANDLE h = DIB_Create(type, width, static_cast<int>(rows.size()), depth);
  for (std::size_t y = 0; y < rows.size(); ++y) DIB_WritePackedRow(h, static_cast<int>(y), rows[y].data());
  return h;
}

// A 24-bit image painted by f(x, y) -> {r, g, b}.
DIB_HANDLE rgb_image(int w, int h, const std::function<std::array<int, 3>(int, int)>& f) {
  const DIB_HANDLE img = DIB_Allocate(24, w, h);
  std::vector<std::uint8_t> row(static_cast<std::size_t>(w) * 3);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const auto c = f(x, y);
      row[3 * x] = static_cast<std::uint8_t>(c[2]);
      row[3 * x + 1] = static_cast<std::uint8_t>(c[1]);
      row[3 * x + 2] = static_cast<std::uint8_t>(c[0]);
    }
    DIB_WritePackedRow(img, y, row.data());
  }
  DIB_SetResolution(img, 300, 300);
  return img;
}

std::vector<std::uint8_t> component_row(DIB_HANDLE h, int row, int code) {
  std::vector<std::uint8_t> out(static_cast<std::size_t>(DIB_Width(h)) + 4);
  EXPECT_EQ(DIB_ReadRowComponent(h, row, out.data(), code), 1);
  out.resize(static_cast<std::size_t>(DIB_Width(h)));
  return out;
}

TEST_F(ConvertTest, GrayReaderForEveryLayout) {
  struct Case {
    const char* what;
    int type, depth;
    std::vector<std::uint8_t> bytes;
    std::vector<std::uint8_t> gray;
    std::function<void(DIB_HANDLE)> adjust = nullptr;
  };
  const Case cases[] = {
      {"1-bit", DIB_PT_BW, 1, {0xA0}, {255, 0, 255}},
      {"1-bit, entry 0 white", DIB_PT_BW, 1, {0xA0}, {0, 255, 0},
       [](DIB_HANDLE h) { DIB_SetColorTableRGB(h, 0, 255, 255, 255); DIB_SetColorTableRGB(h, 1, 0, 0, 0); }},
      {"4-bit ramp", DIB_PT_GRAY, 4, {0x0F, 0x90}, {0, 255, 153}},
      {"4-bit palette", DIB_PT_PALETTE, 4, {0x9F}, {53, 255}},  // red, white
      {"8-bit ramp", DIB_PT_GRAY, 8, {0, 77, 255}, {0, 77, 255}},
      {"8-bit palette", DIB_PT_PALETTE, 8, {249, 250}, {53, 183}},  // red, green
      {"16-bit gray", DIB_PT_GRAY, 16, {0xFF, 0x12, 0x00, 0xAB}, {0x12, 0xAB}},
      {"16-bit 5-5-5", DIB_PT_RGB, 16, {0x00, 0x7C, 0xE0, 0x03, 0x1F, 0x00}, {53, 183, 17}},
      {"24-bit", DIB_PT_RGB, 24, {128, 128, 128, 127, 127, 127, 255, 0, 0}, {128, 127, 17}},
      {"24-bit cmy", DIB_PT_CMY, 24, {0, 255, 255, 255, 255, 255}, {53, 0}},  // red, black
      {"32-bit", DIB_PT_RGB, 32, {0, 0, 255, 99, 0, 255, 0, 7}, {53, 183}},
      {"32-bit cmyk, inks capped", DIB_PT_CMYK, 32, {200, 0, 0, 100, 0, 0, 0, 0}, {122, 255}},
      {"48-bit", DIB_PT_RGB, 48, {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, {53, 255}},
      {"48-bit cmy", DIB_PT_CMY, 48, {0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, {201, 255}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Owned h(image_from_rows(c.type, c.depth, static_cast<int>(c.gray.size()), {c.bytes}));
    if (c.adjust) c.adjust(h.get());
    EXPECT_EQ(component_row(h.get(), 0, DIB_COMP_GRAY), c.gray);
  }
}

TEST_F(ConvertTest, ComponentReaders) {
  Owned rgb(rgb_image(4, 1, [](int x, int) {
    const std::array<int, 3> colours[] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {200, 100, 50}};
    return colours[x];
  }));
  EXPECT_EQ(component_row(rgb.get(), 0, DIB_COMP_RED), (std::vector<std::uint8_t>{255, 0, 0, 200}));
  EXPECT_EQ(component_row(rgb.get(), 0, DIB_COMP_BLUE), (std::vector<std::uint8_t>{0, 0, 255, 50}));
  EXPECT_EQ(component_row(rgb.get(), 0, DIB_COMP_CHROMA), (std::vector<std::uint8_t>{255, 255, 255, 150}));
  EXPECT_EQ(component_row(rgb.get(), 0, DIB_COMP_HUE), (std::vector<std::uint8_t>{0, 85, 170, 14}));
  Owned gray(image_from_rows(DIB_PT_GRAY, 8, 2, {{10, 20}}));
  EXPECT_EQ(component_row(gray.get(), 0, DIB_COMP_GREEN), (std::vector<std::uint8_t>{10, 20}));
  EXPECT_EQ(component_row(gray.get(), 0, DIB_COMP_HUE), (std::vector<std::uint8_t>{0, 0}));
  Owned pal(image_from_rows(DIB_PT_PALETTE, 8, 1, {{249}}));
  EXPECT_EQ(component_row(pal.get(), 0, DIB_COMP_RED), (std::vector<std::uint8_t>{255}));
  std::uint8_t buf[8];
  EXPECT_EQ(DIB_ReadRowComponent(gray.get(), 1, buf, DIB_COMP_GRAY), 0);  // no such row
  EXPECT_EQ(DIB_ReadRowComponent(gray.get(), 0, buf, 9), 0);               // no such component
}

TEST_F(ConvertTest, ThresholdMakesLuminance128White) {
  Owned h(rgb_image(3, 1, [](int x, int) {
    const int v = x == 0 ? 128 : x == 1 ? 127 : 255;
    return std::array<int, 3>{v, v, v};
  }));
  Owned bw(DIB_ConvertToBW(h.get(), 128));
  ASSERT_TRUE(bw);
  EXPECT_EQ(DIB_Depth(bw.get()), 1);
  EXPECT_EQ(packed_rows(bw.get())[0], (std::vector<std::uint8_t>{0xA0}));
  EXPECT_EQ(DIB_XResolutionInt(bw.get()), 300);
  Owned zero(DIB_ConvertToBW(h.get(), 0));  // 0 means 128
  EXPECT_EQ(packed_rows(zero.get())[0], (std::vector<std::uint8_t>{0xA0}));
  EXPECT_EQ(DIB_SetDefaultThreshold(200), 128);
  Owned by_default(DIB_ConvertToFormat(h.get(), DIB_PT_BW, 1, nullptr));
  EXPECT_EQ(packed_rows(by_default.get())[0], (std::vector<std::uint8_t>{0x20}));
  EXPECT_EQ(DIB_SetDefaultThreshold(128), 200);
}

TEST_F(ConvertTest, AutomaticThresholdSplitsTwoLevels) {
  Owned h(rgb_image(10, 10, [](int x, int) {
    const int v = x < 5 ? 30 : 200;
    return std::array<int, 3>{v, v, v};
  }));
  EXPECT_EQ(DIB_AutoThreshold(h.get()), 115);
  DIB_SetDefaultThreshold(250);  // not used by the automatic conversion
  Owned bw(DIB_ConvertToBWAuto(h.get()));
  EXPECT_EQ(packed_rows(bw.get())[4], (std::vector<std::uint8_t>{0x07, 0xC0}));
  DIB_SetDefaultThreshold(128);
}

TEST_F(ConvertTest, DiffusionKeepsTheMeanLevel) {
  for (int level : {0, 1, 40, 128, 200, 254, 255}) {
    SCOPED_TRACE(level);
    Owned gray(image_from_rows(DIB_PT_GRAY, 8, 64, std::vector<std::vector<std::uint8_t>>(64, std::vector<std::uint8_t>(64, static_cast<std::uint8_t>(level)))));
    const DIB_CONVERT_OPTIONS diffuse{DIB_CONVERT_DIFFUSE, 0, 0};
    Owned bw(DIB_ConvertToFormat(gray.get(), DIB_PT_BW, 1, &diffuse));
    ASSERT_TRUE(bw);
    double white = 0;
    for (const auto& row : packed_rows(bw.get())) {
      for (std::uint8_t b : row) white += __builtin_popcount(b);
    }
    EXPECT_NEAR(white / (64 * 64), level / 255.0, 0.02);
    Owned g4(DIB_ConvertToFormat(gray.get(), DIB_PT_GRAY, 4, nullptr));  // gray targets diffuse
    double sum = 0;
    for (const auto& row : packed_rows(g4.get())) {
      for (std::uint8_t b : row) sum += (b >> 4) * 17 + (b & 15) * 17;
    }
    EXPECT_NEAR(sum / (64 * 64), level, 1.5);
  }
}

TEST_F(ConvertTest, FourBitGrayWithoutDiffusionTakesTheNearestLevel) {
  Owned gray(image_from_rows(DIB_PT_GRAY, 8, 6, {{0, 8, 9, 153, 160, 255}}));
  const DIB_CONVERT_OPTIONS plain{0, 0, 0};
  Owned g4(DIB_ConvertToFormat(gray.get(), DIB_PT_GRAY, 4, &plain));
  EXPECT_EQ(packed_rows(g4.get())[0], (std::vector<std::uint8_t>{0x00, 0x19, 0x9F}));
}

TEST_F(ConvertTest, WiderFormatsAndBackAreLossless) {
  struct Case {
    const char* what;
    int type, depth;      // source
    int wide_type, wide_depth;
  };
  const Case cases[] = {
      {"bw via gray", DIB_PT_BW, 1, DIB_PT_GRAY, 8},
      {"bw via rgb", DIB_PT_BW, 1, DIB_PT_RGB, 24},
      {"4-bit gray via 8", DIB_PT_GRAY, 4, DIB_PT_GRAY, 8},
      {"4-bit gray via rgb", DIB_PT_GRAY, 4, DIB_PT_RGB, 24},
      {"8-bit gray via 16", DIB_PT_GRAY, 8, DIB_PT_GRAY, 16},
      {"8-bit gray via rgb", DIB_PT_GRAY, 8, DIB_PT_RGB, 24},
      {"8-bit gray via 48", DIB_PT_GRAY, 8, DIB_PT_RGB, 48},
      {"16-bit gray via 48", DIB_PT_GRAY, 16, DIB_PT_RGB, 48},
      {"24 via 32", DIB_PT_RGB, 24, DIB_PT_RGB, 32},
      {"24 via 48", DIB_PT_RGB, 24, DIB_PT_RGB, 48},
      {"24 via cmy", DIB_PT_RGB, 24, DIB_PT_CMY, 24},
      {"24 via cmyk", DIB_PT_RGB, 24, DIB_PT_CMYK, 32},
      {"48 via cmy 48", DIB_PT_RGB, 48, DIB_PT_CMY, 48},
      {"4-bit palette via 8-bit palette", DIB_PT_PALETTE, 4, DIB_PT_PALETTE, 8},
  };
  for (const Case& c : cases) {
    for (int width : odd_widths()) {
      SCOPED_TRACE(std::string(c.what) + ", width " + std::to_string(width));
      Owned h(DIB_Create(c.type, width, 3, c.depth));
      fill_pattern(h.get());
      DIB_SetResolution(h.get(), 150, 150);
      Owned wide(DIB_ConvertToFormat(h.get(), c.wide_type, c.wide_depth, nullptr));
      ASSERT_TRUE(wide);
      EXPECT_EQ(DIB_PixelType(wide.get()), c.wide_type);
      Owned back(DIB_ConvertToFormat(wide.get(), c.type, c.depth, nullptr));
      ASSERT_TRUE(back);
      EXPECT_EQ(rgb_pixels(back.get()), rgb_pixels(h.get()));
      if (c.type != DIB_PT_PALETTE) {
        EXPECT_EQ(packed_rows(back.get()), packed_rows(h.get()));
      }
      EXPECT_EQ(DIB_XResolutionInt(back.get()), 150);
    }
  }
}

TEST_F(ConvertTest, SubtractiveBytesWorkedOutByHand) {
  Owned h(rgb_image(3, 1, [](int x, int) {
    const std::array<int, 3> colours[] = {{255, 0, 0}, {100, 100, 100}, {10, 20, 30}};
    return colours[x];
  }));
  Owned cmyk(DIB_ConvertToFormat(h.get(), DIB_PT_CMYK, 32, nullptr));
  EXPECT_EQ(DIB_PixelType(cmyk.get()), DIB_PT_CMYK);
  EXPECT_EQ(packed_rows(cmyk.get())[0],
            (std::vector<std::uint8_t>{0, 255, 255, 0, 0, 0, 0, 155, 20, 10, 0, 225}));
  Owned cmy(DIB_ConvertToFormat(h.get(), DIB_PT_CMY, 24, nullptr));
  EXPECT_EQ(packed_rows(cmy.get())[0], (std::vector<std::uint8_t>{0, 255, 255, 155, 155, 155, 245, 235, 225}));
}

TEST_F(ConvertTest, PureColoursSurviveAPalette) {
  Owned h(rgb_image(4, 4, [](int x, int y) {
    const std::array<int, 3> colours[] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
    return colours[(x + y) % 4];
  }));
  for (std::uint32_t flags : {0u, static_cast<std::uint32_t>(DIB_CONVERT_DIFFUSE), static_cast<std::uint32_t>(DIB_CONVERT_DIFFUSE2)}) {
    SCOPED_TRACE(flags);
    const DIB_CONVERT_OPTIONS o{flags, 0, 0};
    Owned p(DIB_ConvertToFormat(h.get(), DIB_PT_PALETTE, 8, &o));
    ASSERT_TRUE(p);
    EXPECT_EQ(DIB_PixelType(p.get()), DIB_PT_PALETTE);
    EXPECT_EQ(rgb_pixels(p.get()), rgb_pixels(h.get()));
    EXPECT_LE(DIB_ColorCount(p.get()), 256);
  }
  Owned p4(DIB_ConvertToFormat(h.get(), DIB_PT_PALETTE, 4, nullptr));
  EXPECT_EQ(DIB_ColorCount(p4.get()), 16);
  EXPECT_EQ(rgb_pixels(p4.get()), rgb_pixels(h.get()));
}

TEST_F(ConvertTest, PaletteOfAFewColoursIsClose) {
  // 40 colours, none of them fixed entries.
  Owned h(rgb_image(40, 8, [](int x, int) { return std::array<int, 3>{x * 6 + 3, 250 - x * 5, (x * 37) % 256}; }));
  const DIB_CONVERT_OPTIONS plain{0, 0, 0};
  Owned p(DIB_ConvertToFormat(h.get(), DIB_PT_PALETTE, 8, &plain));
  ASSERT_TRUE(p);
  EXPECT_EQ(DIB_ColorCount(p.get()), 15 + 40);  // the table is cut to the colours found
  EXPECT_EQ(DIB_AlmostEqual(p.get(), h.get(), 0), 0);  // types differ: not comparable
  Owned back(DIB_ConvertToFormat(p.get(), DIB_PT_RGB, 24, nullptr));
  EXPECT_EQ(DIB_AlmostEqual(back.get(), h.get(), 6), 1);
}

TEST_F(ConvertTest, OneShotColourCount) {
  Owned h(rgb_image(64, 64, [](int x, int y) { return std::array<int, 3>{x * 4, y * 4, (x + y) * 2}; }));
  DIB_SetNextColorCount(32);
  Owned small(DIB_ConvertToFormat(h.get(), DIB_PT_PALETTE, 8, nullptr));
  EXPECT_LE(DIB_ColorCount(small.get()), 32);
  EXPECT_GT(DIB_ColorCount(small.get()), 15);
  Owned full(DIB_ConvertToFormat(h.get(), DIB_PT_PALETTE, 8, nullptr));  // used up
  EXPECT_GT(DIB_ColorCount(full.get()), 32);
  DIB_SetNextColorCount(20);
  EXPECT_EQ(DIB_ConvertToFormat(0, DIB_PT_PALETTE, 8, nullptr), 0u);  // refused, still used up
  Owned again(DIB_ConvertToFormat(h.get(), DIB_PT_PALETTE, 8, nullptr));
  EXPECT_GT(DIB_ColorCount(again.get()), 20);
}

TEST_F(ConvertTest, EveryPairConverts) {
  struct Target {
    int type, depth;
  };
  const Target targets[] = {{DIB_PT_BW, 1},      {DIB_PT_GRAY, 4},    {DIB_PT_GRAY, 8},    {DIB_PT_GRAY, 16},
                            {DIB_PT_PALETTE, 4}, {DIB_PT_PALETTE, 8}, {DIB_PT_RGB, 16},    {DIB_PT_RGB, 24},
                            {DIB_PT_RGB, 32},    {DIB_PT_RGB, 48},    {DIB_PT_CMY, 24},    {DIB_PT_CMY, 48},
                            {DIB_PT_CMYK, 32},   {DIB_PT_GRAY, 0},    {DIB_PT_RGB, 12},    {DIB_PT_BW, 8}};
  std::vector<Target> sources(std::begin(targets), std::end(targets) - 3);
  const std::uint32_t flag_sets[] = {0, DIB_CONVERT_DIFFUSE, DIB_CONVERT_DIFFUSE2, DIB_CONVERT_AUTO_THRESHOLD};
  for (const Target& s : sources) {
    for (int width : {1, 13}) {
      Owned src(DIB_Create(s.type, width, 5, s.depth));
      fill_pattern(src.get(), 3);
      for (const Target& t : targets) {
        for (std::uint32_t flags : flag_sets) {
          SCOPED_TRACE(label(s.depth, width, 5) + " type " + std::to_string(s.type) + " -> type " +
                       std::to_string(t.type) + " depth " + std::to_string(t.depth) + " flags " + std::to_string(flags));
          const DIB_CONVERT_OPTIONS o{flags, 0, 0};
          Owned out(DIB_ConvertToFormat(src.get(), t.type, t.depth, &o));
          ASSERT_TRUE(out);
          EXPECT_EQ(DIB_Width(out.get()), width);
          EXPECT_EQ(DIB_Height(out.get()), 5);
          EXPECT_EQ(DIB_IsValid(out.get()), 1);
        }
      }
    }
  }
}

TEST_F(ConvertTest, BadInputIsRefused) {
  TWAIN_ClearError();
  Owned compressed(DIB_Allocate(24, 4, 4));
  DIB_SetCompressionCode(compressed.get(), 6);
  EXPECT_EQ(DIB_ConvertToFormat(compressed.get(), DIB_PT_GRAY, 8, nullptr), 0u);
  EXPECT_EQ(TWAIN_LastErrorCode(), ERR_FAILURE);
  EXPECT_EQ(error_text(), "Failure: DIB_ConvertToFormat");
  TWAIN_ClearError();
  Owned odd(DIB_Allocate(24, 2, 2));
  auto* p = static_cast<std::uint8_t*>(platform::mem_lock(odd.get()));
  p[14] = 64;  // a depth no reader knows
  platform::mem_unlock(odd.get());
  EXPECT_EQ(DIB_ConvertToFormat(odd.get(), DIB_PT_GRAY, 8, nullptr), 0u);
  EXPECT_EQ(TWAIN_LastErrorCode(), ERR_FAILURE);
}

}  // namespace

namespace {

using namespace dib_test;

// The stored value of a colour, read back through the row readers, shows
// that colour (or the nearest the layout has).
TEST_F(ConvertTest, ColourToPixelValueReadsBackAsTheColour) {
  struct Case {
    int type, depth;
    int r, g, b;
    std::vector<std::uint8_t> bytes;
    std::array<int, 3> shown;
  };
  const Case cases[] = {
      {DIB_PT_BW, 1, 200, 200, 200, {0xFF}, {255, 255, 255}},
      {DIB_PT_BW, 1, 100, 100, 100, {0x00}, {0, 0, 0}},
      {DIB_PT_GRAY, 4, 30, 40, 40, {0x22}, {34, 34, 34}},
      {DIB_PT_PALETTE, 8, 250, 5, 5, {249}, {255, 0, 0}},
      {DIB_PT_GRAY, 16, 128, 128, 128, {0x80, 0x80}, {128, 128, 128}},
      {DIB_PT_RGB, 24, 10, 20, 30, {30, 20, 10}, {10, 20, 30}},
      {DIB_PT_RGB, 32, 10, 20, 30, {30, 20, 10, 0}, {10, 20, 30}},
      {DIB_PT_RGB, 48, 1, 2, 3, {3, 3, 2, 2, 1, 1}, {1, 2, 3}},
      {DIB_PT_CMY, 24, 10, 20, 30, {245, 235, 225}, {10, 20, 30}},
      {DIB_PT_CMYK, 32, 100, 100, 100, {0, 0, 0, 155}, {100, 100, 100}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(label(c.depth, 1, 1) + " type " + std::to_string(c.type));
    Owned h(DIB_Create(c.type, 1, 1, c.depth));
    dib::Locked lock(h.get());
    const dib::PixelValue p = dib::colour_to_pixel(lock.view(), c.r, c.g, c.b);
    EXPECT_EQ(std::vector<std::uint8_t>(p.bytes.begin(), p.bytes.begin() + p.size), c.bytes);
    std::memcpy(lock->row(0), p.bytes.data(), static_cast<std::size_t>(p.size));
    const auto shown = rgb_pixels(h.get());
    EXPECT_EQ((std::array<int, 3>{shown[2], shown[1], shown[0]}), c.shown);
  }
}

}  // namespace
