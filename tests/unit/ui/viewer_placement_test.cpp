// The viewer's arithmetic and options without a display: where the window
// goes against the work area, how a remembered rectangle comes back inside,
// the button column, the painted size of non-square pixels, the option
// words; and the calls' answers when there is no window to show.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "../test_support.h"
#include "core/error_record.h"
#include "orivane/dib_api.h"
#include "orivane/errors.h"
#include "orivane/view_api.h"
#include "ui/viewer_options.h"
#include "ui/viewer_placement.h"
#include "ui/viewer_window.h"

namespace {

using ui::PlacementTexts;
using ui::ViewRect;

TEST(ViewerPlacement, EdgesAndSizesArePixelsOrPercentOfTheWorkArea) {
  // A work area that does not start at the screen's corner: every edge is
  // counted from its start.
  const ViewRect work{100, 50, 1700, 950};  // 1600 x 900
  const ViewRect current{100, 50, 740, 530};  // 640 x 480 at the corner
  struct Case {
    const char* what;
    PlacementTexts texts;
    bool centre;
    ViewRect expected;
  };
  const Case cases[] = {
      {"nothing given", {"", "", "", "", "", ""}, false, current},
      {"width 50%", {"", "", "", "", "50%", ""}, false, {100, 50, 900, 530}},
      {"left 10: that edge only", {"10", "", "", "", "", ""}, false, {110, 50, 740, 530}},
      {"left 10 and width 300", {"10", "", "", "", "300", ""}, false, {110, 50, 410, 530}},
      {"percent rounds to nearest", {"33%", "1%", "", "", "", ""}, false, {628, 59, 740, 530}},
      {"right and width, no left: grows leftwards", {"", "", "50%", "", "200", ""}, false,
       {700, 50, 900, 530}},
      {"bottom and height, no top", {"", "", "", "800", "", "25%"}, false, {100, 625, 740, 850}},
      {"left and right and width: width wins", {"0", "", "900", "", "100", ""}, false,
       {100, 50, 200, 530}},
      {"unreadable texts leave the edges", {"ten", "", "", "", "10px", ""}, false, current},
      {"centred on both axes", {"", "", "", "", "800", "600"}, true, {500, 200, 1300, 800}},
      {"centred only where no edge is given", {"", "0", "", "", "800", ""}, true,
       {500, 50, 1300, 530}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(ui::place_view(current, work, c.texts, c.centre), c.expected);
  }
}

TEST(ViewerPlacement, ARememberedRectangleComesBackInside) {
  const ViewRect work{0, 30, 1600, 900};
  struct Case {
    ViewRect remembered, expected;
  };
  const Case cases[] = {
      {{200, 100, 600, 400}, {200, 100, 600, 400}},        // inside: kept
      {{-300, 100, 500, 400}, {0, 100, 800, 400}},         // off the left: shifted, same size
      {{1500, 800, 1900, 1000}, {1200, 700, 1600, 900}},   // off the right and bottom
      {{100, 0, 400, 200}, {100, 30, 400, 230}},           // under the top panel
      {{-50, -50, 2000, 1000}, {0, 30, 1600, 900}},        // larger than the area: cut
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(ui::position_text(c.remembered));
    EXPECT_EQ(ui::bring_inside(c.remembered, work), c.expected);
  }
  for (const char* bad : {"", "1,2,3", "1,2,3,4x", "5,5,1,9", "a,b,c,d"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(ui::parse_position(bad));
  }
  const ViewRect r{-10, 20, 300, 400};
  EXPECT_EQ(ui::parse_position(ui::position_text(r)), r);
}

TEST(ViewerPlacement, ShownButtonsStackAndThePageControlsFollowThem) {
  // 8 x 16 pixel characters: two pixels a dialog unit each way.
  struct Case {
    ui::ButtonsShown shown;
    int pages;
    int print_top, scroll_top;  // -1: not shown
  };
  const Case cases[] = {
      {{true, false, false, false}, 1, -1, -1},
      {{true, false, true, false}, 1, 43, -1},  // Print takes Cancel's empty slot
      {{false, false, true, false}, 3, 8, 43},  // a hidden OK takes no place either
      {{true, true, true, true}, 3, 78, 148},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.print_top);
    const ui::ViewerControls v = ui::layout_viewer(800, 600, c.shown, c.pages, 8, 16);
    EXPECT_EQ(v.print.width() > 0 ? v.print.top : -1, c.print_top);
    EXPECT_EQ(v.scroll.width() > 0 ? v.scroll.top : -1, c.scroll_top);
    if (c.scroll_top >= 0) {
      EXPECT_EQ(v.scroll.height(), 160);
      EXPECT_EQ(v.page_text.top + v.page_text.height() / 2, (v.scroll.top + v.scroll.bottom) / 2);
    }
    EXPECT_EQ(v.image, (ViewRect{112, 8, 790, 590}));
  }
}

TEST(ViewerPlacement, NonSquarePixelsAreStretchedAndTheImageFitsTheArea) {
  struct Case {
    int w, h;
    double xdpi, ydpi;
    ui::Size display, painted;  // painted into 400 x 300
  };
  const Case cases[] = {
      {100, 100, 200, 100, {100, 200}, {150, 300}},  // height doubled
      {100, 100, 100, 200, {200, 100}, {400, 200}},  // width doubled
      {100, 50, 0, 300, {100, 50}, {400, 200}},      // one resolution unknown: as it is
      {10, 10, 300, 300, {10, 10}, {300, 300}},      // small images are enlarged
      {3, 7, 150, 100, {3, 11}, {82, 300}},          // 10.5 rounds up
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.xdpi) + " x " + std::to_string(c.ydpi));
    EXPECT_EQ(ui::display_size(c.w, c.h, c.xdpi, c.ydpi), c.display);
    EXPECT_EQ(ui::painted_size(c.display, {400, 300}), c.painted);
  }
}

