// The window back end on a virtual display: windows appear with their
// caption, keys answer them as a person would, and a display that goes away
// ends nothing but the windows.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../../xvfb_support.h"
#include "../test_support.h"
#include "platform/ui.h"
#include "orivane/dib_api.h"
#include "ui/image_window.h"
#include "ui/review_layout.h"
#include "ui/window_ui.h"

namespace {

using platform::UiAnswer;
using platform::UiButtons;

class WindowUiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!display_.ready()) GTEST_SKIP() << "no Xvfb or xdotool";
    ::setenv("DISPLAY", display_.name().c_str(), 1);
    listen();
    backend_ = ui::make_window_ui();
    ASSERT_TRUE(backend_);
  }
  void TearDown() override {
    if (person_.joinable()) person_.join();
    platform::ui_set_trace_sink(nullptr);
  }

  // A person at the screen: waits for the window titled `title`, then types
  // `keys` into it. A window that never comes ends the display, so that the
  // call waiting for an answer returns instead of hanging the test.
  void person_types(const std::string& title, const std::string& keys) {
    if (person_.joinable()) person_.join();
    person_ = std::thread([this, title, keys] {
      const std::string id = display_.wait_for_window(title, 20);
      if (id.empty()) {
        window_missing_ = true;
        display_.stop();
        return;
      }
      if (keys == "<kill>") {
        display_.stop();
      } else {
        display_.press(id, keys);
      }
    });
  }

  // The trace comes here. The library's first call attaches it, and its log
  // then takes the trace over: tests that make images listen again after.
  void listen() {
    platform::ui_set_trace_sink([this](const std::string& line) { trace_ += line + "\n"; });
  }

  // A person who waits for the window titled `title` and then does `act`
  // with its id (clicks, keys, a screenshot); no window ends the display.
  void person_does(const std::string& title, std::function<void(const std::string&)> act) {
    if (person_.joinable()) person_.join();
    person_ = std::thread([this, title, act] {
      const std::string id = display_.wait_for_window(title, 20);
      if (id.empty()) {
        window_missing_ = true;
        display_.stop();
        return;
      }
      act(id);
    });
  }


  std::unique_ptr<test_tools::VirtualDisplay> started_ = test_tools::start_virtual_display();
  test_tools::VirtualDisplay& display_ = *started_;
  std::unique_ptr<platform::UiBackend> backend_;
  std::thread person_;
  std::atomic<bool> window_missing_{false};
  std::string trace_;
};

TEST_F(WindowUiTest, QuestionsAnswerTheKeyPressed) {
  struct Case {
    UiButtons buttons;
    UiAnswer default_answer;
    const char* keys;
    UiAnswer expected;
  };
  const std::vector<Case> cases = {
      {UiButtons::YesNo, UiAnswer::Yes, "Return", UiAnswer::Yes},
      {UiButtons::YesNo, UiAnswer::No, "Return", UiAnswer::No},
      {UiButtons::YesNo, UiAnswer::Yes, "n", UiAnswer::No},
      {UiButtons::YesNo, UiAnswer::Yes, "Escape", UiAnswer::No},
      {UiButtons::YesNoCancel, UiAnswer::Yes, "Escape", UiAnswer::Cancel},
      {UiButtons::OkCancel, UiAnswer::Ok, "Escape", UiAnswer::Cancel},
      // A default the buttons do not offer falls to the least committing one.
      {UiButtons::OkCancel, UiAnswer::Yes, "Return", UiAnswer::Cancel},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    const std::string caption = "Question " + std::to_string(i);
    SCOPED_TRACE(caption + " " + c.keys);
    person_types(caption, c.keys);
    EXPECT_EQ(backend_->ask(caption, "Scan the next page?", c.buttons, c.default_answer),
              c.expected);
    person_.join();
    ASSERT_FALSE(window_missing_);
  }
  EXPECT_NE(trace_.find("Question(Question 2): Scan the next page? => No"), std::string::npos)
      << trace_;
}

