// Automatic contrast on histograms whose smoothing, peaks and tables are
// worked out by hand; level tables across depths (1-bit colour tables,
// nibbles, 16-bit interpolation, colour by luminance); brightness, contrast
// and posterise tables; the edge-strength image of uniform pages and steps.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>

#include "dib/contrast.h"
#include "dib_test_support.h"
#include "log/trace.h"
#include "orivane/dib_analysis.h"
#include "orivane/trace_log.h"

namespace {

using namespace dib_test;

// Levels whose histogram holds `per_level` pixels at each of first..last.
struct Block {
  int first, last, per_level;
};
std::vector<std::uint8_t> levels_of(std::initializer_list<Block> blocks) {
  std::vector<std::uint8_t> levels;
  for (const Block& b : blocks) {
    for (int l = b.first; l <= b.last; ++l) levels.insert(levels.end(), b.per_level, static_cast<std::uint8_t>(l));
  }
  return levels;
}

// A page of `depth` bits and `width` showing `levels` as grays: every byte of
// a pixel the level (16-bit samples l x 257), the fourth byte of 32-bit
// pixels 0x5A.
DIB_HANDLE page_of(int depth, int width, const std::vector<std::uint8_t>& levels) {
  const int height = static_cast<int>(levels.size()) / width, bytes = depth / 8;
  const DIB_HANDLE h = DIB_Allocate(depth, width, height);
  std::vector<std::uint8_t> row(static_cast<std::size_t>(DIB_RowBytes(h)));
  for (int y = 0; y < height; ++y) {
    for (int k = 0; k < width * bytes; ++k) {
      row[k] = (depth == 32 && k % 4 == 3) ? 0x5A : levels[static_cast<std::size_t>(y) * width + k / bytes];
    }
    DIB_WritePackedRow(h, y, row.data());
  }
  return h;
}

dib::LevelTable table_from(int (*f)(int)) {
  dib::LevelTable t;
  for (int i = 0; i < 256; ++i) t[i] = static_cast<std::uint8_t>(f(i));
  return t;
}
const dib::LevelTable kInverse = table_from([](int i) { return 255 - i; });

class ContrastTest : public DibTest {};

// Smoothing keeps a block's flat top, one level in from each end, with
// shoulders of 2/3 and 1/3 outside it; a peak runs from its centre to the
// first level past the shoulders.
TEST_F(ContrastTest, HandWorkedHistograms) {
  struct Case {
    const char* name;
    std::vector<std::uint8_t> levels;
    std::vector<const char*> trace;
    std::vector<std::pair<int, int>> table;  // level, mapped
  };
  const Case cases[] = {
      // Ink 30..49, paper 200..219; threshold 125. Black up to the ink's
      // centre; white from 203, where the paper counted up from
      // (125 + 209) / 2 = 167 first holds the ink's 20000 pixels.
      {"text page",
       levels_of({{30, 49, 1000}, {200, 219, 5000}}),
       {"peak[0]: from 39 to 51 center 39 height 1000 vol=10999\n",
        "peak[1]: from 209 to 221 center 209 height 5000 vol=54999\n", "dominant dark peak vol=10999\n",
        "dominant lite peak vol=54999\n", "net peaks: 2\n"},
       {{0, 0}, {39, 0}, {40, 1}, {49, 15}, {121, 127}, {202, 253}, {203, 255}}},
      // One light peak (centre 189): black from level 0, white from
      // (128 + 189) / 2 = 158. (Clipping 1 % would put white at 199.)
      {"light photo", levels_of({{180, 199, 1000}}), {"no dominant dark peak\n", "net peaks: 1\n"},
       {{0, 0}, {1, 1}, {100, 161}, {157, 253}, {158, 255}}},
      // A single dark peak fails: clip 1 % of its 20000 pixels (black at
      // 50); the empty light side keeps white at 255.
      {"dark only", levels_of({{50, 69, 1000}}),
       {"peak[0]: from 59 to 71 center 59 height 1000 vol=10999\n", "no dominant lite peak\n"},
       {{49, 0}, {50, 0}, {69, 23}, {255, 255}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    dib::Histogram h{};
    for (const std::uint8_t l : c.levels) ++h[l];
    LogResetForTests();
    LogAttach();
    TWAIN_SetLogFolder(testing::TempDir().c_str());
    TWAIN_SetLogName("contrast_trace.log");
    TWAIN_LogFile(2);
    bool changes = false;
    const std::optional<dib::LevelTable> table = dib::auto_contrast_table(h, &changes);
    TWAIN_LogFile(0);
    const std::string log = read_file(TWAIN_LogFileName());
    LogResetForTests();
    LogAttach();
    ASSERT_TRUE(table.has_value());
    EXPECT_TRUE(changes);
    for (const char* line : c.trace) EXPECT_NE(log.find(line), std::string::npos) << line << log;
    for (const auto& [level, mapped] : c.table) EXPECT_EQ((*table)[level], mapped) << level;
  }
}

TEST_F(ContrastTest, PagesAcrossDepths) {
  const std::vector<std::uint8_t> text = levels_of({{30, 49, 1000}, {200, 219, 5000}});
  dib::Histogram h{};
  for (const std::uint8_t l : text) ++h[l];
  const dib::LevelTable table = *dib::auto_contrast_table(h, nullptr);
  std::vector<std::uint8_t> stretched(text.size());
  std::transform(text.begin(), text.end(), stretched.begin(), [&](std::uint8_t l) { return table[l]; });
  for (const int depth : {8, 16, 24, 32, 48}) {
    for (const bool top_down : {false, true}) {
      SCOPED_TRACE(std::to_string(depth) + (top_down ? " bits, top-down" : " bits"));
      Owned page(page_of(depth, 400, text)), expected(page_of(depth, 400, stretched));
      if (top_down) make_top_down(page.get()), make_top_down(expected.get());
      ASSERT_EQ(DIB_AutoContrast(page.get()), 1);
      EXPECT_EQ(block_bytes(page.get()), block_bytes(expected.get()));
    }
  }
  // Pages of one gray, a 1-bit document: nothing to stretch.
  std::vector<Owned> kept;
  for (const int level : {0, 77, 128, 200, 255}) {
    kept.emplace_back(page_of(8, 50, std::vector<std::uint8_t>(2000, static_cast<std::uint8_t>(level))));
    kept.emplace_back(page_of(24, 50, std::vector<std::uint8_t>(2000, static_cast<std::uint8_t>(level))));
  }
  kept.emplace_back(make_image(1, 203, 50));
  for (const Owned& page : kept) {
    const auto before = block_bytes(page.get());
    EXPECT_EQ(DIB_AutoContrast(page.get()), 1);
    EXPECT_EQ(block_bytes(page.get()), before) << DIB_Depth(page.get()) << " bits";
  }
  EXPECT_EQ(TWAIN_LastErrorCode(), 0);
}

TEST_F(ContrastTest, FailuresRecordTheirError) {
  Owned empty(DIB_Allocate(8, 0, 0)), stream(make_image(8, 20, 20));
  DIB_SetCompressionCode(stream.get(), 7);  // rows that are a compressed stream
  for (const DIB_HANDLE h : {empty.get(), stream.get()}) {
    TWAIN_ClearError();
    EXPECT_EQ(DIB_AutoContrast(h), 0);
    EXPECT_EQ(TWAIN_LastErrorCode(), ERR_FAILURE);
    EXPECT_NE(error_text().find("DIB_AutoContrast"), std::string::npos) << error_text();
  }
  // A stale handle is a bad image, and that first error stays.
  TWAIN_ClearError();
  const DIB_HANDLE stale = DIB_Allocate(8, 4, 4);
  DIB_Free(stale);
  EXPECT_EQ(DIB_AutoContrast(stale), 0);
  EXPECT_EQ(DIB_AutoContrast(empty.get()), 0);
  EXPECT_EQ(TWAIN_LastErrorCode(), ERR_BAD_DIB);
}

// ---- Level tables ----

class LevelTest : public DibTest {};

TEST_F(LevelTest, OneBitPagesKeepTheirColourTable) {
  // Every pixel must afterwards show what the table makes of what it showed,
  // by inverting or setting its bits, whichever entry shows black.
  const dib::LevelTable tables[] = {table_from([](int i) { return i; }), kInverse, table_from([](int) { return 0; }),
                                    table_from([](int) { return 255; })};
  for (const bool entry0_white : {false, true}) {
    for (const dib::LevelTable& t : tables) {
      SCOPED_TRACE(std::to_string(t[0]) + ".." + std::to_string(t[255]) + (entry0_white ? ", entry 0 white" : ""));
      Owned page(make_image(1, 37, 5));
      DIB_SetColorTableRGB(page.get(), 0, entry0_white ? 255 : 0, entry0_white ? 255 : 0, entry0_white ? 255 : 0);
      DIB_SetColorTableRGB(page.get(), 1, entry0_white ? 0 : 255, entry0_white ? 0 : 255, entry0_white ? 0 : 255);
      std::vector<std::uint8_t> before(41), after(41);
      std::vector<std::vector<std::uint8_t>> shown;
      for (int y = 0; y < 5; ++y) DIB_ReadRowComponent(page.get(), y, before.data(), 0), shown.push_back(before);
      ASSERT_EQ(DIB_ApplyLevelTable(page.get(), t.data()), 1);
      EXPECT_EQ(DIB_ColorTableG(page.get(), 0), entry0_white ? 255 : 0);
      for (int y = 0; y < 5; ++y) {
        DIB_ReadRowComponent(page.get(), y, after.data(), 0);
        for (int x = 0; x < 37; ++x) ASSERT_EQ(after[x], t[shown[y][x]]) << x << "," << y;
      }
      EXPECT_EQ(packed_rows(page.get())[2][4] & 0x07, 0);  // bits past the width stay clear
    }
  }
}

TEST_F(LevelTest, GrayAndColourDepths) {
  // 8 bits directly; 4 bits: nibble n takes (t[17 n] + 8) / 17.
  Owned g8(page_of(8, 256, levels_of({{0, 255, 1}})));
  ASSERT_EQ(DIB_ApplyLevelTable(g8.get(), kInverse.data()), 1);
  for (const int x : {0, 1, 100, 255}) EXPECT_EQ(packed_rows(g8.get())[0][x], 255 - x);
  Owned g4(DIB_Allocate(4, 3, 1));
  const std::uint8_t nibbles[2] = {0xF8, 0x10};
  DIB_WritePackedRow(g4.get(), 0, nibbles);
  ASSERT_EQ(DIB_ApplyLevelTable(g4.get(), table_from([](int i) { return i / 2; }).data()), 1);
  EXPECT_EQ(packed_rows(g4.get())[0], (std::vector<std::uint8_t>{0x74, 0x00}));  // 255 -> 127 -> 7, 136 -> 68 -> 4
  ASSERT_EQ(DIB_ApplyLevelTable(g4.get(), kInverse.data()), 1);
  EXPECT_EQ(packed_rows(g4.get())[0], (std::vector<std::uint8_t>{0x8B, 0xF0}));  // the padding nibble stays 0
  // 16 bits: interpolated; the inverse maps v to 65535 - v.
  Owned g16(DIB_Allocate(16, 5, 1));
  const std::uint16_t wide[5] = {0, 1, 12345, 40000, 65535};
  std::uint16_t out[5];
  DIB_WritePackedRow(g16.get(), 0, wide);
  ASSERT_EQ(DIB_ApplyLevelTable(g16.get(), kInverse.data()), 1);
  DIB_ReadPackedRow(g16.get(), 0, out);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(out[i], 65535 - wide[i]);
  // Colour by luminance. (R, G, B) = (200, 100, 50): Y 124, U 92, V 195; the
  // inverse gives Y 131 and back R = 131 + 1.14 x 67, G = 131 + 0.395 x 36 -
  // 0.581 x 67, B = 131 - 2.032 x 36, rounded. Grays map as levels; the
  // fourth byte of 32-bit pixels is kept.
  for (const int depth : {24, 32}) {
    Owned page(DIB_Allocate(depth, 2, 1));
    const std::vector<std::uint8_t> px = depth == 24 ? std::vector<std::uint8_t>{50, 100, 200, 70, 70, 70}
                                                     : std::vector<std::uint8_t>{50, 100, 200, 0x33, 70, 70, 70, 0x44};
    DIB_WritePackedRow(page.get(), 0, px.data());
    const std::vector<std::uint8_t> want = depth == 24 ? std::vector<std::uint8_t>{58, 106, 207, 185, 185, 185}
                                                       : std::vector<std::uint8_t>{58, 106, 207, 0x33, 185, 185, 185, 0x44};
    ASSERT_EQ(DIB_ApplyLevelTable(page.get(), kInverse.data()), 1);
    EXPECT_EQ(packed_rows(page.get())[0], want);
  }
  Owned deep(DIB_Allocate(48, 1, 1));
  const std::uint16_t gray48[3] = {1000, 1000, 1000};
  std::uint16_t out48[3];
  DIB_WritePackedRow(deep.get(), 0, gray48);
  ASSERT_EQ(DIB_ApplyLevelTable(deep.get(), kInverse.data()), 1);
  DIB_ReadPackedRow(deep.get(), 0, out48);
  EXPECT_EQ(std::vector<std::uint16_t>(out48, out48 + 3), std::vector<std::uint16_t>(3, 64535));
}

TEST_F(LevelTest, BrightnessContrastAndPosterizeTables) {
  struct Case {
    dib::LevelTable table;
    std::vector<std::pair<int, int>> points;  // level, mapped
  };
  // int(128^(c/1000) (i - 127.5) + 0.5 + b x 255 / 1000 + 127.5), clamped;
  // posterise: (i / ((n + 255) / n)) x 255 / (n - 1).
  const Case cases[] = {
      {dib::brightness_contrast_table(0, 0), {{0, 0}, {77, 77}, {255, 255}}},
      {dib::brightness_contrast_table(100, 0), {{0, 26}, {200, 226}, {229, 255}}},
      {dib::brightness_contrast_table(-1000, 0), {{0, 0}, {255, 0}}},
      {dib::brightness_contrast_table(1000, 0), {{0, 255}}},
      {dib::brightness_contrast_table(0, 1000), {{126, 0}, {127, 64}, {128, 192}, {129, 255}}},
      {dib::brightness_contrast_table(0, -1000), {{0, 127}, {255, 128}}},
      {dib::brightness_contrast_table(0, 500), {{127, 122}, {128, 133}}},
      {dib::posterize_table(2), {{127, 0}, {128, 255}}},
      {dib::posterize_table(3), {{85, 0}, {86, 127}, {171, 127}, {172, 255}}},
      {dib::posterize_table(4), {{63, 0}, {64, 85}, {128, 170}, {192, 255}}},
      {dib::posterize_table(256), {{1, 1}, {254, 254}}},
      {dib::posterize_table(100000), {{1, 1}, {200, 200}}},  // more levels than a byte holds
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    for (const auto& [level, mapped] : cases[i].points) EXPECT_EQ(cases[i].table[level], mapped) << "case " << i << " at " << level;
  }
  Owned page(DIB_Allocate(24, 1, 1));
  const std::uint8_t px[3] = {40, 130, 250};
  DIB_WritePackedRow(page.get(), 0, px);
  ASSERT_EQ(DIB_Posterize(page.get(), 2), 1);  // each sample on its own
  EXPECT_EQ(packed_rows(page.get())[0], (std::vector<std::uint8_t>{0, 255, 255}));
  Owned gray(page_of(8, 3, {40, 130, 250}));
  ASSERT_EQ(DIB_BrightnessContrast(gray.get(), 100, 0), 1);
  EXPECT_EQ(packed_rows(gray.get())[0], (std::vector<std::uint8_t>{66, 156, 255}));
  for (const auto& [b, c] : {std::pair{1001, 0}, std::pair{0, INT32_MIN}}) EXPECT_EQ(DIB_BrightnessContrast(page.get(), b, c), 0);
  EXPECT_EQ(DIB_Posterize(page.get(), 1), 0);
  EXPECT_EQ(TWAIN_LastErrorCode(), ERR_BAD_PARAMETER);
}

// ---- Edge strength ----

class EdgeTest : public DibTest {};

TEST_F(EdgeTest, UniformPagesAreZero) {
  for (const DepthCase& dc : all_depths()) {
    for (int mode = 0; mode < 4; ++mode) {
      SCOPED_TRACE(label(dc.depth, 9, 6) + " mode " + std::to_string(mode));
      Owned page(DIB_Allocate(dc.depth, 9, 6));
      const std::vector<std::uint8_t> row(static_cast<std::size_t>(DIB_RowBytes(page.get())), dc.depth < 8 ? 0xFF : 0x9C);
      for (int y = 0; y < 6; ++y) DIB_WritePackedRow(page.get(), y, row.data());
      DIB_SetResolution(page.get(), 150, 200);
      Owned e(DIB_EdgeStrength(page.get(), mode, 0));
      ASSERT_TRUE(e);
      EXPECT_EQ(DIB_PixelType(e.get()), DIB_PT_GRAY);
      EXPECT_EQ(DIB_Depth(e.get()), 8);
      EXPECT_EQ(DIB_XResolutionInt(e.get()) * 1000 + DIB_YResolutionInt(e.get()), 150200);
      EXPECT_EQ(packed_rows(e.get()), std::vector<std::vector<std::uint8_t>>(6, std::vector<std::uint8_t>(9, 0)));
    }
  }
}

TEST_F(EdgeTest, Steps) {
  // Black columns 0..4, white 5..9: columns 4 and 5 see the whole step,
  // gx = (2 x 255 + 255 + 255) / 4 = 255; gy is 0. Mode 3 takes 3/4 of gx.
  std::vector<std::uint8_t> levels(60);
  for (std::size_t i = 0; i < levels.size(); ++i) levels[i] = i % 10 < 5 ? 0 : 255;
  Owned step(page_of(8, 10, levels));
  const std::vector<std::uint8_t> at_step(10, 0), full = {0, 0, 0, 0, 255, 255, 0, 0, 0, 0};
  const std::pair<int, const std::vector<std::uint8_t>*> flat_modes[] = {{0, &at_step}, {1, &full}, {2, &full}};
  for (const auto& [mode, row] : flat_modes) {
    Owned e(DIB_EdgeStrength(step.get(), mode, 0));
    EXPECT_EQ(packed_rows(e.get()), std::vector<std::vector<std::uint8_t>>(6, *row)) << "mode " << mode;
  }
  // Mode 3 from row 1 on: inner pixels add 1/8 of the strongest of the three
  // above, then, left to right, 1/8 of the stronger side neighbour.
  Owned spread(DIB_EdgeStrength(step.get(), 3, 0));
  const auto rows = packed_rows(spread.get());
  EXPECT_EQ(rows[0], (std::vector<std::uint8_t>{0, 0, 0, 0, 191, 191, 0, 0, 0, 0}));
  EXPECT_EQ(rows[1], (std::vector<std::uint8_t>{0, 0, 2, 49, 240, 244, 53, 6, 0, 0}));
  EXPECT_EQ(rows[5], rows[0]);  // the last row is not inner
  // The threshold keeps only the step (and spreads from what it kept).
  Owned cut(DIB_EdgeStrength(step.get(), 3, 100));
  for (const auto& r : packed_rows(cut.get())) {
    for (int x = 0; x < 10; ++x) EXPECT_EQ(r[x] != 0, x == 4 || x == 5) << x;
  }
  // White to black: gx is negative, 0 in mode 1 and 255 in mode 2.
  ASSERT_EQ(DIB_Negate(step.get()), 1);
  Owned m1(DIB_EdgeStrength(step.get(), 1, 0)), m2(DIB_EdgeStrength(step.get(), 2, 0));
  EXPECT_EQ(packed_rows(m1.get())[3][4], 0);
  EXPECT_EQ(packed_rows(m2.get())[3][4], 255);
  // A horizontal step: white rows 0..2, black 3..5; gy = 255 at rows 2 and 3.
  Owned rows_step(page_of(8, 8, levels_of({{255, 255, 24}, {0, 0, 24}})));
  Owned gy(DIB_EdgeStrength(rows_step.get(), 0, 0));
  for (int y = 0; y < 6; ++y) EXPECT_EQ(packed_rows(gy.get())[y][3], (y == 2 || y == 3) ? 255 : 0) << y;
  EXPECT_EQ(DIB_EdgeStrength(step.get(), 4, 0), DIB_HANDLE{0});
  EXPECT_EQ(TWAIN_LastErrorCode(), ERR_BAD_PARAMETER);
}

}  // namespace
