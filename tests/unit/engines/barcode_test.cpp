// Barcodes read through the barcode module, against pages whose truth is
// known: codes made by zint (an independent encoder) at 300 dpi, placed on a
// page at a known rectangle, then turned by quarter turns (the rectangle
// turned with them) and by a few degrees. Each code must come back with its
// type, its text and a rectangle around the printed bars.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "../../tool_support.h"
#include "../dib/dib_test_support.h"
#include "app/process.h"
#include "core/error_record.h"
#include "engines/symbol_loader.h"
#include "log/trace.h"
#include "orivane/barcode_api.h"
#include "orivane/dib_analysis.h"
#include "orivane/errors.h"
#include "orivane/file_api.h"

namespace {

using namespace dib_test;
namespace fs = std::filesystem;

struct Box {
  int x = 0, y = 0, w = 0, h = 0;
};

// A code made by zint.
struct Sample {
  const char* zint;  // zint's symbology
  const char* data;
  int type;
  const char* text;  // as read back
};

const Sample kSamples[] = {
    {"EANX", "590123412345", BARCODE_EAN13, "5901234123457"},
    {"EANX", "7351353", BARCODE_EAN8, "73513537"},
    {"UPCA", "72527273070", BARCODE_UPCA, "725272730706"},
    {"UPCE", "0123456", BARCODE_UPCE, "01234565"},
    {"CODE39", "CODE 39-TEST", BARCODE_CODE39, "CODE 39-TEST"},
    {"EXCODE39", "Ab+c!", BARCODE_CODE39_FULL, "Ab+c!"},
    {"CODE128", "Code 128 text", BARCODE_CODE128, "Code 128 text"},
    {"C25INTER", "12345678", BARCODE_I2OF5, "12345678"},
    {"CODABAR", "A40156B", BARCODE_CODABAR, "40156"},
    {"GS1_128", "[01]09501101530003", BARCODE_EAN_UCC, "0109501101530003"},
    {"CODE93", "CODE93 TEST", BARCODE_CODE93, "CODE93 TEST"},
    {"QRCODE", "QR text 1", BARCODE_QR, "QR text 1"},
    {"DATAMATRIX", "DM text 1", BARCODE_DATAMATRIX, "DM text 1"},
    {"PDF417", "PDF417 text", BARCODE_PDF417, "PDF417 text"},
};

constexpr int kPageWidth = 960, kPageHeight = 720;  // 3.2 x 2.4 inches at 300 dpi

class BarcodeTest : public DibTest {
 protected:
  static void SetUpTestSuite() {
    char tmpl[] = "/tmp/barcode-test-XXXXXX";
    dir_ = mkdtemp(tmpl);
  }
  static void TearDownTestSuite() {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  void SetUp() override {
    setenv("QUILLET_MODULE_PATH", build_folder().c_str(), 1);
    DibTest::SetUp();
    TWAIN_SuppressErrorMessages(1);
  }
  void TearDown() override {
    DibTest::TearDown();
    unsetenv("QUILLET_MODULE_PATH");
  }

  // The code zint makes of `s` (bars only, 4 pixels a module: 0.34 mm at
  // 300 dpi), or 0 when zint is not there.
  static DIB_HANDLE zint_code(const char* symbology, const char* data, int scale = 2) {
    const std::string path = dir_ + "/" + symbology + std::to_string(scale) + ".bmp";
    // QR Code data is marked as UTF-8 (ECI 26): read without the mark, its
    // bytes could pass for another character set.
    const std::string eci = std::string(symbology) == "QRCODE" ? " --eci=26" : "";
    const std::string command = std::string("zint --notext --filetype=BMP") + eci + " --scale=" + std::to_string(scale) +
                                " -b " + symbology + " -d '" + data + "' -o '" + path + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) return 0;
    return DIB_LoadFromFilename(path.c_str());
  }

