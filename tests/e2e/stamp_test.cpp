// Text stamps end to end: /TEXT on the pages of a scan and `orivane stamp`
// on an existing file. ImageMagick finds where the ink is; tesseract reads
// it back.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "../tool_support.h"
#include "run_program.h"
#include "scan_run.h"

namespace {

using test_tools::command_output;
using test_tools::have_tool;

// 200-dpi gray sheets of 6 x 8 inches (1200 x 1600 pixels). The page's own
// content keeps about an inch from the edges; stamps lie within a third of
// an inch of them.
const std::string kSheets = "resolutions = 200\ndpi_default = 200\nwidth = 6\nheight = 8\n";
constexpr int kWidth = 1200, kHeight = 1600, kMargin = 66;

struct Box {
  int x = 0, y = 0, w = 0, h = 0;
};

// The ink's bounding box inside the region (x, y, w, h) of the page, in
// page coordinates (w = 0 when the region is blank).
Box ink_box(const std::string& path, Box region) {
  char crop[96];
  std::snprintf(crop, sizeof crop, "%dx%d+%d+%d", region.w, region.h, region.x, region.y);
  const std::string out = command_output("convert '" + path + "' -crop " + crop +
                                         " +repage -threshold 50% -format '%@' info: 2>/dev/null");
  Box b;
  if (std::sscanf(out.c_str(), "%dx%d+%d+%d", &b.w, &b.h, &b.x, &b.y) != 4 || b.w >= region.w) return {};
  b.x += region.x, b.y += region.y;
  return b;
}

// What tesseract reads in each region (one line each; `turn` degrees
// clockwise first), in order.
std::vector<std::string> read_back(const std::string& folder,
                                   const std::vector<std::pair<std::string, Box>>& regions, int turn = 0) {
  std::ofstream list(folder + "/ocr.txt");
  for (std::size_t i = 0; i < regions.size(); ++i) {
    const Box& r = regions[i].second;
    const std::string crop = folder + "/ocr" + std::to_string(i) + ".png";
    char geometry[96];
    std::snprintf(geometry, sizeof geometry, "%dx%d+%d+%d", r.w, r.h, r.x, r.y);
    command_output("convert '" + regions[i].first + "' -crop " + geometry + " +repage -rotate " +
                   std::to_string(turn) + " '" + crop + "'");
    list << crop << "\n";
  }
  list.close();
  const std::string text =
      command_output("OMP_THREAD_LIMIT=1 tesseract '" + folder + "/ocr.txt' - --psm 7 -l eng 2>/dev/null");
  std::vector<std::string> lines(1);
  for (char c : text) {
    if (c == '\f') lines.emplace_back();
    else if (c != '\n') lines.back() += c;
  }
  if (lines.back().empty()) lines.pop_back();  // pages are parted by form feeds
  return lines;
}

bool have_tools() { return have_tool("convert") && have_tool("tesseract"); }

TEST(Stamp, EveryPageCarriesItsNumberAtTheBottomCentre) {
  if (!have_tools()) GTEST_SKIP() << "ImageMagick or tesseract is not installed";
  ScanRun s(kSheets);
  const RunResult r = s.run({"/N=3", "/GRAY", "/TEXT:BOLD:12pt:CENTER=Page $page", "scan.tif"});
  ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
  const Box band{0, kHeight - 160, kWidth, 160};  // below the page's own content
  std::vector<std::pair<std::string, Box>> stamps;
  for (int page = 1; page <= 3; ++page) {
    const std::string path = s.at("scan" + std::to_string(page) + ".tif");
    const Box b = ink_box(path, band);
    ASSERT_GT(b.w, 0) << path;
    EXPECT_NEAR(b.x + b.w / 2.0, kWidth / 2.0, 6) << path;  // centred
    EXPECT_LE(b.y + b.h, kHeight - kMargin);                // on the bottom margin's line
    EXPECT_GT(b.y + b.h, kHeight - kMargin - 12);            // (a descent below the letters)
    EXPECT_NEAR(b.h, 31, 5);                                 // 12 pt at 200 dpi: 33-pixel em, "P" to "g"
    stamps.push_back({path, {b.x - 20, b.y - 15, b.w + 40, b.h + 30}});
  }
  EXPECT_EQ(read_back(s.home, stamps), (std::vector<std::string>{"Page 1", "Page 2", "Page 3"}));
}

TEST(Stamp, TheDefaultTemplateStandsAtTheBottomLeftWithTheFullPath) {
  if (!have_tools()) GTEST_SKIP() << "ImageMagick or tesseract is not installed";
  ScanRun s(kSheets);
  const RunResult r = s.run({"/GRAY", "/LOG=t", "/TEXT", "page.tif"});
  ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
  const std::string user = command_output("id -un | tr -d '\\n'");
  // The text drawn: the page's full path, its number, the user, the date.
  const std::string log = read_file(s.home + "/t.log");
  EXPECT_NE(log.find("text<<<<<" + s.at("page.tif") + "[1] (" + user + ") "), std::string::npos) << log;
  const Box b = ink_box(s.at("page.tif"), {0, kHeight - 160, kWidth, 160});
  EXPECT_NEAR(b.x, kMargin, 4);
  EXPECT_LE(b.y + b.h, kHeight - kMargin);
  EXPECT_GT(b.y + b.h, kHeight - kMargin - 16);
  const auto read = read_back(s.home, {{s.at("page.tif"), {0, b.y - 10, kWidth, b.h + 20}}});
  ASSERT_EQ(read.size(), 1u);
  EXPECT_NE(read[0].find("page.tif[1] (" + user + ")"), std::string::npos) << read[0];
}

TEST(Stamp, R90TopRightStandsTurnedInTheTopRightCorner) {
  if (!have_tools()) GTEST_SKIP() << "ImageMagick or tesseract is not installed";
  ScanRun s(kSheets);
  const RunResult r = s.run({"/GRAY", "/TEXT:R90:TOP:RIGHT:12pt=Turned stamp $page", "turned.tif"});
  ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
  // Right of the page's barcode, which reaches 1 inch from the edge.
  const Box b = ink_box(s.at("turned.tif"), {kWidth - 120, 0, 120, kHeight});
  ASSERT_GT(b.w, 0);
  EXPECT_GT(b.h, 5 * b.w);                        // reads from top to bottom
  EXPECT_NEAR(b.y, kMargin, 6);                   // starts at the top margin
  EXPECT_LE(b.x + b.w, kWidth - kMargin);         // against the right margin
  EXPECT_GT(b.x + b.w, kWidth - kMargin - 8);
  // Turned back a quarter, it reads as written.
  const auto read = read_back(s.home, {{s.at("turned.tif"), {b.x - 15, b.y - 20, b.w + 30, b.h + 40}}}, -90);
  EXPECT_EQ(read, std::vector<std::string>{"Turned stamp 1"});
}

TEST(Stamp, TheImageToolStampsAFileWithoutResolutionAt72DpiAndNoMargins) {
  if (!have_tools()) GTEST_SKIP() << "ImageMagick or tesseract is not installed";
  const std::string dir = make_temp_folder();
  // ImageMagick's BMP3 of a page made from nothing has no resolution.
  command_output("convert -size 400x120 xc:white -type truecolor BMP3:'" + dir + "/in.bmp'");
  const RunResult r = run_orivane({"stamp", dir + "/in.bmp", dir + "/out.png", "Edge 7741", "BOLD:18pt"});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  const Box b = ink_box(dir + "/out.png", {0, 0, 400, 120});
  EXPECT_LE(b.x, 3);                    // margins 0: the box is the page less 2 pixels
  EXPECT_GT(b.y + b.h, 120 - 2 - 8);    // bottom: baseline a descent above the page's edge
  EXPECT_NEAR(b.h, 17, 3);              // 18 pt at 72 dpi: an 18-pixel em, "E" to "g"
  EXPECT_EQ(read_back(dir, {{dir + "/out.png", {0, 60, 400, 60}}}), std::vector<std::string>{"Edge 7741"});
  // Mistakes are the switch's own messages; nothing is written.
  for (const std::pair<const char*, const char*> bad : {std::pair{"12px", "Bad text height units: 12px"},
                                                        std::pair{"12", "Unrecognized text attribute: 12"},
                                                        std::pair{"BOLD=x", "text attributes hold no '='"}}) {
    const RunResult e = run_orivane({"stamp", dir + "/in.bmp", dir + "/bad.png", "x", bad.first});
    EXPECT_EQ(e.exit_status, 1);
    EXPECT_NE(e.err.find(bad.second), std::string::npos) << e.err;
    EXPECT_FALSE(file_exists(dir + "/bad.png"));
  }
}

}  // namespace
