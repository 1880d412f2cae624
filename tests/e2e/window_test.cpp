// The program with a display: the source list and the error boxes are
// windows a person answers with the keyboard, and a display that goes away
// mid-run ends the run with its report, never a hang.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <map>
#include <string>
#include <thread>

#include "../xvfb_support.h"
#include "run_program.h"

namespace {

// A run of the program on its own virtual display with its own devices.
struct WindowRun {
  explicit WindowRun(const std::string& devices) : home(make_temp_folder()) {
    env["HOME"] = home;
    env["TMPDIR"] = home;
    env["XDG_RUNTIME_DIR"] = home;
    env["QUILLET_UI"] = "";  // the automatic choice: the display decides
    env["DISPLAY"] = display.name();
    std::ofstream(home + "/vscan.ini") << devices;
    env["QUILLET_VSCAN"] = home + "/vscan.ini";
  }
  // Runs the program while a person waits for the window `title` and types
  // `keys` ("<kill>": the display goes away instead). A window that never
  // comes ends the display too, so the run cannot hang the test.
  RunResult run(const std::vector<std::string>& args, const std::string& title,
                const std::string& keys) {
    RunOptions options;
    options.while_running = [&](pid_t) {
      const std::string id = display.wait_for_window(title, 30);
      window_seen = !id.empty();
      if (id.empty() || keys == "<kill>") {
        display.stop();
      } else {
        display.press(id, keys);
      }
    };
    return run_quillet_with(args, env, home, options);
  }
  std::string default_source() { return read_file(home + "/.twndsmrc/defaultds"); }

  std::unique_ptr<test_tools::VirtualDisplay> started = test_tools::start_virtual_display();
  test_tools::VirtualDisplay& display = *started;
  std::string home;
  std::map<std::string, std::string> env;
  bool window_seen = false;
};

const char* kTwoDevices = "[device]\nproduct = Scanner A\n[device]\nproduct = Scanner B\n";

TEST(WindowSelectSource, TheSecondDeviceChosenWithKeysBecomesTheDefault) {
  WindowRun chosen(kTwoDevices);
  if (!chosen.display.ready()) GTEST_SKIP() << "no Xvfb or xdotool";
  RunResult r = chosen.run({"/SS"}, "Select Source", "Down Return");
  EXPECT_TRUE(chosen.window_seen);
  EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
  EXPECT_EQ(report_value(r.out, "DefaultSource"), "Scanner B") << r.out;
  EXPECT_NE(chosen.default_source().find("Scanner B"), std::string::npos);
}

TEST(WindowErrorBox, ADisplayThatGoesAwayEndsTheRunWithItsReport) {
  WindowRun run(kTwoDevices);
  if (!run.display.ready()) GTEST_SKIP() << "no Xvfb or xdotool";
  const auto start = std::chrono::steady_clock::now();
  RunResult r = run.run({"/KEEPWARM", "/S=Scanner C", "/LOG"}, "Quillet", "<kill>");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
  EXPECT_TRUE(run.window_seen);
  EXPECT_EQ(r.exit_status, 255) << r.out << r.err;
  // The box nobody saw is written where a run without windows writes it.
  EXPECT_NE(r.err.find("No TWAIN device matches 'Scanner C'"), std::string::npos) << r.err;
  EXPECT_FALSE(report_value(r.out, "State").empty()) << r.out;
  EXPECT_NE(read_file(run.home + "/orivane.log").find("Display lost"), std::string::npos);
}

}  // namespace

namespace {

// The device's own dialog is a window when a display answers: the keys a
// person presses choose the settings, Scan scans with them, Cancel scans
// nothing.
TEST(WindowDeviceDialog, TheChoicesMadeAreTheScansSettings) {
  struct Case {
    const char* keys;
    int exit_status;
    const char* photometric;  // "" when no file may be written
    const char* traced;
  };
  const std::vector<Case> cases = {
      {"g Return", 0, "min-is-black", "Form(Scanner A) => Scan, Pixel type=Gray, Resolution=200 dpi"},
      {"c s", 0, "RGB", "Form(Scanner A) => Scan, Pixel type=Color"},
      {"Escape", 2, "", "Form(Scanner A) => Cancel"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.keys);
    WindowRun run("[device]\nproduct = Scanner A\n");
    if (!run.display.ready()) GTEST_SKIP() << "no Xvfb or xdotool";
    RunResult r = run.run({"/N=1", "/LOG", run.home + "/page.tif"}, "Scanner A", c.keys);
    EXPECT_TRUE(run.window_seen);
    EXPECT_EQ(r.exit_status, c.exit_status) << r.out << r.err;
    const std::string info = test_tools::command_output("tiffinfo " + run.home + "/page.tif 2>&1");
    if (*c.photometric == '\0') {
      EXPECT_FALSE(file_exists(run.home + "/page.tif"));
    } else {
      EXPECT_NE(info.find(std::string("Photometric Interpretation: ") + c.photometric),
                std::string::npos) << info;
    }
    const std::string log = read_file(run.home + "/orivane.log");
    EXPECT_NE(log.find(c.traced), std::string::npos) << log.substr(0, 4000);
  }
}

}  // namespace

