// Skew estimation and the two-shear rotation: the angle recovered from
// rendered 300 dpi letter pages turned by known angles, the page straight
// again after the deskew, line directions after a turn by a known angle,
// identical results for one picture stored at every depth, and the
// boundary's traces and error paths.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cmath>
#include <filesystem>
#include <numbers>

#include "dib/page_analysis.h"
#include "dib_test_support.h"
#include "orivane/dib_analysis.h"
#include "orivane/trace_log.h"
#include "sources/virtual/pages.h"

namespace {

using namespace dib_test;

constexpr double kDegree = std::numbers::pi / 180;
// Required accuracy of an estimate on a text page, in degrees.
constexpr double kToleranceDegrees = 0.06;

class SkewTest : public DibTest {};

// An 8-bit gray image of w x h levels at 300 dpi.
DIB_HANDLE gray_image(int w, int h, const std::vector<std::uint8_t>& levels) {
  const DIB_HANDLE d = DIB_Allocate(8, w, h);
  for (int y = 0; y < h; ++y) DIB_WritePackedRow(d, y, &levels[static_cast<std::size_t>(y) * w]);
  DIB_SetResolution(d, 300, 300);
  return d;
}

// The gray levels of an image, top row first.
std::vector<std::uint8_t> gray_levels(DIB_HANDLE d) {
  const int w = DIB_Width(d);
  std::vector<std::uint8_t> all(static_cast<std::size_t>(w) * DIB_Height(d));
  std::vector<std::uint8_t> row(static_cast<std::size_t>(w) + 4);
  for (int y = 0; y < DIB_Height(d); ++y) {
    DIB_ReadRowComponent(d, y, row.data(), DIB_COMP_GRAY);
    std::copy_n(row.begin(), w, all.begin() + static_cast<std::ptrdiff_t>(y) * w);
  }
  return all;
}

// Adds deterministic noise of up to +-6 levels, as a scanner's sensor does.
void add_noise(std::vector<std::uint8_t>& levels) {
  std::uint32_t state = 12345;
  for (std::uint8_t& p : levels) {
    state = state * 1103515245u + 12345u;
    p = static_cast<std::uint8_t>(std::clamp(int{p} + static_cast<int>((state >> 16) % 13) - 6, 0, 255));
  }
}

// The virtual scanner's letter page at 300 dpi, 8-bit gray, turned
// counter-clockwise by `degrees` as seen, with noise.
DIB_HANDLE letter_page(double degrees) {
  const vscan::PageFormat format{.pixel_type = TWPT_GRAY, .bit_depth = 8, .width = 2550, .height = 3300,
                                 .x_dpi = 300, .y_dpi = 300};
  vscan::PageFacts facts;
  facts.skew_degrees = degrees;
  const auto raster = vscan::render_page(format, facts);
  std::vector<std::uint8_t> levels = raster->pixels;
  add_noise(levels);
  return gray_image(format.width, format.height, levels);
}

// A w x h picture turned counter-clockwise by `degrees` about its centre
// (as the scanner's pages are): black where `dark(u, v)` holds for the
// straight picture's point (pixels from the centre, v down), else white.
template <typename Dark>
std::vector<std::uint8_t> turned_picture(int w, int h, double degrees, Dark&& dark) {
  const double c = std::cos(degrees * kDegree), s = std::sin(degrees * kDegree);
  std::vector<std::uint8_t> out(static_cast<std::size_t>(w) * h);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const double u = x - (w - 1) / 2.0, v = y - (h - 1) / 2.0;
      out[static_cast<std::size_t>(y) * w + x] = dark(c * u - s * v, s * u + c * v) ? 0 : 255;
    }
  }
  return out;
}

