// OrvTiff through its entry points, as the library loads it.
#include <sys/resource.h>

#include <cstring>

#include "orivane/errors.h"
#include "tests/unit/codecs/module_harness.h"
#include "tests/unit/test_support.h"

namespace {

using namespace codec_test;

const Module& tiff() {
  static Module m("OrvTiff.so", "ORVTIFF");
  return m;
}

template <class Fn>
Fn api(const char* name) {
  return tiff().fn<Fn>(name);
}

std::vector<std::string>& handler_messages() {
  static std::vector<std::string> m;
  return m;
}
void on_error(int32_t, const char* text) { handler_messages().push_back(text ? text : ""); }

class OrvTiffTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetForTests();
    ASSERT_TRUE(tiff().ok()) << tiff().error();
    TWAIN_ClearError();
    api<ORVTIFF_SetAppendFlagFn>("SetAppendFlag")(0);
    api<ORVTIFF_ResetTagsFn>("ResetTags")();
    api<ORVTIFF_SetStripSizeFn>("SetStripSize")(0);
    api<ORVTIFF_SetErrorHandlerFn>("SetErrorHandler")(on_error);
    handler_messages().clear();
    for (int t = 0; t < 6; ++t) compression(t, t == 0 ? 4 : 1);
  }
  void TearDown() override { api<ORVTIFF_SetErrorHandlerFn>("SetErrorHandler")(nullptr); }
  int compression(int type, int code) { return api<ORVTIFF_SetCompressionFn>("SetCompression")(type, code); }
  int write(DIB_HANDLE h, const std::string& path) {
    Bmi bmi(h);
    return api<ORVTIFF_BmiWriteToFileFn>("BmiWriteToFile")(bmi.get(), path.c_str());
  }
  int write_page(DIB_HANDLE h) {
    Bmi bmi(h);
    return api<ORVTIFF_DibWritePageFn>("DibWritePage")(bmi.get());
  }
  DIB_HANDLE read(const std::string& path, int page = 0) {
    return api<ORVTIFF_DibFromFileFn>("DibFromFile")(path.c_str(), page);
  }
  int pages(const std::string& path) {
    return api<ORVTIFF_CountPagesInFileFn>("CountPagesInFile")(path.c_str());
  }
  std::string tag_text(const std::string& path, int page, int tag) {
    char buf[256];
    const int n = api<ORVTIFF_GetTagAsciiFn>("GetTagAscii")(path.c_str(), page, tag, buf, sizeof buf);
    return n < 0 ? "<none>" : buf;
  }
};

struct Layout {
  int type, depth;
};
const Layout kLayouts[] = {{DIB_PT_BW, 1},      {DIB_PT_GRAY, 4}, {DIB_PT_GRAY, 8},
                           {DIB_PT_PALETTE, 4}, {DIB_PT_PALETTE, 8}, {DIB_PT_GRAY, 16},
                           {DIB_PT_RGB, 24},    {DIB_PT_RGB, 48}, {DIB_PT_CMY, 24},
                           {DIB_PT_CMYK, 32}};

// Every layout through every lossless compression its pixel type takes comes
// back pixel for pixel, with table, type and resolution; tiffinfo names the
// compression written.
TEST_F(OrvTiffTest, LosslessRoundTripsForEveryLayout) {
  struct Scheme { int code; const char* name; };
  const Scheme bilevel[] = {{1, "None"}, {3, "CCITT Group 3"}, {4, "CCITT Group 4"},
                            {5, "LZW"}, {8, "AdobeDeflate"}, {32773, "PackBits"}};
  const Scheme other[] = {{1, "None"}, {5, "LZW"}, {8, "AdobeDeflate"}, {32773, "PackBits"}};
  for (const Layout l : kLayouts) {
    const bool bw = l.depth == 1;
    for (const Scheme s : bw ? std::vector<Scheme>(std::begin(bilevel), std::end(bilevel))
                             : std::vector<Scheme>(std::begin(other), std::end(other))) {
      for (int width : {1, 37}) {
        SCOPED_TRACE(testing::Message() << l.depth << "-bit type " << l.type << " compression "
                                        << s.code << " width " << width);
        ASSERT_EQ(compression(l.type, s.code), 1);
        DibGuard src(make_image(l.type, width, 19, l.depth, std::uint32_t(width + s.code)));
        const std::string path = temp_path("rt.tif");
        ASSERT_EQ(write(src.h, path), 0) << (handler_messages().empty() ? "" : handler_messages()[0]);
        DibGuard back(read(path));
        ASSERT_NE(back.h, 0u);
        EXPECT_EQ(DIB_Depth(back.h), l.depth);
        EXPECT_EQ(DIB_PixelType(back.h), l.type);
        EXPECT_EQ(image_table(back.h), image_table(src.h));
        EXPECT_EQ(image_rows(back.h), image_rows(src.h));
        EXPECT_EQ(DIB_XResolutionInt(back.h), 300);
        if (width == 37 && have_tool("tiffinfo"))
          EXPECT_NE(run("tiffinfo " + path).find(std::string("Compression Scheme: ") + s.name),
                    std::string::npos);
      }
    }
  }
}