TEST_F(WindowUiTest, AMessageBoxShowsItsTextAndEnterClosesIt) {
  person_types("Orivane", "Return");
  backend_->message_box("Orivane", "Paper jam & more: clear the feeder", platform::UiIcon::Error);
  person_.join();
  EXPECT_FALSE(window_missing_);
  EXPECT_NE(trace_.find("MessageBox(Orivane): Paper jam & more: clear the feeder"),
            std::string::npos)
      << trace_;
}

TEST_F(WindowUiTest, TheListStartsAtTheDefaultAndArrowsMoveIt) {
  const std::vector<std::string> names = {"Scanner A", "Scanner B", "Scanner C"};
  person_types("Select Source", "Down Return");
  EXPECT_EQ(backend_->choose_from_list("Select Source", names, 0), 1u);
  person_types("Select Source", "Return");
  EXPECT_EQ(backend_->choose_from_list("Select Source", names, 2), 2u);
  person_types("Select Source", "Escape");
  EXPECT_EQ(backend_->choose_from_list("Select Source", names, 0), std::nullopt);
  person_.join();
  EXPECT_FALSE(window_missing_);
  EXPECT_NE(trace_.find("Select Source => \"Scanner B\""), std::string::npos) << trace_;
  EXPECT_NE(trace_.find("Select Source => cancelled"), std::string::npos) << trace_;
}

TEST_F(WindowUiTest, TheOpenDialogTakesATypedNameAndEscapeCancels) {
  const platform::UiOpenRequest request{"Open", {{"Image Files (.bmp;.tif)", "*.bmp;*.tif"}}};
  char folder[] = "/tmp/open-window-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string typed = std::string(folder) + "/page.tif";
  std::ofstream(typed) << "II*";
  char previous[4096];
  ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
  ASSERT_EQ(chdir(folder), 0);
  person_ = std::thread([&] {
    const std::string id = display_.wait_for_window("Open", 20);
    if (id.empty()) return display_.stop();
    display_.run("xdotool windowfocus --sync " + id);
    // The chooser opens in the current folder, its name field holding it.
    display_.run("xdotool type --delay 20 page.tif");
    display_.run("xdotool key Return");
  });
  std::string chosen;
  EXPECT_TRUE(backend_->open_dialog(request, &chosen));
  EXPECT_EQ(chosen, typed);
  person_types("Open", "Escape");
  EXPECT_FALSE(backend_->open_dialog(request, &chosen));
  person_.join();
  EXPECT_NE(trace_.find("Open dialog(Open) => cancelled"), std::string::npos) << trace_;
  EXPECT_EQ(chdir(previous), 0);
  std::remove(typed.c_str());
  rmdir(folder);
}

TEST_F(WindowUiTest, TheWaitingWindowReportsCancelOnce) {
  ASSERT_TRUE(backend_->waiting_window_show("Waiting for the scanner"));
  const std::string id = display_.wait_for_window("Please wait", 20);
  ASSERT_FALSE(id.empty());
  EXPECT_FALSE(backend_->waiting_window_cancelled());
  display_.press(id, "Escape");
  bool cancelled = false;
  for (int i = 0; i < 50 && !cancelled; ++i) {
    cancelled = backend_->waiting_window_cancelled();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_TRUE(cancelled);
  EXPECT_FALSE(backend_->waiting_window_cancelled());
  backend_->waiting_window_close();
  EXPECT_TRUE(display_.run("xdotool search --onlyvisible --name 'Please wait'").empty());
}

TEST_F(WindowUiTest, ADisplayThatGoesAwayEndsOnlyTheWindows) {
  person_types("Orivane", "<kill>");
  backend_->message_box("Orivane", "The box up when the display went", platform::UiIcon::Warning);
  person_.join();
  EXPECT_NE(trace_.find("Display lost"), std::string::npos) << trace_;
  // From now on nothing waits: questions take their default at once.
  EXPECT_EQ(backend_->ask("Orivane", "Again?", UiButtons::YesNo, UiAnswer::No), UiAnswer::No);
  EXPECT_EQ(backend_->choose_from_list("Select Source", {"A", "B"}, 1), 1u);
  EXPECT_FALSE(backend_->waiting_window_show("Waiting"));
  EXPECT_FALSE(backend_->waiting_window_cancelled());
}

TEST_F(WindowUiTest, ThePixelsPerInchAreTheServers) {
  // Xvfb's screen is 1024 pixels wide; its size in millimetres decides.
  const std::string info = display_.run("xdpyinfo | grep resolution");
  const int ppi = ui::screen_pixels_per_inch();
  EXPECT_NE(info.find(std::to_string(ppi) + "x"), std::string::npos) << info << ppi;
}

// The pixels of a binary PPM file (as `import` writes it), red first.
std::vector<std::uint8_t> ppm_pixels(const std::string& path, int* width, int* height) {
  std::ifstream in(path, std::ios::binary);
  std::string magic;
  int maxval = 0;
  in >> magic >> *width >> *height >> maxval;
  in.get();
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(*width) * *height * 3);
  in.read(reinterpret_cast<char*>(pixels.data()), static_cast<std::streamsize>(pixels.size()));
  if (magic != "P6" || !in) pixels.clear();
  return pixels;
}

