// Automatic crop on synthetic pages (borders, cheques, a rendered letter page
// on a scanner background), the edge scorer and edge finding on hand-worked
// profiles, region statistics, projections and bright rectangles.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>

#include "dib/autocrop.h"
#include "dib/crop_edges.h"
#include "dib_test_support.h"
#include "orivane/dib_analysis.h"
#include "orivane/trace_log.h"
#include "orivane/twain_session.h"
#include "sources/virtual/pages.h"

namespace {

using namespace dib_test;

struct Box {
  int x, y, w, h;
};

// A new 8-bit gray page of one level.
Owned gray_page(int w, int h, double dpi, int level) {
  Owned page(DIB_Allocate(8, w, h));
  DIB_SetResolution(page.get(), dpi, dpi);
  dib::Locked lock(page.get());
  for (int y = 0; y < h; ++y) std::memset(lock->row(y), level, static_cast<std::size_t>(w));
  return page;
}

// Paints `level` into the box (clipped), plus noise of +-`noise` when asked.
void paint(DIB_HANDLE page, Box b, int level, int noise = 0, unsigned seed = 1) {
  dib::Locked lock(page);
  for (int y = std::max(0, b.y); y < std::min(lock->height(), b.y + b.h); ++y) {
    std::uint8_t* row = lock->row(y);
    for (int x = std::max(0, b.x); x < std::min(lock->width(), b.x + b.w); ++x) {
      seed = seed * 1103515245u + 12345u;
      const int n = noise ? static_cast<int>((seed >> 16) % (2 * noise + 1)) - noise : 0;
      row[x] = static_cast<std::uint8_t>(std::clamp(level + n, 0, 255));
    }
  }
}

// Dark strokes like a cheque's print: rules, and blocks of "text".
void print_cheque(DIB_HANDLE page, Box b) {
  paint(page, {b.x, b.y, b.w, 3}, 40);
  paint(page, {b.x, b.y + b.h - 3, b.w, 3}, 40);
  for (int y = b.y + 12; y + 6 < b.y + b.h; y += 14) {
    for (int x = b.x + 8; x + 10 < b.x + b.w; x += 13) paint(page, {x, y, 8, 6}, 30);
  }
}

Box crop_rect(DIB_HANDLE page, int options, int* result = nullptr) {
  Box r{-1, -1, -1, -1};
  const int got = DIB_GetCropRect(page, options, &r.x, &r.y, &r.w, &r.h);
  if (result) *result = got;
  return r;
}

class AutoCropTest : public DibTest {};
class RegionStatsTest : public DibTest {};
class BrightRectsTest : public DibTest {};

// ---- Edge scorer and edge finding -------------------------------------------

TEST_F(AutoCropTest, RowScorerMarksTheStepsOfEachKind) {
  auto steps = [](std::initializer_list<std::pair<int, int>> runs) {
    std::vector<std::uint8_t> p;
    for (auto [level, n] : runs) p.insert(p.end(), static_cast<std::size_t>(n), static_cast<std::uint8_t>(level));
    return p;
  };
  struct Case {
    const char* what;
    std::vector<std::uint8_t> p;
    int options;
    std::map<int, int> scores;  // position -> score; all others 0
  };
  const std::vector<Case> cases = {
      {"dark background ends", steps({{0, 20}, {255, 20}}), 0, {{19, 4}, {20, 4}, {21, 4}}},
      {"dark ends without the dark bit", steps({{0, 20}, {255, 20}}), dib::kCropEdge, {{19, 4}, {20, 4}, {21, 4}}},
      {"paper falls to light gray", steps({{255, 20}, {200, 20}}), dib::kCropLight, {{19, 3}, {20, 3}, {21, 3}}},
      {"small fall", steps({{255, 20}, {246, 20}}), dib::kCropLight, {{19, 1}, {20, 1}}},
      {"fall not asked for", steps({{255, 20}, {200, 20}}), dib::kCropDark | dib::kCropEdge, {}},
      {"thin line between like levels", steps({{230, 20}, {200, 2}, {230, 20}}), dib::kCropEdge, {{20, 1}, {22, 1}}},
      {"thin line not asked for", steps({{230, 20}, {200, 2}, {230, 20}}), dib::kCropDark, {}},
      {"noise below the step size", steps({{100, 10}, {104, 10}, {100, 10}}), 7, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<int> out(c.p.size(), -1);
    dib::crop_score_row(c.p, c.options, out);
    for (int i = 0; i < static_cast<int>(out.size()); ++i) {
      const auto it = c.scores.find(i);
      EXPECT_EQ(out[i], it == c.scores.end() ? 0 : it->second) << "at " << i;
    }
  }
}

TEST_F(AutoCropTest, EdgeFindingOnProfiles) {
  struct Case {
    const char* what;
    std::vector<std::uint8_t> profile;
    int c;
    int left, right;
  };
  std::vector<std::uint8_t> flat(40, 0), peaks(40, 0), weak(40, 0), ramp(40, 0), pairs(40, 0), low_pair(40, 0);
  peaks[5] = 20, peaks[6] = 90, peaks[7] = 120, peaks[8] = 60;      // rises to 7
  peaks[30] = 50, peaks[31] = 200, peaks[32] = 30;                  // falls back to 31
  for (int i = 0; i < 40; ++i) weak[i] = 5;                         // 23 reached at 4 and 35
  for (int i = 0; i < 40; ++i) ramp[i] = static_cast<std::uint8_t>(20 + i);  // climbs to the end
  pairs[10] = 14, pairs[11] = 14, pairs[27] = 12, pairs[28] = 12;  // 28 on the left, 24 on the right
  low_pair[3] = 12, low_pair[4] = 12;  // 24: too little on the left, enough on the right
  const std::vector<Case> cases = {
      {"nothing", flat, 3, 0, 39},
      {"strong peaks", peaks, 3, 7, 31},
      {"weak evidence backs off", weak, 3, 1, 38},
      {"weak evidence near the ends", weak, 9, 0, 39},
      {"climb to the end finds nothing", ramp, 3, 0, 39},
      {"neighbour pairs", pairs, 3, 10, 27},
      {"pair below the left threshold", low_pair, 3, 1, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const int left = dib::crop_left_edge(c.profile, c.c);
    EXPECT_EQ(left, c.left);
    EXPECT_EQ(dib::crop_right_edge(c.profile, c.c, left), c.right);
  }
}

// ---- Plain pages -------------------------------------------------------------

TEST_F(AutoCropTest, PagesWithOnlyPlainRowsHaveNothingToCrop) {
  struct Case {
    const char* what;
    int level;
    int gray_rows;  // rows from the top painted mid-gray
  };
  const Case cases[] = {{"all white", 255, 0}, {"all black", 0, 0}, {"only the top row inked", 255, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Owned page = gray_page(120, 90, 100, c.level);
    paint(page.get(), {0, 0, 120, c.gray_rows}, 128);
    int result = -1;
    const Box r = crop_rect(page.get(), 0, &result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(r.x, 0); EXPECT_EQ(r.y, 0); EXPECT_EQ(r.w, 120); EXPECT_EQ(r.h, 90);
    EXPECT_EQ(DIB_AutoCrop(page.get(), 0), 0u);
  }
}

TEST_F(AutoCropTest, WhitePageOnBlackBorderIsCutToThePage) {
  const Box paper{60, 90, 450, 620};
  constexpr int kSlack = 1;  // the edge peak straddles the step
  struct Case {
    int depth, pixel_type;
    bool top_down;
  };
  const Case cases[] = {{8, DIB_PT_GRAY, false}, {8, DIB_PT_GRAY, true}, {24, DIB_PT_RGB, false},
                        {1, DIB_PT_BW, false}, {4, DIB_PT_GRAY, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.depth) + (c.top_down ? " bits top-down" : " bits"));
    Owned gray = gray_page(600, 800, 100, 0);
    paint(gray.get(), paper, 255);
    Owned page(c.depth == 8 ? gray.release() : DIB_ConvertToFormat(gray.get(), c.pixel_type, c.depth, nullptr));
    ASSERT_EQ(DIB_Depth(page.get()), c.depth);
    if (c.top_down) make_top_down(page.get());
    int result = 0;
    const Box r = crop_rect(page.get(), 0, &result);
    EXPECT_EQ(result, 1);
    EXPECT_LE(r.x, paper.x); EXPECT_GE(r.x, paper.x - kSlack);
    EXPECT_LE(r.y, paper.y); EXPECT_GE(r.y, paper.y - kSlack);
    EXPECT_GE(r.x + r.w, paper.x + paper.w); EXPECT_LE(r.x + r.w, paper.x + paper.w + kSlack);
    EXPECT_GE(r.y + r.h, paper.y + paper.h); EXPECT_LE(r.y + r.h, paper.y + paper.h + kSlack);
    // The cut image is that rectangle; the page stays with the caller.
    Owned cut(DIB_AutoCrop(page.get(), 0));
    ASSERT_TRUE(cut);
    EXPECT_EQ(DIB_Width(cut.get()), r.w);
    EXPECT_EQ(DIB_Height(cut.get()), r.h);
    EXPECT_EQ(DIB_Depth(cut.get()), c.depth);
    EXPECT_EQ(DIB_Width(page.get()), 600);
  }
}

// A letter page rendered at 300 DPI lying on a larger scanner background:
// the rectangle holds the whole page and stays close to it.
TEST_F(AutoCropTest, LetterPageOnScannerBackground) {
  constexpr double kDpi = 300, kTolerance = 0.35;
  const vscan::PageFormat format{TWPT_GRAY, 8, 2550, 3300, kDpi, kDpi};
  const auto letter = vscan::render_page(format, {1, 1, false});
  ASSERT_TRUE(letter);
  struct Case {
    const char* what;
    int background, x, y;
  };
  const Case cases[] = {{"dark, centred", 60, 150, 225},   {"dark, top left", 45, 24, 40},
                        {"dark, bottom right", 70, 276, 420}, {"light gray, centred", 200, 150, 225},
                        {"light gray, top left", 215, 40, 30}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Owned page = gray_page(2850, 3750, kDpi, c.background);
    paint(page.get(), {0, 0, 2850, 3750}, c.background, 12, 7);
    {
      dib::Locked lock(page.get());
      unsigned seed = 3;
      for (int y = 0; y < 3300; ++y) {
        const std::uint8_t* src = &letter->pixels[static_cast<std::size_t>(y) * letter->bytes_per_row];
        std::uint8_t* dst = lock->row(c.y + y) + c.x;
        for (int x = 0; x < 2550; ++x) {
          seed = seed * 1103515245u + 12345u;
          dst[x] = static_cast<std::uint8_t>(std::max(0, src[x] - static_cast<int>((seed >> 16) % 5)));
        }
      }
    }
    const auto start = std::chrono::steady_clock::now();
    int result = 0;
    const Box r = crop_rect(page.get(), 0, &result);
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(result, 1);
    const double left = (c.x - r.x) / kDpi, top = (c.y - r.y) / kDpi;
    const double right = (r.x + r.w - c.x - 2550) / kDpi, bottom = (r.y + r.h - c.y - 3300) / kDpi;
    std::printf("[ crop     ] %-22s outside by left %.3f top %.3f right %.3f bottom %.3f in, %.0f ms\n", c.what,
                left, top, right, bottom, ms);
    for (const double e : {left, top, right, bottom}) {
      EXPECT_GE(e, 0.0);
      EXPECT_LE(e, kTolerance);
    }
  }
}

// ---- Cheque mode -------------------------------------------------------------

TEST_F(AutoCropTest, ChequeWindowKeepsToTheSizeRange) {
  constexpr double kDpi = 100;
  constexpr double kGrid = kDpi / 16;  // page pixels per cell of the window search
  struct Case {
    const char* what;
    bool set_range;
    double min_in, max_in;  // the width the crop must keep to
    int depth, pixel_type;
  };
  const Case cases[] = {{"default range", false, 5.71, 9.0, 8, DIB_PT_GRAY},
                        {"2 to 3 inches, given in cm", true, 2.0, 3.0, 8, DIB_PT_GRAY},
                        {"1-bit page", true, 2.0, 3.0, 1, DIB_PT_BW},
                        {"32-bit page", false, 5.71, 9.0, 32, DIB_PT_RGB}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ResetForTests();
    if (c.set_range) TWAIN_SetAutoCropSizeRange(5.08, 7.62, 0, 0, 1);
    Owned gray = gray_page(1000, 500, kDpi, 235);
    print_cheque(gray.get(), {300, 150, 300, 250});  // 3 x 2.5 inches of print
    Owned page(c.depth == 8 ? gray.release() : DIB_ConvertToFormat(gray.get(), c.pixel_type, c.depth, nullptr));
    ASSERT_EQ(DIB_Depth(page.get()), c.depth);
    const Box r = crop_rect(page.get(), dib::kCropCheque);
    EXPECT_GE(r.w, c.min_in * kDpi - kGrid);
    EXPECT_LE(r.w, c.max_in * kDpi + kGrid);
  }
}

TEST_F(AutoCropTest, ChequeDarkBandsAreCutAndRowsCountFromTheInput) {
  constexpr int kTop = 40;
  Owned cheque = gray_page(950, 360, 100, 230);
  print_cheque(cheque.get(), {200, 60, 600, 240});
  const Box alone = crop_rect(cheque.get(), dib::kCropCheque);
  struct Case {
    const char* what;
    int top_level, bottom_rows, bottom_level;
  };
  const Case cases[] = {{"black band above", 0, 0, 0}, {"dark bands above and below", 10, 30, 12}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Owned page = gray_page(950, kTop + 360 + c.bottom_rows, 100, c.top_level);
    paint(page.get(), {0, kTop + 360, 950, c.bottom_rows}, c.bottom_level);
    {
      dib::Locked src(cheque.get()), dst(page.get());
      for (int y = 0; y < 360; ++y) std::memcpy(dst->row(kTop + y), src->row(y), 950);
    }
    int result = 0;
    const Box r = crop_rect(page.get(), dib::kCropCheque, &result);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(r.x, alone.x);
    EXPECT_EQ(r.y, kTop + alone.y);
    EXPECT_EQ(r.w, alone.w);
    EXPECT_EQ(r.h, alone.h);
  }
}

// ---- Size range, traces, errors ------------------------------------------------

TEST_F(AutoCropTest, TracesAndSizeRangeLifetime) {
  LogResetForTests();
  LogAttach();
  TWAIN_SetLogFolder(testing::TempDir().c_str());
  TWAIN_SetLogName("autocrop_trace.log");
  TWAIN_LogFile(2);
  Owned page = gray_page(300, 200, 100, 0);
  paint(page.get(), {30, 20, 200, 150}, 255);
  crop_rect(page.get(), 0);
  crop_rect(page.get(), dib::kCropLight | dib::kCropChequeBack);
  int32_t x[4];
  DIB_GetBrightRects(page.get(), 20, 20, 200, x, x, x, x, 4);
  TWAIN_SetAutoCropSizeRange(1, 2.5, 0.5, 1.25, 0);
  EXPECT_EQ(dib::crop_size_range().max_w, 2.5);
  TWAIN_ResetAll();
  EXPECT_EQ(dib::crop_size_range().max_w, 0.0);
  TWAIN_SetAutoCropSize(6, 2.75, 0);
  TWAIN_ClearAutoCropSize();
  EXPECT_EQ(dib::crop_size_range().min_h, 0.0);
  TWAIN_ClearAutoCropSizeRange();
  TWAIN_LogFile(0);
  const std::string log = read_file(TWAIN_LogFileName());
  char hex[64];
  std::snprintf(hex, sizeof hex, "0x%x", static_cast<unsigned>(page.get()));
  for (const std::string& line :
       {"DIB_GetCropRect(" + std::string(hex) + ",opts= DARK LIGHT EDGE, ...)\n",
        "DIB_GetCropRect(" + std::string(hex) + ",opts= LIGHT CHECK_BACK, ...)\n",
        std::string("FindCropEdges(...) image is 300 x 25\n"), std::string("Left edge:     29\n"),
        std::string("GetCropRect => x=29, y=19, w=202, w=152\n"), std::string("DIB_GetBrightRects(0x"),
        std::string(", 20, 20, 200, ..., 4)\n"), std::string("TWAIN_SetAutoCropSizeRange(1.00, 2.50, 0.50, 1.25, 0)\n"),
        std::string("TWAIN_SetAutoCropSize(6.00, 2.75, 0)\n"), std::string("TWAIN_ClearAutoCropSize()\n"),
        std::string("TWAIN_ClearAutoCropSizeRange\n")}) {
    EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
  }
  LogResetForTests();
  LogAttach();
}

TEST_F(AutoCropTest, BadHandlesFailAndTheFirstErrorStays) {
  const DIB_HANDLE stale = DIB_Allocate(8, 4, 4);
  DIB_Free(stale);
  int32_t v[4];
  for (const DIB_HANDLE h : {DIB_HANDLE{0}, stale}) {
    ResetForTests();
    EXPECT_EQ(DIB_GetCropRect(h, 0, &v[0], &v[1], &v[2], &v[3]), 0);
    EXPECT_EQ(TWAIN_LastErrorCode(), ERR_BAD_DIB);
    EXPECT_NE(error_text().find("(DIB_GetCropRect)"), std::string::npos) << error_text();
    EXPECT_EQ(DIB_AutoCrop(h, 0), 0u);
    EXPECT_EQ(DIB_GetBrightRects(h, 10, 10, 100, v, v, v, v, 4), 0);
    EXPECT_EQ(DIB_AvgRegion(h, 0, 0, 0, 4, 4), -1.0);
    EXPECT_EQ(DIB_ProjectColumns(h, 0, 0, 4, 4, 0), 0u);
    EXPECT_EQ(DIB_ProjectRows(h, 0), 0u);
    EXPECT_NE(error_text().find("(DIB_GetCropRect)"), std::string::npos) << error_text();
  }
}

// ---- Region statistics and projections ----------------------------------------

// 10 x 6 gray page whose pixel (x, y) is 10 x + y.
Owned ramp_page() {
  Owned page(DIB_Allocate(8, 10, 6));
  DIB_SetResolution(page.get(), 300, 150);
  dib::Locked lock(page.get());
  for (int y = 0; y < 6; ++y) {
    for (int x = 0; x < 10; ++x) lock->row(y)[x] = static_cast<std::uint8_t>(10 * x + y);
  }
  return page;
}

TEST_F(RegionStatsTest, AvgRegionClipsToTheImage) {
  Owned page = ramp_page();
  struct Case {
    int x, y, w, h;
    double mean;
  };
  const Case cases[] = {{0, 0, 10, 6, 47.5},  {-5, -5, 8, 8, 11.0}, {8, 4, 10, 10, 89.5}, {3, 2, 1, 1, 32.0},
                        {10, 0, 5, 5, 0.0},   {3, 3, 0, 4, 0.0},    {-3, 0, 2, 6, 0.0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.x) + "," + std::to_string(c.y) + " " + std::to_string(c.w) + "x" + std::to_string(c.h));
    EXPECT_DOUBLE_EQ(DIB_AvgRegion(page.get(), 0, c.x, c.y, c.w, c.h), c.mean);
  }
  // Colour components: blue, green, red as stored.
  Owned colour(DIB_Allocate(24, 2, 1));
  const std::uint8_t bgr[] = {10, 20, 30, 50, 60, 70};
  DIB_WritePackedRow(colour.get(), 0, bgr);
  EXPECT_DOUBLE_EQ(DIB_AvgRegion(colour.get(), 1, 0, 0, 2, 1), 50.0);
  EXPECT_DOUBLE_EQ(DIB_AvgRegion(colour.get(), 2, 0, 0, 2, 1), 40.0);
  EXPECT_DOUBLE_EQ(DIB_AvgRegion(colour.get(), 3, 0, 0, 2, 1), 30.0);
  EXPECT_EQ(DIB_AvgRegion(colour.get(), 9, 0, 0, 2, 1), -1.0);
  EXPECT_EQ(error_text(), "Failure: DIB_AvgRegion");
}

TEST_F(RegionStatsTest, ProjectColumnsAveragesTheClippedColumns) {
  Owned page = ramp_page();
  struct Case {
    int x, y, w, h;
    std::vector<int> expected;
  };
  const Case cases[] = {{8, 2, 5, 10, {83, 93, 0, 0, 0}},  // rows 2..5, columns past the edge 0
                        {-2, 0, 4, 6, {0, 0, 2, 12}},
                        {0, 7, 2, 3, {0, 0}},              // no rows on the image
                        {4, -10, 1, 12, {40}}};            // rows 0..1
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.x) + "," + std::to_string(c.y));
    Owned p(DIB_ProjectColumns(page.get(), c.x, c.y, c.w, c.h, 0));
    ASSERT_TRUE(p);
    ASSERT_EQ(DIB_Width(p.get()), c.w);
    EXPECT_EQ(DIB_Height(p.get()), 1);
    EXPECT_EQ(DIB_Depth(p.get()), 8);
    EXPECT_EQ(DIB_XResolutionInt(p.get()), 300);
    const auto rows = packed_rows(p.get());
    for (int j = 0; j < c.w; ++j) EXPECT_EQ(rows[0][j], c.expected[j]) << "column " << j;
  }
}

