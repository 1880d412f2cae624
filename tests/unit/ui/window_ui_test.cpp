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
#include "platform/ui.h"
#include "orivane/dib_api.h"
#include "ui/image_window.h"
#include "ui/window_ui.h"

namespace {

using platform::UiAnswer;
using platform::UiButtons;

class WindowUiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!display_.ready()) GTEST_SKIP() << "no Xvfb or xdotool";
    ::setenv("DISPLAY", display_.name().c_str(), 1);
    platform::ui_set_trace_sink([this](const std::string& line) { trace_ += line + "\n"; });
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
  const std::string shot = ::testing::TempDir() + "page_view.ppm";
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

}  // namespace