TEST_F(WindowUiTest, AnImageWindowShowsThePageAreaAveraged) {
  if (!test_tools::have_tool("import")) GTEST_SKIP() << "no ImageMagick import";
  // A 600 x 400 page: red rises to the right, green downwards, fine stripes
  // of blue that only averaging turns into an even mid level.
  const DIB_HANDLE page = DIB_Create(DIB_PT_RGB, 600, 400, 24);
  std::vector<std::uint8_t> row(600 * 3);
  for (int y = 0; y < 400; ++y) {
    for (int x = 0; x < 600; ++x) {
      row[3 * x] = (x % 2) ? 255 : 0;
      row[3 * x + 1] = static_cast<std::uint8_t>(y * 255 / 399);
      row[3 * x + 2] = static_cast<std::uint8_t>(x * 255 / 599);
    }
    DIB_WritePackedRow(page, y, row.data());
  }
  ASSERT_TRUE(ui::show_image_window(page, "Page view", 300, 200));
  const std::string id = display_.wait_for_window("Page view", 10);
  ASSERT_FALSE(id.empty());
  const std::string shot = ::testing::TempDir() + std::to_string(::getpid()) + "-page_view.ppm";
  display_.run("import -window " + id + " -depth 8 " + shot);
  int w = 0, h = 0;
  const std::vector<std::uint8_t> seen = ppm_pixels(shot, &w, &h);
  ASSERT_EQ(w, 300);
  ASSERT_EQ(h, 200);
  const DIB_HANDLE expected = DIB_ScaledCopy(page, 300, 200);
  std::vector<std::uint8_t> bgr(300 * 3);
  for (int y : {0, 57, 199}) {
    DIB_ReadPackedRow(expected, y, bgr.data());
    for (int x : {0, 120, 299}) {
      SCOPED_TRACE(std::to_string(x) + "," + std::to_string(y));
      const std::uint8_t* p = seen.data() + (static_cast<std::size_t>(y) * 300 + x) * 3;
      EXPECT_NEAR(p[0], bgr[3 * x + 2], 2);
      EXPECT_NEAR(p[1], bgr[3 * x + 1], 2);
      EXPECT_NEAR(p[2], bgr[3 * x], 2);
      EXPECT_NEAR(p[2], 128, 2);  // the stripes, averaged
    }
  }
  ui::close_image_window();
  DIB_Free(expected);
  DIB_Free(page);
}

// The review window. Its geometry on Xvfb's 1024 x 768 screen, worked out by
// hand: an 860 x 700 window whose view starts at (171, 11), 678 x 678.
constexpr int kViewX = 171, kViewY = 11, kViewSize = 678;

void click_row(const test_tools::VirtualDisplay& display, const std::string& id,
               ui::ReviewRow row, double across = 0.5) {
  const platform::DrawRect r = ui::review_row_rect(row);
  display.click(id, r.x + static_cast<int>(r.w * across), r.y + r.h / 2);
}