  // A white 8-bit gray page with each code drawn at its place; the boxes of
  // the codes' dark pixels on the page.
  static DIB_HANDLE page_with(int width, int height, const std::vector<std::pair<DIB_HANDLE, Box>>& codes,
                              std::vector<Box>* out_boxes) {
    DIB_HANDLE page = DIB_Create(DIB_PT_GRAY, width, height, 8);
    std::vector<std::uint8_t> row(static_cast<std::size_t>(width), 255);
    for (int y = 0; y < height; ++y) DIB_WriteRow(page, y, row.data(), width);
    for (const auto& [code, at] : codes) {
      const int w = DIB_Width(code), h = DIB_Height(code);
      std::vector<std::uint8_t> rgb(static_cast<std::size_t>(3 * w));
      Box dark{w, h, 0, 0};
      for (int y = 0; y < h; ++y) {
        DIB_ReadRowRGB(code, y, rgb.data());
        DIB_ReadRow(page, at.y + y, row.data(), width);
        for (int x = 0; x < w; ++x) {
          const std::uint8_t v = rgb[3 * x];
          row[at.x + x] = v;
          if (v < 128) dark.x = std::min(dark.x, x), dark.y = std::min(dark.y, y), dark.w = std::max(dark.w, x),
                        dark.h = std::max(dark.h, y);
        }
        DIB_WriteRow(page, at.y + y, row.data(), width);
      }
      out_boxes->push_back({at.x + dark.x, at.y + dark.y, dark.w - dark.x + 1, dark.h - dark.y + 1});
    }
    DIB_SetResolution(page, 300, 300);
    return page;
  }

  struct Read {
    int type;
    std::string text;
    Box box;
  };
  static std::vector<Read> read_all(DIB_HANDLE page, int types = -1) {
    std::vector<Read> out;
    const int n = BARCODE_Recognize(page, -1, types);
    for (int i = 0; i < n; ++i) {
      char text[BARCODE_TEXT_MAX + 1];
      Read r;
      r.type = BARCODE_GetType(i);
      BARCODE_GetText(i, text);
      r.text = text;
      EXPECT_EQ(BARCODE_GetRect(i, &r.box.x, &r.box.y, &r.box.w, &r.box.h), 1);
      out.push_back(r);
    }
    return out;
  }

