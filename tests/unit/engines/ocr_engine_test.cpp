// The OCR engine seen from the library: loading OrvOcr (missing, refused,
// faulting modules through a fake one), recognition of the virtual scanner's
// printed pages (word accuracy against the prose it prints, turned pages,
// every depth), hostile pages, the OCR page writer and searchable PDF.
// Pages are small (a few square inches at 200 dpi): Tesseract is not built
// with the sanitizers, but a whole letter page still takes seconds.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "../../ocr_accuracy.h"
#include "../../tool_support.h"
#include "../dib/dib_test_support.h"
#include "engines/ocr_engine.h"
#include "orivane/file_api.h"
#include "orivane/multipage_files.h"
#include "orivane/ocr_api.h"
#include "orivane/pdf_api.h"
#include "orivane/trace_log.h"
#include "sources/virtual/pages.h"
#include "sources/virtual/pages/detail.h"
#include "twain/capabilities/switches.h"

namespace {

using namespace dib_test;
using test_tools::command_output;
namespace fs = std::filesystem;

constexpr double kMinWordAccuracy = 0.98;

std::vector<std::string> printed_words() {
  std::vector<std::string> paragraphs;
  for (std::string_view p : vscan::pages::page_prose()) paragraphs.emplace_back(p);
  return ocr_accuracy::truth_words(paragraphs);
}

// The scanner's page, `w` x `h` inches at `dpi`, as an 8-bit gray image.
DIB_HANDLE printed_page(double w, double h, int dpi, bool upside_down = false) {
  const vscan::PageFormat format{.pixel_type = TWPT_GRAY, .bit_depth = 8, .width = int(w * dpi),
                                 .height = int(h * dpi), .x_dpi = double(dpi), .y_dpi = double(dpi)};
  vscan::PageFacts facts;
  facts.upside_down = upside_down;
  const auto raster = vscan::render_page(format, facts);
  const DIB_HANDLE d = DIB_Allocate(8, format.width, format.height);
  for (int y = 0; y < format.height; ++y)
    DIB_WritePackedRow(d, y, &raster->pixels[std::size_t(y) * raster->bytes_per_row]);
  DIB_SetResolution(d, dpi, dpi);
  return d;
}

std::string last_text() {
  std::vector<char> text(1 << 16);
  OCR_GetText(text.data(), int(text.size()));
  return text.data();
}

double accuracy_of(const std::string& text) {
  return ocr_accuracy::word_accuracy(ocr_accuracy::words_of(text), printed_words()).value();
}

class OcrTest : public DibTest {
 protected:
  void SetUp() override {
    DibTest::SetUp();
    char pattern[] = "/tmp/ocr-test-XXXXXX";
    dir_ = mkdtemp(pattern);
    if (const char* m = std::getenv("QUILLET_MODULE_PATH")) old_modules_ = m;
    use_modules(build_folder());
    TWAIN_SuppressErrorMessages(1);
  }
  void TearDown() override {
    ResetForTests();
    unsetenv("QUILLET_TEST_CRASH");
    unsetenv("QUILLET_TEST_OCR_VERSION");
    unsetenv("QUILLET_TEST_OCR_ORIENTATION");
    if (old_modules_.empty()) unsetenv("QUILLET_MODULE_PATH");
    else setenv("QUILLET_MODULE_PATH", old_modules_.c_str(), 1);
    std::error_code ec;
    fs::remove_all(dir_, ec);
    DibTest::TearDown();
  }
  // The modules come from `folder` (the fake OCR module: fake_folder()).
  void use_modules(const std::string& folder) {
    engines::ocr_reset_for_tests();
    setenv("QUILLET_MODULE_PATH", folder.c_str(), 1);
  }
  // The build's codec modules with the fake OCR module among them.
  std::string fake_folder() const {
    const std::string folder = dir_ + "/fake";
    if (fs::exists(folder)) return folder;
    fs::create_directories(folder);
    for (const auto& e : fs::directory_iterator(build_folder())) {
      const std::string name = e.path().filename().string();
      if (name.rfind("Orv", 0) == 0 && e.path().extension() == ".so" && name != "OrvOcr.so")
        fs::create_symlink(e.path(), folder + "/" + name);
    }
    fs::create_symlink(build_folder() + "/tests/fake_ocr/OrvOcr.so", folder + "/OrvOcr.so");
    return folder;
  }
  bool real_module() const { return fs::exists(build_folder() + "/OrvOcr.so"); }
  std::string out(const std::string& name) const { return dir_ + "/" + name; }

