// Page processing end to end: blank sides dropped from a feeder batch,
// skewed sheets straightened by the library (or by a device that does it
// itself), and the image tool on the files a scan wrote. Results are checked
// with independent tools where they exist (zbarimg reads each kept page's
// number, ImageMagick measures the skew, identify reads the converted file).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "../tool_support.h"
#include "run_program.h"
#include "scan_run.h"

namespace {

using test_tools::command_output;
using test_tools::have_tool;
using Names = std::vector<std::string>;

// 200-dpi sheets of 6 x 8 inches: big enough for text lines and a readable
// barcode, small enough to keep the runs quick.
const std::string kSheets = "resolutions = 200\ndpi_default = 200\nwidth = 6\nheight = 8\n";

// The page numbers zbarimg reads from the barcodes of `path` ("PAGE-0003" ->
// 3), in file order.
std::vector<int> barcode_pages(const std::string& path) {
  const std::string out = command_output("zbarimg --quiet --raw '" + path + "' 2>/dev/null");
  std::vector<int> pages;
  for (std::size_t at = 0; (at = out.find("PAGE-", at)) != std::string::npos; at += 5)
    pages.push_back(std::atoi(out.c_str() + at + 5));
  return pages;
}

// The skew ImageMagick finds, in degrees.
double magick_skew(const std::string& path) {
  const std::string out =
      command_output("convert '" + path + "' -deskew 40% -format '%[deskew:angle]' info: 2>/dev/null");
  return std::atof(out.c_str());
}

double orivane_skew(const std::string& path) {
  const RunResult r = run_orivane({"skew", path});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.err, "") << "a successful run says nothing on standard error";
  return r.out.rfind("none", 0) == 0 ? 0.0 : std::atof(r.out.c_str());
}

TEST(PageProcessing, BlankSidesAreDroppedNeitherCountedNorNumbered) {
  ScanRun s(kSheets + "two_sided = no\nevents = 2:blank, 4:blank\n");
  const RunResult r = s.run({"/ADF", "/GRAY", "/BLANK", "p.tif"});
  ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
  EXPECT_EQ(report_value(r.out, "PagesWritten"), "3") << r.out;
  // The account of the batch: the whole feeder asked for, every sheet
  // delivered, the two blank ones dropped.
  EXPECT_EQ(report_value(r.out, "PagesAsked"), "all") << r.out;
  EXPECT_EQ(report_value(r.out, "PagesDelivered"), "5") << r.out;
  EXPECT_EQ(report_value(r.out, "BlankPagesDropped"), "2") << r.out;
  ASSERT_EQ(s.files(), (Names{"p1.tif", "p2.tif", "p3.tif"}));
  if (!have_tool("zbarimg")) GTEST_SKIP() << "zbarimg is not installed";
  // The kept files hold the printed sheets 1, 3 and 5, in order.
  EXPECT_EQ(barcode_pages(s.at("p1.tif")), std::vector<int>{1});
  EXPECT_EQ(barcode_pages(s.at("p2.tif")), std::vector<int>{3});
  EXPECT_EQ(barcode_pages(s.at("p3.tif")), std::vector<int>{5});
}

TEST(PageProcessing, BlankSidesStayOutOfAMultipageFile) {
  ScanRun s(kSheets + "events = 2:blank, 3:blank\n");
  const RunResult r = s.run({"/ADF", "/DUPLEX", "/BLANK", "/PDF+", "doc.pdf"});
  ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
  EXPECT_EQ(report_value(r.out, "PagesWritten"), "8") << r.out;
  if (have_tool("qpdf")) EXPECT_EQ(command_output("qpdf --show-npages '" + s.at("doc.pdf") + "'"), "8\n");
}

TEST(PageProcessing, WithoutTheSwitchBlankSidesAreKept) {
  ScanRun s(kSheets + "two_sided = no\nevents = 2:blank\n");
  const RunResult r = s.run({"/ADF", "/GRAY", "p.tif"});
  ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
  EXPECT_EQ(report_value(r.out, "PagesWritten"), "5") << r.out;
}

TEST(PageProcessing, ABlankSingleScanExitsWith2AndWritesNothing) {
  ScanRun s(kSheets + "feeder = no\nevents = 1:blank\n");
  const RunResult r = s.run({"/BLANK", "page.tif"});
  EXPECT_EQ(r.exit_status, 2) << r.out << r.err;
  EXPECT_EQ(report_value(r.out, "PagesWritten"), "0") << r.out;
  EXPECT_EQ(report_value(r.out, "File"), "");
  EXPECT_EQ(s.files(), Names{});
}

