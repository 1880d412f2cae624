// Automatic OCR in the library's acquisition loops: every page the virtual
// scanner delivers is recognised after its processing and goes into the PDF
// with its text, the background writer on (the default). A sheet fed upside
// down comes out upright and readable with auto-rotation on.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "../../ocr_accuracy.h"
#include "../../tool_support.h"
#include "../twain/dsm_fixture.h"
#include "engines/ocr_engine.h"
#include "orivane/file_api.h"
#include "orivane/multipage_files.h"
#include "orivane/ocr_api.h"
#include "orivane/twain_multipage_acquire.h"
#include "orivane/twain_switches.h"
#include "sources/virtual/pages/detail.h"

namespace {

using test_tools::command_output;
using twain_test::ScopedEnv;

// Sheets of 3 x 2.5 inches at 200 dpi, gray, one side printed.
constexpr const char* kSheets =
    "[device]\nfeeder_sheets = 3\ntwo_sided = no\npixel_type = gray\nwidth = 3\nheight = 2.5\n"
    "resolutions = 200\ndpi_default = 200\n";

double page_accuracy(const std::string& pdf, int page) {
  std::vector<std::string> paragraphs;
  for (std::string_view p : vscan::pages::page_prose()) paragraphs.emplace_back(p);
  const std::string text =
      command_output("pdftotext -f " + std::to_string(page) + " -l " + std::to_string(page) + " '" + pdf + "' -");
  return ocr_accuracy::word_accuracy(ocr_accuracy::words_of(text), ocr_accuracy::truth_words(paragraphs)).value();
}

class OcrAcquireTest : public twain_test::DsmTest {
 protected:
  void SetUp() override {
    DsmTest::SetUp();
    env_.emplace_back(std::make_unique<ScopedEnv>("QUILLET_MODULE_PATH", build_folder()));
    engines::ocr_reset_for_tests();
    if (!std::filesystem::exists(build_folder() + "/OrvOcr.so")) GTEST_SKIP() << "OrvOcr not built";
  }
  void TearDown() override {
    engines::ocr_reset_for_tests();
    DsmTest::TearDown();
  }
  std::string out(const std::string& name) { return dir_ + "/" + name; }
  int count(const std::string& what) {
    const std::string t = trace();
    int n = 0;
    for (std::size_t at = t.find(what); at != std::string::npos; at = t.find(what, at + 1)) ++n;
    return n;
  }
};

TEST_F(OcrAcquireTest, MultipageFileOfRecognisedPagesWithTheBackgroundWriter) {
  use_devices(std::string(kSheets) + "events = 2:upside_down\n");
  TWAIN_SetAutoOCR(1);
  OCR_SetAutoRotatePagesToPDF(1);
  ASSERT_EQ(TWAIN_GetLazyWriting(), 1);
  const std::string path = out("doc.pdf");
  ASSERT_EQ(TWAIN_AcquireMultipageFile(0, path.c_str()), 0) << core::error_record().text;
  ASSERT_EQ(FilePageCount(path.c_str()), 3);
  for (int page = 1; page <= 3; ++page) {
    EXPECT_GE(page_accuracy(path, page), 0.98) << "page " << page;
    const std::string text = command_output("pdftotext -f " + std::to_string(page) + " -l " +
                                            std::to_string(page) + " '" + path + "' -");
    EXPECT_NE(text.find("Page " + std::to_string(page)), std::string::npos) << text;
  }
  EXPECT_EQ(count("OCR_RecognizeDib => "), 3);
  EXPECT_NE(trace().find("PDF page turned 180 degrees"), std::string::npos);
  EXPECT_NE(trace().find("Queued to Bg"), std::string::npos);
  EXPECT_EQ(DIB_LiveImageCount(), 0);
  EXPECT_NE(command_output("qpdf --check '" + path + "' 2>&1").find("No syntax or stream encoding errors"),
            std::string::npos);
}

// N pages per file: each file's pages go through the OCR page writer; the
// page recognised while it was processed is not read a second time.
TEST_F(OcrAcquireTest, PagesToFilesWriteEachPageWithItsText) {
  use_devices(kSheets);
  TWAIN_SetAutoOCR(1);
  ASSERT_EQ(TWAIN_AcquirePagesToFiles(0, 2, out("part.pdf").c_str()), 2) << core::error_record().text;
  EXPECT_EQ(FilePageCount(out("part.pdf").c_str()), 2);
  EXPECT_EQ(FilePageCount(out("part1.pdf").c_str()), 1);
  EXPECT_GE(page_accuracy(out("part1.pdf"), 1), 0.98);
  EXPECT_EQ(count("OCR_RecognizeDib => "), 3);
  EXPECT_EQ(DIB_LiveImageCount(), 0);
}

}  // namespace
