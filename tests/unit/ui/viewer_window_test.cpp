// The viewer on a virtual display: what its window shows (read back from the
// widgets and, for place and pixels, from the X server with xdotool and
// import), how keys answer a modal view, and a modeless window that stays up
// until it is closed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <string>
#include <chrono>
#include <thread>

#include "../../xvfb_support.h"
#include "../test_support.h"
#include "core/app_identity.h"
#include "orivane/dib_api.h"
#include "orivane/multipage_files.h"
#include "orivane/twain_acquire.h"
#include "orivane/view_api.h"
#include "platform/settings_store.h"
#include "platform/ui.h"
#include "ui/viewer_window.h"
#include "ui/window_ui.h"

namespace {

class ViewerWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!display_.ready()) GTEST_SKIP() << "no Xvfb or xdotool";
    ResetForTests();
    ::setenv("QUILLET_MODULE_PATH", build_folder().c_str(), 1);
    ::setenv("DISPLAY", display_.name().c_str(), 1);
    folder_ = ::testing::TempDir() + "viewer-" + std::to_string(::getpid());
    std::filesystem::create_directories(folder_);
    ::setenv("XDG_CONFIG_HOME", folder_.c_str(), 1);
    platform::ui_register_window_backend(&ui::make_window_ui);
    platform::ui_select(platform::UiKind::Window);
    ASSERT_TRUE(platform::ui().shows_windows());
  }
  void TearDown() override {
    if (person_.joinable()) person_.join();
    TWAIN_ViewClose();
    ResetForTests();
    std::filesystem::remove_all(folder_);
  }

  // A file of `pages` gray pages, page i 90 pixels high and 90 (i + 1) wide.
  std::string pages_file(int pages) {
    std::vector<DIB_HANDLE> dibs;
    for (int i = 0; i < pages; ++i) dibs.push_back(DIB_Create(DIB_PT_GRAY, 90 * (i + 1), 90, 8));
    const std::string path = folder_ + "/pages" + std::to_string(pages) + ".tif";
    EXPECT_EQ(DIB_WriteArrayToFilename(dibs.data(), pages, path.c_str()), 0);
    for (DIB_HANDLE d : dibs) DIB_Free(d);
    return path;
  }

  // A person who waits for the viewer and types `keys` into it; a window
  // that never comes ends the display, so the modal view returns.
  void person_types(const std::string& keys) {
    if (person_.joinable()) person_.join();
    person_ = std::thread([this, keys] {
      const std::string id = display_.wait_for_window("Viewer test", 20);
      if (id.empty()) {
        display_.stop();
        return;
      }
      if (keys == "<kill>") return display_.stop();
      display_.press(id, keys);
    });
  }

  // The window's place and size as the X server has them.
  ui::ViewRect server_geometry() {
    const std::string id = display_.wait_for_window("Viewer test", 10);
    const std::string text = display_.run("xdotool getwindowgeometry " + id);
    std::smatch m;
    if (!std::regex_search(text, m, std::regex(R"(Position: (-?\d+),(-?\d+)[\s\S]*Geometry: (\d+)x(\d+))")))
      return {};
    const int x = std::stoi(m[1]), y = std::stoi(m[2]);
    return {x, y, x + std::stoi(m[3]), y + std::stoi(m[4])};
  }

  void set_work_area(int x, int y, int w, int h) {
    display_.run("xprop -root -f _NET_WORKAREA 32c -set _NET_WORKAREA " + std::to_string(x) + "," +
                 std::to_string(y) + "," + std::to_string(w) + "," + std::to_string(h));
  }

  std::unique_ptr<test_tools::VirtualDisplay> display_holder_ = test_tools::start_virtual_display();
  test_tools::VirtualDisplay& display_ = *display_holder_;
  std::string folder_;
  std::thread person_;
};