  std::string dir_, old_modules_;
};

TEST_F(OcrTest, AModuleMissingOrOfAnotherVersionIsRefusedAndTriedAgain) {
  const std::string impostor = dir_ + "/impostor";
  fs::create_directories(impostor);
  fs::create_symlink(build_folder() + "/OrvPng.so", impostor + "/OrvOcr.so");
  struct Case {
    std::string folder;
    const char* version;
    const char* error;
  } cases[] = {{dir_, nullptr, "OCR: Could not find and load OrvOcr.dll."},
               {impostor, nullptr, "OCR: Wrong version of OrvOcr.dll."},
               {fake_folder(), "104", "OCR: Wrong version of OrvOcr.dll."}};
  Owned page(DIB_Allocate(8, 64, 64));
  for (const Case& c : cases) {
    use_modules(c.folder);
    if (c.version) setenv("QUILLET_TEST_OCR_VERSION", c.version, 1);
    TWAIN_ClearError();
    EXPECT_EQ(OCR_RecognizeDib(page.get()), -1) << c.folder;
    EXPECT_EQ(error_text(), c.error);
    EXPECT_EQ(OCR_SelectedEngine(), 0);
    EXPECT_EQ(OCR_Version(), 0);
    unsetenv("QUILLET_TEST_OCR_VERSION");
  }
  // A failed load is tried again at the next call: the module found now is used.
  setenv("QUILLET_MODULE_PATH", fake_folder().c_str(), 1);
  EXPECT_EQ(OCR_RecognizeDib(page.get()), 4);
  EXPECT_EQ(last_text(), "fake");
  EXPECT_EQ(OCR_Version(), ORVOCR_VERSION);
  // The trace log's header lists it among the loaded libraries.
  TWAIN_SetLogFolder(dir_.c_str());
  TWAIN_LogFile(1);
  LogFlush();
  const std::string log = read_file(LogFullPath());
  TWAIN_LogFile(0);
  EXPECT_NE(log.find("    OrvOcr: 1.05 from "), std::string::npos) << log;
  EXPECT_NE(log.find("tests/fake_ocr/OrvOcr.so"), std::string::npos) << log;
}

TEST_F(OcrTest, AFaultInsideTheModuleIsCaughtAndTheModuleGivenUp) {
  use_modules(fake_folder());
  setenv("QUILLET_TEST_CRASH", "RecognizeDib", 1);
  Owned page(DIB_Allocate(8, 64, 64));
  EXPECT_EQ(OCR_RecognizeDib(page.get()), -5);
  EXPECT_EQ(error_text(), "Failure: OCR_RecognizeDib");
  unsetenv("QUILLET_TEST_CRASH");
  TWAIN_ClearError();
  // Its state is unknown after the fault: it is not called again.
  EXPECT_EQ(OCR_RecognizeDib(page.get()), -1);
  EXPECT_EQ(error_text(), "Failure: OrvOcr faulted earlier");
}

TEST_F(OcrTest, BadHandlesAndZonesFailAndTheFirstErrorStays) {
  use_modules(fake_folder());
  Owned page(DIB_Allocate(8, 64, 64));
  const DIB_HANDLE stale = DIB_Allocate(8, 8, 8);
  DIB_Free(stale);
  TWAIN_ClearError();
  EXPECT_EQ(OCR_RecognizeDib(0), -2);
  EXPECT_EQ(OCR_RecognizeDib(stale), -2);
  EXPECT_EQ(OCR_RecognizeDibZone(page.get(), 0, 0, 0, 10), -3);
  EXPECT_EQ(error_text(), "Internal problem: Bad Dib detected (OCR_RecognizeDib)");
  // A zone partly outside the page is cut with white and read.
  EXPECT_EQ(OCR_RecognizeDibZone(page.get(), 32, 32, 64, 64), 4);
  char small[4];
  struct Case {
    char* buffer;
    int size;
    int result;
  } cases[] = {{small, 4, 0}, {small, 0, 0}, {nullptr, 10, 0}};  // "fake" needs 5 bytes
  for (const Case& c : cases) EXPECT_EQ(OCR_GetText(c.buffer, c.size), c.result);
  char fits[5];
  EXPECT_EQ(OCR_GetText(fits, 5), 4);
  EXPECT_STREQ(fits, "fake");
}

TEST_F(OcrTest, ReadsThePrintedPageWithABoxForEveryCharacter) {
  if (!real_module()) GTEST_SKIP() << "OrvOcr not built";
  Owned page(printed_page(4, 3, 200));
  const int n = OCR_RecognizeDib(page.get());
  ASSERT_GT(n, 150) << error_text() << last_text();
  EXPECT_GE(accuracy_of(last_text()), kMinWordAccuracy) << last_text();
  EXPECT_EQ(OCR_TextOrientation(), 0);
  EXPECT_NE(last_text().find("Page 1"), std::string::npos) << last_text();
  const engines::OcrPage r = engines::ocr_last();
  ASSERT_EQ(r.x.size(), r.text.size());
  EXPECT_EQ(r.x_dpi, 200);
  for (std::size_t i = 0; i < r.text.size(); ++i) {
    EXPECT_TRUE(r.x[i] >= 0 && r.y[i] >= 0 && r.x[i] + r.width[i] <= 800 && r.y[i] + r.height[i] <= 600)
        << "character " << i << " '" << r.text[i] << "'";
    if (r.text[i] > ' ') EXPECT_GT(r.width[i] * r.height[i], 0) << i;
  }
}

// A page lying turned (fed upside down, or sideways) reads as the upright
// page does; its boxes are those of the upright page turned with it.
TEST_F(OcrTest, ATurnedPageReadsUprightWithBoxesOnThePageAsItLies) {
  if (!real_module()) GTEST_SKIP() << "OrvOcr not built";
  Owned upright(printed_page(4, 3, 200));
  ASSERT_GT(OCR_RecognizeDib(upright.get()), 0);
  const engines::OcrPage a = engines::ocr_last();
  EXPECT_EQ(a.orientation, 0);
  const int w = 800, h = 600;
  struct Case {
    int turns;        // how the page lies: quarter turns clockwise
    int orientation;  // the turn that makes it upright again
  } cases[] = {{2, 180}, {1, 270}, {-1, 90}};
  for (const Case& c : cases) {
    Owned turned(c.turns == 2 ? printed_page(4, 3, 200, true) : DIB_Rotate90(upright.get(), c.turns));
    ASSERT_GT(OCR_RecognizeDib(turned.get()), 0) << c.turns;
    const engines::OcrPage b = engines::ocr_last();
    EXPECT_EQ(b.orientation, c.orientation);
    ASSERT_EQ(a.text, b.text) << c.turns;
    for (std::size_t i = 0; i < a.text.size(); ++i) {
      if (a.text[i] <= ' ') continue;
      const int x = a.x[i], y = a.y[i], bw = a.width[i], bh = a.height[i];
      const int ex = c.turns == 2 ? w - x - bw : c.turns == 1 ? h - y - bh : y;
      const int ey = c.turns == 2 ? h - y - bh : c.turns == 1 ? x : w - x - bw;
      EXPECT_NEAR(b.x[i], ex, 2) << c.turns << " " << i;
      EXPECT_NEAR(b.y[i], ey, 2) << c.turns << " " << i;
    }
  }
}

TEST_F(OcrTest, EveryDepthReadsAsItsGrayPage) {
  if (!real_module()) GTEST_SKIP() << "OrvOcr not built";
  Owned gray(printed_page(4, 3, 200));
  struct Case {
    int type, depth;
  } cases[] = {{DIB_PT_BW, 1}, {DIB_PT_GRAY, 4}, {DIB_PT_GRAY, 16}, {DIB_PT_RGB, 24},
               {DIB_PT_RGB, 48}, {DIB_PT_PALETTE, 8}, {DIB_PT_CMYK, 32}};
  for (const Case& c : cases) {
    Owned page(DIB_ConvertToFormat(gray.get(), c.type, c.depth, nullptr));
    ASSERT_TRUE(page) << c.depth;
    ASSERT_GT(OCR_RecognizeDib(page.get()), 0) << c.depth << " " << error_text();
    EXPECT_GE(accuracy_of(last_text()), 0.95) << c.depth << " bits: " << last_text();
  }
}

// Pages with nothing to read, too small, too large or pure noise: an answer,
// no crash, no wait beyond the engine's time limit.
TEST_F(OcrTest, HostilePagesGiveAnAnswer) {
  if (!real_module()) GTEST_SKIP() << "OrvOcr not built";
  std::mt19937 random(7);
  struct Case {
    const char* name;
    int depth, w, h;
    bool noise;
  } cases[] = {{"1x1", 8, 1, 1, false},          {"white", 8, 600, 400, false},
               {"noise", 8, 300, 200, true},     {"one column", 1, 1, 40000, false},
               {"one row", 8, 40000, 1, false},  {"20000 x 20000", 1, 20000, 20000, false}};
  for (const Case& c : cases) {
    Owned page(DIB_Allocate(c.depth, c.w, c.h));
    ASSERT_TRUE(page) << c.name;
    std::vector<std::uint8_t> row(std::size_t(c.w) * c.depth / 8 + 4, 0xFF);
    for (int y = 0; y < c.h; ++y) {
      if (c.noise)
        for (auto& b : row) b = static_cast<std::uint8_t>(random());
      DIB_WritePackedRow(page.get(), y, row.data());
    }
    const int n = OCR_RecognizeDib(page.get());
    EXPECT_GE(n, 0) << c.name << ": " << error_text();
    if (!c.noise) EXPECT_EQ(last_text(), "") << c.name;
  }
}

TEST_F(OcrTest, WritePageNeedsAnOpenMultipagePdf) {
  use_modules(fake_folder());
  Owned page(DIB_Allocate(8, 300, 200));
  DIB_SetResolution(page.get(), 100, 100);
  EXPECT_EQ(OCR_WritePage(page.get()), 0);
  EXPECT_EQ(error_text(), "Failure: OCR_WritePage: No multipage file open.");
  ASSERT_EQ(TWAIN_BeginMultipageFile(out("pages.tif").c_str()), 0);
  TWAIN_ClearError();
  EXPECT_EQ(OCR_WritePage(page.get()), 0);
  EXPECT_EQ(error_text(), "Writing text only supported to PDF");
  TWAIN_EndMultipageFile();
  // Into a PDF: the page and its text, the caller keeps the page.
  ASSERT_EQ(TWAIN_BeginMultipageFile(out("pages.pdf").c_str()), 0);
  EXPECT_EQ(OCR_WritePage(page.get()), 1) << error_text();
  EXPECT_EQ(OCR_WritePage(page.get()), 1) << error_text();
  ASSERT_EQ(TWAIN_EndMultipageFile(), 0);
  EXPECT_EQ(FilePageCount(out("pages.pdf").c_str()), 2);
  const std::string text = command_output("pdftotext -f 2 -l 2 '" + out("pages.pdf") + "' -");
  EXPECT_NE(text.find("fake"), std::string::npos) << text;
}

// With auto-rotation a page whose text lies turned goes in upright, its text
// box turned with it: "fake" covers x 10 to 50, y 20 to 50 on the 300 x 200
// page as it lies (upside down), x 250 to 290 on the page turned upright.
TEST_F(OcrTest, AutoRotationTurnsThePageAndItsTextTogether) {
  use_modules(fake_folder());
  setenv("QUILLET_TEST_OCR_ORIENTATION", "180", 1);
  Owned page(make_image(8, 300, 200));
  DIB_SetResolution(page.get(), 72, 72);
  Owned turned(DIB_Rotate90(page.get(), 2));
  OCR_SetAutoRotatePagesToPDF(1);
  ASSERT_EQ(OCR_RecognizeDib(page.get()), 4);
  EXPECT_EQ(OCR_TextOrientation(), 180);
  ASSERT_EQ(OCR_WriteTextToPDF(), 1);
  ASSERT_EQ(DIB_WriteToFilename(page.get(), out("one.pdf").c_str()), 0) << error_text();
  // The image in the file is the page turned upright.
  Owned written(DIB_LoadFromFilename(out("one.pdf").c_str()));
  ASSERT_TRUE(written);
  EXPECT_EQ(rgb_pixels(written.get()), rgb_pixels(turned.get()));
  const std::string bbox = command_output("pdftotext -bbox '" + out("one.pdf") + "' -");
  EXPECT_NE(bbox.find("xMin=\"250."), std::string::npos) << bbox;
}

TEST_F(OcrTest, SearchableOutputNeedsAnAvailableEngine) {
  use_modules(dir_);
  EXPECT_EQ(PDF_SetSearchable(1), 0);
  EXPECT_EQ(error_text(), "Can't generate searchable PDF, no OCR engine selected.");
  if (real_module()) {
    // Loading selects Tesseract; a language without data leaves it selected
    // but unable to read.
    use_modules(build_folder());
    ASSERT_GT(OCR_Version(), 0);
    TWAIN_ClearError();
    EXPECT_EQ(OCR_SetLanguage("zz-none"), 0);
    EXPECT_EQ(error_text(), "OCR: no trained data installed for 'zz-none'");
    TWAIN_ClearError();
    EXPECT_EQ(PDF_SetSearchable(1), 0);
    EXPECT_EQ(error_text(), "Can't generate searchable PDF, selected OCR (Tesseract) not available.");
    EXPECT_EQ(OCR_SetLanguage(nullptr), 1);
  }
  // Each single or multipage PDF page written is read first.
  use_modules(fake_folder());
  TWAIN_ClearError();
  ASSERT_EQ(PDF_SetSearchable(1), 1) << error_text();
  Owned page(DIB_Allocate(8, 300, 200));
  ASSERT_EQ(DIB_WriteToFilename(page.get(), out("searchable.pdf").c_str()), 0);
  const std::string text = command_output("pdftotext '" + out("searchable.pdf") + "' -");
  EXPECT_NE(text.find("fake"), std::string::npos) << text;
  EXPECT_EQ(PDF_SetSearchable(0), 1);
  EXPECT_EQ(PDF_GetSearchable(), 0);
}

TEST_F(OcrTest, LanguageComesFromTheProgramTheEnvironmentOrTheSettingsFile) {
  unsetenv("QUILLET_OCR_LANG");
  EXPECT_STREQ(OCR_GetLanguage(), "eng");
  twain::settings_apply_text("OcrLanguage=deu+eng\r\nOCR_SetAutoRotatePagesToPDF=1\r\n");
  EXPECT_STREQ(OCR_GetLanguage(), "deu+eng");
  EXPECT_EQ(OCR_GetAutoRotatePagesToPDF(), 1);
  setenv("QUILLET_OCR_LANG", "fra", 1);
  EXPECT_STREQ(OCR_GetLanguage(), "fra");
  OCR_SetLanguage("spa");
  EXPECT_STREQ(OCR_GetLanguage(), "spa");
  unsetenv("QUILLET_OCR_LANG");
}

}  // namespace