// The first row from the top whose pixel in column x is dark, or -1.
int first_dark_row(const std::vector<std::uint8_t>& g, int w, int h, int x) {
  for (int y = 0; y < h; ++y)
    if (g[static_cast<std::size_t>(y) * w + x] < 128) return y;
  return -1;
}
// The first dark column of row y counted from the left (or from the right).
int first_dark_column(const std::vector<std::uint8_t>& g, int w, int y, bool from_right) {
  for (int i = 0; i < w; ++i) {
    const int x = from_right ? w - 1 - i : i;
    if (g[static_cast<std::size_t>(y) * w + x] < 128) return x;
  }
  return -1;
}

// A picture of horizontal rules 6 pixels thick, 30 to 60 pixels apart and of
// uneven lengths within 80 % of the width: a page of text lines reduced to
// its lines. Evenly spaced lines would match at several angles (a slope of
// one spacing per width as well as the right one), text lines do not.
bool rule_lines(double u, double v, int w) {
  static const std::vector<double> tops = [] {
    std::vector<double> t;
    for (double top = -2000; top < 2000; top += 30 + (t.size() * 17) % 31) t.push_back(top);
    return t;
  }();
  if (std::abs(u) >= 0.4 * w) return false;
  const auto next = std::upper_bound(tops.begin(), tops.end(), v);
  if (next == tops.begin()) return false;
  const auto i = static_cast<int>(next - tops.begin() - 1);
  return v < tops[i] + 6 && u > -0.4 * w + (i * 53) % 90 && u < 0.4 * w - (i * 31) % 150;
}

// ---- Estimation on rendered text pages ----

TEST_F(SkewTest, EstimatesTurnedLetterPagesAndStraightensThem) {
  // Angles on and between the search grids, both sides, all search ranges.
  // Straightened by the automatic deskew, or by the render angle negated.
  const double angles[] = {0.0, 0.37, -0.6, 1.45, -2.93, 3.9, -4.2, 6.5, -7.3, 8.0, -9.8, 10.0, -10.0};
  for (std::size_t i = 0; i < std::size(angles); ++i) {
    const double a = angles[i];
    SCOPED_TRACE(testing::Message() << "page turned by " << a << " degrees");
    Owned page(letter_page(a));
    const double estimate = DIB_DeskewAngle(page.get());
    ASSERT_GT(estimate, -9) << "no skew found";
    EXPECT_NEAR(estimate / kDegree, -a, kToleranceDegrees);  // it must turn back by a

    Owned straight(i % 3 == 2 ? DibCopy(page.get()) : DIB_AutoDeskew(page.get()));
    if (i % 3 == 2) ASSERT_EQ(DIB_SkewByDegrees(straight.get(), -a), 1);
    EXPECT_EQ(DIB_Width(straight.get()), 2550);
    EXPECT_EQ(DIB_Height(straight.get()), 3300);
    const double residual = DIB_DeskewAngle(straight.get());
    ASSERT_GT(residual, -9);
    EXPECT_NEAR(residual / kDegree, 0, kToleranceDegrees);
  }
}

TEST_F(SkewTest, BlankPagesHaveNoSkewAndComeBackUnchanged) {
  for (int w : {600, 2550}) {
    SCOPED_TRACE(w);
    std::vector<std::uint8_t> levels(static_cast<std::size_t>(w) * 800, 235);
    add_noise(levels);
    Owned page(gray_image(w, 800, levels));
    EXPECT_EQ(DIB_DeskewAngle(page.get()), DIB_NO_SKEW);
    const auto before = block_bytes(page.get());
    Owned copy(DIB_AutoDeskew(page.get()));
    ASSERT_TRUE(copy);
    EXPECT_NE(copy.get(), page.get());
    EXPECT_EQ(block_bytes(copy.get()), before);
    EXPECT_EQ(block_bytes(page.get()), before);
    EXPECT_EQ(dib::auto_deskew(page.get()), 0u) << "post-processing keeps the page";
  }
}