namespace {

// The next-page question is a window in the user's language; No ends the
// document with the pages scanned so far.
TEST(WindowNextPage, TheQuestionIsAWindowAndNoEndsTheDocument) {
  WindowRun run("[device]\nproduct = Flatbed A\nfeeder = no\nflatbed_pages = 2\n");
  if (!run.display.ready()) GTEST_SKIP() << "no Xvfb or xdotool";
  run.env["LANG"] = "fr_FR.UTF-8";
  RunResult r = run.run({"/HIDE", "/POE", "/LOG", "/TIFF+", run.home + "/doc.tif"}, "Quillet", "n");
  EXPECT_TRUE(run.window_seen);
  EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
  EXPECT_EQ(report_value(r.out, "PagesWritten"), "2") << r.out;
  const std::string log = read_file(run.home + "/orivane.log");
  EXPECT_NE(log.find("Question(Quillet): Souhaitez-vous numériser d'autres pages? => No"),
            std::string::npos);
}

}  // namespace

namespace {

// The image tool's viewer: the window a person closes with OK, and no window
// without a display (an answer at once, never a wait).
TEST(WindowViewTool, ViewShowsTheFileUntilOkAndFailsAtOnceWithoutADisplay) {
  WindowRun run("");
  if (!run.display.ready()) GTEST_SKIP() << "no Xvfb or xdotool";
  const std::string file = run.home + "/two.tif";
  const std::string png = std::string(QUILLET_SOURCE_DIR) + "/tests/fuzz/corpus/fuzz_load_png/rgb_40x40.png";
  test_tools::command_output("convert '" + png + "' '" + png + "' '" + file + "'");
  run.env["QUILLET_BIN"] = orivane_program();
  RunResult r = run.run({"view", file}, "two.tif", "Return");
  EXPECT_TRUE(run.window_seen);
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.out, "ok\n");

  run.env["DISPLAY"] = "";
  const auto start = std::chrono::steady_clock::now();
  r = run_quillet_with({"view", file}, run.env, run.home, RunOptions{});
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_NE(r.err.find("no window"), std::string::npos) << r.err;
}

}  // namespace

namespace {

// Error recovery with a display: after the jam's message the pages so far
// are shown in the viewer, and closing it ends the run with the failure and
// the pages kept.
TEST(WindowErrorRecovery, ThePagesSoFarAreShownInTheViewer) {
  WindowRun run(
      "[device]\nproduct = Scanner\nfeeder_sheets = 5\ntwo_sided = no\nevents = 3:jam\ndialog = none\n");
  if (!run.display.ready()) GTEST_SKIP() << "no Xvfb or xdotool";
  bool viewer_seen = false;
  RunOptions options;
  options.while_running = [&](pid_t) {
    // The jam's message box first (if the run shows one), then the viewer.
    const std::string box = run.display.wait_for_window("^Quillet$", 10);
    if (!box.empty()) run.display.press(box, "Return");
    const std::string viewer = run.display.wait_for_window("Here.s what we.ve got", 30);
    viewer_seen = !viewer.empty();
    if (viewer.empty()) return run.display.stop();
    run.display.press(viewer, "Escape");
  };
  const RunResult r = run_quillet_with({"/N=5", "/ADF", "p.tif"}, run.env, run.home, options);
  EXPECT_TRUE(viewer_seen);
  EXPECT_NE(r.exit_status, 0) << r.out << r.err;
  EXPECT_TRUE(file_exists(run.home + "/p1.tif") && file_exists(run.home + "/p2.tif"));
  EXPECT_FALSE(file_exists(run.home + "/p3.tif"));
}

}  // namespace

namespace {

// A SANE device's dialog is a window too, with the choices its options
// offer: Color chosen by its key, the page scanned in color.
TEST(WindowDeviceDialog, ASaneDevicesDialogOffersItsOptions) {
  WindowRun run("");
  if (!run.display.ready()) GTEST_SKIP() << "no Xvfb or xdotool";
  if (!test_tools::have_tool("scanimage")) GTEST_SKIP() << "no SANE";
  const std::string sane = run.home + "/sane";
  ::mkdir(sane.c_str(), 0700);
  std::ofstream(sane + "/dll.conf") << "test\n";
  std::ofstream(sane + "/test.conf") << "number_of_devices 1\nresolution 100\n";
  run.env["SANE_CONFIG_DIR"] = sane;
  RunResult r = run.run({"/S=frontend-tester", "/N=1", "/LOG", run.home + "/page.tif"},
                        "frontend-tester", "c Return");
  EXPECT_TRUE(run.window_seen);
  EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
  const std::string info = test_tools::command_output("tiffinfo " + run.home + "/page.tif 2>&1");
  EXPECT_NE(info.find("Photometric Interpretation: RGB"), std::string::npos) << info;
  EXPECT_NE(read_file(run.home + "/orivane.log").find("=> Scan, Pixel type=Color"), std::string::npos);
}

}  // namespace
