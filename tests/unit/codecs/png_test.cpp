// OrvPng through its entry points, as the library loads it.
#include <sys/resource.h>

#include <cstring>

#include "orivane/errors.h"
#include "tests/unit/codecs/module_harness.h"
#include "tests/unit/test_support.h"

namespace {

using namespace codec_test;

const Module& png() {
  static Module m("OrvPng.so", "ORVPNG");
  return m;
}

class OrvPngTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetForTests();
    ASSERT_TRUE(png().ok()) << png().error();
    TWAIN_ClearError();
  }
  int write(DIB_HANDLE h, const std::string& path) {
    Bmi bmi(h);
    return png().fn<ORVPNG_BmiWriteToFileFn>("BmiWriteToFile")(bmi.get(), path.c_str());
  }
  DIB_HANDLE read(const std::string& path) {
    return png().fn<ORVPNG_DibFromFileFn>("DibFromFile")(path.c_str());
  }
};

struct Shape {
  int type, depth;
  const char* ihdr;  // bit depth and colour type of the file, as ImageMagick reads it
};

// Every layout PNG holds comes back pixel for pixel, with its table, depth and
// resolution, over widths that do and do not fill the row padding.
TEST_F(OrvPngTest, RoundTripsArePixelExact) {
  for (const Shape s : {Shape{DIB_PT_BW, 1, "1 0"}, Shape{DIB_PT_GRAY, 4, "4 0"},
                        Shape{DIB_PT_GRAY, 8, "8 0"}, Shape{DIB_PT_PALETTE, 4, "4 3"},
                        Shape{DIB_PT_PALETTE, 8, "8 3"}, Shape{DIB_PT_GRAY, 16, "16 0"},
                        Shape{DIB_PT_RGB, 24, "8 2"}, Shape{DIB_PT_RGB, 48, "16 2"}}) {
    for (int width : {1, 13, 33}) {
      SCOPED_TRACE(testing::Message() << s.depth << "-bit type " << s.type << " width " << width);
      DibGuard src(make_image(s.type, width, 7, s.depth, std::uint32_t(width + s.depth)));
      const std::string path = temp_path("rt.png");
      ASSERT_EQ(write(src.h, path), 0);
      DibGuard back(read(path));
      ASSERT_NE(back.h, 0u);
      EXPECT_EQ(DIB_Depth(back.h), s.depth);
      EXPECT_EQ(DIB_PixelType(back.h), s.type);
      EXPECT_EQ(image_table(back.h), image_table(src.h));
      EXPECT_EQ(image_rows(back.h), image_rows(src.h));
      EXPECT_EQ(DIB_XResolutionInt(back.h), 300);
      if (width == 13 && have_tool("identify"))
        EXPECT_EQ(run("identify -format '%[png:IHDR.bit-depth-orig] %[png:IHDR.color-type-orig]' " +
                      path),
                  s.ihdr);
    }
  }
}

// 32-bit pixels keep their colour; the fourth byte is not part of the picture.
TEST_F(OrvPngTest, ThirtyTwoBitComesBackAsRgb) {
  DibGuard src(make_image(DIB_PT_RGB, 9, 5, 32));
  const std::string path = temp_path("rgb32.png");
  ASSERT_EQ(write(src.h, path), 0);
  DibGuard back(read(path));
  ASSERT_NE(back.h, 0u);
  EXPECT_EQ(DIB_Depth(back.h), 24);
  EXPECT_EQ(image_max_error(src.h, back.h), 0);
}

// A bilevel image whose entry 0 is white keeps its look.
TEST_F(OrvPngTest, InvertedBilevelTableIsKept) {
  DibGuard src(make_image(DIB_PT_BW, 20, 3, 1));
  DIB_SetColorTableRGB(src.h, 0, 255, 255, 255);
  DIB_SetColorTableRGB(src.h, 1, 0, 0, 0);
  const std::string path = temp_path("minwhite.png");
  ASSERT_EQ(write(src.h, path), 0);
  DibGuard back(read(path));
  ASSERT_NE(back.h, 0u);
  EXPECT_EQ(image_max_error(src.h, back.h), 0);
}

TEST_F(OrvPngTest, SubtractiveImagesAreRefused) {
  DibGuard src(make_image(DIB_PT_CMYK, 4, 4, 32));
  const std::string path = temp_path("cmyk.png");
  EXPECT_NE(write(src.h, path), 0);
  EXPECT_EQ(TWAIN_LastErrorCode(), ERR_WRONG_IMAGE_TYPE);
  EXPECT_FALSE(std::ifstream(path).good());
}

std::uint32_t crc32(const std::uint8_t* p, std::size_t n) {
  std::uint32_t c = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < n; ++i) {
    c ^= p[i];
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
  }
  return ~c;
}

// The IHDR of `bytes` patched to 60000 x 60000 pixels, with a valid CRC.
std::vector<std::uint8_t> huge_header(std::vector<std::uint8_t> b) {
  for (std::size_t off : {16u, 20u}) {
    b[off] = 0; b[off + 1] = 0; b[off + 2] = 60000 >> 8; b[off + 3] = 60000 & 0xFF;
  }
  const std::uint32_t crc = crc32(b.data() + 12, 17);
  for (int i = 0; i < 4; ++i) b[29 + std::size_t(i)] = std::uint8_t(crc >> (24 - 8 * i));
  return b;
}

TEST_F(OrvPngTest, BadFilesAreRefusedWithBoundedMemory) {
  DibGuard src(make_image(DIB_PT_RGB, 40, 40, 24));
  const std::string path = temp_path("good.png");
  ASSERT_EQ(write(src.h, path), 0);
  const std::vector<std::uint8_t> good = read_file(path);
  std::vector<std::uint8_t> corrupt = good;
  for (std::size_t i = 60; i < 80; ++i) corrupt[i] ^= 0x5A;
  const std::vector<std::vector<std::uint8_t>> bad = {
      {}, std::vector<std::uint8_t>(good.begin(), good.begin() + 8),
      std::vector<std::uint8_t>(good.begin(), good.begin() + long(good.size() / 2)),
      corrupt, huge_header(good)};
  const int live = DIB_LiveImageCount();
  rusage before{};
  getrusage(RUSAGE_SELF, &before);
  for (std::size_t i = 0; i < bad.size(); ++i) {
    SCOPED_TRACE(i);
    const std::string p = temp_path("bad.png");
    write_file(p, bad[i]);
    TWAIN_ClearError();
    EXPECT_EQ(read(p), 0u);
    EXPECT_NE(TWAIN_LastErrorCode(), 0);
  }
  rusage after{};
  getrusage(RUSAGE_SELF, &after);
  EXPECT_EQ(DIB_LiveImageCount(), live);
  EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 200 * 1024);
  TWAIN_ClearError();
  EXPECT_EQ(read(temp_path("missing.png")), 0u);
  EXPECT_EQ(TWAIN_LastErrorCode(), ERR_NOT_FOUND);
}

}  // namespace