TEST_F(SkewTest, RuledPageTurnedTwoDegreesClockwiseIsStraightenedCounterClockwise) {
  const int w = 1200, h = 1600;
  Owned page(gray_image(w, h, turned_picture(w, h, -2.0, [&](double u, double v) { return rule_lines(u, v, w); })));
  EXPECT_NEAR(DIB_DeskewAngle(page.get()), 0.0349, 0.001);

  const auto tilted = gray_levels(page.get());
  const int left = w / 5, right = w - w / 5;
  // Turned clockwise, a rule's right end lies lower.
  EXPECT_GT(first_dark_row(tilted, w, h, right) - first_dark_row(tilted, w, h, left), 20);

  const dib::Handle straight = dib::auto_deskew(page.get());
  ASSERT_NE(straight, 0u);
  Owned owned(straight);
  const auto g = gray_levels(straight);
  for (int x : {left, w / 2, right}) EXPECT_NEAR(first_dark_row(g, w, h, x), first_dark_row(g, w, h, w / 2), 1) << x;
}

// ---- Rotation by a given angle ----

TEST_F(SkewTest, TurnStraightensBothTheHorizontalAndVerticalEdgesOfAFrame) {
  const int w = 900, h = 1200;
  for (double a : {8.0, -5.0, 12.0}) {
    SCOPED_TRACE(a);
    // A frame 4 pixels thick around 70 % of the picture, turned by a.
    const auto frame = [&](double u, double v) {
      const double hu = 0.35 * w, hv = 0.35 * h;
      const bool inside = std::abs(u) <= hu + 2 && std::abs(v) <= hv + 2;
      return inside && (std::abs(u) >= hu - 2 || std::abs(v) >= hv - 2);
    };
    Owned page(gray_image(w, h, turned_picture(w, h, a, frame)));
    ASSERT_EQ(DIB_SkewByDegrees(page.get(), -a), 1);
    const auto g = gray_levels(page.get());
    const int top_left = first_dark_row(g, w, h, w / 3), top_right = first_dark_row(g, w, h, 2 * w / 3);
    EXPECT_NEAR(top_left, top_right, 1) << "top edge";
    const int upper = first_dark_column(g, w, h / 3, false), lower = first_dark_column(g, w, 2 * h / 3, false);
    EXPECT_NEAR(upper, lower, 1) << "left edge";
    // The turn is about the centre.
    EXPECT_NEAR(upper + first_dark_column(g, w, h / 3, true), w - 1, 3);
  }
}

TEST_F(SkewTest, APictureSymmetricUnderAHalfTurnStaysSymmetric) {
  // The turn is about the centre pixel and its offsets are rounded alike on
  // both sides, so a half-turn-symmetric picture stays so (the refilled
  // border strips aside). One-sided rounding would shift one half by a row.
  const int w = 201, h = 151;
  std::vector<std::uint8_t> levels(static_cast<std::size_t>(w) * h);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const int a = std::abs(x - w / 2) * 7 + std::abs(y - h / 2) * 3, b = (x - w / 2) * (y - h / 2);
      levels[static_cast<std::size_t>(y) * w + x] = static_cast<std::uint8_t>((a * 13 + b * 5) % 256);
    }
  }
  for (double a : {2.3, -4.1, 7.7}) {
    SCOPED_TRACE(a);
    Owned img(gray_image(w, h, levels));
    ASSERT_EQ(DIB_SkewByDegrees(img.get(), a), 1);
    const auto g = gray_levels(img.get());
    const double t = std::abs(a * kDegree);
    const int dv = static_cast<int>(std::tan(t) * w / 2) + 2, dh = static_cast<int>(std::sin(t) * h / 2) + 2;
    int asymmetric = 0;
    for (int y = dv; y < h - dv; ++y)
      for (int x = dh; x < w - dh; ++x)
        asymmetric += g[static_cast<std::size_t>(y) * w + x] != g[static_cast<std::size_t>(h - 1 - y) * w + (w - 1 - x)];
    EXPECT_EQ(asymmetric, 0);
    EXPECT_NE(g, levels) << "nothing turned";
  }
}

