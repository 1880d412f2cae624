// The OCR module's own pieces, without Tesseract: text in Windows-1252 with a
// box per byte, and turned pages whose boxes are mapped back onto the page
// as it was handed in.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "engines/ocr/ocr_image.h"
#include "engines/ocr/ocr_text.h"
#include "fileio/pdf_text_layer.h"

namespace {

TEST(OcrModuleText, Utf8SymbolsBecomeWindows1252Bytes) {
  struct Case {
    const char* utf8;
    const char* bytes;
  } cases[] = {{"A", "A"},          {"\xC3\xA9", "\xE9"},       {"\xE2\x82\xAC", "\x80"},
               {"\xE2\x80\x9C", "\x93"}, {"\xEF\xAC\x81", "fi"}, {"\xE2\x86\x92", "?"},
               {"\x01", ""},         {"\xC3", "?"},             {"", ""}};
  for (const Case& c : cases) EXPECT_EQ(ocr::cp1252_from_utf8(c.utf8), c.bytes) << c.utf8;
}

TEST(OcrModuleText, WordsLinesAndParagraphsGetSeparatorsWithBoxes) {
  ocr::TextBuilder b("\r\n");
  const ocr::TypeLine first{19, 10}, second{39, 10}, third{69, 10};
  b.add("a", 10, 8, first, true, true, true);
  b.add("b", 18, 8, first, false, false, false);
  b.add("c", 40, 8, first, true, false, false);
  b.add("\xEF\xAC\x81", 10, 12, second, true, true, false);  // "fi" on the next line
  b.add("d", 10, 8, third, true, true, true);                 // a new paragraph
  const ocr::PageText t = std::move(b).finish();
  EXPECT_EQ(t.text, "ab c\r\nfi\r\n\r\nd");
  ASSERT_EQ(t.boxes.size(), t.text.size());
  const ocr::Box space = t.boxes[2];
  EXPECT_EQ(space.x, 26);  // from b's right edge to c's left
  EXPECT_EQ(space.w, 14);
  EXPECT_EQ(space.y, 10);
  EXPECT_EQ(space.h, 10);
  EXPECT_EQ(t.boxes[4].x, 48);  // the line break stands at the end of its line
  EXPECT_EQ(t.boxes[4].w, 0);
  EXPECT_EQ(t.boxes[6].w + t.boxes[7].w, 12);  // the ligature's letters share its box
  EXPECT_EQ(t.boxes[7].x, 16);
}

// Typeset boxes read back by the PDF text layer give the line they were set
// on: its baseline and its capital height, whatever letters a word holds.
TEST(OcrModuleText, TheTextLayerReadsTypesetBoxesBackIntoTheirLine) {
  const ocr::TypeLine line{200, 30};
  for (const std::string word : {"Hamburg", "are", "typing.", "\"quoted\"", "(x)", "t", "min:", "$5", "a_b"}) {
    std::vector<int> x, y, w, h;
    for (std::size_t i = 0; i < word.size(); ++i) {
      const ocr::Box b = ocr::typeset_box(static_cast<unsigned char>(word[i]), int(10 + 20 * i), 20, line);
      x.push_back(b.x), y.push_back(b.y), w.push_back(b.w), h.push_back(b.h);
    }
    const std::vector<fileio::OcrWord> words = fileio::ocr_text_words(word, x.data(), y.data(), w.data(), h.data());
    ASSERT_FALSE(words.empty()) << word;
    EXPECT_NEAR(words[0].baseline, line.baseline, 1) << word;
    EXPECT_NEAR(words[0].height, line.ascent, 3) << word;
  }
}

// A 7 x 5 page with one dark 2 x 3 block: turned each way, the block found
// on the turned page maps back onto where it was.
TEST(OcrModuleImage, TurnedPagesMapTheirBoxesBack) {
  ocr::GrayPage page;
  page.width = page.page_width = 7;
  page.height = page.page_height = 5;
  page.pixels.assign(35, 255);
  const ocr::Box block{4, 1, 2, 3};
  for (int y = block.y; y < block.y + block.h; ++y)
    for (int x = block.x; x < block.x + block.w; ++x) page.pixels[std::size_t(y) * 7 + x] = 0;
  for (int degrees : {0, 90, 180, 270}) {
    const ocr::GrayPage t = ocr::gray_page_turned(page, degrees);
    int x0 = t.width, y0 = t.height, x1 = -1, y1 = -1;
    for (int y = 0; y < t.height; ++y)
      for (int x = 0; x < t.width; ++x)
        if (t.pixels[std::size_t(y) * t.width + x] == 0)
          x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x + 1), y1 = std::max(y1, y + 1);
    const ocr::Box back = ocr::box_unturned({x0, y0, x1 - x0, y1 - y0}, degrees, 7, 5);
    EXPECT_EQ(back.x, block.x) << degrees;
    EXPECT_EQ(back.y, block.y) << degrees;
    EXPECT_EQ(back.w, block.w) << degrees;
    EXPECT_EQ(back.h, block.h) << degrees;
  }
}

// A 1-bit page whose table puts white first, bottom-up rows: read through
// its table, top row first; blocks that lie about their size are refused.
TEST(OcrModuleImage, PagesAreReadThroughTheirTableAndChecked) {
  std::vector<std::uint8_t> block(40 + 8 + 2 * 4, 0);
  const auto put32 = [&](std::size_t at, std::uint32_t v) { std::memcpy(&block[at], &v, 4); };
  put32(0, 40), put32(4, 3), put32(8, 2), block[12] = 1, block[14] = 1;
  put32(40, 0x00FFFFFF);  // entry 0 white, entry 1 black
  block[48] = 0x80;       // bottom row: first pixel black
  block[52] = 0x40;       // top row: second pixel black
  ocr::GrayPage page;
  ASSERT_EQ(ocr::gray_page_read(block.data(), block.size(), &page), ocr::ImageProblem::None);
  EXPECT_EQ(page.pixels, (std::vector<std::uint8_t>{255, 0, 255, 0, 255, 255}));
  EXPECT_EQ(ocr::gray_page_read(block.data(), block.size() - 1, &page), ocr::ImageProblem::NotDib);
  put32(16, 0x0600);
  EXPECT_EQ(ocr::gray_page_read(block.data(), block.size(), &page), ocr::ImageProblem::Compressed);
}

}  // namespace