struct DeskewCase {
  std::string label;
  std::string device;               // extra device settings
  std::vector<std::string> switches;
  bool straight;                    // whether the written page lies straight
};

void PrintTo(const DeskewCase& c, std::ostream* os) { *os << c.label; }

class Deskew : public testing::TestWithParam<DeskewCase> {};

// The sheet lies turned by 3 degrees; the written page is measured by the
// image tool and by ImageMagick.
TEST_P(Deskew, TheWrittenPageLiesAsExpected) {
  const DeskewCase& c = GetParam();
  ScanRun s(kSheets + "feeder = no\nevents = 1:skew=3\n" + c.device);
  std::vector<std::string> args = c.switches;
  args.push_back("page.tif");
  const RunResult r = s.run(args);
  ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
  const double ours = orivane_skew(s.at("page.tif"));
  if (c.straight) EXPECT_LT(std::fabs(ours), 0.1) << ours;
  else EXPECT_NEAR(std::fabs(ours), 3.0, 0.1);
  if (!have_tool("convert")) GTEST_SKIP() << "ImageMagick is not installed";
  const double theirs = magick_skew(s.at("page.tif"));
  if (c.straight) EXPECT_LT(std::fabs(theirs), 0.3) << theirs;
  else EXPECT_NEAR(std::fabs(theirs), 3.0, 0.3);
}

INSTANTIATE_TEST_SUITE_P(
    PageProcessing, Deskew,
    testing::Values(DeskewCase{"left_alone", "refuse_caps = ICAP_AUTOMATICDESKEW\n", {"/GRAY"}, false},
                    DeskewCase{"straightened_by_the_library", "refuse_caps = ICAP_AUTOMATICDESKEW\n",
                               {"/GRAY", "/DESKEW"}, true},
                    DeskewCase{"bw_straightened_by_the_library", "refuse_caps = ICAP_AUTOMATICDESKEW\n",
                               {"/BW", "/DESKEW"}, true},
                    DeskewCase{"straightened_by_the_device", "", {"/GRAY", "/DESKEW"}, true}),
    [](const testing::TestParamInfo<DeskewCase>& info) { return info.param.label; });

// The sheet lies on the dark platen, a third of an inch of it showing on
// every side of the 6 x 8 inch scan area (1200 x 1600 pixels at 200 dpi).
TEST(PageProcessing, AutoCropCutsThePlatenAway) {
  ScanRun s(kSheets + "feeder = no\nevents = 1:platen=0.33\n");
  const RunResult plain = s.run({"/GRAY", "plain.bmp"});
  ASSERT_EQ(plain.exit_status, 0) << plain.out << plain.err;
  const RunResult cropped = s.run({"/GRAY", "/AUTOCROP", "cropped.bmp"});
  ASSERT_EQ(cropped.exit_status, 0) << cropped.out << cropped.err;
  const RunResult info = run_orivane({"info", s.at("plain.bmp")});
  EXPECT_NE(info.out.find("width=1200\nheight=1600\n"), std::string::npos) << info.out;
  // The sheet is 1068 x 1468 pixels; the cut must hold all of it and keep
  // within 0.35 inch (70 pixels) of each of its edges.
  const RunResult rect = run_orivane({"crop", s.at("plain.bmp")});
  int x = -1, y = -1, w = -1, h = -1;
  ASSERT_EQ(std::sscanf(rect.out.c_str(), "%d %d %d %d", &x, &y, &w, &h), 4) << rect.out << rect.err;
  EXPECT_TRUE(x <= 66 && x >= 66 - 70 && y <= 66 && y >= 66 - 70) << rect.out;
  EXPECT_TRUE(x + w >= 1134 && x + w <= 1134 + 70 && y + h >= 1534 && y + h <= 1534 + 70) << rect.out;
  const RunResult after = run_orivane({"info", s.at("cropped.bmp")});
  EXPECT_NE(after.out.find("width=" + std::to_string(w) + "\nheight=" + std::to_string(h) + "\n"),
            std::string::npos)
      << after.out << " vs " << rect.out;
}

// ---- The image tool ----

class ImageTool : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    scans_ = new ScanRun(kSheets + "two_sided = no\nfeeder_sheets = 3\nrefuse_caps = ICAP_AUTOMATICDESKEW\n"
                                   "events = 2:blank, 3:skew=-2.5\n");
    const RunResult r = scans_->run({"/ADF", "/GRAY", "s.tif"});
    ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
  }
  static void TearDownTestSuite() {
    delete scans_;
    scans_ = nullptr;
  }
  static std::string at(const std::string& name) { return scans_->at(name); }
  static ScanRun* scans_;
};