// Layouts other writers use read pixel for pixel like the strips we write:
// planes, tiles (with partial tiles at the edges) and both, compressed or not.
TEST_F(OrvTiffTest, PlanesAndTilesReadLikeTheirSource) {
  if (!have_tool("tiffcp")) GTEST_SKIP() << "tiffcp not installed";
  const char* layouts[] = {"-p separate", "-p separate -c zip -r 8", "-t -w 16 -l 16 -c zip",
                           "-t -w 32 -l 16 -p separate -c lzw", "-t -w 16 -l 32 -p separate"};
  struct Source { int type, depth; };
  for (const Source s : {Source{DIB_PT_RGB, 24}, Source{DIB_PT_RGB, 48}, Source{DIB_PT_CMYK, 32},
                         Source{DIB_PT_GRAY, 8}, Source{DIB_PT_BW, 1}}) {
    ASSERT_EQ(compression(s.type, 1), 1);
    DibGuard src(make_image(s.type, 53, 37, s.depth, std::uint32_t(s.depth)));
    const std::string plain = temp_path("plain.tif"), other = temp_path("other.tif");
    ASSERT_EQ(write(src.h, plain), 0);
    for (const char* layout : layouts) {
      SCOPED_TRACE(testing::Message() << s.depth << "-bit type " << s.type << ", " << layout);
      std::remove(other.c_str());
      const bool planes = std::strstr(layout, "separate") != nullptr;
      if (s.depth == 1 && planes) continue;  // one sample: nothing to separate
      if (s.depth == 48 && planes) {
        // tiffcp makes planes of 8-bit samples only.
        if (!have_tool("convert")) continue;
        run("convert " + plain + " -interlace Plane " + (std::strstr(layout, "-t ") ? "-define tiff:tile-geometry=16x32 " : "") +
            other);
      } else {
        run(std::string("tiffcp ") + layout + " " + plain + " " + other);
      }
      DibGuard back(read(other));
      ASSERT_NE(back.h, 0u) << (handler_messages().empty() ? "" : handler_messages().back());
      EXPECT_EQ(DIB_Depth(back.h), s.depth);
      EXPECT_EQ(image_rows(back.h), image_rows(src.h));
    }
  }
}

// A layout the DIB model does not hold (gray with an alpha sample) goes
// through libtiff's RGBA reader a band of rows at a time; the page, taller
// than one band, reads as ImageMagick decodes it.
TEST_F(OrvTiffTest, OtherLayoutsReadInBandsLikeImageMagick) {
  if (!have_tool("convert") || !have_tool("tiffinfo")) GTEST_SKIP() << "ImageMagick or tiffinfo not installed";
  constexpr int kWidth = 1024, kHeight = 2100;  // the bands hold 2048 rows of this width
  DibGuard src(make_image(DIB_PT_RGB, kWidth, kHeight, 24));
  const std::string plain = temp_path("band-src.tif"), alpha = temp_path("gray-alpha.tif"),
                    raw = temp_path("gray-alpha.rgb");
  ASSERT_EQ(compression(DIB_PT_RGB, 1), 1);
  ASSERT_EQ(write(src.h, plain), 0);
  run("convert " + plain + " -colorspace Gray -alpha opaque -compress zip " + alpha);
  ASSERT_NE(run("tiffinfo " + alpha).find("Samples/Pixel: 2"), std::string::npos);
  run("convert " + alpha + " -alpha off -depth 8 rgb:" + raw);
  const std::vector<std::uint8_t> want = read_file(raw);
  ASSERT_EQ(want.size(), std::size_t(kWidth) * kHeight * 3);
  DibGuard back(read(alpha));
  ASSERT_NE(back.h, 0u) << (handler_messages().empty() ? "" : handler_messages().back());
  std::vector<std::uint8_t> bgr(3 * kWidth + 4);
  int worst = 0;
  for (int y = 0; y < kHeight; ++y) {
    DIB_ReadRowRGB(back.h, y, bgr.data());
    for (int i = 0; i < 3 * kWidth; ++i)
      worst = std::max(worst, std::abs(bgr[std::size_t(i / 3 * 3 + 2 - i % 3)] - want[std::size_t(y) * 3 * kWidth + i]));
  }
  EXPECT_LE(worst, 1);
}