// A page whose every pixel is (blue, green, red) = (10, 20, 30) but the top
// left one, which is white.
DIB_HANDLE marked_page(int w, int h) {
  const DIB_HANDLE page = DIB_Create(DIB_PT_RGB, w, h, 24);
  std::vector<std::uint8_t> row(static_cast<std::size_t>(w) * 3);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const bool mark = x == 0 && y == 0;
      row[3 * x] = mark ? 255 : 10;
      row[3 * x + 1] = mark ? 255 : 20;
      row[3 * x + 2] = mark ? 255 : 30;
    }
    DIB_WritePackedRow(page, y, row.data());
  }
  return page;
}

std::vector<std::string> traced_after(const std::string& trace, const std::string& prefix) {
  std::vector<std::string> values;
  std::istringstream lines(trace);
  for (std::string line; std::getline(lines, line);)
    if (line.rfind(prefix, 0) == 0) values.push_back(line.substr(prefix.size()));
  return values;
}

TEST_F(WindowUiTest, TheReviewWindowShowsThePageWhereTheLayoutSays) {
  if (!test_tools::have_tool("import")) GTEST_SKIP() << "no ImageMagick import";
  // 600 x 400 at the screen's own resolution: 600 x 400 on the screen at
  // 100%, 450 x 300 after "-". Red rises to the right, green downwards.
  const DIB_HANDLE page = DIB_Create(DIB_PT_RGB, 600, 400, 24);
  std::vector<std::uint8_t> row(600 * 3);
  for (int y = 0; y < 400; ++y) {
    for (int x = 0; x < 600; ++x) {
      row[3 * x] = 60;
      row[3 * x + 1] = static_cast<std::uint8_t>(y * 255 / 399);
      row[3 * x + 2] = static_cast<std::uint8_t>(x * 255 / 599);
    }
    DIB_WritePackedRow(page, y, row.data());
  }
  const int ppi = ui::screen_pixels_per_inch();
  DIB_SetResolution(page, ppi, ppi);
  listen();
  const std::string shot = ::testing::TempDir() + std::to_string(::getpid()) + "-review.ppm";
  person_does("Review test", [&](const std::string& id) {
    display_.press(id, "minus");
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    display_.run("import -window " + id + " -depth 8 " + shot);
    display_.press(id, "Escape");
  });
  std::uintptr_t shown = page;
  EXPECT_EQ(backend_->review({"Review test", ""}, &shown), platform::UiReviewEnd::Cancel);
  person_.join();
  ASSERT_FALSE(window_missing_);
  EXPECT_EQ(shown, page);
  EXPECT_EQ(traced_after(trace_, "Review zoom: "), (std::vector<std::string>{"100%", "75%"}))
      << trace_;

  int w = 0, h = 0;
  const std::vector<std::uint8_t> seen = ppm_pixels(shot, &w, &h);
  ASSERT_EQ(w, 860);
  ASSERT_EQ(h, 700);
  const int left = kViewX + (kViewSize - 450) / 2, top = kViewY + (kViewSize - 300) / 2;
  const DIB_HANDLE expected = DIB_ScaledCopy(page, 450, 300);
  std::vector<std::uint8_t> bgr(450 * 3);
  auto at = [&](int x, int y) { return seen.data() + (static_cast<std::size_t>(y) * w + x) * 3; };
  for (int y : {0, 151, 299}) {
    DIB_ReadPackedRow(expected, y, bgr.data());
    for (int x : {0, 222, 449}) {
      SCOPED_TRACE(std::to_string(x) + "," + std::to_string(y));
      EXPECT_NEAR(at(left + x, top + y)[0], bgr[3 * x + 2], 3);
      EXPECT_NEAR(at(left + x, top + y)[1], bgr[3 * x + 1], 3);
      EXPECT_NEAR(at(left + x, top + y)[2], bgr[3 * x], 3);
    }
  }
  // Around the page: the view's light gray.
  for (auto [x, y] : std::vector<std::pair<int, int>>{{left - 2, top + 9}, {left + 452, top + 9},
                                                       {left + 9, top - 2}, {left + 9, top + 302}})
    EXPECT_EQ(at(x, y)[0] + at(x, y)[1] * 256 + at(x, y)[2] * 65536, 192 * (1 + 256 + 65536))
        << x << "," << y;
  DIB_Free(expected);
  DIB_Free(page);
}