TEST_F(RegionStatsTest, ProjectRowsKeepsSixteenBitSamples) {
  Owned page = ramp_page();
  Owned p(DIB_ProjectRows(page.get(), 0));
  ASSERT_TRUE(p);
  EXPECT_EQ(DIB_Width(p.get()), 6);
  EXPECT_EQ(DIB_Depth(p.get()), 8);
  EXPECT_EQ(DIB_XResolutionInt(p.get()), 150);  // the page's rows run along it
  EXPECT_EQ(packed_rows(p.get())[0], (std::vector<std::uint8_t>{45, 46, 47, 48, 49, 50}));

  Owned wide(DIB_Allocate(16, 3, 2));
  const std::uint8_t r0[] = {0x10, 0x27, 0x20, 0x4E, 0x30, 0x75};  // 10000, 20000, 30000
  const std::uint8_t r1[] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 0xFF};  // 65535, 65535, 65534
  DIB_WritePackedRow(wide.get(), 0, r0);
  DIB_WritePackedRow(wide.get(), 1, r1);
  Owned q(DIB_ProjectRows(wide.get(), 0));
  ASSERT_TRUE(q);
  EXPECT_EQ(DIB_Depth(q.get()), 16);
  EXPECT_EQ(packed_rows(q.get())[0], (std::vector<std::uint8_t>{0x20, 0x4E, 0xFE, 0xFF}));  // 20000, 65534
}

