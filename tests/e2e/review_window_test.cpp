// /REVIEW and /FILEREVIEW with a display: the review window answered by
// clicks and keys as a person does, and what the run then stores, reports
// and exits with.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../xvfb_support.h"
#include "run_program.h"
#include "ui/review_layout.h"

namespace {

using ui::ReviewRow;

// What a person does in one window: its title and the clicks and keys.
struct Step {
  std::string title;
  std::function<void(test_tools::VirtualDisplay&, const std::string&)> act;
};

// A run on its own virtual display with a feeder of 3 pages of 4 x 5 inches
// at 100 dpi (400 x 500 pixels), unless `device` says otherwise.
struct ReviewRun {
  explicit ReviewRun(const std::string& device = "") : home(make_temp_folder()) {
    env["HOME"] = home;
    env["TMPDIR"] = home;
    env["XDG_RUNTIME_DIR"] = home;
    env["QUILLET_UI"] = "";
    env["DISPLAY"] = display.name();
    std::ofstream(home + "/vscan.ini")
        << "[device]\nproduct = Scanner\nfeeder_sheets = 3\ndialog = none\n"
        << (device.empty() ? "resolutions = 100\ndpi_default = 100\nwidth = 4\nheight = 5\n"
                           : device);
    env["QUILLET_VSCAN"] = home + "/vscan.ini";
  }

  // Runs the program while a person does `steps`, each in a window that was
  // not there before. A window that never comes ends the display, so that
  // the run ends instead of waiting.
  RunResult run(std::vector<std::string> args, const std::vector<Step>& steps) {
    args.push_back("/LOG");
    RunOptions options;
    options.while_running = [&](pid_t) {
      std::set<std::string> seen;
      for (const Step& step : steps) {
        const std::string id = new_window(step.title, seen);
        if (id.empty()) {
          missing = step.title;
          display.stop();
          return;
        }
        seen.insert(id);
        step.act(display, id);
      }
    };
    return run_quillet_with(args, env, home, options);
  }

