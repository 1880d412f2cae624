// Barcodes end to end: the virtual scanner prints "PAGE-000n" as a Code 128
// on each sheet; quillet reports what the barcode engines read, chooses and
// refuses engines as the command line asks, and goes on without the module.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "run_program.h"
#include "scan_run.h"

namespace {

// 200-dpi sheets of 6 x 8 inches: the smallest the virtual scanner prints its
// code on (at 100 dpi, 4 x 5 inches the bars would not clear the heading).
const std::string kSheets = "resolutions = 200\ndpi_default = 200\nwidth = 6\nheight = 8\n";

std::string page_line(int page, int code) {
  return "Page" + std::to_string(page) + ".Barcode" + std::to_string(code);
}

TEST(Barcodes, EachPageReportsItsOwnCode) {
  struct Case {
    std::vector<std::string> engine;
    const char* name;
  } cases[] = {{{}, "Talven"}, {{"/BCE=Axtel"}, "Axtel"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScanRun s(kSheets);
    std::vector<std::string> args = {"/N=5", "/BARCODE", "p.bmp"};
    args.insert(args.begin(), c.engine.begin(), c.engine.end());
    const RunResult r = s.run(args);
    ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
    EXPECT_EQ(report_value(r.out, "BarcodeEngine"), c.name);
    for (int page = 1; page <= 5; ++page) {
      char text[16];
      std::snprintf(text, sizeof text, "PAGE-%04d", page);
      EXPECT_EQ(report_value(r.out, page_line(page, 1)), text) << r.out;
      EXPECT_EQ(report_value(r.out, page_line(page, 2)), "") << "one code a page";
    }
    EXPECT_EQ(report_value(r.out, "PagesWritten"), "5");
  }
}

TEST(Barcodes, OnlyTheTypesAskedForAreReported) {
  ScanRun s(kSheets);
  const RunResult r = s.run({"/N=2", "/CODE39", "p.bmp"});
  ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
  EXPECT_EQ(report_value(r.out, "BarcodeEngine"), "Talven");
  EXPECT_EQ(r.out.find(".Barcode"), std::string::npos) << "a Code 128 is no Code 39:\n" << r.out;
  EXPECT_EQ(report_value(r.out, "PagesWritten"), "2");
}

TEST(Barcodes, EnginesThatAreNotThereAreRefusedByName) {
  for (const char* engine : {"/BCE=LEADTOOLS", "/BLACKICE"}) {
    SCOPED_TRACE(engine);
    ScanRun s(kSheets);
    const RunResult r = s.run({"/BARCODE", engine, "p.bmp"});
    EXPECT_EQ(r.exit_status, 251);
    const std::string name = std::string(engine) == "/BLACKICE" ? "BLACKICE" : "LEADTOOLS";
    EXPECT_EQ(report_value(r.out, "Error"), "Barcode engine not available: " + name);
    EXPECT_TRUE(s.files().empty()) << "nothing scanned";
  }
}

TEST(Barcodes, TheTraceShowsTheModuleAndEachReading) {
  ScanRun s(kSheets);
  const RunResult r = s.run({"/LOG=t", "/N=1", "/BARCODE", "p.bmp"});
  ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
  const std::string log = read_file(s.home + "/t.log");
  EXPECT_NE(log.find("OK. Loaded OrvSymbol.dll 1.00\n"), std::string::npos) << log.substr(0, 3000);
  EXPECT_NE(log.find("BARCODE_Recognize(0x"), std::string::npos);
  EXPECT_NE(log.find("BARCODE_Recognize => 1 ["), std::string::npos);
  EXPECT_EQ(log.find("0x0x"), std::string::npos);
}

// The image tool reads the codes of a file the scan wrote.
TEST(Barcodes, TheImageToolListsTypeTextAndRectangle) {
  ScanRun s(kSheets);
  ASSERT_EQ(s.run({"/N=1", "p.png"}).exit_status, 0);
  const RunResult r = run_orivane({"barcodes", s.at("p.png")});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  ASSERT_EQ(r.out.rfind("Code 128\tPAGE-0001\t", 0), 0u) << r.out;
  int x = -1, y = -1, w = -1, h = -1;
  ASSERT_EQ(std::sscanf(r.out.c_str() + r.out.rfind('\t') + 1, "%d %d %d %d", &x, &y, &w, &h), 4) << r.out;
  // 200 dpi, 6 x 8 inches: the code lies in the top right of the sheet.
  EXPECT_GT(x, 600);
  EXPECT_LT(x + w, 1200);
  EXPECT_LT(y + h, 500);
  // The sheet's bars: 134 modules of one pixel, half an inch tall.
  EXPECT_GE(w, 130);
  EXPECT_GE(h, 95);
  const RunResult axtel = run_orivane({"barcodes", s.at("p.png"), "Axtel"});
  EXPECT_EQ(axtel.out.rfind("Code 128\tPAGE-0001\t", 0), 0u) << axtel.out << axtel.err;
  const RunResult none = run_orivane({"barcodes", s.at("p.png"), "LEADTOOLS"});
  EXPECT_EQ(none.exit_status, 1);
  EXPECT_NE(none.err.find("barcode engine not available: LEADTOOLS"), std::string::npos) << none.err;
}

// A copy of the program with its Source Manager and data sources but without
// the barcode module.
std::string program_without_barcodes() {
  namespace fs = std::filesystem;
  const fs::path build = fs::path(quillet_program()).parent_path();
  const fs::path copy = make_temp_folder();
  fs::copy_file(build / "quillet", copy / "quillet");
  fs::copy_file(build / "libtwaindsm.so", copy / "libtwaindsm.so");
  fs::copy(build / "twain", copy / "twain", fs::copy_options::recursive);
  return (copy / "quillet").string();
}

TEST(Barcodes, WithoutTheModuleOnlyBarcodeReadingIsRefused) {
  ScanRun s(kSheets);
  s.env["QUILLET_BIN"] = program_without_barcodes();
  const RunResult refused = s.run({"/BARCODE", "p.bmp"});
  EXPECT_EQ(refused.exit_status, 251) << refused.out << refused.err;
  EXPECT_EQ(report_value(refused.out, "Error"), "Barcode engine not available: Talven");
  const RunResult scan = s.run({"/N=2", "/LOG=t", "p.bmp"});
  ASSERT_EQ(scan.exit_status, 0) << scan.out << scan.err;
  EXPECT_EQ(report_value(scan.out, "PagesWritten"), "2");
  EXPECT_EQ(s.files().size(), 2u);
}

}  // namespace
