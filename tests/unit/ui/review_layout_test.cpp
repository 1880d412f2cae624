// The review window's arithmetic: zoom steps, scale, fit, placement, the
// zoom that keeps the view's centre, the information text.
#include "ui/review_layout.h"

#include <gtest/gtest.h>

#include <cmath>

#include "orivane/dib_api.h"

namespace {

using platform::DrawRect;
using namespace ui;

TEST(ReviewZoom, StepsStopAtTheEndsAndOffStepValuesGoToTheNextStep) {
  struct Case {
    int zoom, in, out;
  };
  for (const Case& c : std::vector<Case>{{12, 25, 12},
                                         {100, 125, 75},
                                         {66, 75, 50},
                                         {400, 400, 300},
                                         {60, 66, 50},
                                         {5, 12, 12},
                                         {1000, 400, 400}}) {
    SCOPED_TRACE(c.zoom);
    EXPECT_EQ(review_zoom_in(c.zoom), c.in);
    EXPECT_EQ(review_zoom_out(c.zoom), c.out);
  }
}

TEST(ReviewScale, PrintedSizeAtZoom100WithUnusableResolutionsAs72) {
  struct Case {
    double sx, sy, rx, ry, scale;
  };
  for (const Case& c : std::vector<Case>{{96, 96, 300, 300, 0.32},
                                         {96, 96, 0, 0, 96.0 / 72},
                                         {96, 96, 49, 300, 0.32},  // 49 counts as 72
                                         {100, 96, 200, 100, 0.5},
                                         {96, 96, 50, 50, 1.92}}) {
    EXPECT_DOUBLE_EQ(review_scale(c.sx, c.sy, c.rx, c.ry), c.scale) << c.rx << "x" << c.ry;
  }
  // Exactly 408: the binary product lands a hair below it.
  EXPECT_EQ(review_drawn_size(2550, 50, 96.0 / 300), 408);
}

TEST(ReviewFit, FirstZoomFromHundredDownAtWhichThePageFits) {
  const DrawRect view{171, 11, 678, 678};
  struct Case {
    int w, h;
    double scale;
    int zoom;
  };
  for (const Case& c : std::vector<Case>{
           {2550, 3300, 0.32, 50},        // a 300-dpi letter page on a 96-ppi screen
           {2550, 3300, 100.0 / 300, 50},
           {400, 500, 0.96, 100},         // small pages are not enlarged
           {678, 678, 1.0, 100},          // exactly the view: fits
           {679, 10, 1.0, 75},            // one pixel too wide
           {100000, 100000, 1.0, 12}}) {  // never fits: the smallest step
    SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
    const int zoom = review_fit_zoom(view, c.w, c.h, c.scale);
    EXPECT_EQ(zoom, c.zoom);
    if (zoom > 12) {
      EXPECT_LE(review_drawn_size(c.h, zoom, c.scale), view.h);
      EXPECT_LE(review_drawn_size(c.w, zoom, c.scale), view.w);
    }
  }
}

TEST(ReviewLayout, SmallPagesAreCentredAndLargeOnesStayOverTheView) {
  const DrawRect view{10, 20, 300, 200};
  struct Case {
    int w, h, pan_x, pan_y;
    DrawRect image;
    bool scrollable;
  };
  for (const Case& c : std::vector<Case>{
           {101, 50, -40, 30, {10 + 99, 20 + 75, 101, 50}, false},  // pan ignored when small
           {500, 100, -50, 0, {10 - 50, 20 + 50, 500, 100}, true},   // pan kept inside
           {500, 100, 80, 0, {10, 20 + 50, 500, 100}, true},         // never past the left edge
           {500, 400, -900, -900, {10 - 200, 20 - 200, 500, 400}, true},  // nor the right/bottom
           {300, 200, 0, 0, {10, 20, 300, 200}, true}}) {             // exactly the view
    SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
    const ReviewPlacement p = review_layout(view, c.w, c.h, 100, 1.0, c.pan_x, c.pan_y);
    EXPECT_EQ(p.image.x, c.image.x);
    EXPECT_EQ(p.image.y, c.image.y);
    EXPECT_EQ(p.image.w, c.image.w);
    EXPECT_EQ(p.image.h, c.image.h);
    EXPECT_EQ(p.scrollable, c.scrollable);
    // The pan kept is the one applied, so that a drag continues from there.
    if (c.w >= view.w) EXPECT_EQ(p.pan_x, p.image.x - view.x);
  }
}

// The page's point under the view's centre stays under it after a zoom
// (within a pixel), unless that would uncover part of the view.
TEST(ReviewZoomPan, ThePointAtTheCentreStaysInPlace) {
  const DrawRect view{171, 11, 678, 678};
  const int w = 2550, h = 3300;
  const double scale = 0.32;
  for (int pan : {0, -300, -700}) {
    for (auto [from, to] : std::vector<std::pair<int, int>>{{200, 300}, {300, 200}, {150, 400}}) {
      SCOPED_TRACE(std::to_string(pan) + ": " + std::to_string(from) + "->" + std::to_string(to));
      const ReviewPlacement before = review_layout(view, w, h, from, scale, pan, pan);
      const ReviewPan moved = review_zoom_pan(view, before, from, to);
      const ReviewPlacement after = review_layout(view, w, h, to, scale, moved.x, moved.y);
      const double centre_x = view.x + view.w / 2.0, centre_y = view.y + view.h / 2.0;
      // Where the page had to stay over the view, the edge wins.
      if (after.pan_x == moved.x)
        EXPECT_NEAR((centre_x - before.image.x) / before.image.w,
                    (centre_x - after.image.x) / after.image.w, 1.0 / after.image.w + 1e-9);
      else
        EXPECT_TRUE(after.pan_x == 0 || after.pan_x == view.w - after.image.w);
      if (after.pan_y == moved.y)
        EXPECT_NEAR((centre_y - before.image.y) / before.image.h,
                    (centre_y - after.image.y) / after.image.h, 1.0 / after.image.h + 1e-9);
    }
  }
}

TEST(ReviewInfo, SizeInTheLocalesUnitAndThePixelTypesName) {
  struct Case {
    int w, h;
    double rx, ry;
    int type;
    bool inches;
    const char* text;
  };
  for (const Case& c : std::vector<Case>{
           {2550, 3300, 300, 300, DIB_PT_RGB, true, " 8.5 x 11 in\n RGB Color"},
           {2550, 3300, 300, 300, DIB_PT_GRAY, false, " 21.59 x 27.94 cm\n Grayscale"},
           {640, 480, 0, 72, DIB_PT_BW, true, " 640 x 480 pixels\n BW"},
           {100, 100, 100, 100, DIB_PT_PALETTE, true, " 1 x 1 in\n Indexed Color"},
           {100, 100, 100, 100, DIB_PT_CMY, true, " 1 x 1 in\n CMY Color"},
           {100, 100, 100, 100, DIB_PT_CMYK, true, " 1 x 1 in\n CMYK Color"},
           {100, 100, 100, 100, -1, true, " 1 x 1 in\n unknown format"},
           {100, 100, 100, 100, 6, true, " 1 x 1 in\n unknown format"}}) {
    EXPECT_EQ(review_info_text(c.w, c.h, c.rx, c.ry, c.type, c.inches), c.text);
  }
  EXPECT_TRUE(review_locale_uses_inches(0x0409));   // English (United States)
  EXPECT_FALSE(review_locale_uses_inches(0x0809));  // English (United Kingdom)
  EXPECT_FALSE(review_locale_uses_inches(0x0407));  // German
}

}  // namespace