  std::string new_window(const std::string& title, const std::set<std::string>& seen) const {
    for (int i = 0; i < 300; ++i) {
      std::istringstream ids(display.run("xdotool search --onlyvisible --name '" + title + "'"));
      for (std::string id; std::getline(ids, id);)
        if (!id.empty() && !seen.count(id)) return id;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return "";
  }

  std::string log() const { return read_file(home + "/orivane.log"); }
  // The values of the log's lines that start with `prefix`, in order.
  std::vector<std::string> logged(const std::string& prefix) const {
    std::vector<std::string> values;
    std::istringstream lines(log());
    for (std::string line; std::getline(lines, line);) {
      const std::size_t at = line.find(prefix);
      if (at != std::string::npos) values.push_back(line.substr(at + prefix.size()));
    }
    return values;
  }

  test_tools::VirtualDisplay display;
  std::string home;
  std::map<std::string, std::string> env;
  std::string missing;
};

void click(const test_tools::VirtualDisplay& display, const std::string& id, ReviewRow row,
           double across = 0.5) {
  const platform::DrawRect r = ui::review_row_rect(row);
  display.click(id, r.x + static_cast<int>(r.w * across), r.y + r.h / 2);
}

Step clicks(std::vector<ReviewRow> rows) {
  return {"Quillet", [rows](test_tools::VirtualDisplay& d, const std::string& id) {
            for (ReviewRow row : rows) click(d, id, row);
          }};
}

Step keys(const std::string& title, const std::string& typed) {
  return {title, [typed](test_tools::VirtualDisplay& d, const std::string& id) {
            d.press(id, typed);
          }};
}

TEST(ReviewWindow, RejectAcceptAndCancelScanJobDecideWhatIsStored) {
  ReviewRun run;
  if (!run.display.ready()) GTEST_SKIP() << "no Xvfb or xdotool";
  // Page 1 rejected, page 2 accepted with Enter, page 3 ends the job; the
  // pages so far are then offered in the viewer's question, and declined.
  RunResult r = run.run({"/REVIEW", "/N=3", "p.tif"},
                        {clicks({ReviewRow::Reject}), keys("Quillet", "Return"),
                         clicks({ReviewRow::CancelJob}), keys("what we", "Escape")});
  EXPECT_EQ(run.missing, "");
  EXPECT_EQ(r.exit_status, 2) << r.out << r.err;
  EXPECT_EQ(report_value(r.out, "File1"), run.home + "/p1.tif") << r.out;
  EXPECT_EQ(report_value(r.out, "File2"), "") << r.out;
  EXPECT_EQ(report_value(r.out, "PagesWritten"), "1") << r.out;
  EXPECT_FALSE(file_exists(run.home + "/p2.tif"));
  EXPECT_EQ(run.logged("Review => "),
            (std::vector<std::string>{"Reject", "Accept", "Cancel Scan Job"}));
  EXPECT_NE(run.log().find("user clicked <Discard>"), std::string::npos);
}

TEST(ReviewWindow, TheStoredPageIsTheTurnedAndInvertedOne) {
  ReviewRun run;
  if (!run.display.ready()) GTEST_SKIP() << "no Xvfb or xdotool";
  if (!test_tools::have_tool("tiffinfo") || !test_tools::have_tool("identify"))
    GTEST_SKIP() << "no tiffinfo or identify";
  RunResult r = run.run({"/REVIEW", "/N=1", "page.tif"},
                        {clicks({ReviewRow::TurnRight, ReviewRow::Negative, ReviewRow::Accept})});
  EXPECT_EQ(run.missing, "");
  ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
  const std::string file = run.home + "/page.tif";
  const std::string info = test_tools::command_output("tiffinfo " + file + " 2>&1");
  EXPECT_NE(info.find("Image Width: 500 Image Length: 400"), std::string::npos) << info;
  // The synthetic page is mostly white paper: inverted, mostly black.
  const double mean =
      std::atof(test_tools::command_output("identify -format '%[fx:mean]' " + file).c_str());
  EXPECT_LT(mean, 0.4) << mean;
}

TEST(ReviewWindow, ALetterPageOpensAtTheFirstZoomThatFitsAndTheZoomKeysStep) {
  ReviewRun run("resolutions = 300\ndpi_default = 300\nwidth = 8.5\nheight = 11\n");
  if (!run.display.ready()) GTEST_SKIP() << "no Xvfb or xdotool";
  RunResult r = run.run({"/REVIEW", "/N=1", "letter.tif"},
                        {keys("Quillet", "minus plus plus equal Return")});
  EXPECT_EQ(run.missing, "");
  EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
  // "view <x>,<y> <w>x<h>, <ppi> ppi, scale <s>, zoom <z>%"
  const std::vector<std::string> opened = run.logged("Review window: view ");
  ASSERT_EQ(opened.size(), 1u) << run.log();
  int x = 0, y = 0, w = 0, h = 0, ppi = 0, zoom = 0;
  double scale = 0;
  ASSERT_EQ(std::sscanf(opened[0].c_str(), "%d,%d %dx%d, %d ppi, scale %lf, zoom %d%%", &x, &y,
                        &w, &h, &ppi, &scale, &zoom),
            7)
      << opened[0];
  EXPECT_NEAR(scale, ppi / 300.0, 1e-4);
  // The first step from 100 down at which 2550 x 3300 pixels fit the view.
  const std::vector<int> steps = {100, 75, 66, 50, 33, 25, 12};
  int fits = 12;
  for (int z : steps) {
    if (std::floor(z * scale / 100 * 2550 + 1e-6) <= w && std::floor(z * scale / 100 * 3300 + 1e-6) <= h) {
      fits = z;
      break;
    }
  }
  ASSERT_EQ(zoom, fits);
  ASSERT_EQ(zoom, 50) << "a view of " << w << "x" << h << " at " << ppi << " ppi";
  EXPECT_EQ(run.logged("Review zoom: "),
            (std::vector<std::string>{"50%", "33%", "50%", "66%", "75%"}));
  EXPECT_NE(run.log().find("Review info: 8.5 x 11 in"), std::string::npos);
}

TEST(ReviewWindow, AFileIsPagedAndEscapeCancelsTheFileReview) {
  ReviewRun run;
  if (!run.display.ready()) GTEST_SKIP() << "no Xvfb or xdotool";
  const Step paging = {"Quillet", [](test_tools::VirtualDisplay& d, const std::string& id) {
                         for (double across : {0.95, 0.95, 0.35})
                           click(d, id, ReviewRow::PageControls, across);
                         d.press(id, "Escape");
                       }};
  RunResult r = run.run({"/N=3", "/TIFF+", "/FILEREVIEW", "scan.tif"}, {paging});
  EXPECT_EQ(run.missing, "");
  EXPECT_EQ(r.exit_status, 2) << r.out << r.err;
  EXPECT_EQ(report_value(r.out, "FileReview"), "cancel") << r.out;
  EXPECT_EQ(report_value(r.out, "PagesWritten"), "0") << r.out;
  EXPECT_FALSE(file_exists(run.home + "/scan.tif"));
  EXPECT_EQ(run.logged("Review page: "), (std::vector<std::string>{"1/3", "2/3", "3/3", "2/3"}));
  EXPECT_NE(run.log().find("user Cancelled"), std::string::npos);
}

TEST(ReviewWindow, ADisplayThatGoesAwayDuringTheReviewEndsTheRunWithItsReport) {
  ReviewRun run;
  if (!run.display.ready()) GTEST_SKIP() << "no Xvfb or xdotool";
  const auto start = std::chrono::steady_clock::now();
  RunResult r = run.run({"/REVIEW", "/N=3", "p.tif"},
                        {{"Quillet", [](test_tools::VirtualDisplay& d, const std::string&) { d.stop(); }}});
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
  // Nobody is left to ask: the pages are kept, as in a run without windows,
  // and standard error says so.
  EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
  EXPECT_EQ(report_value(r.out, "PagesWritten"), "3") << r.out;
  EXPECT_NE(r.err.find("Review: Keep this page?"), std::string::npos) << r.err;
  EXPECT_NE(run.log().find("Display lost"), std::string::npos);
}

TEST(ReviewWindow, PrintWithoutAPrinterSaysPrintingProblemAndTheReviewGoesOn) {
  ReviewRun run;
  if (!run.display.ready()) GTEST_SKIP() << "no Xvfb or xdotool";
  // No scheduler there: nothing can print, and nothing may reach a real one.
  run.env["CUPS_SERVER"] = run.home + "/no-cups.sock";
  const Step print = {"Quillet", [&run](test_tools::VirtualDisplay& d, const std::string& id) {
                        d.press(id, "alt+p");
                        // The box comes up over the review window; Enter closes it.
                        const std::string box = run.new_window("Quillet", {id});
                        if (!box.empty()) d.press(box, "Return");
                        d.press(id, "Return");
                      }};
  RunResult r = run.run({"/REVIEW", "/N=1", "page.tif"}, {print});
  EXPECT_EQ(run.missing, "");
  EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
  EXPECT_TRUE(file_exists(run.home + "/page.tif"));
  const std::string log = run.log();
  EXPECT_NE(log.find("MessageBox(Quillet): Printing Problem.\n"), std::string::npos) << log;
}

}  // namespace
