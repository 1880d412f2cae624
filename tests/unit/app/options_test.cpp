// The command line as the scan loop reads it: ScanRequest fields.
#include "app/options.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "../test_support.h"
#include "orivane/file_options.h"
#include "orivane/twain_switches.h"

namespace {

struct Parsed {
  bool ok = false;
  ScanRequest r;
  std::string message;
};

Parsed parse(std::vector<std::string> args) {
  ResetForTests();
  args.insert(args.begin(), "quillet");
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  Parsed p;
  p.ok = ReadRequest(p.r, static_cast<int>(argv.size()), argv.data(), p.message);
  return p;
}

TEST(Options, ValueFormsIgnoreTextAfterTheNumber) {
  for (const char* sw : {"/r300", "/R=300", "/R300dpi", "-r300"}) {
    Parsed p = parse({sw});
    ASSERT_TRUE(p.ok) << sw << ": " << p.message;
    EXPECT_EQ(p.r.resolution, 300.0) << sw;
    EXPECT_TRUE(p.r.units_needed);
  }
}

TEST(Options, RealsAreReadInSinglePrecision) {
  Parsed p = parse({"/B=0.1"});
  EXPECT_EQ(p.r.brightness, static_cast<double>(0.1f));
}

TEST(Options, BlankThresholdForms) {
  struct Case {
    const char* sw;
    double threshold;
  } cases[] = {{"/BLANK=0.02", 0.02f}, {"/BLANK=2%", 0.02f}, {"/BLANK5%", 0.05f},
               {"/BLANK0.5", 0.5f}, {"/BLANK", 0.02}};
  for (const Case& c : cases) {
    Parsed p = parse({c.sw});
    ASSERT_TRUE(p.ok) << c.sw;
    EXPECT_TRUE(p.r.blank_discard);
    EXPECT_NEAR(TWAIN_GetBlankPageThreshold(), c.threshold, 1e-7) << c.sw;
  }
}

TEST(Options, JpegZeroKeepsTheQuality) {
  Parsed p = parse({"/JPEG=0"});
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.r.file_format, FF_JPEG);
  EXPECT_EQ(TWAIN_GetJpegQuality(), 75);
  EXPECT_EQ(TWAIN_GetTiffCompression(1), 7);
  EXPECT_EQ(TWAIN_GetTiffCompression(0), 4);
  Parsed q = parse({"/JPG=40"});
  EXPECT_EQ(TWAIN_GetJpegQuality(), 40);
}

TEST(Options, DeviceNamesKeepTheirCaseBlanksAndSlashes) {
  Parsed a = parse({"/S=HP/Scanjet"});
  ASSERT_TRUE(a.ok) << a.message;
  EXPECT_EQ(a.r.device_name, "HP/Scanjet");
  Parsed b = parse({"/s=my scanner"});
  EXPECT_EQ(b.r.device_name, "my scanner");
  Parsed c = parse({"/S=" + std::string(100, 'x')});
  EXPECT_EQ(c.r.device_name.size(), 64u);
}

TEST(Options, WhenToScan) {
  struct Case {
    std::vector<std::string> args;
    bool scan;
    bool show_version;
  } cases[] = {
      {{}, false, true},
      {{"/ENUM"}, false, false},
      {{"/N=3"}, true, false},
      {{"/SCAN", "/ENUM"}, false, false},
      {{"/ENUM", "/SCAN"}, true, false},
      {{"/ENUM", "out.bmp"}, true, false},
      {{"/NOSCAN", "out.bmp"}, false, false},
      {{"/KEEPWARM"}, false, false},
      {{"/V"}, false, true},
  };
  for (const Case& c : cases) {
    Parsed p = parse(c.args);
    ASSERT_TRUE(p.ok) << p.message;
    EXPECT_EQ(p.r.scan, c.scan) << testing::PrintToString(c.args);
    EXPECT_EQ(p.r.show_version, c.show_version) << testing::PrintToString(c.args);
  }
}