  static std::string dir_;
};

std::string BarcodeTest::dir_;

// The box of a page of `w` x `h` after `turns` quarter turns clockwise.
Box turned(Box b, int w, int h, int turns) {
  for (int t = 0; t < (turns % 4 + 4) % 4; ++t) {
    b = {h - b.y - b.h, b.x, b.h, b.w};
    std::swap(w, h);
  }
  return b;
}

// The box around `b` turned `degrees` counter-clockwise about the page's
// centre.
Box skewed(Box b, int w, int h, double degrees) {
  const double a = degrees * 3.14159265358979 / 180, c = std::cos(a), s = std::sin(a);
  double x0 = 1e9, y0 = 1e9, x1 = -1e9, y1 = -1e9;
  for (int k = 0; k < 4; ++k) {
    const double dx = b.x + (k & 1) * b.w - w / 2.0, dy = b.y + (k >> 1) * b.h - h / 2.0;
    const double x = w / 2.0 + dx * c + dy * s, y = h / 2.0 - dx * s + dy * c;
    x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = std::max(y1, y);
  }
  return {int(x0), int(y0), int(x1 - x0), int(y1 - y0)};
}

double overlap(const Box& a, const Box& b) {
  const int w = std::min(a.x + a.w, b.x + b.w) - std::max(a.x, b.x);
  const int h = std::min(a.y + a.h, b.y + b.h) - std::max(a.y, b.y);
  if (w <= 0 || h <= 0) return 0;
  return double(w) * h / (double(a.w) * a.h + double(b.w) * b.h - double(w) * h);
}

std::string show(const Box& b) {
  return std::to_string(b.x) + "," + std::to_string(b.y) + " " + std::to_string(b.w) + "x" + std::to_string(b.h);
}

TEST_F(BarcodeTest, EveryTypeReadsUprightTurnedAndSkewed) {
  if (!test_tools::have_tool("zint")) GTEST_SKIP() << "zint not installed";
  for (const Sample& s : kSamples) {
    SCOPED_TRACE(s.zint);
    Owned code(zint_code(s.zint, s.data));
    ASSERT_NE(code.get(), 0u);
    const int w = DIB_Width(code.get()), h = DIB_Height(code.get());
    std::vector<Box> boxes;
    Owned page(page_with(kPageWidth, kPageHeight, {{code.get(), {(kPageWidth - w) / 2, (kPageHeight - h) / 2}}},
                         &boxes));
    for (int turns = 0; turns < 4; ++turns) {
      SCOPED_TRACE("quarter turns: " + std::to_string(turns));
      Owned view(DIB_Rotate90(page.get(), turns));
      // Every type is asked for once, so that no code passes for another;
      // the turned pages ask for their own type only, to stay quick.
      const std::vector<Read> got = read_all(view.get(), turns == 0 ? -1 : s.type);
      ASSERT_EQ(got.size(), 1u);
      EXPECT_EQ(got[0].type, s.type);
      EXPECT_EQ(got[0].text, s.text);
      const Box want = turned(boxes[0], kPageWidth, kPageHeight, turns);
      EXPECT_GT(overlap(got[0].box, want), 0.85) << show(got[0].box) << " for " << show(want);
    }
    ASSERT_TRUE(DIB_SkewByDegrees(page.get(), 4));
    const std::vector<Read> got = read_all(page.get(), s.type);
    ASSERT_EQ(got.size(), 1u) << "turned 4 degrees";
    EXPECT_EQ(got[0].text, s.text);
    const Box want = skewed(boxes[0], kPageWidth, kPageHeight, 4);
    EXPECT_GT(overlap(got[0].box, want), 0.5) << show(got[0].box) << " for " << show(want);
  }
}

TEST_F(BarcodeTest, APageOfSeveralCodesReadsEachOnceInReadingOrder) {
  if (!test_tools::have_tool("zint")) GTEST_SKIP() << "zint not installed";
  Owned c128(zint_code("CODE128", "PAGE-0001")), ean(zint_code("EANX", "590123412345")),
      qr(zint_code("QRCODE", "QR text 1")), dm(zint_code("DATAMATRIX", "DM text 1"));
  ASSERT_TRUE(c128.get() && ean.get() && qr.get() && dm.get());
  std::vector<Box> boxes;
  // The same Code 128 twice: zxing-cpp's own joining of lines cannot have it.
  Owned page(page_with(2400, 1500,
                       {{c128.get(), {150, 150}}, {qr.get(), {1500, 200}}, {dm.get(), {2100, 600}},
                        {ean.get(), {200, 900}}, {c128.get(), {1400, 1000}}},
                       &boxes));
  const std::vector<Read> got = read_all(page.get());
  ASSERT_EQ(got.size(), 5u);
  const int types[] = {BARCODE_CODE128, BARCODE_QR, BARCODE_DATAMATRIX, BARCODE_EAN13, BARCODE_CODE128};
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(got[i].type, types[i]);
    EXPECT_GT(overlap(got[i].box, boxes[i]), 0.85) << show(got[i].box) << " for " << show(boxes[i]);
  }
  // Types and directions not asked for are not reported; a zone reads only
  // its part of the page, with rectangles still in page pixels.
  EXPECT_TRUE(read_all(page.get(), BARCODE_CODE39).empty());
  EXPECT_EQ(read_all(page.get(), BARCODE_EAN13 | BARCODE_QR).size(), 2u);
  BARCODE_SetZone(1300, 900, 1100, 600);
  const std::vector<Read> zone = read_all(page.get());
  BARCODE_SetZone(0, 0, 0, 0);
  ASSERT_EQ(zone.size(), 1u);
  EXPECT_GT(overlap(zone[0].box, boxes[4]), 0.85) << show(zone[0].box);
  Owned sideways(DIB_Rotate90(page.get(), 1));
  BARCODE_SetDirections(BARCODE_LEFT_TO_RIGHT | BARCODE_RIGHT_TO_LEFT);
  const std::vector<Read> across_only = read_all(sideways.get());
  BARCODE_SetDirections(-1);
  ASSERT_EQ(across_only.size(), 0u);
  EXPECT_EQ(read_all(sideways.get()).size(), 5u);
}

