// OrvGif through its entry points, as the library loads it.
#include <sys/resource.h>

#include "orivane/errors.h"
#include "tests/unit/codecs/module_harness.h"
#include "tests/unit/test_support.h"

namespace {

using namespace codec_test;

const Module& gif() {
  static Module m("OrvGif.so", "ORVGIF");
  return m;
}

class OrvGifTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetForTests();
    ASSERT_TRUE(gif().ok()) << gif().error();
    TWAIN_ClearError();
  }
  int write(DIB_HANDLE h, const std::string& path) {
    Bmi bmi(h);
    return gif().fn<ORVGIF_BmiWriteToFileFn>("BmiWriteToFile")(bmi.get(), path.c_str());
  }
  DIB_HANDLE read(const std::string& path) {
    return gif().fn<ORVGIF_DibFromFileFn>("DibFromFile")(path.c_str());
  }
};

TEST_F(OrvGifTest, PaletteImagesRoundTripPixelExact) {
  struct Case { int type, depth; };
  for (const Case c : {Case{DIB_PT_BW, 1}, Case{DIB_PT_GRAY, 4}, Case{DIB_PT_PALETTE, 4},
                       Case{DIB_PT_GRAY, 8}, Case{DIB_PT_PALETTE, 8}}) {
    for (int width : {1, 11, 64}) {
      SCOPED_TRACE(testing::Message() << c.depth << "-bit type " << c.type << " width " << width);
      DibGuard src(make_image(c.type, width, 9, c.depth, std::uint32_t(width * c.depth)));
      const std::string path = temp_path("rt.gif");
      ASSERT_EQ(write(src.h, path), 0);
      DibGuard back(read(path));
      ASSERT_NE(back.h, 0u);
      EXPECT_EQ(DIB_Depth(back.h), c.depth);
      EXPECT_EQ(DIB_PixelType(back.h), c.type);
      EXPECT_EQ(image_table(back.h), image_table(src.h));
      EXPECT_EQ(image_rows(back.h), image_rows(src.h));
      if (width == 11 && have_tool("identify"))
        EXPECT_EQ(run("identify -format '%m %w %h' " + path), "GIF 11 9");
    }
  }
}

TEST_F(OrvGifTest, DeepImagesAreRefused) {
  for (int depth : {16, 24, 32}) {
    DibGuard src(make_image(depth == 16 ? DIB_PT_GRAY : DIB_PT_RGB, 4, 4, depth));
    const std::string path = temp_path("deep.gif");
    TWAIN_ClearError();
    EXPECT_NE(write(src.h, path), 0) << depth;
    EXPECT_EQ(TWAIN_LastErrorCode(), ERR_WRONG_IMAGE_TYPE);
    EXPECT_FALSE(std::ifstream(path).good());
  }
}

void put16(std::vector<std::uint8_t>& b, std::size_t at, unsigned v) {
  b[at] = std::uint8_t(v & 0xFF);
  b[at + 1] = std::uint8_t(v >> 8);
}

TEST_F(OrvGifTest, BadFilesAreRefusedWithBoundedMemory) {
  DibGuard src(make_image(DIB_PT_PALETTE, 32, 32, 8));
  const std::string path = temp_path("good.gif");
  ASSERT_EQ(write(src.h, path), 0);
  const std::vector<std::uint8_t> good = read_file(path);
  const std::size_t desc = 13 + 3 * 256;  // image descriptor after the global map
  ASSERT_EQ(good[desc], 0x2C);
  auto patched = [&](std::size_t at, unsigned v) {
    std::vector<std::uint8_t> b = good;
    put16(b, at, v);
    return b;
  };
  std::vector<std::uint8_t> corrupt = good;
  for (std::size_t i = desc + 12; i < corrupt.size() - 1; ++i) corrupt[i] = std::uint8_t(i * 13);
  const std::vector<std::vector<std::uint8_t>> bad = {
      {},
      std::vector<std::uint8_t>(good.begin(), good.begin() + 6),
      std::vector<std::uint8_t>(good.begin(), good.begin() + long(desc + 40)),
      corrupt,
      [&] { auto b = patched(6, 60000); put16(b, 8, 60000); put16(b, desc + 5, 60000); put16(b, desc + 7, 60000); return b; }(),
      patched(desc + 5, 0),   // zero-width frame
      patched(desc + 1, 40),  // frame wholly right of the screen
      patched(desc + 3, 32),  // ... and wholly below it
  };
  const int live = DIB_LiveImageCount();
  rusage before{};
  getrusage(RUSAGE_SELF, &before);
  for (std::size_t i = 0; i < bad.size(); ++i) {
    SCOPED_TRACE(i);
    const std::string p = temp_path("bad.gif");
    write_file(p, bad[i]);
    TWAIN_ClearError();
    EXPECT_EQ(read(p), 0u);
    EXPECT_NE(TWAIN_LastErrorCode(), 0);
  }
  rusage after{};
  getrusage(RUSAGE_SELF, &after);
  EXPECT_EQ(DIB_LiveImageCount(), live);
  EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 200 * 1024);
}

