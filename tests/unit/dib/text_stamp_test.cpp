// Text stamps: the variables of the text, and stamps read back by an
// independent reader (tesseract) on letter pages of every kind, size and
// resolution.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "../../tool_support.h"
#include "dib/crop.h"
#include "dib/text_stamp.h"
#include "dib_test_support.h"
#include "orivane/file_api.h"

namespace {

using namespace dib_test;

TEST(TextStamp, VariablesAreReplacedOnceEach) {
  dib::StampFacts f;
  f.when = 365 * 86400;  // Friday, 1 January 1971, 00:00:00 UTC
  f.file = "/scans/a.tif";
  f.page = 3;
  f.user = "ann";
  struct Case {
    const char* text;
    const char* file;
    const char* expected;
  } cases[] = {
      {"$utc|$page|$user|$file", "/scans/a.tif", "Fri Jan  1 00:00:00 1971|3|ann|/scans/a.tif"},
      {"$file[$page] ($user)", "/scans/$page-$user.tif", "/scans/$page-$user.tif[3] (ann)"},  // values stay
      {"$$page $pagex $Page $", "", "$3 3x $Page $"},
      {"no variables", "", "no variables"},
  };
  for (const Case& c : cases) {
    f.file = c.file;
    EXPECT_EQ(dib::stamp_expand(c.text, f), c.expected) << c.text;
  }
  EXPECT_EQ(dib::stamp_expand("$user", dib::StampFacts{0, "", 1, std::string(300, 'u')}).size(), 256u);
}

// What tesseract reads on each image, in order.
std::vector<std::string> read_back(const std::vector<std::string>& images, const std::string& folder) {
  const std::string list = folder + "/images.txt";
  std::ofstream out(list);
  for (const std::string& i : images) out << i << "\n";
  out.close();
  const std::string text =
      test_tools::command_output("OMP_THREAD_LIMIT=1 tesseract '" + list + "' - --psm 7 -l eng 2>/dev/null");
  // Pages are parted by form feeds.
  std::vector<std::string> pages(1);
  for (char c : text) {
    if (c == '\f') pages.emplace_back();
    else if (c != '\n') pages.back() += c;
  }
  if (pages.back().empty()) pages.pop_back();
  return pages;
}

TEST(TextStampOcr, StampsReadBackOnLetterPagesOfEveryKind) {
  if (!test_tools::have_tool("tesseract")) GTEST_SKIP() << "tesseract is not installed";
  ResetForTests();
  const std::string folder = std::filesystem::temp_directory_path() / ("stamp_ocr." + std::to_string(getpid()));
  std::filesystem::create_directories(folder);
  constexpr const char* kText = "Page 3 of INVOICE-7741";
  struct Case {
    int type;
    int dpi;
    double inches;
  };
  std::vector<Case> cases;
  for (const int type : {DIB_PT_BW, DIB_PT_GRAY, DIB_PT_RGB})
    for (const int dpi : {200, 300})
      for (const double inches : {8.0 / 72, 12.0 / 72, 1.0 / 6}) cases.push_back({type, dpi, inches});
  std::vector<std::string> images;
  for (const Case& c : cases) {
    const int w = static_cast<int>(8.5 * c.dpi), h = 11 * c.dpi;
    Owned p(DIB_Create(c.type, w, h, 0));
    std::vector<std::uint8_t> white(static_cast<std::size_t>(DIB_RowBytes(p.get())), 0xFF);
    for (int y = 0; y < h; ++y) DIB_WriteRow(p.get(), y, white.data(), static_cast<int32_t>(white.size()));
    DIB_SetResolution(p.get(), c.dpi, c.dpi);
    dib::StampStyle style;
    style.height_inches = c.inches;
    ASSERT_EQ(dib::stamp_page(p.get(), kText, style), 1);
    // The stamp's corner: bottom left, a third of an inch in.
    const int margin = static_cast<int>(c.dpi * 0.33), em = static_cast<int>(c.dpi * c.inches + 0.5);
    const dib::Locked page(p.get());
    dib::Dib crop = dib::cut_rect(page.view(), 0, h - margin - 2 * em, std::min(w, margin + 16 * em), 2 * em + margin / 2, 0xFF);
    images.push_back(folder + "/stamp" + std::to_string(images.size()) + ".bmp");
    ASSERT_EQ(DIB_WriteToFilename(crop.get(), images.back().c_str()), 0);
  }
  const std::vector<std::string> read = read_back(images, folder);
  ASSERT_EQ(read.size(), cases.size());
  for (std::size_t i = 0; i < cases.size(); ++i)
    EXPECT_EQ(read[i], kText) << "type " << cases[i].type << ", " << cases[i].dpi << " dpi, "
                              << cases[i].inches * 72 << " pt";
  std::filesystem::remove_all(folder);
}

}  // namespace