TEST_F(ViewerWindowTest, AModalViewAnswersOkOrTheCloseBox) {
  const std::string file = pages_file(3);
  struct Case {
    const char* keys;
    int expected;
  };
  // Enter is the OK button; Escape is what FLTK's close box does; a display
  // that goes away ends the view as closed (last: it takes the display).
  for (const Case& c : {Case{"Return", 1}, Case{"Escape", 0}, Case{"<kill>", 0}}) {
    SCOPED_TRACE(c.keys);
    TWAIN_SetViewOption("title", "Viewer test");
    person_types(c.keys);
    EXPECT_EQ(TWAIN_ViewFile(file.c_str()), c.expected);
    person_.join();
    EXPECT_EQ(TWAIN_IsViewOpen(), 0);
  }
}

TEST_F(ViewerWindowTest, AModelessViewShowsPagesAndButtonsAsTheOptionsSay) {
  const std::string file = pages_file(3);
  TWAIN_SetViewOption("modeless", "1");
  TWAIN_SetViewOption("title", "Viewer test");
  ASSERT_EQ(TWAIN_ViewFile(file.c_str()), 1);
  // The call has returned and the window stays up.
  EXPECT_EQ(TWAIN_IsViewOpen(), 1);
  EXPECT_FALSE(display_.wait_for_window("Viewer test", 10).empty());
  ui::ViewerSnapshot s = ui::viewer_snapshot();
  EXPECT_EQ(s.page_text, "1/3");
  EXPECT_TRUE(s.ok && s.scroll);
  EXPECT_FALSE(s.cancel || s.print || s.save);

  // Page Down turns to the second page while the caller only pumps its
  // messages: the page text follows and the wider page is painted.
  display_.press(display_.wait_for_window("Viewer test", 10), "Next");
  for (int i = 0; i < 100 && ui::viewer_snapshot().page_text != "2/3"; ++i) {
    TWAIN_EmptyMessageQueue();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  s = ui::viewer_snapshot();
  EXPECT_EQ(s.page_text, "2/3");
  EXPECT_NEAR(s.painted.width(), 2 * s.painted.height(), 1);

  struct Case {
    const char* name;
    const char* value;
    bool ok, print;
  };
  const Case cases[] = {
      {"print.visible", "maybe", true, true},
      {"print.visible", "no", true, false},
      {"ok.visible", "maybe", true, false},
      {"ok.visible", "no", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + "=" + c.value);
    ASSERT_EQ(TWAIN_SetViewOption(c.name, c.value), 1);
    s = ui::viewer_snapshot();
    EXPECT_EQ(s.ok, c.ok);
    EXPECT_EQ(s.print, c.print);
  }

  // A single image replaces the file's pages in the same window.
  const DIB_HANDLE one = DIB_Create(DIB_PT_GRAY, 50, 50, 8);
  EXPECT_EQ(DIB_View(one, "Viewer test", 0), 1);
  EXPECT_FALSE(ui::viewer_snapshot().scroll);
  DIB_Free(one);

  EXPECT_EQ(TWAIN_ViewClose(), 1);
  EXPECT_EQ(TWAIN_IsViewOpen(), 0);
  EXPECT_TRUE(display_.run("xdotool search --onlyvisible --name 'Viewer test'").empty());
}

TEST_F(ViewerWindowTest, OkOrTheCloseBoxEndAModelessViewWhileTheCallerPumps) {
  const std::string file = pages_file(2);
  TWAIN_SetViewOption("modeless", "yes");
  TWAIN_SetViewOption("pos.remember", "yes");
  TWAIN_SetViewOption("topleft", "30,40");
  for (const char* keys : {"Return", "Escape"}) {
    SCOPED_TRACE(keys);
    TWAIN_SetViewOption("title", "Viewer test");
    ASSERT_EQ(TWAIN_ViewFile(file.c_str()), 1);
    display_.press(display_.wait_for_window("Viewer test", 10), keys);
    for (int i = 0; i < 100 && TWAIN_IsViewOpen(); ++i) {
      TWAIN_PumpMessages(2);
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(TWAIN_IsViewOpen(), 0);
    EXPECT_TRUE(display_.run("xdotool search --onlyvisible --name 'Viewer test'").empty());
    // Closing remembered where the window was.
    const std::optional<std::string> kept =
        platform::settings_get(core::app_identity().title, "View", "Position");
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->rfind("30,40,", 0), 0u) << *kept;
  }
}

TEST_F(ViewerWindowTest, TheWindowIsPlacedAgainstTheWorkAreaAndRemembered) {
  set_work_area(40, 20, 1600, 700);
  const std::string file = pages_file(1);
  TWAIN_SetViewOption("modeless", "1");
  TWAIN_SetViewOption("title", "Viewer test");
  TWAIN_SetViewOption("width", "50%");
  TWAIN_SetViewOption("left", "10");
  ASSERT_EQ(TWAIN_ViewFile(file.c_str()), 1);
  ui::ViewRect r = server_geometry();
  EXPECT_EQ(r.left, 50);
  EXPECT_EQ(r.width(), 800);
  int left = 0, top = 0, width = 0, height = 0;
  TWAIN_GetLastViewPosition(&left, &top, &width, &height);
  EXPECT_EQ(left, 50);
  EXPECT_EQ(width, 800);

  // An empty position forgets the edges, not the size.
  TWAIN_SetViewOption("position", "");
  TWAIN_SetViewOption("size", "300,200");
  TWAIN_SetViewOption("position", "");
  r = server_geometry();
  EXPECT_EQ(r.width(), 300);
  EXPECT_EQ(r.height(), 200);
  TWAIN_ViewClose();

  // A rectangle remembered partly off the work area comes back inside it.
  ASSERT_TRUE(platform::settings_put(core::app_identity().title, "View", "Position", "-300,100,500,400"));
  TWAIN_SetViewOption("pos.remember", "1");
  TWAIN_SetViewOption("title", "Viewer test");
  ASSERT_EQ(TWAIN_ViewFile(file.c_str()), 1);
  EXPECT_EQ(server_geometry(), (ui::ViewRect{40, 100, 840, 400}));
  // Closing stores where it was.
  TWAIN_ViewClose();
  EXPECT_EQ(platform::settings_get(core::app_identity().title, "View", "Position").value_or(""),
            "40,100,840,400");
}

TEST_F(ViewerWindowTest, PixelsTwiceAsTallAsWideAreDrawnWithTheHeightDoubled) {
  if (!test_tools::have_tool("import")) GTEST_SKIP() << "no ImageMagick import";
  // A black square of 100 x 100 pixels scanned at 200 dpi across, 100 down.
  const DIB_HANDLE page = DIB_Create(DIB_PT_GRAY, 100, 100, 8);
  DIB_SetResolution(page, 200, 100);
  TWAIN_SetViewOption("modeless", "1");
  TWAIN_SetViewOption("size", "600,400");
  TWAIN_SetViewOption("topleft", "0,0");
  ASSERT_EQ(DIB_View(page, "Viewer test", 0), 1);
  DIB_Free(page);
  const std::string id = display_.wait_for_window("Viewer test", 10);
  ASSERT_FALSE(id.empty());
  TWAIN_EmptyMessageQueue();
  const ui::ViewerSnapshot s = ui::viewer_snapshot();
  EXPECT_EQ(s.painted.height(), 2 * s.painted.width());
  // The server's pixels: the black part of the window is twice as tall.
  const std::string shot = folder_ + "/shot.pgm";
  display_.run("import -window " + id + " -colorspace gray -depth 8 " + shot);
  std::ifstream in(shot, std::ios::binary);
  std::string magic;
  int w = 0, h = 0, max = 0;
  in >> magic >> w >> h >> max;
  in.get();
  std::vector<unsigned char> pixels(static_cast<std::size_t>(w) * h);
  in.read(reinterpret_cast<char*>(pixels.data()), static_cast<std::streamsize>(pixels.size()));
  int x0 = w, x1 = -1, y0 = h, y1 = -1;
  for (int y = 0; y < h; ++y)
    for (int x = s.painted.left; x < w; ++x)
      if (pixels[static_cast<std::size_t>(y) * w + x] < 20) {
        x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = std::max(y1, y);
      }
  ASSERT_GT(x1, x0);
  EXPECT_NEAR(y1 - y0 + 1, 2 * (x1 - x0 + 1), 2);
}

}  // namespace