TEST_F(SkewTest, UncoveredEdgesShowNoSecondCopyOfTheContent) {
  // Dark blocks lying in the edge rows and columns that the shears uncover:
  // after the turn each block must be there once, not also as a stale copy
  // in the place it left.
  const int w = 400, h = 300;
  std::vector<std::uint8_t> levels(static_cast<std::size_t>(w) * h, 240);
  const int blocks[][2] = {{340, h - 14}, {40, 4}, {4, 230}, {w - 14, 60}};  // left, top corners
  for (const auto& b : blocks)
    for (int y = b[1]; y < b[1] + 10; ++y)
      for (int x = b[0]; x < b[0] + 10; ++x) levels[static_cast<std::size_t>(y) * w + x] = 0;
  const auto dark_count = [](const std::vector<std::uint8_t>& g) {
    return std::count_if(g.begin(), g.end(), [](std::uint8_t p) { return p < 128; });
  };
  for (double a : {6.0, -6.0}) {
    SCOPED_TRACE(a);
    Owned img(gray_image(w, h, levels));
    ASSERT_EQ(DIB_SkewByDegrees(img.get(), a), 1);
    const auto g = gray_levels(img.get());
    // Blocks pushed partly out of the image may lose pixels; none may double.
    EXPECT_LE(dark_count(g), dark_count(levels));
    EXPECT_GE(dark_count(g), dark_count(levels) / 4) << "the blocks vanished";
    EXPECT_EQ(std::count(g.begin(), g.end(), 255), 0) << "an uncovered pixel was left unfilled";
  }
}

// A 0/1 picture with blocks, lines and single pixels, stored at `depth`:
// white pixels get the largest value of every sample.
DIB_HANDLE two_level_image(int depth, int w, int h) {
  const DIB_HANDLE d = DIB_Allocate(depth, w, h);
  DIB_SetResolution(d, 200, 300);
  const int bytes = (depth * w + 7) / 8;
  for (int y = 0; y < h; ++y) {
    std::vector<std::uint8_t> row(static_cast<std::size_t>(bytes) + 8, 0);
    for (int x = 0; x < w; ++x) {
      const bool white = ((x / 5 + y / 3) % 3 != 0) && (x * 7 + y * 13) % 11 != 0;
      if (!white) continue;
      if (depth < 8) {
        const int bit = x * depth;
        row[bit / 8] |= static_cast<std::uint8_t>(((1 << depth) - 1) << (8 - depth - bit % 8));
      } else {
        const int b = depth / 8;
        for (int k = 0; k < b; ++k) row[static_cast<std::size_t>(x) * b + k] = (depth == 32 && k == 3) ? 0 : 0xFF;
      }
    }
    DIB_WritePackedRow(d, y, row.data());
  }
  return d;
}

TEST_F(SkewTest, OnePictureTurnsAlikeAtEveryDepthAndRowOrder) {
  // Pixels move whole, bit-exactly below 8 bits per pixel, and the border
  // fill picks the darker pixel: the same picture must come out the same.
  const int sizes[][2] = {{101, 77}, {33, 40}, {64, 9}};
  for (const auto& size : sizes) {
    for (double a : {3.0, -7.0, 1.5, -20.0}) {
      const int w = size[0], h = size[1];
      Owned reference(two_level_image(8, w, h));
      ASSERT_EQ(DIB_SkewByDegrees(reference.get(), a), 1);
      const auto expected = rgb_pixels(reference.get());
      Owned untouched(two_level_image(8, w, h));
      if (std::abs(a) >= 3) ASSERT_NE(rgb_pixels(untouched.get()), expected) << "the turn changed nothing";
      for (const DepthCase& d : all_depths()) {
        for (bool top_down : {false, true}) {
          SCOPED_TRACE(label(d.depth, w, h) + " at " + std::to_string(a) + (top_down ? " top-down" : ""));
          Owned img(two_level_image(d.depth, w, h));
          if (top_down) make_top_down(img.get());
          ASSERT_EQ(DIB_SkewByDegrees(img.get(), a), 1);
          EXPECT_EQ(DIB_Width(img.get()), w);
          EXPECT_EQ(DIB_Height(img.get()), h);
          EXPECT_EQ(DIB_Depth(img.get()), d.depth);
          EXPECT_EQ(DIB_XResolutionInt(img.get()), 200);
          EXPECT_EQ(DIB_YResolutionInt(img.get()), 300);
          EXPECT_EQ(DIB_IsValid(img.get()), 1);
          EXPECT_EQ(rgb_pixels(img.get()), expected);
        }
      }
    }
  }
}

