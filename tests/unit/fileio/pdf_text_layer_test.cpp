// The searchable text layer: words and their baselines worked out by hand,
// then real pages read back by poppler (pdftotext and its word boxes), with
// the text invisible in the content stream, written by the caller's thread
// and by the background writer.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../../tool_support.h"
#include "../dib/dib_test_support.h"
#include "fileio/codec_modules.h"
#include "fileio/multipage.h"
#include "fileio/pdf_options.h"
#include "fileio/pdf_text_layer.h"
#include "orivane/file_api.h"
#include "orivane/file_options.h"
#include "orivane/multipage_files.h"
#include "orivane/pdf_api.h"
#include "platform/paths.h"

namespace {

using namespace dib_test;
namespace fs = std::filesystem;
using test_tools::have_tool;

std::string run(const std::string& command) { return test_tools::command_output(command + " 2>&1"); }

// Characters with their boxes, laid out left to right on one line.
struct Line {
  std::string text;
  std::vector<int> x, y, w, h;
};

// `text` from column `left`, every character `width` wide with `gap` between
// them, its box from `top` down `height` rows (blanks get boxes too, as
// recognisers report them).
Line line_of(const std::string& text, int left, int top, int width, int height, int gap) {
  Line l{text, {}, {}, {}, {}};
  for (std::size_t i = 0; i < text.size(); ++i) {
    l.x.push_back(left + static_cast<int>(i) * (width + gap));
    l.y.push_back(top);
    l.w.push_back(width);
    l.h.push_back(height);
  }
  return l;
}

std::vector<fileio::OcrWord> words_of(const Line& l) {
  return fileio::ocr_text_words(l.text, l.x.data(), l.y.data(), l.w.data(), l.h.data());
}

TEST(OcrTextWords, WordsBaselinesAndHeightsByHand) {
  struct Case {
    const char* text;
    std::vector<std::string> words;
    std::vector<bool> blank_after;
    int baseline, height;  // of the first word
  };
  // Boxes 10 wide, 30 high, from row 100: a capital's bottom row is 129.
  const Case cases[] = {
      // Capitals: baseline = 100 + 30 - 1, height = 129 - 100 + 1.
      {"HELLO 123", {"HELLO", "123"}, {true, false}, 129, 30},
      // "a" reaches half as high: tops (100 + 85) / 2 = 92, baseline 129,
      // height 129 - 92 + 1.
      {"Ha", {"Ha"}, {false}, 129, 38},
      // "g" hangs a third lower: baseline (129 + 129 - 10) / 2 = 124;
      // tops (100 + 90) / 2 = 95; height 124 - 95 + 1 = 30.
      {"Hg", {"Hg"}, {false}, 124, 30},
      // A comma before a letter ends its word and stays in it; before a
      // digit it does not. Tabs end words like blanks.
      {"a,b 1,5\tc", {"a,", "b", "1,5", "c"}, {false, true, true, false}, 129, 38},
      // Doubled quotes end a word, a single one does not; '!' ends it too.
      {"don't''x!y", {"don't'", "'x!", "y"}, {false, false, false}, 0, 0},
      // Nothing but blanks and controls: no words.
      {" \t\r\n", {}, {}, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const auto words = words_of(line_of(c.text, 0, 100, 10, 30, 2));
    ASSERT_EQ(words.size(), c.words.size());
    for (std::size_t i = 0; i < words.size(); ++i) {
      EXPECT_EQ(words[i].text, c.words[i]);
      EXPECT_EQ(words[i].blank_after, c.blank_after[i]) << i;
    }
    if (c.baseline != 0) {
      EXPECT_EQ(words[0].baseline, c.baseline);
      EXPECT_EQ(words[0].height, c.height);
      EXPECT_EQ(words[0].left, 0);
    }
  }
  // The right edge is the last character's x + width: "HELLO" 5 x 12 - 2.
  EXPECT_EQ(words_of(line_of("HELLO", 0, 0, 10, 30, 2))[0].right, 58);
  // A period is taken to sit four of its heights below a capital's top.
  EXPECT_EQ(words_of(line_of("...", 0, 0, 4, 4, 1))[0].height, 3 + 16 + 1);
  // Boxes of no height would give a word of no size; it stays at least 1.
  EXPECT_EQ(words_of(line_of("--", 0, 0, 4, 0, 1))[0].height, 1);
  // Very long runs are cut into words of 4095 characters.
  const auto long_words = words_of(line_of(std::string(5000, 'x'), 0, 0, 1, 5, 0));
  ASSERT_EQ(long_words.size(), 2u);
  EXPECT_EQ(long_words[0].text.size(), 4095u);
}

class PdfTextLayerTest : public DibTest {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/pdf-text-XXXXXX";
    dir_ = mkdtemp(tmpl);
    setenv("QUILLET_MODULE_PATH", build_folder().c_str(), 1);
    DibTest::SetUp();
    TWAIN_SuppressErrorMessages(1);
  }
  void TearDown() override {
    fileio::multipage_reset_for_tests();
    fileio::pdf_settings_reset_for_tests();
    TWAIN_SetMultipageFormat(MPF_TIFF);
    fileio::codec_modules_reset_for_tests();
    DibTest::TearDown();
    unsetenv("QUILLET_MODULE_PATH");
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  // A white 300-dpi page, 2.5 x 1 inch.
  static DIB_HANDLE white_page() {
    const DIB_HANDLE page = DIB_Allocate(8, 750, 300);
    std::vector<std::uint8_t> row(750, 0xFF);
    for (int y = 0; y < 300; ++y) DIB_WritePackedRow(page, y, row.data());
    DIB_SetResolution(page, 300, 300);
    return page;
  }

  // One page with `line` over it, through the in-memory PDF encoder. The
  // text goes with the next page written, so the buffer is made large
  // enough for one call.
  std::string page_with_text(const Line& line) {
    Owned page(white_page());
    EXPECT_EQ(WriteOcrTextToPDF(line.text.c_str(), line.x.data(), line.y.data(), line.w.data(), line.h.data(),
                                300, 300),
              1);
    const DIB_HANDLE one = page.get();
    std::string pdf(1 << 20, '\0');
    const uint32_t size = DIB_WriteArrayToBuffer(&one, 1, FF_PDF, pdf.data(), static_cast<uint32_t>(pdf.size()));
    EXPECT_GT(size, 0u);
    EXPECT_LT(size, pdf.size());
    pdf.resize(size);
    std::ofstream(path("text.pdf"), std::ios::binary) << pdf;
    return path("text.pdf");
  }

  std::string dir_;
};

// "HELLO 123": capitals 40 x 60 pixels from (100, 100), 45 apart.
Line hello() { return line_of("HELLO 123", 100, 100, 40, 60, 5); }

TEST_F(PdfTextLayerTest, PopplerFindsTheWordsWhereThePixelsAre) {
  if (!have_tool("pdftotext") || !have_tool("qpdf")) GTEST_SKIP() << "poppler-utils or qpdf missing";
  const std::string pdf = page_with_text(hello());
  EXPECT_NE(run("qpdf --check " + pdf).find("No syntax or stream encoding errors"), std::string::npos);
  const std::string text = run("pdftotext -layout " + pdf + " -");
  EXPECT_NE(text.find("HELLO 123"), std::string::npos) << text;

  // Word boxes in points from the top left: pixels x 72 / 300.
  const std::string boxes = run("pdftotext -bbox " + pdf + " -");
  struct Expected {
    const char* text;
    double left, right;  // points
  };
  const Expected expected[] = {{"HELLO", 100 * 0.24, (100 + 4 * 45 + 40) * 0.24},
                               {"123", (100 + 6 * 45) * 0.24, (100 + 8 * 45 + 40) * 0.24}};
  // The words sit on the characters' bottom row; their capitals (0.718 of
  // the size in Helvetica) reach 1/1.15 of the characters' height above it.
  const double baseline = (100 + 60 - 1) * 0.24;
  const double size = 60 / 300.0 * 72 * 1.15, cap_top = baseline - 0.718 * size;
  int found = 0;
  for (const Expected& e : expected) {
    // <word xMin="..." yMin="..." xMax="..." yMax="...">TEXT</word>
    const std::size_t end = boxes.find(std::string(">") + e.text + "</word>");
    const std::size_t start = boxes.rfind("<word ", end);
    if (end == std::string::npos || start == std::string::npos) continue;
    ++found;
    SCOPED_TRACE(e.text);
    const std::string tag = boxes.substr(start, end - start);
    const auto attribute = [&](const char* name) {
      const std::size_t at = tag.find(std::string(name) + "=\"");
      return at == std::string::npos ? -1.0 : std::stod(tag.substr(at + std::strlen(name) + 2));
    };
    EXPECT_NEAR(attribute("xMin"), e.left, 1.0);
    EXPECT_NEAR(attribute("xMax"), e.right, 1.5);
    // poppler's box runs from the capitals' top to the descenders.
    EXPECT_NEAR(attribute("yMin"), cap_top, 1.0);
    EXPECT_GT(attribute("yMax"), baseline);
    EXPECT_LT(attribute("yMax"), baseline + 0.3 * size);
  }
  EXPECT_EQ(found, 2) << boxes;
}

TEST_F(PdfTextLayerTest, TheTextIsInvisibleAndTheSettingIsKept) {
  if (!have_tool("qpdf")) GTEST_SKIP() << "qpdf missing";
  ASSERT_EQ(PDF_SetTextVisible(1), 1);
  const std::string pdf = page_with_text(hello());
  EXPECT_EQ(PDF_GetTextVisible(), 1);
  const std::string qdf = run("qpdf --qdf --object-streams=disable " + pdf + " -");
  EXPECT_NE(qdf.find("3 Tr"), std::string::npos);
  EXPECT_EQ(qdf.find("0 Tr"), std::string::npos);
  EXPECT_NE(qdf.find("(HELLO ) Tj"), std::string::npos);
}

TEST_F(PdfTextLayerTest, MissingBoxesAreRefusedAndEmptyTextIsNothingToDo) {
  const int x[] = {0};
  EXPECT_EQ(WriteOcrTextToPDF("", nullptr, nullptr, nullptr, nullptr, 300, 300), 1);
  EXPECT_EQ(WriteOcrTextToPDF(nullptr, nullptr, nullptr, nullptr, nullptr, 300, 300), 1);
  EXPECT_EQ(WriteOcrTextToPDF("A", x, x, nullptr, x, 300, 300), 0);
  EXPECT_EQ(TWAIN_LastErrorCode(), ERR_MEMORY);
}

// A recogniser standing in for the OCR engine: the same line on every page.
int recognise_hello(DIB_HANDLE, fileio::PageText* out) {
  const Line l = hello();
  *out = fileio::PageText{l.text, l.x, l.y, l.w, l.h, 300, 300};
  return 0;
}
int recognition_fails(DIB_HANDLE, fileio::PageText*) { return -7; }

TEST_F(PdfTextLayerTest, SearchablePagesGetTheirTextOnEitherThread) {
  if (!have_tool("pdftotext")) GTEST_SKIP() << "poppler-utils missing";
  fileio::pdf_settings().searchable = true;
  fileio::pdf_settings().recognizer = recognise_hello;
  ASSERT_EQ(TWAIN_SetMultipageFormat(MPF_PDF), 0);
  for (const int lazy : {0, 1}) {
    SCOPED_TRACE(lazy);
    TWAIN_SetLazyWriting(lazy);
    const std::string file = path("searchable" + std::to_string(lazy) + ".pdf");
    ASSERT_EQ(TWAIN_BeginMultipageFile(file.c_str()), 0);
    for (int i = 0; i < 2; ++i) {
      Owned page(white_page());
      ASSERT_EQ(TWAIN_DibWritePage(page.get()), 0);
    }
    ASSERT_EQ(TWAIN_EndMultipageFile(), 0);
    for (int p = 1; p <= 2; ++p) {
      const std::string text = run("pdftotext -f " + std::to_string(p) + " -l " + std::to_string(p) + " " + file + " -");
      EXPECT_NE(text.find("HELLO 123"), std::string::npos) << "page " << p << ": " << text;
    }
  }
  // A failed recognition fails the page.
  fileio::pdf_settings().recognizer = recognition_fails;
  TWAIN_SetLazyWriting(0);
  ASSERT_EQ(TWAIN_BeginMultipageFile(path("failed.pdf").c_str()), 0);
  Owned page(white_page());
  EXPECT_EQ(TWAIN_DibWritePage(page.get()), -7);
  TWAIN_EndMultipageFile();
  TWAIN_SetLazyWriting(1);
}

}  // namespace
