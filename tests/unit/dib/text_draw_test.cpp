// Text drawing: the box rules, ink on pages of every depth and nowhere
// else, the blend and the background pixel by pixel, wrapping, quarter
// turns, the fonts fontconfig chooses, and hostile input.
#include <gtest/gtest.h>

#include <bit>
#include <chrono>
#include <climits>
#include <tuple>

#include "../../tool_support.h"
#include "../log/log_test_support.h"
#include "dib/fonts.h"
#include "dib/text_draw.h"
#include "dib_test_support.h"
#include "orivane/dib_text.h"
#include "orivane/errors.h"
#include "orivane/trace_log.h"

namespace {

using namespace dib_test;

class TextDraw : public DibTest {
 protected:
  void SetUp() override {
    DibTest::SetUp();
    DIB_ResetTextSettings();
  }
};

// A page of `depth` bits (type from the depth, or `type`) filled with byte `fill`.
DIB_HANDLE page(int depth, int w, int h, std::uint8_t fill = 0xFF, int type = -1) {
  const DIB_HANDLE p = type < 0 ? DIB_Allocate(depth, w, h) : DIB_Create(type, w, h, depth);
  std::vector<std::uint8_t> row(static_cast<std::size_t>(DIB_RowBytes(p)), fill);
  for (int y = 0; y < h; ++y) DIB_WriteRow(p, y, row.data(), static_cast<int32_t>(row.size()));
  DIB_SetResolution(p, 300, 300);
  return p;
}

// Gray levels of the page, top row first.
std::vector<std::uint8_t> grays(DIB_HANDLE h) {
  const int w = DIB_Width(h);
  std::vector<std::uint8_t> all, row(static_cast<std::size_t>(w) + 4);
  for (int y = 0; y < DIB_Height(h); ++y) {
    DIB_ReadRowComponent(h, y, row.data(), DIB_COMP_GRAY);
    all.insert(all.end(), row.begin(), row.begin() + w);
  }
  return all;
}

struct Ink {
  int count = 0, left = INT_MAX, top = INT_MAX, right = -1, bottom = -1;
  int bands = 0;  // runs of rows with ink: one per line of text
  int width() const { return right - left + 1; }
  int height() const { return bottom - top + 1; }
};
// Where the page differs from `before` (gray levels of the same size).
Ink ink(DIB_HANDLE h, const std::vector<std::uint8_t>& before) {
  const std::vector<std::uint8_t> now = grays(h);
  const int w = DIB_Width(h);
  Ink k;
  for (std::size_t i = 0; i < now.size(); ++i) {
    if (now[i] == before[i]) continue;
    const int x = static_cast<int>(i) % w, y = static_cast<int>(i) / w;
    k.bands += y > k.bottom + 1 || k.count == 0;
    ++k.count, k.left = std::min(k.left, x), k.right = std::max(k.right, x);
    k.top = std::min(k.top, y), k.bottom = std::max(k.bottom, y);
  }
  return k;
}

TEST(TextBox, TheBoxRulesAndTheCutToThePage) {
  struct Case {
    dib::TextBox asked;
    bool drawn;
    dib::TextBox expected;
  } cases[] = {
      {{0, 0, 0, 50}, true, {2, 0, 996, 50}},        // w = 0 from x = 0: x = 2, w = 996
      {{10, 5, 0, 0}, true, {10, 5, 988, 93}},       // x kept when 1 or more
      {{900, 0, 200, 40}, true, {900, 0, 98, 40}},   // reaching past the right edge
      {{-50, 10, 100, 20}, true, {0, 10, 50, 20}},   // partly left of the page: cut
      {{1200, 0, 0, 40}, false, {}},                 // starts right of the page
      {{0, 150, 0, 0}, false, {}},                   // starts below the page
      {{-500, 0, 100, 20}, false, {}},               // wholly left of it
  };
  for (const Case& c : cases) {
    const auto box = dib::text_box_on_page(c.asked, 1000, 100);
    ASSERT_EQ(box.has_value(), c.drawn) << c.asked.x << "," << c.asked.y;
    if (!box) continue;
    EXPECT_EQ(std::tie(box->x, box->y, box->w, box->h),
              std::tie(c.expected.x, c.expected.y, c.expected.w, c.expected.h))
        << c.asked.x << "," << c.asked.y << "," << c.asked.w << "," << c.asked.h;
  }
}

TEST_F(TextDraw, EveryDepthGetsInkInsideTheBoxOnly) {
  struct Case {
    int depth, type;
    bool levels;  // in-between levels at the glyph edges
  } cases[] = {{1, DIB_PT_BW, false},     {4, DIB_PT_GRAY, true}, {8, DIB_PT_GRAY, true},
               {8, DIB_PT_PALETTE, false}, {16, DIB_PT_GRAY, true}, {24, DIB_PT_RGB, true},
               {32, DIB_PT_RGB, true},     {32, DIB_PT_CMYK, false}, {48, DIB_PT_RGB, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(label(c.depth, 121, 60) + " type " + std::to_string(c.type));
    Owned p(page(c.depth, 121, 60, c.type == DIB_PT_CMYK ? 0x00 : 0xFF, c.type));
    const auto before = grays(p.get());
    DIB_SetTextHeight(24);
    ASSERT_EQ(DIB_DrawText(p.get(), "Hg ink", 10, 8, 100, 40), 1);
    const Ink k = ink(p.get(), before);
    EXPECT_GT(k.count, 100);
    EXPECT_TRUE(k.left >= 10 && k.top >= 8 && k.right <= 109 && k.bottom <= 47)
        << k.left << "," << k.top << ".." << k.right << "," << k.bottom;
    const auto after = grays(p.get());
    const bool between = std::any_of(after.begin(), after.end(), [](std::uint8_t g) { return g > 20 && g < 235; });
    EXPECT_EQ(between, c.levels);
  }
}

TEST_F(TextDraw, WhiteTextSetsBitsAndBlackTextClearsThem) {
  for (const bool white : {true, false}) {
    Owned p(page(1, 100, 40, white ? 0x00 : 0xFF));
    const auto before = packed_rows(p.get());
    DIB_SetTextColor(white ? 255 : 0, white ? 255 : 0, white ? 255 : 0);
    DIB_SetTextHeight(24);
    ASSERT_EQ(DIB_DrawText(p.get(), "Bits", 0, 0, 0, 0), 1);
    const auto after = packed_rows(p.get());
    int changed = 0;
    for (std::size_t y = 0; y < after.size(); ++y)
      for (std::size_t i = 0; i < after[y].size(); ++i) {
        // Only the one direction: set on black paper, cleared on white.
        EXPECT_EQ(white ? (before[y][i] & ~after[y][i]) : (~before[y][i] & after[y][i]), 0);
        changed += std::popcount(static_cast<unsigned>(before[y][i] ^ after[y][i]));
      }
    EXPECT_GT(changed, 50) << (white ? "white" : "black");
  }
}

// A 200 x 50 gray page of levels 100..249 that differ from pixel to pixel.
DIB_HANDLE patterned() {
  const DIB_HANDLE p = DIB_Allocate(8, 200, 50);
  std::vector<std::uint8_t> row(200);
  for (int y = 0; y < 50; ++y) {
    for (int x = 0; x < 200; ++x) row[static_cast<std::size_t>(x)] = static_cast<std::uint8_t>(100 + (x * 7 + y * 13) % 150);
    DIB_WritePackedRow(p, y, row.data());
  }
  DIB_SetResolution(p, 300, 300);
  return p;
}

TEST_F(TextDraw, TheBackgroundIsExactAndAlphaZeroLeavesThePage) {
  const auto draw = [](DIB_HANDLE p, int alpha) {
    DIB_SetTextHeight(20);
    DIB_SetTextBackground(0, 0, 0, alpha);
    ASSERT_EQ(DIB_DrawText(p, "Mix 42", 10, 10, 180, 30), 1);
  };
  // The glyphs' pixels: the text alone on white paper.
  Owned white(page(8, 200, 50));
  draw(white.get(), 0);
  const auto glyphs = grays(white.get());
  // The background's rectangle: opaque black covers it whole.
  Owned opaque(patterned());
  const auto pattern = grays(opaque.get());
  draw(opaque.get(), 255);
  const Ink rect = ink(opaque.get(), pattern);
  EXPECT_EQ(std::tie(rect.left, rect.top), std::make_tuple(10, 10));
  EXPECT_EQ(rect.width(), 180);
  EXPECT_LT(rect.height(), 30);
  for (const int alpha : {0, 128}) {
    SCOPED_TRACE("alpha " + std::to_string(alpha));
    Owned p(patterned());
    draw(p.get(), alpha);
    const auto after = grays(p.get());
    for (std::size_t i = 0; i < after.size(); ++i) {
      const int x = static_cast<int>(i) % 200, y = static_cast<int>(i) / 200;
      const bool inside = x >= rect.left && x <= rect.right && y >= rect.top && y <= rect.bottom;
      if (glyphs[i] != 255) continue;
      // Half-way to black: (255 - 128) x d / 255.
      const int expected = alpha == 0 || !inside ? pattern[i] : 127 * pattern[i] / 255;
      ASSERT_EQ(after[i], expected) << "x=" << x << " y=" << y;
    }
  }
}

TEST_F(TextDraw, WrapsAtSpacesAndClipsAWordLongerThanTheBox) {
  struct Case {
    const char* text;
    int flags;
    int lines;
  } cases[] = {
      // Words of 70 to 100 pixels in a box of 120: one a line (no dotted letters: a
      // dot above a line would count as a band of its own).
      {"wrapped sentences become", DIB_TEXT_WRAP, 3},
      {"wrapped sentences become", 0, 1},  // not wrapped: cut at the box
      {"Incomprehensibilities", DIB_TEXT_WRAP, 1},  // one word: clipped, not broken
      {"Incomprehensibilities ok", DIB_TEXT_WRAP, 2},
      {"first\r\nsecond\n\nfourth", 0, 3},  // the empty third line takes its row
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Owned p(page(8, 140, 200));
    const auto before = grays(p.get());
    DIB_SetTextHeight(20);
    DIB_SetTextFlags(c.flags);
    ASSERT_EQ(DIB_DrawText(p.get(), c.text, 10, 10, 120, 180), 1);
    const Ink k = ink(p.get(), before);
    EXPECT_EQ(k.bands, c.lines);
    EXPECT_TRUE(k.left >= 10 && k.right <= 129) << k.left << ".." << k.right;
  }
}

TEST_F(TextDraw, QuarterTurnsStandWhereTheFlagsSay) {
  struct Case {
    int angle, flags;
    bool tall;        // turned: the ink is taller than wide
    bool right, low;  // which half of the box holds it
  } cases[] = {
      {0, DIB_TEXT_BOTTOM, false, false, true},
      {90, DIB_TEXT_RIGHT, true, true, false},  // R90:TOP:RIGHT
      {90, DIB_TEXT_BOTTOM, true, false, true},
      {-90, DIB_TEXT_RIGHT | DIB_TEXT_BOTTOM, true, true, true},
      {180, 0, false, false, false},
      {180, DIB_TEXT_RIGHT | DIB_TEXT_BOTTOM, false, true, true},
      {85, DIB_TEXT_RIGHT, true, true, false},  // drawn at the nearest quarter turn
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("angle " + std::to_string(c.angle) + " flags " + std::to_string(c.flags));
    Owned p(page(8, 400, 400));
    const auto before = grays(p.get());
    DIB_SetTextAngle(c.angle);
    DIB_SetTextFlags(c.flags);
    DIB_SetTextHeight(24);
    ASSERT_EQ(DIB_DrawText(p.get(), "Turned text", 0, 0, 0, 0), 1);
    const Ink k = ink(p.get(), before);
    EXPECT_EQ(k.height() > k.width(), c.tall);
    // Against the box's edges (2..397) on the sides the flags name.
    EXPECT_TRUE(c.right ? k.right > 385 : k.left < 14) << k.left << ".." << k.right;
    EXPECT_TRUE(c.low ? k.bottom > 385 : k.top < 14) << k.top << ".." << k.bottom;
  }
}

TEST_F(TextDraw, PagesWithUnequalResolutionsKeepTheTextsShape) {
  // The height is in the page's vertical pixels; the width follows the
  // horizontal resolution, so the text's shape on paper stays the same.
  const auto measure = [](double x_dpi, double y_dpi, int depth) {
    Owned p(page(depth, 600, 120));
    DIB_SetResolution(p.get(), x_dpi, y_dpi);
    const auto before = grays(p.get());
    DIB_SetTextHeight(30);
    EXPECT_EQ(DIB_DrawText(p.get(), "Shape", 0, 0, 0, 0), 1);
    return ink(p.get(), before);
  };
  for (const int depth : {1, 8}) {
    const Ink square = measure(200, 200, depth), wide = measure(400, 200, depth), tall = measure(200, 400, depth);
    EXPECT_NEAR(wide.width(), 2 * square.width(), 4) << depth;
    EXPECT_NEAR(wide.height(), square.height(), 2) << depth;
    EXPECT_NEAR(tall.width(), square.width() / 2.0, 3) << depth;
    EXPECT_NEAR(tall.height(), square.height(), 2) << depth;
  }
}

TEST_F(TextDraw, TimesDrawsWithTheTimesNewRomanSubstituteFontconfigChooses) {
  if (!test_tools::have_tool("fc-match")) GTEST_SKIP() << "fc-match is not installed";
  struct Case {
    const char* face;
    const char* fontconfig_name;
    bool substituted;
  } cases[] = {{"times", "Times New Roman", false}, {"COURIER", "Courier New", false},
               {"", "Arial", false},               {"DejaVu Serif", "DejaVu Serif", false},
               {"No Such Face At All", "Arial", true}};
  for (const Case& c : cases) {
    DIB_SetTextFace(c.face);
    const auto choice = dib::font_choose(dib::text_settings().face, false, false);
    ASSERT_TRUE(choice) << c.face;
    const std::string file = test_tools::command_output(std::string("fc-match -f '%{file}' '") + c.fontconfig_name + "'");
    EXPECT_EQ(choice->file, file) << c.face;
    EXPECT_EQ(choice->substituted, c.substituted) << c.face;
  }
  const auto bold = dib::font_choose("Times New Roman", true, true);
  ASSERT_TRUE(bold);
  EXPECT_EQ(bold->file, test_tools::command_output("fc-match -f '%{file}' 'Times New Roman:bold:italic'"));
}

TEST_F(TextDraw, HostileInputDrawsWhatFitsOrNothing) {
  const std::string long_face(127, 'Q');
  std::string huge;
  for (int i = 0; huge.size() < 100000; ++i) huge += "word" + std::to_string(i) + ' ';
  struct Case {
    const char* name;
    std::string text;
    int height, flags;
    dib::TextBox box;
    std::string face;
    int32_t drawn;
    bool ink = true;  // something shows
  } cases[] = {
      {"100,000 characters, wrapped", huge, 20, DIB_TEXT_WRAP, {0, 0, 0, 0}, "", 1},
      {"100,000 characters, centred", huge, 20, DIB_TEXT_CENTER, {0, 0, 0, 0}, "", 1},
      // The line's top, all the box shows of it, is above the letters.
      {"a height of 20,000 pixels", "Huge", 20000, DIB_TEXT_BOTTOM, {0, 0, 0, 0}, "", 1, false},
      {"a box outside the page", "Away", 20, 0, {5000, 5000, 10, 10}, "", 0, false},
      {"control characters", std::string("a\x01\x02\x1b[31mb\x7f\tc\0d", 14), 20, 0, {0, 0, 0, 0}, "", 1},
      {"invalid UTF-8", "caf\xe9 \xc3\x28 \xed\xa0\x80 \xf5\x80 na\xc3\xafve", 20, 0, {0, 0, 0, 0}, "", 1},
      {"a face of 127 characters", "Face", 20, 0, {0, 0, 0, 0}, long_face, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Owned p(page(24, 600, 300));
    const auto before = grays(p.get());
    DIB_SetTextHeight(c.height);
    DIB_SetTextFlags(c.flags);
    DIB_SetTextFace(c.face.c_str());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(DIB_DrawText(p.get(), c.text.c_str(), c.box.x, c.box.y, c.box.w, c.box.h), c.drawn);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(ink(p.get(), before).count > 0, c.ink);
    EXPECT_EQ(TWAIN_LastErrorCode(), 0);
  }
  Owned p(page(8, 50, 50));
  EXPECT_EQ(DIB_DrawText(p.get(), nullptr, 0, 0, 0, 0), 0);
  const DIB_HANDLE stale = DIB_Allocate(8, 10, 10);
  DIB_Free(stale);
  EXPECT_EQ(DIB_DrawText(stale, "x", 0, 0, 0, 0), 0);
  EXPECT_EQ(DIB_DrawText(0, "x", 0, 0, 0, 0), 0);
  EXPECT_EQ(TWAIN_LastErrorCode(), 0);
}

// The trace of a drawing: what the mask took.
class TextDrawTrace : public log_test::LogTest {};

TEST_F(TextDrawTrace, TheMaskNeverOutgrowsFourTimesTheBox) {
  ResetForTests();
  TWAIN_LogFile(1);
  struct Case {
    int depth, height, w, h;
  } cases[] = {{24, 20000, 300, 200}, {8, 40, 300, 200}, {1, 40, 300, 200}, {24, 40, 7, 5}};
  for (const Case& c : cases) {
    Owned p(page(c.depth, 400, 300));
    DIB_SetTextHeight(c.height);
    DIB_SetTextFlags(DIB_TEXT_WRAP);
    DIB_DrawText(p.get(), "Some words to lay out in the box", 10, 10, c.w, c.h);
  }
  const std::string text = log_text();
  int masks = 0;
  for (auto at = text.find("DrawText mask "); at != std::string::npos; at = text.find("DrawText mask ", at + 1)) {
    int mw = 0, mh = 0, bw = 0, bh = 0;
    ASSERT_EQ(std::sscanf(text.c_str() + at, "DrawText mask %dx%d of %dx%d", &mw, &mh, &bw, &bh), 4);
    const Case& c = cases[masks++];
    EXPECT_LE(static_cast<long>(mw) * mh, 4L * c.w * c.h);
    EXPECT_LE(mh, bh);
  }
  EXPECT_EQ(masks, 4);
  EXPECT_NE(text.find("DIB_DrawText(0x"), std::string::npos);
  EXPECT_NE(text.find("Face='Arial'"), std::string::npos);
  EXPECT_NE(text.find("DrawText: the text is cut at the box"), std::string::npos);
}

}  // namespace