TEST_F(BarcodeTest, TheSecondEngineReadsTheLinearCodesToo) {
  if (!test_tools::have_tool("zint")) GTEST_SKIP() << "zint not installed";
  ASSERT_EQ(BARCODE_SelectEngine(2), 1);
  EXPECT_STREQ(BARCODE_EngineName(2), "Axtel");
  EXPECT_EQ(BARCODE_SelectedEngine(), 2);
  for (const Sample& s : kSamples) {
    if (!(BARCODE_SupportedTypes(2) & s.type)) continue;
    SCOPED_TRACE(s.zint);
    Owned code(zint_code(s.zint, s.data));
    std::vector<Box> boxes;
    Owned page(page_with(kPageWidth, kPageHeight, {{code.get(), {100, 200}}}, &boxes));
    for (int turns : {0, 1}) {
      Owned view(DIB_Rotate90(page.get(), turns));
      const std::vector<Read> got = read_all(view.get());
      ASSERT_EQ(got.size(), 1u) << "quarter turns: " << turns;
      EXPECT_EQ(got[0].type, s.type);
      EXPECT_EQ(got[0].text, s.text);
      EXPECT_GT(overlap(got[0].box, turned(boxes[0], kPageWidth, kPageHeight, turns)), 0.7) << show(got[0].box);
    }
  }
  EXPECT_EQ(BARCODE_SelectEngine(1), 1);
}

TEST_F(BarcodeTest, EnginesAndTypeNames) {
  EXPECT_EQ(BARCODE_Version(), ORVSYMBOL_VERSION);
  // The loaded module's line of the log header.
  const LogHeaderFacts facts = log_collect_header_facts();
  ASSERT_FALSE(facts.libraries.empty());
  const LogHeaderFacts::Library& symbol = facts.libraries.front();
  EXPECT_EQ(symbol.name, "OrvSymbol");
  EXPECT_TRUE(symbol.loaded);
  EXPECT_EQ(symbol.version, ORVSYMBOL_VERSION);
  EXPECT_EQ(fs::path(symbol.path).filename(), "OrvSymbol.so");
  EXPECT_EQ(BARCODE_AvailableDirections(), 15);
  struct Engine {
    int number;
    const char* name;
    bool available;
  } engines[] = {{1, "Talven", true}, {2, "Axtel", true}, {3, "LEADTOOLS", false}, {4, "BLACKICE", false},
                 {16, "", false}};
  for (const Engine& e : engines) {
    SCOPED_TRACE(e.number);
    EXPECT_STREQ(BARCODE_EngineName(e.number), e.name);
    EXPECT_EQ(BARCODE_IsEngineAvailable(e.number), e.available ? 1 : 0);
    EXPECT_EQ(BARCODE_SelectEngine(e.number), e.available ? 1 : 0);
    EXPECT_EQ(BARCODE_SupportedTypes(e.number) != 0, e.available);
  }
  EXPECT_EQ(BARCODE_SelectedEngine(), 2) << "a refused engine leaves the selection";
  EXPECT_EQ(BARCODE_SupportedTypes(1), 0x3FFF);
  char name[32];
  EXPECT_STREQ(BARCODE_TypeName(BARCODE_UPCA, name), "UPC-A/UCC-12");
  EXPECT_STREQ(BARCODE_TypeName(BARCODE_CODE93, name), "Code 93");
  EXPECT_STREQ(BARCODE_TypeName(BARCODE_QR, name), "0x0800");
  EXPECT_STREQ(BARCODE_TypeName(BARCODE_EAN13 | BARCODE_EAN8, name), "0x0003");
}