TEST(Options, PixelTypesAndTheirText) {
  Parsed p = parse({"/bw", "/Gray", "/COLOR", "/cmyk"});
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.r.pixel_types, 1 | 2 | 4 | 32);
  EXPECT_EQ(p.r.pixel_switches, " /BW /GRAY /COLOR /CMYK");
  EXPECT_EQ(p.r.transfer_mode, kTransferMemory);
  std::vector<std::string> many(60, "/BW");
  Parsed q = parse(many);
  EXPECT_LE(q.r.pixel_switches.size(), 95u);
}

TEST(Options, SwitchTable) {
  Parsed p = parse({"/ADF", "/DUPLEX", "/PAPER=a4", "/CM", "/X=1", "/Y2", "/W8", "/H=10", "/GAMMA=2.2",
                    "/AUTOBRIGHT=0", "/ROTR", "/TOGRAY:2", "/CC=copy.pdf", "/0x8001=on", "/POE",
                    "/LANG=de", "/NATIVE", "/SHADOW5", "/HIGH=250"});
  ASSERT_TRUE(p.ok) << p.message;
  const ScanRequest& r = p.r;
  EXPECT_EQ(r.auto_feed, 1);
  EXPECT_EQ(r.feeder, 1);
  EXPECT_TRUE(r.duplex);
  EXPECT_EQ(r.paper_size, 1);
  EXPECT_EQ(r.units, 1);
  EXPECT_EQ(r.left, 1);
  EXPECT_EQ(r.top, 2);
  EXPECT_EQ(r.width, 8);
  EXPECT_EQ(r.height, 10);
  EXPECT_NEAR(r.gamma, 2.2, 1e-6);
  EXPECT_EQ(r.auto_bright, 0);
  EXPECT_EQ(r.rotation, 1);
  EXPECT_EQ(r.to_gray, 2);
  EXPECT_TRUE(r.carbon_copy);
  EXPECT_EQ(r.carbon_copy_path, "copy.pdf");
  EXPECT_EQ(r.custom_cap, 0x8001);
  EXPECT_EQ(r.custom_value, "on");
  EXPECT_EQ(r.page_count, -1);   // prompt on empty without a page count
  EXPECT_EQ(r.shadow, 5);
  EXPECT_EQ(r.highlight, 250);
}

TEST(Options, BarcodeTypesNeedAnEngine) {
  Parsed p = parse({"/CODE39", "/code128"});
  EXPECT_FALSE(p.ok);
  EXPECT_EQ(p.r.barcode_types, 0x10 | 0x40);
  EXPECT_EQ(p.r.barcode_engine, 1);
  EXPECT_EQ(p.message, "Barcode engine not available: Talven");
  EXPECT_EQ(parse({"/BCE=lead", "x.bmp"}).message, "Barcode engine not available: LEADTOOLS");
}

TEST(Options, PaperSizeByNumber) {
  EXPECT_EQ(parse({"/PAPER=12"}).r.paper_size, 12);
  EXPECT_FALSE(parse({"/PAPER=12x"}).ok);
}

TEST(Options, TextStampAttributes) {
  Parsed p = parse({"/TEXT:BOLD:12pt:CENTER=Page $page"});
  ASSERT_TRUE(p.ok) << p.message;
  EXPECT_EQ(p.r.text_template, "Page $page");
  EXPECT_EQ(p.r.text_flags, 0x100 | 0x1 | 0x1000);
  EXPECT_NEAR(p.r.text_height, 12.0 / 72, 1e-9);

  Parsed q = parse({"/TEXT:R90:TOP:RIGHT"});
  ASSERT_TRUE(q.ok);
  EXPECT_EQ(q.r.text_template, "$file[$page] ($user) $date");
  EXPECT_EQ(q.r.text_rotation, 90);
  EXPECT_EQ(q.r.text_flags, 0x2000);

  Parsed s = parse({"/text:courier:2.54cm:wrap:vc:italic:normal"});
  ASSERT_TRUE(s.ok) << s.message;
  EXPECT_EQ(s.r.text_font, "courier");
  EXPECT_NEAR(s.r.text_height, 1.0, 1e-9);
  EXPECT_EQ(s.r.text_flags, 0x4000 | 0x200);

  for (const char* bad : {"/TEXT:infin", "/TEXT:-5pt", "/TEXT:1e3pt", "/TEXT:12"})
    EXPECT_FALSE(parse({bad}).ok) << bad;
}

