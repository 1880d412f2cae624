// Printing: where a page goes on the sheet (the arithmetic alone), and whole
// jobs sent to a CUPS scheduler of the test's own whose queue keeps every
// document it receives, read back with poppler's tools.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "../../cups_server.h"
#include "../test_support.h"
#include "core/error_record.h"
#include "orivane/dib_api.h"
#include "orivane/errors.h"
#include "orivane/multipage_files.h"
#include "orivane/print_api.h"
#include "print/page_layout.h"

namespace {

using test_tools::command_output;

TEST(PageLayout, ImagesGoAtTheirOwnSizeCentredOrScaledIntoThePrintableArea) {
  // Letter at 600 dpi with quarter-inch margins.
  print::Sheet sheet;
  sheet.width = 5100;
  sheet.height = 6600;
  sheet.printable_x = sheet.printable_y = 150;
  sheet.printable_width = 4800;
  sheet.printable_height = 6300;
  struct Case {
    const char* what;
    int width, height;
    double dpi;
    bool fit;
    print::Placement expected;
  };
  const Case cases[] = {
      {"300 dpi on 600: twice its pixels, centred on the sheet", 600, 300, 300, true, {1800, 2850, 1200, 600, false, false, 1}},
      {"no resolution: 72 dpi", 72, 72, 0, true, {2100, 2850, 600, 600, false, false, 1}},
      {"too large, fitted: the smaller ratio, centred in the printable area", 3000, 1500, 300, true,
       {0, 1950, 4800, 2400, true, true, 0.8}},
      {"too large, not fitted: centred on the sheet, hanging over", 3000, 1500, 300, false,
       {-600, 1650, 6000, 3000, true, false, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const print::Placement p = print::place_image(sheet, c.width, c.height, c.dpi, c.dpi, c.fit);
    EXPECT_EQ(p.x, c.expected.x);
    EXPECT_EQ(p.y, c.expected.y);
    EXPECT_EQ(p.w, c.expected.w);
    EXPECT_EQ(p.h, c.expected.h);
    EXPECT_EQ(p.overhang, c.expected.overhang);
    EXPECT_EQ(p.scaled, c.expected.scaled);
    EXPECT_DOUBLE_EQ(p.scale, c.expected.scale);
  }
}

// The image's placement in a page of a sent document: "w 0 0 h x y cm" in
// points from the sheet's bottom left, and the sheet's size.
struct Drawn {
  double w = 0, h = 0, x = 0, y = 0, sheet_w = 0, sheet_h = 0;
};

std::vector<Drawn> drawn(const std::string& pdf) {
  const std::string text = command_output("cat '" + pdf + "'");
  std::vector<Drawn> pages;
  const std::regex page(R"(/MediaBox \[0 0 ([0-9.]+) ([0-9.]+)\])"), place(R"(q ([0-9.-]+) 0 0 ([0-9.-]+) ([0-9.-]+) ([0-9.-]+) cm /Im0)");
  std::vector<std::pair<double, double>> sheets;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), page); it != std::sregex_iterator(); ++it)
    sheets.emplace_back(std::stod((*it)[1]), std::stod((*it)[2]));
  std::size_t i = 0;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), place); it != std::sregex_iterator(); ++it, ++i) {
    Drawn d{std::stod((*it)[1]), std::stod((*it)[2]), std::stod((*it)[3]), std::stod((*it)[4]), 0, 0};
    if (i < sheets.size()) std::tie(d.sheet_w, d.sheet_h) = sheets[i];
    pages.push_back(d);
  }
  return pages;
}

DIB_HANDLE page_at(int width, int height, int dpi) {
  DIB_HANDLE h = DIB_Create(DIB_PT_GRAY, width, height, 8);
  if (dpi > 0) DIB_SetResolution(h, dpi, dpi);
  return h;
}

class PrintTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetForTests();
    setenv("QUILLET_MODULE_PATH", build_folder().c_str(), 1);
  }
  void TearDown() override {
    unsetenv("QUILLET_MODULE_PATH");
    ResetForTests();
  }
};