TEST_F(WindowUiTest, ThePageAcceptedIsTheTurnedAndInvertedOne) {
  const DIB_HANDLE page = marked_page(60, 40);
  person_does("Review test", [&](const std::string& id) {
    click_row(display_, id, ui::ReviewRow::TurnRight);
    click_row(display_, id, ui::ReviewRow::Negative);
    click_row(display_, id, ui::ReviewRow::Accept);
  });
  std::uintptr_t shown = page;
  EXPECT_EQ(backend_->review({"Review test", ""}, &shown), platform::UiReviewEnd::Accept);
  person_.join();
  ASSERT_FALSE(window_missing_);
  ASSERT_NE(shown, page);  // the turned copy replaced the page
  EXPECT_EQ(DIB_Width(shown), 40);
  EXPECT_EQ(DIB_Height(shown), 60);
  // Turned clockwise, the top left corner is now the top right one.
  std::vector<std::uint8_t> row(40 * 3);
  DIB_ReadPackedRow(shown, 0, row.data());
  EXPECT_EQ((std::vector<int>{row[3 * 39], row[3 * 39 + 1], row[3 * 39 + 2]}),
            (std::vector<int>{0, 0, 0}));
  EXPECT_EQ((std::vector<int>{row[0], row[1], row[2]}), (std::vector<int>{245, 235, 225}));
  DIB_Free(shown);
}

TEST_F(WindowUiTest, AFileIsPagedWithTheImageButtonsHidden) {
  if (!test_tools::have_tool("convert") || !test_tools::have_tool("import"))
    GTEST_SKIP() << "no ImageMagick";
  const std::string file = ::testing::TempDir() + std::to_string(::getpid()) + "-three_pages.tif";
  test_tools::command_output("convert -size 80x60 xc:red xc:lime xc:blue " + file);
  const std::string shot = ::testing::TempDir() + std::to_string(::getpid()) + "-file_review.ppm";
  // The codec modules of this build read it.
  ::setenv("QUILLET_MODULE_PATH", build_folder().c_str(), 1);
  ResetForTests();
  listen();
  person_does("File review test", [&](const std::string& id) {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    display_.run("import -window " + id + " -depth 8 " + shot);
    for (double across : {0.95, 0.95, 0.95, 0.35}) click_row(display_, id, ui::ReviewRow::PageControls, across);
    display_.press(id, "Escape");
  });
  EXPECT_EQ(backend_->review({"File review test", file}, nullptr), platform::UiReviewEnd::Cancel);
  person_.join();
  ASSERT_FALSE(window_missing_);
  // Not past the last page, and back again.
  EXPECT_EQ(traced_after(trace_, "Review page: "),
            (std::vector<std::string>{"1/3", "2/3", "3/3", "2/3"}))
      << trace_;
  int w = 0, h = 0;
  const std::vector<std::uint8_t> seen = ppm_pixels(shot, &w, &h);
  ASSERT_EQ(w, 860);
  // A row with a button shows its dark label; a hidden one nothing.
  auto has_dark_pixels = [&](ui::ReviewRow row) {
    const platform::DrawRect r = ui::review_row_rect(row);
    for (int y = r.y; y < r.y + r.h; ++y)
      for (int x = r.x; x < r.x + r.w; ++x)
        if (seen[(static_cast<std::size_t>(y) * w + x) * 3] < 64) return true;
    return false;
  };
  EXPECT_TRUE(has_dark_pixels(ui::ReviewRow::Accept));
  EXPECT_TRUE(has_dark_pixels(ui::ReviewRow::PageControls));
  for (ui::ReviewRow hidden : {ui::ReviewRow::CancelJob, ui::ReviewRow::TurnRight,
                               ui::ReviewRow::TurnLeft, ui::ReviewRow::FlipTopBottom,
                               ui::ReviewRow::FlipLeftRight, ui::ReviewRow::Negative})
    EXPECT_FALSE(has_dark_pixels(hidden)) << static_cast<int>(hidden);
}

