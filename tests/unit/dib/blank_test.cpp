// Blank-page judgement: dark fractions worked out by hand across depths and
// row orders, the outer margin, 1-bit colour tables, the counting shortcuts,
// the trace and the error-free failures, and the decision on scanner pages
// against a page holding one line of text.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <map>

#include "dib/histogram.h"
#include "dib_test_support.h"
#include "log/trace.h"
#include "orivane/dib_analysis.h"
#include "orivane/trace_log.h"
#include "sources/virtual/pages.h"

namespace {

using namespace dib_test;
using Rect = std::array<int, 4>;  // x0, y0, x1, y1

// A white page (every byte 0xFF) with black rectangles (pixels 0: black with
// the default tables, bit value 0 at 1 bit).
DIB_HANDLE page_with(int depth, int width, int height, std::initializer_list<Rect> black) {
  const DIB_HANDLE h = DIB_Allocate(depth, width, height);
  std::vector<std::uint8_t> row(static_cast<std::size_t>(DIB_RowBytes(h)));
  for (int y = 0; y < height; ++y) {
    std::fill(row.begin(), row.end(), 0xFF);
    for (const Rect& r : black) {
      for (int x = r[0]; y >= r[1] && y < r[3] && x < r[2]; ++x) {
        if (depth < 8) {
          row[x * depth / 8] &= static_cast<std::uint8_t>(~(((1 << depth) - 1) << (8 - depth - x * depth % 8)));
        } else {
          std::fill_n(row.begin() + x * depth / 8, depth / 8, 0);
        }
      }
    }
    DIB_WritePackedRow(h, y, row.data());
  }
  return h;
}

class BlankTest : public DibTest {};

TEST_F(BlankTest, CentredSquareAcrossDepthsAndRowOrders) {
  // Rows and columns 50..949 are measured; below 8 bits the columns widen to
  // whole bytes, 48..951.
  for (const DepthCase& dc : all_depths()) {
    for (const bool top_down : {false, true}) {
      SCOPED_TRACE(label(dc.depth, 1000, 1000) + (top_down ? " top-down" : ""));
      Owned page(page_with(dc.depth, 1000, 1000, {{490, 490, 510, 510}}));
      if (top_down) make_top_down(page.get());
      EXPECT_DOUBLE_EQ(DIB_DarkFraction(page.get()), 400 / (dc.depth < 8 ? 904.0 * 900 : 900.0 * 900));
      EXPECT_EQ(DIB_IsBlank(page.get(), 0.001), 1);
      EXPECT_EQ(DIB_IsBlank(page.get(), 0.0001), 0);
    }
  }
}

TEST_F(BlankTest, HandWorkedFractions) {
  struct Case {
    const char* name;
    Owned page;
    double fraction;
  };
  const auto frame = [](int depth, int t) {
    return page_with(depth, 1000, 1000, {{0, 0, 1000, t}, {0, 1000 - t, 1000, 1000}, {0, 0, t, 1000}, {1000 - t, 0, 1000, 1000}});
  };
  Owned inverted(page_with(1, 1000, 1000, {{490, 490, 510, 510}}));
  DIB_SetColorTableRGB(inverted.get(), 0, 255, 255, 255);
  DIB_SetColorTableRGB(inverted.get(), 1, 0, 0, 0);
  Case cases[] = {
      // A frame in the outer 5 % is left out; one pixel deeper, its inner
      // ring (900 x 900 - 898 x 898) counts.
      {"frame 50", Owned(frame(8, 50)), 0},
      {"frame 51", Owned(frame(8, 51)), 3596.0 / 810000},
      {"frame 51, 24 bits", Owned(frame(24, 51)), 3596.0 / 810000},
      {"white: the threshold stays 128, nothing below it", Owned(page_with(8, 200, 300, {})), 0},
      {"black", Owned(DIB_Allocate(8, 200, 300)), 1},
      {"1x1: no margin", Owned(DIB_Allocate(24, 1, 1)), 1},
      // Set bits show black: everything but the square.
      {"1 bit, entry 0 white", std::move(inverted), (904.0 * 900 - 400) / (904.0 * 900)},
      // Columns 1..28 widen to 0..31, of which 0..29 exist; rows 2..37.
      {"1 bit, 30 wide", Owned(DIB_Allocate(1, 30, 40)), (30.0 * 36) / (32.0 * 36)},
  };
  for (const Case& c : cases) EXPECT_DOUBLE_EQ(DIB_DarkFraction(c.page.get()), c.fraction) << c.name;
}

TEST_F(BlankTest, CountingShortcutsMatchPixelByPixel) {
  // Runs of one level, bit counts and the stored bytes of identity-gray rows
  // must count as reading every pixel does.
  for (const DepthCase& dc : all_depths()) {
    for (const int width : {1, 13, 67, 200}) {
      SCOPED_TRACE(label(dc.depth, width, 9));
      Owned page(make_image(dc.depth, width, 9));
      const std::vector<std::uint8_t> black(static_cast<std::size_t>(DIB_RowBytes(page.get())), 0);
      for (int y = 3; y < 6; ++y) DIB_WritePackedRow(page.get(), y, black.data());
      const dib::Region region{width / 7, 1, width - width / 5, 8};
      std::vector<std::uint8_t> row(static_cast<std::size_t>(width) + 4);
      dib::Histogram expected{};
      for (int y = region.top; y < region.bottom; ++y) {
        DIB_ReadRowComponent(page.get(), y, row.data(), 0);
        for (int x = region.left; x < region.right; ++x) ++expected[row[x]];
      }
      std::uint32_t hist[256];
      const std::int32_t r[4] = {region.left, region.top, region.right, region.bottom};
      ASSERT_EQ(DIB_GrayHistogram(page.get(), 0, hist, r), 1);
      EXPECT_TRUE(std::equal(expected.begin(), expected.end(), hist));
    }
  }
}

TEST_F(BlankTest, TraceAndFailures) {
  Owned band(page_with(8, 1000, 1000, {{0, 100, 1000, 145}}));  // 900 x 45 of 900 x 900
  Owned empty(DIB_Allocate(8, 0, 0));
  const DIB_HANDLE stale = DIB_Allocate(8, 10, 10);
  DIB_Free(stale);
  LogResetForTests();
  LogAttach();
  TWAIN_SetLogFolder(testing::TempDir().c_str());
  TWAIN_SetLogName("blank_trace.log");
  TWAIN_LogFile(2);
  EXPECT_EQ(DIB_IsBlank(band.get(), 0.1), 1);
  EXPECT_EQ(DIB_IsBlank(band.get(), 0.02), 0);
  // No pixels: not blank, no number, nothing recorded.
  for (const DIB_HANDLE h : {DIB_HANDLE{0}, empty.get(), stale}) {
    EXPECT_EQ(DIB_IsBlank(h, 1.0), 0);
    EXPECT_EQ(DIB_DarkFraction(h), -1.0);
  }
  std::uint32_t hist[256];
  EXPECT_EQ(DIB_GrayHistogram(stale, 0, hist, nullptr), 0);
  EXPECT_EQ(DIB_GrayHistogram(band.get(), 6, hist, nullptr), 0);
  EXPECT_EQ(TWAIN_LastErrorCode(), 0);
  TWAIN_LogFile(0);
  const std::string log = read_file(TWAIN_LogFileName());
  LogResetForTests();
  LogAttach();
  for (const char* line : {"DIB_IsBlank(0.050 : 0.100) => 1\n", "DIB_IsBlank(0.050 : 0.020) => 0\n",
                           "DIB_IsBlank(0.000 : 1.000) => 0\n"}) {
    EXPECT_NE(log.find(line), std::string::npos) << line << log;
  }
}

// ---- Pages as the scanner delivers them: 300 dpi letter, 8-bit gray ----

constexpr int kLetterW = 2550, kLetterH = 3300;
constexpr double kDefaultThreshold = 0.02;

std::vector<std::uint8_t> scanned(bool blank) {
  vscan::PageFormat f;
  f.pixel_type = TWPT_GRAY;
  f.bit_depth = 8;
  f.width = kLetterW, f.height = kLetterH;
  f.x_dpi = f.y_dpi = 300;
  vscan::PageFacts facts;
  facts.blank = blank;
  return vscan::render_page(f, facts)->pixels;
}

// The text page reduced to the first whole line below its middle.
std::vector<std::uint8_t> one_line_page() {
  std::vector<std::uint8_t> page = scanned(false);
  const auto row = [&](int y) { return page.begin() + static_cast<std::ptrdiff_t>(y) * kLetterW; };
  const auto inked = [&](int y) { return std::any_of(row(y), row(y + 1), [](std::uint8_t v) { return v < 128; }); };
  int top = kLetterH / 2;
  while (inked(top)) ++top;  // past the line the middle may cut
  while (!inked(top)) ++top;
  int bottom = top;
  while (inked(bottom)) ++bottom;
  std::fill(page.begin(), row(top), 255);
  std::fill(row(bottom), page.end(), 255);
  return page;
}

// Shadows of the sheet's edges, `percent` deep, around light gray paper.
std::vector<std::uint8_t> shadowed_page(int percent) {
  std::vector<std::uint8_t> page(static_cast<std::size_t>(kLetterW) * kLetterH, 40);
  const int dx = kLetterW * percent / 100, dy = kLetterH * percent / 100;
  for (int y = dy; y < kLetterH - dy; ++y) std::fill_n(&page[static_cast<std::size_t>(y) * kLetterW + dx], kLetterW - 2 * dx, 250);
  return page;
}

TEST_F(BlankTest, ScannedPagesAgainstOneLineOfText) {
  struct Case {
    const char* name;
    std::vector<std::uint8_t> levels;
    int blank;  // at the default threshold; -1 = only measured
  };
  const Case cases[] = {
      {"white", std::vector<std::uint8_t>(static_cast<std::size_t>(kLetterW) * kLetterH, 255), 1},
      {"specks", scanned(true), 1},
      {"shadows 4 %", shadowed_page(4), 1},
      {"shadows 6 %", shadowed_page(6), 0},  // 1 % past the margin on each side counts
      {"one line", one_line_page(), -1},
      {"text page", scanned(false), 0},
  };
  std::map<std::string, double> measured;
  for (const Case& c : cases) {
    Owned page(DIB_Create(DIB_PT_GRAY, kLetterW, kLetterH, 8));
    for (int y = 0; y < kLetterH; ++y) DIB_WritePackedRow(page.get(), y, &c.levels[static_cast<std::size_t>(y) * kLetterW]);
    measured[c.name] = DIB_DarkFraction(page.get());
    std::printf("[ measured ] %-12s dark fraction %.6f\n", c.name, measured[c.name]);
    if (c.blank >= 0) {
      EXPECT_EQ(DIB_IsBlank(page.get(), kDefaultThreshold), c.blank) << c.name;
    }
  }
  // One line measures well under the default threshold, yet far above a
  // specked blank side: a lower threshold keeps it.
  EXPECT_LT(measured["one line"], kDefaultThreshold / 4);
  EXPECT_GT(measured["one line"], 100 * measured["specks"]);
}

}  // namespace
