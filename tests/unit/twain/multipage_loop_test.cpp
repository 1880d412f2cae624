// Whole documents against the real Source Manager and the virtual scanner:
// when a document ends, what each consumer makes of its pages, and the
// file-name increment of the per-file acquisitions.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "app/naming.h"
#include "core/error_record.h"
#include "dsm_fixture.h"
#include "orivane/dib_api.h"
#include "orivane/errors.h"
#include "orivane/file_api.h"
#include "orivane/multipage_files.h"
#include "orivane/twain_multipage_acquire.h"
#include "orivane/twain_settings.h"
#include "orivane/twain_switches.h"
#include "platform/locale.h"
#include "twain/acquisition/next_page.h"

namespace twain_test {
namespace {

TEST(IncrementFilenameTest, CountsTheTrailingNumberUpKeepingWidthAndExtension) {
  struct Case {
    const char* in;
    const char* out;
  };
  const Case cases[] = {
      {"scan.tif", "scan1.tif"},
      {"scan007.tif", "scan008.tif"},
      {"scan9.tif", "scan10.tif"},
      {"page", "page1"},
      {"/tmp/a.b/scan", "/tmp/a.b/scan1"},   // a dot in a folder is no extension
      {"C:\\out\\p099.pdf", "C:\\out\\p100.pdf"},
      {"12", "13"},
      {"/tmp/7/x.jpeg", "/tmp/7/x1.jpeg"},  // digits of a folder are left alone
      // Any number of digits, and the whole extension, as the front end's.
      {"s99999999999999999999.tif", "s100000000000000000000.tif"},
      {"a1.verylongext", "a2.verylongext"},
      {"/s/n0000000000000000000099.pdf", "/s/n0000000000000000000100.pdf"},
  };
  for (const Case& c : cases) {
    char path[260];
    std::snprintf(path, sizeof path, "%s", c.in);
    IncrementFilename(path);
    EXPECT_STREQ(path, c.out) << c.in;
    // The front end counts its names up the same way.
    ScanRequest r;
    r.output_name = c.in;
    DeriveOutputName(r);
    if (r.output_name == c.in) {
      IncrementFileName(r);
      EXPECT_EQ(r.output_name, c.out) << c.in;
    }
  }
}

TEST(IncrementFilenameTest, StaysInsideItsBuffer) {
  char path[260];
  std::memset(path, 'a', sizeof path - 1);
  path[sizeof path - 1] = '\0';
  // A full buffer whose number grows by a digit: nothing is written past the
  // end, and no cut name (another file) is made: the name is emptied, so the
  // next write asks for one.
  std::memcpy(path + 250, "9999999.t", 9);
  IncrementFilename(path);
  EXPECT_STREQ(path, "");
}

class MultipageLoopTest : public DsmTest {
 protected:
  void SetUp() override {
    DsmTest::SetUp();
    // The codec modules of this build write the TIFF files.
    env_.emplace_back(std::make_unique<ScopedEnv>("QUILLET_MODULE_PATH", build_folder()));
  }
  std::string out(const std::string& name) { return dir_ + "/" + name; }
  int count(const std::string& what) {
    const std::string t = trace();
    int n = 0;
    for (std::size_t at = t.find(what); at != std::string::npos; at = t.find(what, at + 1)) ++n;
    return n;
  }
};

TEST_F(MultipageLoopTest, FeederDocumentGoesIntoOneFile) {
  use_devices("[device]\nfeeder_sheets = 5\ntwo_sided = no\n");
  const std::string path = out("doc.tif");
  ASSERT_EQ(TWAIN_AcquireMultipageFile(0, path.c_str()), 0) << core::error_record().text;
  EXPECT_EQ(FilePageCount(path.c_str()), 5);
  EXPECT_EQ(TWAIN_ProcessedPageCount(), 5);
  EXPECT_FALSE(TWAIN_IsMultipageFileOpen());
  EXPECT_EQ(DIB_LiveImageCount(), 0);
}

TEST_F(MultipageLoopTest, BlankSidesAreDiscardedAndCounted) {
  use_devices("[device]\nfeeder_sheets = 5\ntwo_sided = no\npixel_type = gray\nevents = 2:blank, 5:blank\n");
  TWAIN_SetBlankPageMode(1);
  const std::string path = out("doc.tif");
  ASSERT_EQ(TWAIN_AcquireMultipageFile(0, path.c_str()), 0) << core::error_record().text;
  EXPECT_EQ(FilePageCount(path.c_str()), 3);
  EXPECT_EQ(TWAIN_BlankDiscardCount(), 2);
  EXPECT_EQ(TWAIN_ProcessedPageCount(), 3);
  EXPECT_NE(trace().find("Acquired & Processed: 3  BlankDiscards: 2"), std::string::npos);
  EXPECT_EQ(DIB_LiveImageCount(), 0);
}

TEST_F(MultipageLoopTest, ADocumentOfOnlyABlankSideNeverBeginsTheFile) {
  use_devices("[device]\nfeeder_sheets = 1\ntwo_sided = no\nevents = 1:blank\n");
  TWAIN_SetBlankPageMode(1);
  const std::string path = out("none.tif");
  EXPECT_EQ(TWAIN_AcquireMultipageFile(0, path.c_str()), -1);
  EXPECT_NE(core::error_record().text.find("No pages were written to file."), std::string::npos)
      << core::error_record().text;
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_EQ(TWAIN_BlankDiscardCount(), 1);
}

TEST_F(MultipageLoopTest, FullArrayFailsAndFreesWhatItHeld) {
  use_devices("[device]\nfeeder_sheets = 3\ntwo_sided = no\n");
  uintptr_t pages[3] = {1, 1, 1};
  EXPECT_EQ(TWAIN_AcquireToArray(0, pages, 2), -4);
  EXPECT_EQ(DIB_LiveImageCount(), 0);
  EXPECT_EQ(pages[2], 1u) << "entries past the capacity are not the library's";
  EXPECT_NE(trace().find("Acquire failed. Freeing 2 images."), std::string::npos);
}

TEST_F(MultipageLoopTest, ArrayKeepsEveryPageWhenThereIsRoom) {
  use_devices("[device]\nfeeder_sheets = 3\ntwo_sided = no\n");
  uintptr_t pages[4] = {};
  ASSERT_EQ(TWAIN_AcquireToArray(0, pages, 4), 3);
  EXPECT_EQ(DIB_LiveImageCount(), 3);
  for (uintptr_t p : pages) DibFree(p);
}

TEST_F(MultipageLoopTest, PagesToFilesCountsBothSidesAndFlagsAShortLastFile) {
  use_devices("[device]\nfeeder_sheets = 3\n");
  TWAIN_EnableDuplex(1);
  ASSERT_EQ(TWAIN_AcquirePagesToFiles(0, 2, out("set.tif").c_str()), 2)
      << core::error_record().text;
  EXPECT_EQ(TWAIN_FileCount(), 2);
  EXPECT_EQ(FilePageCount(out("set.tif").c_str()), 4);
  EXPECT_EQ(FilePageCount(out("set1.tif").c_str()), 2);
  EXPECT_EQ(core::error_record().code, ERR_NOT_ENOUGH_PAGES);
  EXPECT_NE(core::error_record().text.find("Not enough pages in last file: " + out("set1.tif")),
            std::string::npos)
      << core::error_record().text;
}

TEST_F(MultipageLoopTest, ImagesToFilesWritesOneFilePerPage) {
  use_devices("[device]\nfeeder_sheets = 3\ntwo_sided = no\n");
  ASSERT_EQ(TWAIN_AcquireImagesToFiles(0, out("img.bmp").c_str()), 3)
      << core::error_record().text;
  for (const char* name : {"img.bmp", "img1.bmp", "img2.bmp"}) {
    EXPECT_TRUE(std::filesystem::exists(out(name))) << name;
  }
  EXPECT_FALSE(std::filesystem::exists(out("img3.bmp")));
  EXPECT_EQ(DIB_LiveImageCount(), 0);
}

TEST_F(MultipageLoopTest, HiddenDialogAsksOnlyWithoutAFeeder) {
  struct Case {
    const char* device;
    int xfer_count;  // 0 = left to the loop's default
    std::vector<platform::UiAnswer> answers;
    int pages;
    int questions;
  };
  using platform::UiAnswer;
  const Case cases[] = {
      // The feeder running empty ends the document by itself.
      {"feeder_sheets = 2\ntwo_sided = no\n", 0, {UiAnswer::Yes}, 2, 0},
      // A flatbed scanning one sheet per enable: the user places each sheet
      // and is asked after each page.
      {"feeder = no\nflatbed_pages = 5\n", 1, {UiAnswer::No}, 1, 1},
      {"feeder = no\nflatbed_pages = 5\n", 1, {UiAnswer::Yes, UiAnswer::Yes, UiAnswer::No}, 3, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.device);
    TearDown();
    SetUp();
    use_devices(std::string("[device]\n") + c.device);
    TWAIN_SetHideUI(1);
    if (c.xfer_count != 0) TWAIN_SetXferCount(c.xfer_count);
    answers_ = c.answers;
    EXPECT_EQ(TWAIN_AcquireMultipage(0), 0) << core::error_record().text;
    EXPECT_EQ(TWAIN_ProcessedPageCount(), c.pages);
    EXPECT_EQ(count("Prompt for next page => "), c.questions);
    EXPECT_EQ(DIB_LiveImageCount(), 0);
  }
}

uintptr_t cancelling_hook(uintptr_t dib, intptr_t calls) {
  ++*reinterpret_cast<int*>(calls);
  RecordError(ERR_CANCELLED, nullptr);
  return dib;
}

TEST_F(MultipageLoopTest, HookThatCancelsEndsTheDocumentAndClosesTheFile) {
  use_devices("[device]\nfeeder_sheets = 5\ntwo_sided = no\n");
  int calls = 0;
  SetPageHook(cancelling_hook, reinterpret_cast<intptr_t>(&calls));
  EXPECT_EQ(TWAIN_AcquireMultipageFile(0, out("doc.tif").c_str()), -1);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(core::error_record().code, 0) << "a cancel is not an error to show";
  EXPECT_FALSE(TWAIN_IsMultipageFileOpen());
  EXPECT_EQ(DIB_LiveImageCount(), 0);
}

TEST(MultipageLoopTextTest, NextPageQuestionFollowsTheUserLanguage) {
  struct Case {
    std::uint16_t locale;
    const char* text;
  };
  const Case cases[] = {
      {0x0407, "Möchten Sie noch Seiten scannen?"},
      {0x0807, "Möchten Sie noch Seiten scannen?"},
      {0x0411, "Would you like to scan more pages?"},
  };
  const std::uint16_t saved = platform::locale_get();
  for (const Case& c : cases) {
    if (!platform::locale_set(c.locale)) continue;  // a language the platform lacks
    EXPECT_STREQ(twain::next_page_text(platform::locale_get()), c.text) << c.locale;
  }
  platform::locale_set(saved);
}

}  // namespace
}  // namespace twain_test
