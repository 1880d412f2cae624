// The library switches and the settings file.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "../test_support.h"
#include "orivane/errors.h"
#include "orivane/file_options.h"
#include "orivane/twain_switches.h"
#include "twain/acquisition/next_page.h"
#include "twain/capabilities/switches.h"

namespace {

TEST(Switches, ValidationKeepsOldValues) {
  ResetForTests();
  TWAIN_SetAutoCropOptions(-1);
  EXPECT_EQ(TWAIN_GetAutoCropOptions(), 1);
  TWAIN_SetAutoCropOptions(16);
  EXPECT_EQ(TWAIN_GetAutoCropOptions(), 1);
  char text[512];
  TWAIN_GetLastErrorText(text);
  EXPECT_STREQ(text, "Invalid Orivane parameter value: AutoCropOptions(16)");
  for (double bad : {0.0, 1.0, -1.0, 2.0}) {
    TWAIN_SetBlankPageThreshold(bad);
    EXPECT_EQ(TWAIN_GetBlankPageThreshold(), 0.02);
  }
  TWAIN_SetBlankPageThreshold(0.5);
  EXPECT_EQ(TWAIN_GetBlankPageThreshold(), 0.5);
  TWAIN_SetAutoDeskew(2);
  EXPECT_EQ(TWAIN_GetAutoDeskew(), 0);
  TWAIN_SetAutoCrop(4);
  EXPECT_EQ(TWAIN_GetAutoCrop(), 0);
}

TEST(Switches, ResetKeepsStopOnEmpty) {
  ResetForTests();
  TWAIN_SetStopOnEmpty(1);
  TWAIN_DisableParent(0);
  TWAIN_SetAutoNegate(0);
  TWAIN_SetBlankPageThreshold(0.3);
  twain::switches_reset();
  EXPECT_EQ(TWAIN_GetStopOnEmpty(), 1);
  EXPECT_EQ(TWAIN_GetDisableParent(), 1);
  EXPECT_EQ(TWAIN_GetAutoNegate(), 1);
  EXPECT_EQ(TWAIN_GetBlankPageThreshold(), 0.02);
}

TEST(SettingsFile, KeysWithAndWithoutPrefixes) {
  struct Case {
    const char* text;
    int (*get)();
    int expected;
  } cases[] = {
      {"AutoDeskew=1\r\n", TWAIN_GetAutoDeskew, 1},
      {"TWAIN_SetAutoDeskew=1\r\n", TWAIN_GetAutoDeskew, 1},
      {"SetAutoDeskew(1)\n", TWAIN_GetAutoDeskew, 1},
      {"  autodeskew ( 1 )", TWAIN_GetAutoDeskew, 1},
      {"AutoDeskew=7\n", TWAIN_GetAutoDeskew, 0},        // refused value
      {"SetHideUI(1)\n", TWAIN_GetHideUI, 0},            // not a settings key
      {"AutoNegate=0\nAutoCrop=2\n", TWAIN_GetAutoCrop, 2},
      {"AutoCrop=1\r\nAutoCrop=3\r\n", TWAIN_GetAutoCrop, 3},
      {"AutoCrop=1\nAutoCrop=3", TWAIN_GetAutoCrop, 3},  // bare LF lines are each read
      {"BlankPageMode=1\n", TWAIN_GetBlankPageMode, 1},
      {"JpegQuality=55\n", TWAIN_GetJpegQuality, 55},
      {"LazyWriting=0\n", TWAIN_GetLazyWriting, 0},
      {"AutoCrop=99999999999999999999\n", TWAIN_GetAutoCrop, 0},
      {"MaxImagePixels=5000000\n", [] { return int(DIB_GetMaxImagePixels()); }, 5000000},
      {"MaxImagePixels=0\n", [] { return int(DIB_GetMaxImagePixels()); }, 320000000},  // the default
  };
  for (const Case& c : cases) {
    ResetForTests();
    twain::settings_apply_text(c.text);
    EXPECT_EQ(c.get(), c.expected) << c.text;
  }
}

// Orivane3.ini is read only as a regular file of at most 1 MiB: a FIFO there
// must not hold the library's start, nor a device be read for ever.
TEST(SettingsFile, OnlyARegularFileUpToTheCapIsProcessed) {
  char folder[] = "/tmp/orvini.XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string path = std::string(folder) + "/Orivane3.ini";
  const std::string line = "AutoDeskew=1\n";
  for (const int kind : {0, 1, 2, 3}) {  // at the cap, one byte over, FIFO, link to a device
    SCOPED_TRACE(kind);
    ResetForTests();
    std::filesystem::remove(path);
    if (kind < 2) std::ofstream(path) << line << std::string((1 << 20) - line.size() + kind, '\n');
    if (kind == 2) {
      ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    }
    if (kind == 3) {
      ASSERT_EQ(symlink("/dev/zero", path.c_str()), 0);
    }
    twain::settings_process_file(folder);
    EXPECT_EQ(TWAIN_GetAutoDeskew(), kind == 0 ? 1 : 0);
  }
  ResetForTests();
  std::filesystem::remove_all(folder);
}

TEST(SettingsFile, NextPageDefault) {
  ResetForTests();
  twain::settings_apply_text("DefaultScanAnotherPagePrompt=0\n");
  EXPECT_EQ(twain::next_page_prompt().default_answer, 0);
  twain::next_page_prompt().default_answer = 1;
}

TEST(TiffCompression, RulesPerPixelType) {
  ResetForTests();
  EXPECT_EQ(TWAIN_SetTiffCompression(0, 7), 0);
  EXPECT_EQ(TWAIN_GetTiffCompression(0), 4);
  char text[512];
  TWAIN_GetLastErrorText(text);
  EXPECT_STREQ(text, "TIFF error: TIFF compression 7 with pixel type 0.");
  EXPECT_EQ(TWAIN_SetTiffCompression(2, 4), 0);
  EXPECT_EQ(TWAIN_GetTiffCompression(2), 1);
  EXPECT_EQ(TWAIN_SetTiffCompression(-1, 7), 1);
  EXPECT_EQ(TWAIN_GetTiffCompression(0), 4);
  EXPECT_EQ(TWAIN_GetTiffCompression(5), 7);
  EXPECT_EQ(TWAIN_SetTiffCompression(-1, 5), 1);
  for (int t = 0; t < 6; ++t) EXPECT_EQ(TWAIN_GetTiffCompression(t), 5);
  EXPECT_EQ(TWAIN_SetTiffCompression(3, -1), 1);
  EXPECT_EQ(TWAIN_GetTiffCompression(3), 1);
  EXPECT_EQ(TWAIN_SetTiffCompression(6, 1), 0);
  EXPECT_EQ(TWAIN_GetTiffCompression(6), -1);
}

TEST(Formats, ExtensionsAndMissingCodecs) {
  ResetForTests();
  EXPECT_EQ(FormatFromExtension("JPEG", -1), FF_JPEG);
  EXPECT_EQ(FormatFromExtension(".mpt", -1), FF_TIFF);
  EXPECT_EQ(FormatFromExtension("", 7), 7);
  EXPECT_EQ(FormatFromExtension("a.dir/file", -1), -1);
  EXPECT_EQ(FormatFromExtension("C:x.PdF", -1), FF_PDF);
  EXPECT_EQ(IsFormatAvailable(FF_BMP), 1);
  EXPECT_EQ(IsFormatAvailable(12345), 0);
  EXPECT_EQ(TWAIN_SetMultipageFormat(5), 0);
  EXPECT_EQ(TWAIN_GetMultipageFormat(), 5);
  EXPECT_EQ(TWAIN_SetMultipageFormat(3), -1);
  EXPECT_EQ(TWAIN_GetMultipageFormat(), 5);
}

}  // namespace