// ---- Bright rectangles ---------------------------------------------------------

TEST_F(BrightRectsTest, FindsEachBrightAreaOnce) {
  Owned page = gray_page(200, 200, 100, 20);
  const Box areas[] = {{40, 60, 52, 32}, {120, 120, 40, 40}};
  for (const Box& a : areas) paint(page.get(), a, 250);
  paint(page.get(), {10, 170, 12, 12}, 250);  // smaller than asked for
  struct Case {
    int min_w, min_h, brightness, capacity, found;
  };
  const Case cases[] = {{20, 20, 200, 10, 2}, {20, 20, 200, 1, 1}, {20, 20, 256, 10, 0},
                        {80, 20, 200, 10, 0}, {0, 20, 200, 10, 0},  {20, 20, 200, 0, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.min_w) + "x" + std::to_string(c.min_h) + " cap " + std::to_string(c.capacity));
    std::vector<int32_t> x(10, -1), y(10, -1), w(10, -1), h(10, -1);
    const int n = DIB_GetBrightRects(page.get(), c.min_w, c.min_h, c.brightness, x.data(), y.data(), w.data(),
                                     h.data(), c.capacity);
    ASSERT_EQ(n, c.found);
    EXPECT_EQ(x[n], -1);  // nothing written past the count
    const int f = (c.min_w + 4) / 5;  // the reduction
    for (int i = 0; i < n; ++i) {
      const Box& a = areas[i];
      EXPECT_EQ(x[i] % f, 0);
      EXPECT_NEAR(x[i], a.x, f); EXPECT_NEAR(y[i], a.y, f);
      EXPECT_NEAR(x[i] + w[i], a.x + a.w, 2 * f); EXPECT_NEAR(y[i] + h[i], a.y + a.h, 2 * f);
    }
  }
  // Counting only.
  EXPECT_EQ(DIB_GetBrightRects(page.get(), 20, 20, 200, nullptr, nullptr, nullptr, nullptr, 5), 2);
}

}  // namespace