TEST_F(WindowUiTest, AReviewWhoseDisplayGoesAwayKeepsThePage) {
  const DIB_HANDLE page = marked_page(8, 8);
  listen();
  person_types("Review test", "<kill>");
  std::uintptr_t shown = page;
  EXPECT_EQ(backend_->review({"Review test", ""}, &shown), platform::UiReviewEnd::Accept);
  person_.join();
  EXPECT_EQ(shown, page);
  EXPECT_NE(trace_.find("Display lost"), std::string::npos) << trace_;
  DIB_Free(page);
}

TEST_F(WindowUiTest, DraggingMovesTheZoomedPageByTheMousesMovement) {
  if (!test_tools::have_tool("import")) GTEST_SKIP() << "no ImageMagick import";
  // 1000 x 1000 at the screen's resolution: fitted at 66%, 1:1 after two
  // steps up, then larger than the view. Red rises to the right, green
  // downwards, so that every point of the view is told apart.
  const DIB_HANDLE page = DIB_Create(DIB_PT_RGB, 1000, 1000, 24);
  std::vector<std::uint8_t> row(1000 * 3);
  for (int y = 0; y < 1000; ++y) {
    for (int x = 0; x < 1000; ++x) {
      row[3 * x] = 0;
      row[3 * x + 1] = static_cast<std::uint8_t>(y / 4);
      row[3 * x + 2] = static_cast<std::uint8_t>(x / 4);
    }
    DIB_WritePackedRow(page, y, row.data());
  }
  const int ppi = ui::screen_pixels_per_inch();
  DIB_SetResolution(page, ppi, ppi);
  listen();
  const std::string before = ::testing::TempDir() + std::to_string(::getpid()) + "-drag_before.ppm";
  const std::string after = ::testing::TempDir() + std::to_string(::getpid()) + "-drag_after.ppm";
  person_does("Review test", [&](const std::string& id) {
    display_.press(id, "plus plus");
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    display_.run("import -window " + id + " -depth 8 " + before);
    display_.run("xdotool mousemove --window " + id + " 510 350 mousedown 1 mousemove --window " +
                 id + " 460 325 mousemove --window " + id + " 410 300 mouseup 1");
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    display_.run("import -window " + id + " -depth 8 " + after);
    display_.press(id, "Return");
  });
  std::uintptr_t shown = page;
  EXPECT_EQ(backend_->review({"Review test", ""}, &shown), platform::UiReviewEnd::Accept);
  person_.join();
  ASSERT_FALSE(window_missing_);
  EXPECT_EQ(traced_after(trace_, "Review zoom: "),
            (std::vector<std::string>{"66%", "75%", "100%"}));
  EXPECT_NE(trace_.find("Start Drag\nEnd Drag\n"), std::string::npos) << trace_;
  int w = 0, h = 0;
  const std::vector<std::uint8_t> was = ppm_pixels(before, &w, &h);
  const std::vector<std::uint8_t> now = ppm_pixels(after, &w, &h);
  ASSERT_EQ(w, 860);
  // What was at (x + 100, y + 50) is now at (x, y).
  for (auto [x, y] : std::vector<std::pair<int, int>>{{200, 100}, {400, 300}, {600, 500}}) {
    SCOPED_TRACE(std::to_string(x) + "," + std::to_string(y));
    const std::size_t at_now = (static_cast<std::size_t>(y) * w + x) * 3;
    const std::size_t at_was = (static_cast<std::size_t>(y + 50) * w + x + 100) * 3;
    EXPECT_NEAR(now[at_now], was[at_was], 1);
    EXPECT_NEAR(now[at_now + 1], was[at_was + 1], 1);
    EXPECT_NE(now[at_now], was[at_now]);  // it did move
  }
  DIB_Free(page);
}

}  // namespace