// The image is the first frame, not its screen: a frame smaller than its
// screen comes alone (the background around it is not read), so a tiny file
// naming a huge screen costs nothing.
TEST_F(OrvGifTest, FrameIsTheImage) {
  if (!have_tool("convert")) GTEST_SKIP() << "ImageMagick not installed";
  const std::string path = temp_path("frame.gif");
  run("convert -size 4x2 xc:red -background blue -page 10x6+3+2 " + path);
  DibGuard back(read(path));
  ASSERT_NE(back.h, 0u);
  ASSERT_EQ(DIB_Width(back.h), 4);
  ASSERT_EQ(DIB_Height(back.h), 2);
  std::vector<std::uint8_t> bgr(3 * 4 + 4);
  for (int y = 0; y < 2; ++y) {
    DIB_ReadRowRGB(back.h, y, bgr.data());
    for (int x = 0; x < 4; ++x) EXPECT_EQ(bgr[3 * x + 2] * 1000 + bgr[3 * x], 255000) << x << "," << y;
  }
}

// A library older than the loading limit hands a shorter host table: the
// module takes it and applies the default limit; a table shorter than the
// first fields is refused.
TEST_F(OrvGifTest, OlderHostTablesGetTheDefaultLimit) {
  auto set_host = gif().fn<OrvSetHostFn>("SetHost");
  OrvHost older = *fileio::codec_host();
  older.size = ORV_HOST_BASE_SIZE;
  older.max_image_pixels = nullptr;
  DibGuard src(make_image(DIB_PT_PALETTE, 40, 25, 8));
  const std::string path = temp_path("limit.gif");
  ASSERT_EQ(write(src.h, path), 0);
  DIB_SetMaxImagePixels(999);
  DibGuard refused(read(path));
  EXPECT_EQ(refused.h, 0u);
  ASSERT_EQ(set_host(&older), 0);
  DibGuard loaded(read(path));
  EXPECT_NE(loaded.h, 0u) << "the old table has no limit field: the default applies";
  older.size = ORV_HOST_BASE_SIZE - 1;
  EXPECT_NE(set_host(&older), 0);
  ASSERT_EQ(set_host(fileio::codec_host()), 0);
  DIB_SetMaxImagePixels(0);
}

// A frame reaching past its screen is cut to the screen: the pixels that lie
// on it keep their place in the frame.
TEST_F(OrvGifTest, FrameIsCutToItsScreen) {
  DibGuard src(make_image(DIB_PT_PALETTE, 32, 32, 8));
  const std::string path = temp_path("good.gif");
  ASSERT_EQ(write(src.h, path), 0);
  const std::vector<std::uint8_t> good = read_file(path);
  const std::size_t desc = 13 + 3 * 256;
  struct Case { std::size_t at; unsigned offset; int width, height; };
  for (const Case c : {Case{desc + 1, 20, 12, 32}, Case{desc + 3, 5, 32, 27}}) {
    SCOPED_TRACE(c.at - desc);
    std::vector<std::uint8_t> b = good;
    put16(b, c.at, c.offset);
    write_file(path, b);
    DibGuard back(read(path));
    ASSERT_NE(back.h, 0u);
    ASSERT_EQ(DIB_Width(back.h), c.width);
    ASSERT_EQ(DIB_Height(back.h), c.height);
    std::vector<std::uint8_t> got(64), want(64);
    for (int y = 0; y < c.height; ++y) {
      DIB_ReadRow(back.h, y, got.data(), c.width);
      DIB_ReadRow(src.h, y, want.data(), 32);
      EXPECT_TRUE(std::equal(got.begin(), got.begin() + c.width, want.begin())) << "row " << y;
    }
  }
}

}  // namespace