TEST_F(OrvTiffTest, ThirtyTwoBitRgbKeepsItsColour) {
  DibGuard src(make_image(DIB_PT_RGB, 13, 5, 32));
  const std::string path = temp_path("rgb32.tif");
  ASSERT_EQ(write(src.h, path), 0);
  DibGuard back(read(path));
  ASSERT_NE(back.h, 0u);
  EXPECT_EQ(image_max_error(src.h, back.h), 0);
}

// An image whose table runs from white to black is written min-is-white and
// read back unchanged; tiffinfo agrees on the interpretation.
TEST_F(OrvTiffTest, MinIsWhiteBilevelKeepsItsLook) {
  DibGuard src(make_image(DIB_PT_BW, 50, 10, 1));
  DIB_SetColorTableRGB(src.h, 0, 255, 255, 255);
  DIB_SetColorTableRGB(src.h, 1, 0, 0, 0);
  const std::string path = temp_path("minwhite.tif");
  ASSERT_EQ(write(src.h, path), 0);
  if (have_tool("tiffinfo")) EXPECT_NE(run("tiffinfo " + path).find("min-is-white"), std::string::npos);
  DibGuard back(read(path));
  EXPECT_EQ(image_max_error(src.h, back.h), 0);
}

TEST_F(OrvTiffTest, JpegCompressionForGrayAndColourWithinError) {
  for (const Layout l : {Layout{DIB_PT_GRAY, 8}, Layout{DIB_PT_RGB, 24}}) {
    SCOPED_TRACE(l.depth);
    ASSERT_EQ(compression(l.type, 7), 1);
    api<ORVTIFF_SetJpegQualityFn>("SetJpegQuality")(95);
    DibGuard src(DIB_Create(l.type, 64, 40, l.depth));
    std::vector<std::uint8_t> row(std::size_t(DIB_RowBytes(src.h)));
    for (int y = 0; y < 40; ++y) {
      for (std::size_t i = 0; i < row.size(); ++i) row[i] = std::uint8_t(i * 100 / row.size() + y);
      DIB_WriteRow(src.h, y, row.data(), int32_t(row.size()));
    }
    const std::string path = temp_path("jpeg.tif");
    ASSERT_EQ(write(src.h, path), 0);
    if (have_tool("tiffinfo")) EXPECT_NE(run("tiffinfo " + path).find("Compression Scheme: JPEG"), std::string::npos);
    DibGuard back(read(path));
    ASSERT_NE(back.h, 0u);
    EXPECT_EQ(DIB_Depth(back.h), l.depth);
    EXPECT_LE(image_max_error(src.h, back.h), 8);
  }
}

TEST_F(OrvTiffTest, CompressionRulesPerPixelType) {
  EXPECT_EQ(api<ORVTIFF_GetCompressionFn>("GetCompression")(0), 4);  // bilevel: Group 4
  EXPECT_EQ(compression(0, 7), 0);  // no JPEG for bilevel
  EXPECT_EQ(compression(2, 4), 0);  // no CCITT for colour
  EXPECT_EQ(compression(6, 1), 0);
  EXPECT_EQ(api<ORVTIFF_GetCompressionFn>("GetCompression")(0), 4);
  EXPECT_EQ(api<ORVTIFF_GetCompressionFn>("GetCompression")(2), 1);
  EXPECT_EQ(api<ORVTIFF_GetCompressionFn>("GetCompression")(9), -1);
  // A palette image asked for JPEG is written losslessly instead.
  ASSERT_EQ(compression(DIB_PT_PALETTE, 7), 1);
  DibGuard src(make_image(DIB_PT_PALETTE, 9, 9, 8));
  const std::string path = temp_path("paljpeg.tif");
  ASSERT_EQ(write(src.h, path), 0);
  DibGuard back(read(path));
  EXPECT_EQ(image_rows(back.h), image_rows(src.h));
}

