// The program with a display: the source list and the error boxes are
// windows a person answers with the keyboard, and a display that goes away
// mid-run ends the run with its report, never a hang.
#include <gtest/gtest.h>

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

  test_tools::VirtualDisplay display;
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

TEST(WindowNextPage, TheQuestionIsAWindowAndNoEndsTheDocument) {
  WindowRun run("[device]\nproduct = Travel\nfamily = TravelScan\nfeeder_sheets = 1\n");
  if (!run.display.ready()) GTEST_SKIP() << "no Xvfb or xdotool";
  // Unlimited pages into one file from a TravelScan: the empty feeder asks.
  RunResult r = run.run({"/TIFF+", "/NOUI", "/LOG", "doc.tif"}, "Quillet", "n");
  EXPECT_TRUE(run.window_seen);
  EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
  EXPECT_EQ(report_value(r.out, "PagesWritten"), "1") << r.out;
  EXPECT_NE(read_file(run.home + "/orivane.log")
                .find("Question(Quillet): Would you like to scan more pages? => No"),
            std::string::npos);
}

}  // namespace
