// Multipage output: format by name and setting, the one-file lock, the
// background writer, stacked single-image formats, and that nothing appears
// under the final name (or replaces an old file) until the file is ended.
// Files are checked with tiffinfo and qpdf where installed.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../../tool_support.h"
#include "../dib/dib_test_support.h"
#include "fileio/codec_modules.h"
#include "fileio/multipage.h"
#include "fileio/output_files.h"
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

std::vector<std::string> names_in(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class MultipageTest : public DibTest {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/multipage-XXXXXX";
    dir_ = mkdtemp(tmpl);
    setenv("QUILLET_MODULE_PATH", build_folder().c_str(), 1);
    DibTest::SetUp();
    fileio::codec_modules_reset_for_tests();
    fileio::multipage_reset_for_tests();
    TWAIN_SuppressErrorMessages(1);
  }
  void TearDown() override {
    fileio::multipage_reset_for_tests();
    TWAIN_SetFileAppendFlag(0);
    TWAIN_SetMultipageFormat(MPF_TIFF);
    TWAIN_SetLazyWriting(1);
    fileio::codec_modules_reset_for_tests();
    DibTest::TearDown();
    unsetenv("QUILLET_MODULE_PATH");
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  // Writes `pages` pages of `depth` through the multipage calls.
  int write_document(const std::string& name, int pages, int depth = 1, int width = 120, int height = 90) {
    if (const int rc = TWAIN_BeginMultipageFile(path(name).c_str()); rc != 0) return rc;
    for (int i = 0; i < pages; ++i) {
      Owned page(make_image(depth, width, height, i));
      if (const int rc = TWAIN_DibWritePage(page.get()); rc != 0) return rc;
    }
    return TWAIN_EndMultipageFile();
  }

  std::string dir_;
};

TEST_F(MultipageTest, TheNameOrTheSettingChoosesTheFormat) {
  struct Case {
    int setting;
    const char* name;
    const char* written;  // the file that appears
    int format;           // its format by first bytes
  };
  const Case cases[] = {
      {MPF_PDF, "report", "report.pdf", FF_PDF},
      {MPF_TIFF, "report.xyz", "report.xyz", FF_TIFF},  // unknown extension: the setting
      {MPF_PDF, "scan.tiff", "scan.tiff", FF_TIFF},      // the extension wins
      {MPF_DCX, "fax", "fax.dcx", FF_DCX},
      {MPF_BMP, "tall", "tall.bmp", FF_BMP},
      {MPF_TIFF, "v1.2/doc", "v1.2/doc.tif", FF_TIFF},   // a dot in a folder is no extension
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(TWAIN_SetMultipageFormat(c.setting), 0);
    ASSERT_EQ(write_document(c.name, 3), 0);
    EXPECT_EQ(TWAIN_FormatOfFile(path(c.written).c_str()), c.format);
    EXPECT_EQ(std::string(LastOutputFileName()), path(c.written));
    if (c.format != FF_BMP) EXPECT_EQ(FilePageCount(path(c.written).c_str()), 3);
  }
}

TEST_F(MultipageTest, IndependentToolsReadTheDocuments) {
  ASSERT_EQ(write_document("five.tif", 5, 1), 0);
  ASSERT_EQ(write_document("five.pdf", 5, 24), 0);
  if (have_tool("tiffinfo")) {
    const std::string info = run("tiffinfo " + path("five.tif"));
    std::size_t pages = 0;
    for (std::size_t at = 0; (at = info.find("TIFF Directory at offset", at)) != std::string::npos; ++at) ++pages;
    EXPECT_EQ(pages, 5u) << info;
    EXPECT_NE(info.find("CCITT Group 4"), std::string::npos) << info;
  }
  if (have_tool("qpdf")) {
    EXPECT_NE(run("qpdf --check " + path("five.pdf")).find("No syntax or stream encoding errors"),
              std::string::npos);
    EXPECT_EQ(run("qpdf --show-npages " + path("five.pdf")), "5\n");
  }
}

TEST_F(MultipageTest, OneFileAtATime) {
  ASSERT_EQ(TWAIN_BeginMultipageFile(path("first.tif").c_str()), 0);
  EXPECT_EQ(TWAIN_BeginMultipageFile(path("second.tif").c_str()), -6);
  EXPECT_EQ(TWAIN_LastErrorCode(), ERR_MULTIPAGE_OPEN);
  EXPECT_EQ(std::string(TWAIN_MultipageFileName()), path("first.tif"));

  // Another thread waits for the file to end before it can begin its own.
  std::atomic<int> other_result{99};
  std::thread other([&] {
    other_result = TWAIN_BeginMultipageFile(path("other.tif").c_str());
    Owned page(make_image(1, 32, 32));
    TWAIN_DibWritePage(page.get());
    TWAIN_EndMultipageFile();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(other_result.load(), 99);
  Owned page(make_image(1, 64, 64));
  ASSERT_EQ(TWAIN_DibWritePage(page.get()), 0);
  ASSERT_EQ(TWAIN_EndMultipageFile(), 0);
  other.join();
  EXPECT_EQ(other_result.load(), 0);
  EXPECT_EQ(FilePageCount(path("other.tif").c_str()), 1);
  EXPECT_EQ(TWAIN_IsMultipageFileOpen(), 0);
  // A file ended by another thread than its own frees the lock all the same.
  ASSERT_EQ(TWAIN_BeginMultipageFile(path("third.tif").c_str()), 0);
  std::thread ender([] { TWAIN_EndMultipageFile(); });
  ender.join();
  std::thread next([&] { other_result = TWAIN_BeginMultipageFile(path("fourth.tif").c_str()); TWAIN_EndMultipageFile(); });
  next.join();
  EXPECT_EQ(other_result.load(), 0);
  EXPECT_EQ(TWAIN_EndMultipageFile(), -6);
}

TEST_F(MultipageTest, PageDispositionsAndRefusals) {
  Owned page(make_image(8, 40, 30));
  EXPECT_EQ(TWAIN_DibWritePage(page.get()), -6);  // nothing open
  ASSERT_EQ(TWAIN_BeginMultipageFile(path("d.tif").c_str()), 0);
  EXPECT_EQ(fileio::DibWritePage(page.get(), 3), -2);
  EXPECT_EQ(TWAIN_LastErrorCode(), ERR_MEMORY);
  const int live = DIB_LiveImageCount();
  EXPECT_EQ(fileio::DibWritePage(page.get(), 0), 0);  // the caller keeps its page
  EXPECT_EQ(TWAIN_WritePageAndFree(make_image(8, 40, 30)), 0);
  EXPECT_EQ(TWAIN_MultipagePageCount(), 2);  // counted as soon as queued
  ASSERT_EQ(TWAIN_EndMultipageFile(), 0);
  EXPECT_EQ(DIB_LiveImageCount(), live);
  EXPECT_EQ(FilePageCount(path("d.tif").c_str()), 2);
}

// A page the TIFF writer refuses (a compressed stream it cannot take): it
// fails on its own, before anything of it reaches the file.
DIB_HANDLE refused_page() {
  const DIB_HANDLE h = make_image(8, 40, 30);
  auto* header = static_cast<std::uint32_t*>(platform::mem_lock(h));
  header[4] = 0x0600;  // compression: a JPEG stream
  header[5] = 16;      // its size
  platform::mem_unlock(h);
  return h;
}

TEST_F(MultipageTest, ARefusedPageCostsOnlyItself) {
  // Written at once: the pages before and after it stay.
  TWAIN_SetLazyWriting(0);
  ASSERT_EQ(TWAIN_BeginMultipageFile(path("sync.tif").c_str()), 0);
  Owned good(make_image(8, 40, 30));
  Owned bad(refused_page());
  ASSERT_EQ(TWAIN_DibWritePage(good.get()), 0);
  EXPECT_NE(TWAIN_DibWritePage(bad.get()), 0);
  ASSERT_EQ(TWAIN_DibWritePage(good.get()), 0);
  ASSERT_EQ(TWAIN_EndMultipageFile(), 0);
  EXPECT_EQ(FilePageCount(path("sync.tif").c_str()), 2);

  // Through the background writer the file fails at its end (nobody was
  // told of the page), with its reason; the next file is not touched by it.
  TWAIN_SetLazyWriting(1);
  ASSERT_EQ(TWAIN_BeginMultipageFile(path("lazy.tif").c_str()), 0);
  ASSERT_EQ(TWAIN_DibWritePage(bad.get()), 0);
  EXPECT_NE(TWAIN_EndMultipageFile(), 0);
  EXPECT_NE(TWAIN_LastErrorCode(), 0);
  EXPECT_FALSE(fs::exists(path("lazy.tif")));
  TWAIN_SetLazyWriting(0);
  for (const char* name : {"after.tif", "after.pdf"}) {
    SCOPED_TRACE(name);
    ASSERT_EQ(write_document(name, 2), 0);
    EXPECT_EQ(FilePageCount(path(name).c_str()), 2);
  }
}

// Settings given while pages are queued apply to the pages after them:
// the setting waits for the background writer.
TEST_F(MultipageTest, SettingsWaitForQueuedPages) {
  if (!have_tool("pdfimages")) GTEST_SKIP() << "needs pdfimages";
  ASSERT_EQ(TWAIN_SetMultipageFormat(MPF_PDF), 0);
  ASSERT_EQ(PDF_SetCompression(-1, 5), 1);  // Flate
  ASSERT_EQ(TWAIN_BeginMultipageFile(path("mixed.pdf").c_str()), 0);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(TWAIN_WritePageAndFree(make_image(24, 900, 900, i)), 0);
  ASSERT_EQ(PDF_SetCompression(-1, 7), 1);  // JPEG from here on
  ASSERT_EQ(TWAIN_WritePageAndFree(make_image(24, 900, 900, 3)), 0);
  ASSERT_EQ(TWAIN_EndMultipageFile(), 0);
  const std::string list = run("pdfimages -list " + path("mixed.pdf"));
  std::vector<std::string> encodings;
  std::istringstream lines(list);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream f(line);
    std::string page, num, type, w, h, color, comp, bpc, enc;
    if (f >> page >> num >> type >> w >> h >> color >> comp >> bpc >> enc && type == "image") encodings.push_back(enc);
  }
  EXPECT_EQ(encodings, (std::vector<std::string>{"image", "image", "image", "jpeg"})) << list;
  PDF_SetCompression(-1, -1);
}

TEST_F(MultipageTest, LazyWritingCannotChangeWhileAFileIsOpen) {
  ASSERT_EQ(TWAIN_BeginMultipageFile(path("lazy.tif").c_str()), 0);
  TWAIN_SetLazyWriting(0);
  EXPECT_EQ(TWAIN_GetLazyWriting(), 1);  // refused (and shown, which clears the record)
  ASSERT_EQ(TWAIN_EndMultipageFile(), 0);
  TWAIN_SetLazyWriting(0);
  EXPECT_EQ(TWAIN_GetLazyWriting(), 0);
  ASSERT_EQ(write_document("sync.tif", 4), 0);  // without the writer thread
  EXPECT_EQ(FilePageCount(path("sync.tif").c_str()), 4);
}

TEST_F(MultipageTest, MergedFormatsStackPagesCentredOnWhite) {
  ASSERT_EQ(TWAIN_SetMultipageFormat(MPF_BMP), 0);
  ASSERT_EQ(TWAIN_BeginMultipageFile(path("stack").c_str()), 0);
  Owned narrow(DIB_Create(DIB_PT_GRAY, 100, 50, 8));
  Owned wide(DIB_Create(DIB_PT_GRAY, 200, 80, 8));  // all black (zero)
  ASSERT_EQ(TWAIN_DibWritePage(narrow.get()), 0);
  ASSERT_EQ(TWAIN_DibWritePage(wide.get()), 0);
  ASSERT_EQ(TWAIN_EndMultipageFile(), 0);
  Owned merged(DIB_LoadFromFilename(path("stack.bmp").c_str()));
  ASSERT_TRUE(merged);
  EXPECT_EQ(DIB_Width(merged.get()), 200);
  EXPECT_EQ(DIB_Height(merged.get()), 130);
  std::vector<std::uint8_t> row(200);
  ASSERT_EQ(DIB_ReadRow(merged.get(), 0, row.data(), 200), 200);
  for (int x : {0, 49, 150, 199}) EXPECT_EQ(row[x], 255) << x;  // white margins
  for (int x : {50, 100, 149}) EXPECT_EQ(row[x], 0) << x;       // the first page
  ASSERT_EQ(DIB_ReadRow(merged.get(), 129, row.data(), 200), 200);
  EXPECT_EQ(row[0], 0);

  // Black-and-white pages of an odd width, merged into a JPEG: 8-bit gray.
  ASSERT_EQ(TWAIN_SetMultipageFormat(MPF_JPEG), 0);
  ASSERT_EQ(TWAIN_BeginMultipageFile(path("bw").c_str()), 0);
  for (int w : {33, 70}) {
    Owned page(make_image(1, w, 20, w));
    ASSERT_EQ(TWAIN_DibWritePage(page.get()), 0);
  }
  ASSERT_EQ(TWAIN_EndMultipageFile(), 0);
  Owned jpeg(DIB_LoadFromFilename(path("bw.jpg").c_str()));
  ASSERT_TRUE(jpeg);
  EXPECT_EQ(DIB_PixelType(jpeg.get()), DIB_PT_GRAY);
  EXPECT_EQ(DIB_Depth(jpeg.get()), 8);
  EXPECT_EQ(DIB_Width(jpeg.get()), 70);
  EXPECT_EQ(DIB_Height(jpeg.get()), 40);
}

// Pages of different layouts stacked into one image: each shows what it
// showed on its own, in its place, on white.
TEST_F(MultipageTest, MergedPagesShowWhatEachPageShows) {
  // A page of `depth` with the pattern; `table` replaces the first entries
  // of its colour table.
  auto page = [](int depth, int width, int seed, std::vector<std::array<int, 3>> table = {}) {
    const DIB_HANDLE h = make_image(depth, width, 6, seed);
    for (std::size_t i = 0; i < table.size(); ++i)
      DIB_SetColorTableRGB(h, static_cast<int>(i), table[i][0], table[i][1], table[i][2]);
    return h;
  };
  auto palette = [&](int width, int seed, int shift) {
    std::vector<std::array<int, 3>> colours;
    for (int i = 0; i < 256; ++i) colours.push_back({(i * 7 + shift) % 256, (i * 13) % 256, (255 - i + shift) % 256});
    return page(8, width, seed, colours);
  };
  const std::vector<std::array<int, 3>> min_is_white = {{255, 255, 255}, {0, 0, 0}};
  struct Case {
    const char* label;
    std::vector<DIB_HANDLE> pages;
  };
  const Case cases[] = {
      {"min-is-white pages", {page(1, 10, 1, min_is_white), page(1, 30, 2, min_is_white)}},
      {"opposite tables", {page(1, 30, 1), page(1, 10, 2, min_is_white)}},
      {"two palettes", {palette(10, 1, 0), palette(30, 2, 101)}},
      {"bw over gray", {page(1, 12, 1, min_is_white), page(4, 20, 2), page(8, 30, 3)}},
      {"gray over colour", {page(8, 30, 1), page(24, 10, 2), page(1, 20, 3)}},
      {"colour table on 1 bit", {page(1, 10, 1, {{200, 0, 0}, {0, 0, 255}}), page(1, 30, 2)}},
      {"deep gray", {page(8, 10, 1), page(16, 30, 2)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    std::vector<Owned> owned;
    int width = 0;
    for (DIB_HANDLE p : c.pages) {
      owned.emplace_back(p);
      width = std::max(width, DIB_Width(p));
    }
    fileio::multipage_reset_for_tests();
    for (DIB_HANDLE p : c.pages) ASSERT_EQ(fileio::merged_add_page(p), 0);
    const DIB_HANDLE merged = fileio::multipage().merged;
    ASSERT_EQ(DIB_Width(merged), width);
    const std::vector<std::uint8_t> got = rgb_pixels(merged);
    int top = 0;
    for (DIB_HANDLE p : c.pages) {
      const std::vector<std::uint8_t> want = rgb_pixels(p);
      const int w = DIB_Width(p), left = (width - w) / 2;
      for (int y = 0; y < DIB_Height(p); ++y) {
        for (int x = 0; x < width; ++x) {
          const bool inside = x >= left && x < left + w;
          for (int k = 0; k < 3; ++k) {
            const int expected = inside ? want[(y * w + x - left) * 3 + k] : 255;
            ASSERT_EQ(got[((top + y) * width + x) * 3 + k], expected) << "page at row " << top << ", x " << x;
          }
        }
      }
      top += DIB_Height(p);
    }
  }
  fileio::multipage_reset_for_tests();
}

TEST_F(MultipageTest, NothingReachesTheFinalNameBeforeTheEnd) {
  for (int lazy : {1, 0}) {
    SCOPED_TRACE(lazy);
    TWAIN_SetLazyWriting(lazy);
    const std::string name = lazy ? "open.pdf" : "open-sync.pdf";
    ASSERT_EQ(TWAIN_BeginMultipageFile(path(name).c_str()), 0);
    Owned page(make_image(24, 64, 64));
    ASSERT_EQ(TWAIN_DibWritePage(page.get()), 0);
    EXPECT_FALSE(fs::exists(path(name)));
    ASSERT_EQ(TWAIN_EndMultipageFile(), 0);
    EXPECT_TRUE(fs::exists(path(name)));
  }
  // Only final files are left behind: no temporaries.
  for (const std::string& n : names_in(dir_)) EXPECT_FALSE(fileio::is_our_leftover(n)) << n;
}

TEST_F(MultipageTest, AnAbandonedAppendLeavesTheOldFileIntact) {
  ASSERT_EQ(write_document("old.pdf", 2, 8), 0);
  const auto before = fs::file_size(path("old.pdf"));
  TWAIN_SetFileAppendFlag(1);
  // A child process appends pages and dies without ending the file.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (TWAIN_BeginMultipageFile(path("old.pdf").c_str()) != 0) ::_exit(3);
    for (int i = 0; i < 3; ++i) {
      Owned page(make_image(8, 64, 64, i));
      TWAIN_DibWritePage(page.get());
    }
    ::_exit(0);  // as a kill would: nothing is ended, nothing cleaned
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(fs::file_size(path("old.pdf")), before);
  EXPECT_EQ(FilePageCount(path("old.pdf").c_str()), 2);
  if (have_tool("qpdf"))
    EXPECT_NE(run("qpdf --check " + path("old.pdf")).find("No syntax or stream encoding errors"), std::string::npos);
  // The dead process's temporary file is there until the next begin in that
  // folder removes it; the append then succeeds.
  bool leftover = false;
  for (const std::string& n : names_in(dir_)) leftover |= fileio::is_our_leftover(n);
  EXPECT_TRUE(leftover);
  ASSERT_EQ(TWAIN_BeginMultipageFile(path("old.pdf").c_str()), 0);
  Owned page(make_image(8, 64, 64));
  ASSERT_EQ(TWAIN_DibWritePage(page.get()), 0);
  ASSERT_EQ(TWAIN_EndMultipageFile(), 0);
  EXPECT_EQ(FilePageCount(path("old.pdf").c_str()), 3);
  for (const std::string& n : names_in(dir_)) EXPECT_FALSE(fileio::is_our_leftover(n)) << n;
}

TEST_F(MultipageTest, ArraysOfPages) {
  std::vector<Owned> owned;
  std::vector<uintptr_t> pages;
  for (int i = 0; i < 3; ++i) {
    owned.emplace_back(make_image(24, 50, 40, i));
    pages.push_back(owned.back().get());
  }
  EXPECT_EQ(DIB_WriteArrayToFilename(pages.data(), 3, path("arr.tif").c_str()), 0);
  EXPECT_EQ(FilePageCount(path("arr.tif").c_str()), 3);
  EXPECT_EQ(DIB_WriteArrayToFilename(pages.data(), 1, path("one.png").c_str()), 0);
  EXPECT_EQ(TWAIN_FormatOfFile(path("one.png").c_str()), FF_PNG);
  for (const Owned& o : owned) EXPECT_TRUE(DIB_IsValid(o.get()));  // the caller keeps its pages
}

TEST_F(MultipageTest, FilesAreCopiedPageByPageIntoTheFormatOfTheNewName) {
  ASSERT_EQ(write_document("scan.tif", 3, 8), 0);
  EXPECT_EQ(FileCopy(path("scan.tif").c_str(), path("scan.pdf").c_str(), 0), 0);
  EXPECT_EQ(TWAIN_FormatOfFile(path("scan.pdf").c_str()), FF_PDF);
  EXPECT_EQ(FilePageCount(path("scan.pdf").c_str()), 3);
  Owned first(DIB_LoadPage(path("scan.tif").c_str(), 0));
  Owned copied(DIB_LoadPage(path("scan.pdf").c_str(), 0));
  EXPECT_TRUE(DIB_Equal(first.get(), copied.get()));
  EXPECT_EQ(FileCopy(path("missing.tif").c_str(), path("x.pdf").c_str(), 0), -2);
  EXPECT_FALSE(fs::exists(path("x.pdf")));
}

}  // namespace