// Pages that hold no code, or that no engine should have to read whole: each
// comes back without a crash and in bounded time and memory.
TEST_F(BarcodeTest, HostilePagesAreReadOrRefusedWithoutHarm) {
  struct Case {
    const char* what;
    int pixel_type, width, height, depth;
    int fill;  // -1: noise
    int types;
  } cases[] = {
      {"1 x 1", DIB_PT_GRAY, 1, 1, 8, 0, -1},
      {"one row", DIB_PT_RGB, 3000, 1, 24, -1, -1},
      {"one column", DIB_PT_BW, 1, 3000, 1, -1, -1},
      {"empty page", DIB_PT_BW, 2550, 3300, 1, 255, -1},
      {"noise", DIB_PT_GRAY, 800, 600, 8, -1, -1},
      {"noise, 16-bit", DIB_PT_GRAY, 300, 200, 16, -1, -1},
      {"noise, 48-bit", DIB_PT_RGB, 300, 200, 48, -1, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Owned page(DIB_Create(c.pixel_type, c.width, c.height, c.depth));
    ASSERT_NE(page.get(), 0u);
    if (c.fill >= 0) {
      std::vector<std::uint8_t> row(static_cast<std::size_t>(DIB_RowBytes(page.get())), std::uint8_t(c.fill));
      for (int y = 0; y < c.height; ++y) DIB_WriteRow(page.get(), y, row.data(), int(row.size()));
    } else {
      fill_pattern(page.get(), 7);
    }
    EXPECT_EQ(BARCODE_Recognize(page.get(), -1, c.types), 0);
  }
}

// 400 M pixels: read reduced (by 4 each way) to stay within the engines'
// memory bound, and a code on it is still found where it is.
TEST_F(BarcodeTest, AnEnormousPageIsReadReduced) {
  if (!test_tools::have_tool("zint")) GTEST_SKIP() << "zint not installed";
  Owned code(zint_code("CODE128", "BIG PAGE", 4));  // 8-pixel modules
  ASSERT_NE(code.get(), 0u);
  constexpr int kSide = 20000, kAt = 12000;
  Owned page(DIB_Create(DIB_PT_BW, kSide, kSide, 1));
  ASSERT_NE(page.get(), 0u);
  const int w = DIB_Width(code.get()), h = DIB_Height(code.get());
  std::vector<std::uint8_t> row(static_cast<std::size_t>(DIB_RowBytes(page.get())), 0xFF), rgb(3 * w);
  const bool black_is_one = DIB_FirstEntryWhite(page.get());
  if (black_is_one) std::fill(row.begin(), row.end(), 0);
  for (int y = 0; y < kSide; ++y) {
    if (y >= kAt && y < kAt + h) {
      DIB_ReadRowRGB(code.get(), y - kAt, rgb.data());
      for (int x = 0; x < w; ++x) {
        const bool dark = rgb[3 * x] < 128;
        const std::uint8_t bit = std::uint8_t(0x80 >> ((kAt + x) & 7));
        std::uint8_t& b = row[(kAt + x) >> 3];
        b = (dark == black_is_one) ? (b | bit) : (b & ~bit);
      }
    }
    DIB_WriteRow(page.get(), y, row.data(), int(row.size()));
    if (y == kAt + h - 1) std::fill(row.begin(), row.end(), black_is_one ? 0 : 0xFF);
  }
  const std::vector<Read> got = read_all(page.get(), BARCODE_CODE128);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].text, "BIG PAGE");
  EXPECT_GT(overlap(got[0].box, {kAt, kAt, w, h}), 0.8) << show(got[0].box);
}