TEST_F(SkewTest, TurnsTooSmallToMoveAPixelLeaveTheBlockAlone) {
  for (const DepthCase& d : all_depths()) {
    Owned img(make_image(d.depth, 300, 200));
    const auto before = block_bytes(img.get());
    for (double radians : {0.0, 0.001, -0.001}) EXPECT_EQ(DIB_SkewByRadians(img.get(), radians), 1);
    EXPECT_EQ(DIB_SkewByDegrees(img.get(), 0), 1);
    EXPECT_EQ(block_bytes(img.get()), before) << d.depth;
  }
}

TEST_F(SkewTest, ExtremeAnglesAndTinyImagesStayInsideTheImage) {
  const double angles[] = {89.99, 90, -90, 180, -170, 45, 1e6, std::nan(""), INFINITY};
  const int shapes[][2] = {{1, 1}, {1, 9}, {9, 1}, {2, 3}, {40, 30}};
  for (const auto& s : shapes) {
    for (int depth : {1, 4, 8, 24}) {
      for (double a : angles) {
        SCOPED_TRACE(label(depth, s[0], s[1]) + " at " + std::to_string(a));
        Owned img(make_image(depth, s[0], s[1]));
        EXPECT_EQ(DIB_SkewByDegrees(img.get(), a), 1);
        EXPECT_EQ(DIB_IsValid(img.get()), 1);
        EXPECT_EQ(DIB_Width(img.get()), s[0]);
        EXPECT_EQ(DIB_Height(img.get()), s[1]);
      }
      Owned img(make_image(depth, s[0], s[1]));
      const double e = DIB_DeskewAngle(img.get());
      EXPECT_TRUE(e == DIB_NO_SKEW || std::abs(e) < 0.25) << e;
    }
  }
}

// ---- The boundary ----

TEST_F(SkewTest, BadHandlesAreReportedAndNullHandlesIgnored) {
  DIB_HANDLE stale = DIB_Allocate(8, 8, 8);
  DIB_Free(stale);
  TWAIN_ClearError();
  EXPECT_EQ(DIB_DeskewAngle(stale), DIB_NO_SKEW);
  EXPECT_EQ(TWAIN_LastErrorCode(), ERR_BAD_DIB);
  for (const auto& call : {+[](DIB_HANDLE h) { return DIB_SkewByDegrees(h, 2) == 0; },
                           +[](DIB_HANDLE h) { return DIB_SkewByRadians(h, 0.1) == 0; },
                           +[](DIB_HANDLE h) { return DIB_AutoDeskew(h) == 0; }}) {
    TWAIN_ClearError();
    EXPECT_TRUE(call(stale));
    EXPECT_EQ(TWAIN_LastErrorCode(), ERR_BAD_DIB);
    TWAIN_ClearError();
    EXPECT_TRUE(call(0));
    EXPECT_EQ(TWAIN_LastErrorCode(), 0);
  }
  EXPECT_EQ(DIB_DeskewAngle(0), DIB_NO_SKEW);
  EXPECT_EQ(TWAIN_LastErrorCode(), 0);
}