TEST(Options, OutputNameDecidesTheFormat) {
  struct Case {
    std::vector<std::string> args;
    int format;
    std::string name;
    std::string extension;
    std::ptrdiff_t number_position;
  } cases[] = {
      {{"scan"}, FF_BMP, "scan.bmp", ".bmp", 4},
      {{"/JPEG", "page"}, FF_JPEG, "page.jpg", ".jpg", 4},
      {{"/JPEG", "page.tif"}, FF_TIFF, "page.tif", ".tif", 4},
      {{"doc0099.PDF"}, FF_PDF, "doc0099.PDF", ".PDF", 3},
      {{"a.b/scan7"}, FF_BMP, "a.b/scan7.bmp", ".bmp", 8},
      {{"/JPEG", "x.unknown"}, FF_JPEG, "x.unknown", ".unknown", 1},
  };
  for (const Case& c : cases) {
    Parsed p = parse(c.args);
    ASSERT_TRUE(p.ok) << p.message;
    EXPECT_EQ(p.r.file_format, c.format) << c.name;
    EXPECT_EQ(p.r.output_name, c.name);
    EXPECT_EQ(p.r.output_extension, c.extension);
    EXPECT_EQ(p.r.number_position, c.number_position) << c.name;
  }
}

TEST(Options, LibrarySettingsActEvenWhenALaterSwitchRejects) {
  Parsed p = parse({"/Q=33", "/APPEND", "/FOO"});
  EXPECT_FALSE(p.ok);
  EXPECT_EQ(TWAIN_GetJpegQuality(), 33);
  EXPECT_EQ(TWAIN_GetFileAppendFlag(), 1);
}

// Reading records what the switches ask of the library, in their order, and
// applies nothing: a server reads many requests in one process.
TEST(Options, ReadingOnlyRecordsLibrarySettings) {
  ResetForTests();
  std::vector<const char*> argv = {"quillet", "/Q=33", "/APPEND", "/BLANK=10%", "/PWD=secret",
                                   "/FLATE", "/LANG=fr", "/JPG=20", "x.jpg"};
  ScanRequest r;
  std::string message;
  ASSERT_TRUE(PrepareRequest(r, static_cast<int>(argv.size()), argv.data(), message)) << message;
  EXPECT_EQ(TWAIN_GetJpegQuality(), 75);
  EXPECT_EQ(TWAIN_GetFileAppendFlag(), 0);
  EXPECT_EQ(TWAIN_GetTiffCompression(1), 1);
  using K = LibrarySetting;
  std::vector<K::Kind> kinds;
  for (const LibrarySetting& s : r.library_settings) kinds.push_back(s.kind);
  EXPECT_EQ(kinds, (std::vector<K::Kind>{K::kJpegQuality, K::kAppendFlag, K::kBlankThreshold, K::kPdfUserPassword,
                                         K::kPdfCompression, K::kLanguage, K::kJpegQuality, K::kTiffCompression,
                                         K::kTiffCompression}));
  ScanRequest again;
  ASSERT_TRUE(PrepareRequest(again, static_cast<int>(argv.size()), argv.data(), message));
  EXPECT_EQ(again, r);

  ASSERT_TRUE(ApplyRequestSettings(r, message)) << message;
  EXPECT_EQ(TWAIN_GetJpegQuality(), 20);  // the later switch wins, as read
  EXPECT_EQ(TWAIN_GetFileAppendFlag(), 1);
  EXPECT_EQ(TWAIN_GetTiffCompression(1), 7);
  EXPECT_NEAR(TWAIN_GetBlankPageThreshold(), 0.1, 1e-7);
}

TEST(Options, TooLongSwitchIsRejected) {
  Parsed p = parse({"/S=" + std::string(300, 'x')});
  EXPECT_FALSE(p.ok);
  EXPECT_EQ(p.message.rfind("Option too long", 0), 0u);
  Parsed q = parse({"/" + std::string(255, 'X')});
  EXPECT_EQ(q.message.rfind("Unrecognized option", 0), 0u);
}

}  // namespace