TEST_F(BarcodeTest, BadArgumentsAreRecorded) {
  struct Case {
    const char* what;
    int32_t (*call)();
    int32_t result;
    int code;
    const char* text;
  } cases[] = {
      {"null image", [] { return BARCODE_Recognize(0, -1, -1); }, -3, ERR_BAD_DIB, ""},
      {"null rectangle", [] { return BARCODE_GetRect(0, nullptr, nullptr, nullptr, nullptr); }, 0,
       ERR_BAD_PARAMETER, "BARCODE_GetRect:NULL ptr"},
      {"null text buffer", [] { return BARCODE_GetText(0, nullptr); }, 0, ERR_BAD_PARAMETER, "NULL ptr"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TWAIN_ClearError();
    EXPECT_EQ(c.call(), c.result);
    EXPECT_EQ(core::error_record().code, c.code);
    EXPECT_NE(core::error_record().text.find(c.text), std::string::npos) << core::error_record().text;
  }
  // Indexes past the last reading answer nothing.
  char text[BARCODE_TEXT_MAX + 1] = "x";
  int32_t x = 1, y = 1, w = 1, h = 1;
  EXPECT_EQ(BARCODE_GetText(5, text), 0);
  EXPECT_STREQ(text, "");
  EXPECT_EQ(BARCODE_GetRect(-1, &x, &y, &w, &h), 0);
  EXPECT_EQ(x + y + w + h, 0);
  EXPECT_EQ(BARCODE_GetType(0), 0);
}

TEST_F(BarcodeTest, LongTextsAreCutBetweenCharacters) {
  if (!test_tools::have_tool("zint")) GTEST_SKIP() << "zint not installed";
  std::string text;
  for (int i = 0; i < 40; ++i) text += "\xc3\xa9";  // 40 x e-acute, 80 bytes in UTF-8
  Owned code(zint_code("QRCODE", text.c_str()));
  std::vector<Box> boxes;
  Owned page(page_with(600, 600, {{code.get(), {100, 100}}}, &boxes));
  ASSERT_EQ(BARCODE_Recognize(page.get(), -1, BARCODE_QR), 1);
  char got[BARCODE_TEXT_MAX + 1];
  EXPECT_EQ(BARCODE_GetText(0, got), 1);
  EXPECT_EQ(std::string(got), text.substr(0, 64));
}

TEST_F(BarcodeTest, AMissingModuleIsReportedAndTriedAgain) {
  char tmpl[] = "/tmp/no-modules-XXXXXX";
  const std::string empty = mkdtemp(tmpl);
  engines::symbol_module_reset_for_tests();
  setenv("QUILLET_MODULE_PATH", empty.c_str(), 1);
  Owned page(make_image(8, 40, 30));
  TWAIN_ClearError();
  EXPECT_EQ(BARCODE_Recognize(page.get(), -1, -1), -1);
  EXPECT_EQ(core::error_record().code, ERR_BARCODE);
  EXPECT_NE(core::error_record().text.find("Unable to load OrvSymbol.dll(GLE "), std::string::npos)
      << core::error_record().text;
  EXPECT_EQ(BARCODE_SelectEngine(1), 0);
  EXPECT_STREQ(BARCODE_EngineName(2), "Axtel") << "names stay known without the module";
  TWAIN_ClearError();
  EXPECT_EQ(BARCODE_Version(), 0);
  EXPECT_EQ(core::error_record().code, 0) << "asking for the version records nothing";
  // The module comes back once it can be found.
  setenv("QUILLET_MODULE_PATH", build_folder().c_str(), 1);
  EXPECT_EQ(BARCODE_Recognize(page.get(), -1, -1), 0);
  fs::remove_all(empty);
}

// The About text's Barcode line names the module's version and engines, and
// says "Unavailable" without it, leaving no error behind.
TEST_F(BarcodeTest, TheAboutTextShowsTheModule) {
  EXPECT_NE(about_text().find("Barcode:\tversion 1.00 (Talven,Axtel)\n"), std::string::npos) << about_text();
  char tmpl[] = "/tmp/no-modules-XXXXXX";
  const std::string empty = mkdtemp(tmpl);
  engines::symbol_module_reset_for_tests();
  setenv("QUILLET_MODULE_PATH", empty.c_str(), 1);
  TWAIN_ClearError();
  EXPECT_NE(about_text().find("Barcode:\tUnavailable\n"), std::string::npos) << about_text();
  EXPECT_EQ(core::error_record().code, 0);
  fs::remove_all(empty);
}

// Stand-ins for the module (tests/helpers/crashing_symbol.cpp): one that
// faults inside a reading, and one without an entry point of the contract.
TEST_F(BarcodeTest, AFaultingOrIncompleteModuleCostsOnlyItsCall) {
  Owned page(make_image(8, 40, 30));
  engines::symbol_module_reset_for_tests();
  setenv("QUILLET_MODULE_PATH", (build_folder() + "/tests/crashing_engines").c_str(), 1);
  setenv("QUILLET_TEST_CRASH", "DibAnalyze", 1);
  TWAIN_ClearError();
  EXPECT_EQ(BARCODE_Recognize(page.get(), -1, -1), -5);
  EXPECT_EQ(core::error_record().code, ERR_FAILURE);
  EXPECT_NE(core::error_record().text.find("BARCODE_Recognize"), std::string::npos) << core::error_record().text;
  unsetenv("QUILLET_TEST_CRASH");
  EXPECT_EQ(BARCODE_Recognize(page.get(), -1, -1), 0) << "the module stays usable";
  engines::symbol_module_reset_for_tests();
  setenv("QUILLET_MODULE_PATH", (build_folder() + "/tests/incomplete_engines").c_str(), 1);
  TWAIN_ClearError();
  EXPECT_EQ(BARCODE_Recognize(page.get(), -1, -1), -1);
  EXPECT_EQ(core::error_record().code, ERR_BARCODE);
  EXPECT_NE(core::error_record().text.find("OrvSymbol.dll - wrong version."), std::string::npos)
      << core::error_record().text;
  engines::symbol_module_reset_for_tests();
}

}  // namespace