TEST_F(PrintTest, JobsReachTheQueueWithEachPageWhereItBelongs) {
  CupsServer cups({"capq", "other"});
  if (!cups.running()) GTEST_SKIP() << "needs cupsd and root";
  ASSERT_EQ(DIB_EnumeratePrinters(), 2);
  char name[256] = "x";
  EXPECT_EQ(DIB_GetPrinterName(0, name), 1);
  EXPECT_STREQ(name, "capq");
  EXPECT_EQ(DIB_GetPrinterName(2, name), 0);
  EXPECT_STREQ(name, "");
  EXPECT_STREQ(DIB_PrinterName(7), "");

  struct Case {
    const char* what;
    int width, height, dpi;
    bool fit;
    double w_pt, h_pt;  // the image's size on paper
    bool centred_on_sheet;
  };
  const Case cases[] = {
      {"300 dpi: its own size, centred", 600, 300, 300, true, 144, 72, true},
      {"no resolution: 72 dpi", 72, 36, 0, true, 72, 36, true},
      {"too wide, fitted into the printable area", 6000, 300, 300, true, 612, 30.6, true},
      {"too wide, not fitted: hangs over both sides", 6000, 300, 300, false, 1440, 72, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DIB_SetPrintScaleToFit(c.fit ? 1 : 0);
    DIB_HANDLE page = page_at(c.width, c.height, c.dpi);
    ASSERT_EQ(DIB_PrintNoPrompt(page, "case"), 0) << core::error_record().text;
    DIB_Free(page);
    const std::vector<Drawn> d = drawn(cups.job_file(DIB_LastPrintJobId()));
    ASSERT_EQ(d.size(), 1u);
    EXPECT_NEAR(d[0].sheet_w, 612, 0.5);
    EXPECT_NEAR(d[0].sheet_h, 792, 0.5);
    EXPECT_NEAR(d[0].w, c.w_pt, 0.5);
    EXPECT_NEAR(d[0].h, c.h_pt, 0.5);
    EXPECT_NEAR(d[0].x + d[0].w / 2, 306, 0.5);
    EXPECT_NEAR(d[0].y + d[0].h / 2, 396, 0.5);
  }

  // Every page of a file, one job.
  DIB_HANDLE pages[3] = {page_at(300, 300, 300), page_at(150, 150, 150), page_at(600, 300, 300)};
  const std::string tif = std::string(getenv("TMPDIR") ? getenv("TMPDIR") : "/tmp") + "/print-three.tif";
  ASSERT_EQ(DIB_WriteArrayToFilename(pages, 3, tif.c_str()), 0);
  for (DIB_HANDLE p : pages) DIB_Free(p);
  DIB_SetPrintScaleToFit(1);
  ASSERT_EQ(DIB_PrintFile(tif.c_str(), "", 1), 0) << core::error_record().text;
  const std::string sent = cups.job_file(DIB_LastPrintJobId());
  EXPECT_NE(command_output("pdfinfo '" + sent + "'").find("Pages:           3"), std::string::npos);
  EXPECT_NE(command_output("qpdf --check '" + sent + "' 2>&1").find("No syntax or stream encoding errors"),
            std::string::npos);
  unlink(tif.c_str());

  // Another destination by name.
  DIB_SpecifyPrinter("other");
  DIB_HANDLE one = page_at(30, 30, 300);
  EXPECT_EQ(DIB_PrintArray(&one, 1, "to other", 1), 0) << core::error_record().text;
  DIB_SpecifyPrinter("nonesuch");
  EXPECT_EQ(DIB_PrintNoPrompt(one, ""), -2);
  EXPECT_EQ(TWAIN_LastErrorCode(), ERR_PRINT);
  DIB_Free(one);
}

TEST_F(PrintTest, WithoutSomeoneToAskOrAServerNothingHangs) {
  DIB_HANDLE page = page_at(30, 30, 300);
  struct Case {
    const char* what;
    int (*call)(DIB_HANDLE);
    int result, error;
  };
  const Case cases[] = {
      {"the dialog has nobody to answer it", [](DIB_HANDLE p) { return static_cast<int>(DIB_Print(p, "")); }, -10,
       ERR_CANCELLED},
      {"no server", [](DIB_HANDLE p) { return static_cast<int>(DIB_PrintNoPrompt(p, "")); }, -2, ERR_PRINT},
      {"no job open", [](DIB_HANDLE p) { return static_cast<int>(DIB_PrintPage(p)); }, -5, ERR_PRINT},
      {"no pages", [](DIB_HANDLE p) { return static_cast<int>(DIB_PrintArray(&p, 0, "", 1)); }, -3, ERR_PRINT},
  };
  setenv("CUPS_SERVER", "/nonexistent/cups.sock", 1);
  cupsSetServer("/nonexistent/cups.sock");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.call(page), c.result);
    EXPECT_EQ(TWAIN_LastErrorCode(), c.error) << core::error_record().text;
  }
  EXPECT_EQ(DIB_EnumeratePrinters(), 0);
  unsetenv("CUPS_SERVER");
  cupsSetServer(nullptr);
  DIB_Free(page);
}

}  // namespace