// The trace of each test goes to a log file in a private folder.
class SkewTraceTest : public SkewTest {
 protected:
  void SetUp() override {
    SkewTest::SetUp();
    char pattern[] = "/tmp/orvskew.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    TWAIN_SetLogFolder(dir_.c_str());
    TWAIN_LogFile(1);
  }
  void TearDown() override {
    LogResetForTests();
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
    SkewTest::TearDown();
  }
  // The trace written while `f` runs.
  template <typename F>
  std::string traced(F&& f) {
    LogFlush();
    const std::size_t before = read_file(LogFullPath()).size();
    f();
    LogFlush();
    return read_file(LogFullPath()).substr(before);
  }
  static int count_of(const std::string& text, const std::string& what) {
    int n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  }
  std::string dir_;
};

TEST_F(SkewTraceTest, TracesEachSearchAndTheDeskewSteps) {
  const int w = 1200, h = 1600;
  const auto ruled = [&](double degrees) {
    return gray_image(w, h, turned_picture(w, h, degrees, [&](double u, double v) { return rule_lines(u, v, w); }));
  };
  // Searches: coarse, the wider one when the coarse peak sits on a grid end
  // (as it does 6 degrees either way), fine.
  const std::pair<double, int> cases[] = {{-2.0, 2}, {6.0, 3}, {-6.0, 3}};
  for (const auto& [degrees, searches] : cases) {
    SCOPED_TRACE(degrees);
    Owned page(ruled(degrees));
    double angle = 0;
    const std::string t = traced([&] { angle = DIB_DeskewAngle(page.get()); });
    EXPECT_NEAR(angle / kDegree, -degrees, kToleranceDegrees);
    EXPECT_EQ(count_of(t, "SHS time: "), searches) << t;
    EXPECT_EQ(count_of(t, "estimated skew angle: "), searches) << t;
    char line[96];
    std::snprintf(line, sizeof line, "DIB_DeskewAngle(0x%lx) => %0.3f\n", static_cast<unsigned long>(page.get()), angle);
    EXPECT_NE(t.find(line), std::string::npos) << t;
  }

  // Text turned 8 degrees smears flat over the whole coarse grid: both wider
  // searches run and the one on the skew's side finds it.
  Owned letter(letter_page(8.0));
  std::string t = traced([&] { EXPECT_NEAR(DIB_DeskewAngle(letter.get()) / kDegree, -8.0, kToleranceDegrees); });
  EXPECT_EQ(count_of(t, "SHS time: "), 4) << t;
  EXPECT_EQ(count_of(t, "No skew found\n"), 2) << t;
  EXPECT_EQ(count_of(t, "estimated skew angle: -"), 2) << t;

  Owned blank(gray_image(64, 64, std::vector<std::uint8_t>(64 * 64, 255)));
  t = traced([&] { DIB_Free(DIB_AutoDeskew(blank.get())); });
  EXPECT_NE(t.find("No skew found\npeak ratio: 0.0\ndSigAvg=0.000\niMax=-1\n"), std::string::npos) << t;
  EXPECT_NE(t.find("FindSkewAngle: "), std::string::npos);
  EXPECT_EQ(t.find("BmiSkew: "), std::string::npos) << "nothing to turn";

  Owned page(ruled(3.0));
  t = traced([&] { DIB_Free(DIB_AutoDeskew(page.get())); });
  EXPECT_NE(t.find("FindSkewAngle: "), std::string::npos);
  EXPECT_NE(t.find("BmiSkew: "), std::string::npos) << t;
  t = traced([&] { DIB_SkewByDegrees(page.get(), -1.5); });
  EXPECT_EQ(t.substr(0, 16), "SkewByDegrees(0x") << t;
  EXPECT_NE(t.find(", -1.500)\n"), std::string::npos) << t;
}

}  // namespace