ScanRun* ImageTool::scans_ = nullptr;

TEST_F(ImageTool, InfoDescribesTheFile) {
  const RunResult r = run_orivane({"info", at("s1.tif")});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.out, "format=TIFF\npages=1\nwidth=1200\nheight=1600\nbits=8\ntype=GRAY\ndpi=200 x 200\n");
}

TEST_F(ImageTool, BlankTellsThePrintedPageFromTheEmptySide) {
  const RunResult printed = run_orivane({"blank", at("s1.tif")});
  const RunResult empty = run_orivane({"blank", at("s2.tif")});
  ASSERT_EQ(printed.exit_status, 0) << printed.err;
  ASSERT_EQ(empty.exit_status, 0) << empty.err;
  EXPECT_NE(printed.out.find(" not-blank\n"), std::string::npos) << printed.out;
  EXPECT_NE(empty.out.find(" blank\n"), std::string::npos) << empty.out;
  EXPECT_LT(std::atof(empty.out.c_str()), std::atof(printed.out.c_str()));
}

TEST_F(ImageTool, DeskewWritesAStraightPageInTheFormatOfTheName) {
  EXPECT_NEAR(orivane_skew(at("s3.tif")), 2.5, 0.1);
  const RunResult r = run_orivane({"deskew", at("s3.tif"), at("straight.png")});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_LT(std::fabs(orivane_skew(at("straight.png"))), 0.1);
  if (have_tool("identify"))
    EXPECT_EQ(command_output("identify -format '%m %wx%h' '" + at("straight.png") + "'"), "PNG 1200x1600");
}

TEST_F(ImageTool, EveryImageCommandWritesItsOutput) {
  for (const char* command : {"autocrop", "contrast", "negate", "gray", "bw", "convert"}) {
    const std::string out = at(std::string("out_") + command + ".bmp");
    const RunResult r = run_orivane({command, at("s1.tif"), out});
    EXPECT_EQ(r.exit_status, 0) << command << ": " << r.err;
    const RunResult info = run_orivane({"info", out});
    EXPECT_NE(info.out.find("format=BMP"), std::string::npos) << command << ": " << info.out << info.err;
  }
  EXPECT_NE(run_orivane({"info", at("out_bw.bmp")}).out.find("bits=1\ntype=BW"), std::string::npos);
}

TEST_F(ImageTool, AnOutputNameWithoutAnImageExtensionIsRefused) {
  const RunResult r = run_orivane({"convert", at("s1.tif"), at("out.xyz")});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_NE(r.err.find("the extension names no image format"), std::string::npos) << r.err;
}

struct BadUse {
  std::string label;
  std::vector<std::string> args;
  std::string message;  // part of the error text
};

void PrintTo(const BadUse& c, std::ostream* os) { *os << c.label; }

class ImageToolRefuses : public testing::TestWithParam<BadUse> {};

TEST_P(ImageToolRefuses, WithStatus1AndAMessage) {
  const std::string folder = make_temp_folder();
  std::ofstream(folder + "/empty.tif");
  std::ofstream(folder + "/junk.png") << "\x89PNG\r\n\x1a\n this is not a picture";
  std::vector<std::string> args = GetParam().args;
  for (std::string& a : args)
    if (a.rfind("@", 0) == 0) a = folder + "/" + a.substr(1);
  const RunResult r = run_orivane(args);
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find(GetParam().message), std::string::npos) << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    PageProcessing, ImageToolRefuses,
    testing::Values(BadUse{"no_command", {}, "usage: orivane COMMAND"},
                    BadUse{"unknown_command", {"sharpen", "a.tif"}, "unknown command 'sharpen'"},
                    BadUse{"missing_output", {"deskew", "@a.tif"}, "usage: orivane deskew IN OUT"},
                    BadUse{"missing_file", {"info", "@nothing.tif"}, "No such file or directory"},
                    BadUse{"empty_file", {"skew", "@empty.tif"}, "empty file"},
                    BadUse{"not_an_image", {"crop", "@junk.png"}, "cannot read"},
                    BadUse{"bad_threshold", {"blank", "@junk.png", "2%"}, "threshold must be"}),
    [](const testing::TestParamInfo<BadUse>& info) { return info.param.label; });

}  // namespace