// Begin / pages / End, page counts from file and memory, every page readable
// from both, and the append flag adding pages to the file.
TEST_F(OrvTiffTest, MultipageAppendAndCounts) {
  const std::string path = temp_path("multi.tif");
  std::vector<DIB_HANDLE> src = {make_image(DIB_PT_BW, 30, 20, 1, 1), make_image(DIB_PT_GRAY, 7, 3, 8, 2),
                                 make_image(DIB_PT_RGB, 5, 5, 24, 3)};
  ASSERT_EQ(api<ORVTIFF_BeginMultipageFileFn>("BeginMultipageFile")(path.c_str()), 0);
  for (DIB_HANDLE h : src) ASSERT_EQ(write_page(h), 0);
  ASSERT_EQ(api<ORVTIFF_EndMultipageFileFn>("EndMultipageFile")(), 0);
  EXPECT_EQ(pages(path), 3);
  const std::vector<std::uint8_t> bytes = read_file(path);
  EXPECT_EQ(api<ORVTIFF_CountPagesInMemoryFn>("CountPagesInMemory")(bytes.data(), int32_t(bytes.size())), 3);
  for (int p = 0; p < 3; ++p) {
    DibGuard a(read(path, p));
    DibGuard b(api<ORVTIFF_DibFromBufferFn>("DibFromBuffer")(bytes.data(), int32_t(bytes.size()), p));
    EXPECT_EQ(image_rows(a.h), image_rows(src[std::size_t(p)])) << p;
    EXPECT_EQ(image_rows(b.h), image_rows(src[std::size_t(p)])) << p;
  }
  EXPECT_EQ(read(path, 3), 0u);
  EXPECT_NE(TWAIN_LastErrorCode(), 0);
  if (have_tool("tiffinfo")) EXPECT_NE(run("tiffinfo " + path).find("Group 4"), std::string::npos);

  api<ORVTIFF_SetAppendFlagFn>("SetAppendFlag")(1);
  ASSERT_EQ(write(src[1], path), 0);
  EXPECT_EQ(pages(path), 4);
  DibGuard last(read(path, 3));
  EXPECT_EQ(image_rows(last.h), image_rows(src[1]));
  api<ORVTIFF_SetAppendFlagFn>("SetAppendFlag")(0);
  ASSERT_EQ(write(src[1], path), 0);
  EXPECT_EQ(pages(path), 1);
  for (DIB_HANDLE h : src) DIB_Free(h);
}

TEST_F(OrvTiffTest, TagsSoftwareModelAndStrips) {
  api<ORVTIFF_SetSoftwareNameFn>("SetSoftwareName")("Quillet test");
  api<ORVTIFF_SetScannerModelFn>("SetScannerModel")("Virtual 9000");
  EXPECT_EQ(api<ORVTIFF_SetImageDescriptionFn>("SetImageDescription")("a page"), 1);
  EXPECT_EQ(api<ORVTIFF_SetDocumentNameFn>("SetDocumentName")("doc"), 1);
  EXPECT_EQ(api<ORVTIFF_SetTagAsciiFn>("SetTagAscii")(315, "Someone"), 1);  // Artist
  EXPECT_EQ(api<ORVTIFF_SetTagLongFn>("SetTagLong")(65001, 5), 0) << "undefined private tag";
  EXPECT_EQ(api<ORVTIFF_DefineCustomTagFn>("DefineCustomTag")(65000, -1, 2 /*ASCII*/, "OurNote"), 1);
  EXPECT_EQ(api<ORVTIFF_SetTagAsciiFn>("SetTagAscii")(65000, "custom text"), 1);
  EXPECT_EQ(api<ORVTIFF_DefineCustomTagFn>("DefineCustomTag")(65002, 1, 4 /*LONG*/, "OurNumber"), 1);
  EXPECT_EQ(api<ORVTIFF_SetTagLongFn>("SetTagLong")(65002, 123456), 1);
  const double rational[] = {1.5, 2.25};
  EXPECT_EQ(api<ORVTIFF_SetTagRationalArrayFn>("SetTagRationalArray")(318, rational, 2), 1);  // WhitePoint
  EXPECT_EQ(api<ORVTIFF_SetStripSizeFn>("SetStripSize")(8), 8);
  DibGuard src(make_image(DIB_PT_GRAY, 20, 30, 8));
  const std::string path = temp_path("tags.tif");
  ASSERT_EQ(write(src.h, path), 0);
  EXPECT_EQ(tag_text(path, 0, 305), "Quillet test");
  EXPECT_EQ(tag_text(path, 0, 272), "Virtual 9000");
  EXPECT_EQ(tag_text(path, 0, 270), "a page");
  EXPECT_EQ(tag_text(path, 0, 269), "doc");
  EXPECT_EQ(tag_text(path, 0, 315), "Someone");
  EXPECT_EQ(tag_text(path, 0, 65000), "custom text");
  EXPECT_EQ(tag_text(path, 1, 305), "<none>");
  char small[5];
  EXPECT_EQ(api<ORVTIFF_GetTagAsciiFn>("GetTagAscii")(path.c_str(), 0, 305, small, 5), 12);
  EXPECT_STREQ(small, "Quil");
  if (have_tool("tiffdump")) {
    const std::string dump = run("tiffdump " + path);
    EXPECT_NE(dump.find("65002 (0xfdea) LONG (4) 1<123456>"), std::string::npos) << dump;
    EXPECT_NE(dump.find("RowsPerStrip (278) SHORT (3) 1<8>"), std::string::npos) << dump;
  }
  api<ORVTIFF_ResetTagsFn>("ResetTags")();
  ASSERT_EQ(write(src.h, path), 0);
  EXPECT_EQ(tag_text(path, 0, 315), "<none>");
}