TEST(ViewerOptions, FlagWordsNamesAndPlacementTexts) {
  using ui::ViewOptions;
  struct Case {
    const char* name;
    const char* value;
    bool (*holds)(const ViewOptions&);
  };
  static const std::string long_title(200, 't');
  const Case cases[] = {
      {"print.visible", "no", [](const ViewOptions& o) { return !o.print_shown; }},
      {"Print.Visible", "maybe", [](const ViewOptions& o) { return o.print_shown; }},
      {"cancel.visible", "OUI", [](const ViewOptions& o) { return o.cancel_shown; }},
      {"ok.visible", "maybe", [](const ViewOptions& o) { return !o.ok_hidden; }},
      {"ok.visible", "nein", [](const ViewOptions& o) { return o.ok_hidden; }},
      {"modal", "faux", [](const ViewOptions& o) { return o.modeless; }},
      {"modal", "", [](const ViewOptions& o) { return !o.modeless; }},
      {"visible", "0", [](const ViewOptions& o) { return o.hidden; }},
      {"pos.remember", "ja", [](const ViewOptions& o) { return o.remember; }},
      {"topleft", "5,6", [](const ViewOptions& o) { return o.place.left == "5" && o.place.top == "6"; }},
      {"size", "50%,40", [](const ViewOptions& o) { return o.place.width == "50%" && o.place.height == "40"; }},
      {"pos", "1,2,30%,4",
       [](const ViewOptions& o) {
         return o.place.left == "1" && o.place.top == "2" && o.place.width == "30%" && o.place.height == "4";
       }},
      {"x", "12345678901234567890", [](const ViewOptions& o) { return o.place.left == "123456789012345"; }},
      {"title", long_title.c_str(), [](const ViewOptions& o) { return o.title.size() == 127; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + "=" + c.value);
    ViewOptions o;
    ASSERT_NE(ui::view_option_apply(o, c.name, c.value), ui::OptionEffect::Unknown);
    EXPECT_TRUE(c.holds(o));
  }

  // "position" with nothing clears the edges and keeps the size; "center"
  // clears them too and stops remembering; "reset" undoes everything.
  ViewOptions o;
  for (const char* n : {"left", "top", "right", "bottom", "width", "height"}) ui::view_option_apply(o, n, "7");
  o.centre = true;
  ui::view_option_apply(o, "position", "");
  EXPECT_EQ(o.place.left + o.place.top + o.place.right + o.place.bottom, "");
  EXPECT_EQ(o.place.width + o.place.height, "77");
  EXPECT_FALSE(o.centre);
  o.remember = true;
  o.place.left = "3";
  ui::view_option_apply(o, "center", "yes");
  EXPECT_TRUE(o.centre);
  EXPECT_FALSE(o.remember);
  EXPECT_EQ(o.place.left, "");
  ui::view_option_apply(o, "reset", "");
  EXPECT_EQ(o.place.width, "");
  EXPECT_FALSE(o.centre);
}

class ViewerWithoutWindows : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetForTests();
    ::setenv("QUILLET_UI", "none", 1);
  }
  void TearDown() override { ResetForTests(); }
};

TEST_F(ViewerWithoutWindows, UnknownOptionsAreRefusedAndNothingWaitsForAWindow) {
  EXPECT_EQ(TWAIN_SetViewOption("colour", "red"), 0);
  EXPECT_EQ(TWAIN_LastErrorCode(), ERR_BAD_PARAMETER);
  EXPECT_EQ(core::error_record().text.find("colour") != std::string::npos, true) << core::error_record().text;
  EXPECT_EQ(DIB_SetViewOption("Width", "50%"), 1);
  EXPECT_EQ(ui::view_options().place.width, "50%");

  ResetForTests();
  // A file that is there but holds no page.
  const std::string empty = ::testing::TempDir() + std::to_string(::getpid()) + "-viewer-empty.tif";
  std::ofstream(empty) << "";
  EXPECT_EQ(TWAIN_ViewFile(empty.c_str()), -2);
  // The loader's own reason comes first when it gave one.
  EXPECT_NE(TWAIN_LastErrorCode(), 0);
  std::remove(empty.c_str());

  const DIB_HANDLE page = DIB_Create(DIB_PT_GRAY, 20, 10, 8);
  core::error_clear();
  EXPECT_EQ(DIB_View(page, "modal", 0), -1);
  EXPECT_EQ(TWAIN_LastErrorCode(), ERR_FAILURE);
  TWAIN_SetViewOption("modeless", "1");
  EXPECT_EQ(DIB_View(page, "modeless", 0), 0);
  EXPECT_EQ(TWAIN_IsViewOpen(), 0);
  EXPECT_EQ(TWAIN_ViewClose(), 1);
  EXPECT_EQ(DIB_IsValid(page), 1);  // the caller's image is its own
  DIB_Free(page);
}

}  // namespace