// A minimal uncompressed 8-bit TIFF (little-endian) of the given size whose
// pixel data holds `data_bytes` bytes.
std::vector<std::uint8_t> tiny_tiff(std::uint32_t width, std::uint32_t height, std::uint32_t data_bytes) {
  std::vector<std::uint8_t> b = {'I', 'I', 42, 0, 8, 0, 0, 0};
  struct Entry { std::uint16_t tag, type; std::uint32_t count, value; };
  const std::uint32_t data_at = 8 + 2 + 9 * 12 + 4;
  const Entry entries[] = {{256, 4, 1, width}, {257, 4, 1, height}, {258, 3, 1, 8}, {259, 3, 1, 1},
                           {262, 3, 1, 1},     {273, 4, 1, data_at}, {277, 3, 1, 1}, {278, 4, 1, height},
                           {279, 4, 1, data_bytes}};
  auto put = [&](std::uint32_t v, int n) { for (int i = 0; i < n; ++i) b.push_back(std::uint8_t(v >> (8 * i))); };
  put(9, 2);
  for (const Entry& e : entries) { put(e.tag, 2); put(e.type, 2); put(e.count, 4); put(e.value, 4); }
  put(0, 4);
  b.resize(b.size() + data_bytes, 0x80);
  return b;
}

TEST_F(OrvTiffTest, BadFilesAreRefusedWithBoundedMemory) {
  const std::vector<std::uint8_t> good = tiny_tiff(4, 4, 16);
  const std::string ok_path = temp_path("tiny.tif");
  write_file(ok_path, good);
  DibGuard ok(read(ok_path));
  ASSERT_NE(ok.h, 0u) << "the hand-made file itself is sound";

  std::vector<std::uint8_t> corrupt = good;
  for (std::size_t i = 10; i < 60; ++i) corrupt[i] = std::uint8_t(i * 31);
  const std::vector<std::vector<std::uint8_t>> bad = {
      {}, {'I', 'I', 42, 0},
      std::vector<std::uint8_t>(good.begin(), good.begin() + 40),
      corrupt, tiny_tiff(60000, 60000, 16), tiny_tiff(0, 5, 16), tiny_tiff(20000, 20000, 16)};
  const int live = DIB_LiveImageCount();
  rusage before{};
  getrusage(RUSAGE_SELF, &before);
  for (std::size_t i = 0; i < bad.size(); ++i) {
    SCOPED_TRACE(i);
    const std::string p = temp_path("bad.tif");
    write_file(p, bad[i]);
    TWAIN_ClearError();
    EXPECT_EQ(read(p), 0u);
    EXPECT_NE(TWAIN_LastErrorCode(), 0);
    if (!bad[i].empty())
      EXPECT_EQ(api<ORVTIFF_DibFromBufferFn>("DibFromBuffer")(bad[i].data(), int32_t(bad[i].size()), 0), 0u);
  }
  rusage after{};
  getrusage(RUSAGE_SELF, &after);
  EXPECT_EQ(DIB_LiveImageCount(), live);
  EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 200 * 1024);
  EXPECT_FALSE(handler_messages().empty()) << "the error handler hears of failures";
  EXPECT_EQ(pages(temp_path("missing.tif")), -1);
}

TEST_F(OrvTiffTest, WriteFailuresAreReported) {
  DibGuard src(make_image(DIB_PT_BW, 64, 64, 1));
  EXPECT_NE(write(src.h, "/nonexistent-folder/x.tif"), 0);
  EXPECT_NE(TWAIN_LastErrorCode(), 0);
  EXPECT_EQ(api<ORVTIFF_DibWritePageFn>("DibWritePage")(nullptr), -20) << "no file open";
}

}  // namespace
