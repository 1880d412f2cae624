// OrvJpeg through its entry points, as the library loads it.
#include <sys/resource.h>
#include <sys/stat.h>

#include <cstring>

#include "orivane/errors.h"
#include "tests/unit/codecs/module_harness.h"
#include "tests/unit/test_support.h"

namespace {

using namespace codec_test;

const Module& jpeg() {
  static Module m("OrvJpeg.so", "ORVJPEG");
  return m;
}

class OrvJpegTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetForTests();
    ASSERT_TRUE(jpeg().ok()) << jpeg().error();
    TWAIN_ClearError();
    set_quality(75);
  }
  void set_quality(int q) { jpeg().fn<ORVJPEG_SetQualityFn>("SetQuality")(q); }
  int write(DIB_HANDLE h, const std::string& path) {
    Bmi bmi(h);
    return jpeg().fn<ORVJPEG_BmiWriteToFileFn>("BmiWriteToFile")(bmi.get(), path.c_str());
  }
  DIB_HANDLE read(const std::string& path) {
    return jpeg().fn<ORVJPEG_DibFromFileFn>("DibFromFile")(path.c_str());
  }
  DIB_HANDLE read_buffer(const std::vector<std::uint8_t>& b) {
    return jpeg().fn<ORVJPEG_DibFromBufferFn>("DibFromBuffer")(b.data(), int32_t(b.size()));
  }
  int last_code() { return jpeg().fn<ORVJPEG_LastErrorCodeFn>("LastErrorCode")(); }
  std::string last_text() { return jpeg().fn<ORVJPEG_LastErrorTextFn>("LastErrorText")(); }
  // A smooth picture (gradients in each channel): JPEG's errors on it are small.
  DIB_HANDLE smooth(int type, int w, int h, int depth) {
    const DIB_HANDLE d = DIB_Create(type, w, h, depth);
    std::vector<std::uint8_t> row(std::size_t(DIB_RowBytes(d)));
    const int bytes = depth / 8;
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x)
        for (int c = 0; c < bytes; ++c)
          row[std::size_t(x * bytes + c)] = std::uint8_t(x * 120 / w + y * 50 / h + c * 15);
      DIB_WriteRow(d, y, row.data(), int32_t(row.size()));
    }
    DIB_SetResolution(d, 200, 200);
    return d;
  }
};

// Gray stays one component, colour comes back as 24-bit and CMYK as CMYK; all
// within a small error at quality 95, whatever the width's padding.
TEST_F(OrvJpegTest, RoundTripsWithinErrorForGrayAndColour) {
  struct Case { int type, depth, w, h, out_depth; };
  for (const Case c : {Case{DIB_PT_GRAY, 8, 1, 1, 8}, Case{DIB_PT_GRAY, 8, 61, 17, 8},
                       Case{DIB_PT_RGB, 24, 1, 1, 24}, Case{DIB_PT_RGB, 24, 45, 33, 24},
                       Case{DIB_PT_RGB, 32, 30, 9, 24}, Case{DIB_PT_RGB, 48, 19, 8, 24},
                       Case{DIB_PT_CMYK, 32, 20, 10, 32}}) {
    SCOPED_TRACE(testing::Message() << c.depth << "-bit " << c.w << "x" << c.h);
    set_quality(95);
    DibGuard src(smooth(c.type, c.w, c.h, c.depth));
    const std::string path = temp_path("rt.jpg");
    ASSERT_EQ(write(src.h, path), 0) << last_text();
    DibGuard back(read(path));
    ASSERT_NE(back.h, 0u) << last_text();
    EXPECT_EQ(DIB_Depth(back.h), c.out_depth);
    EXPECT_EQ(DIB_PixelType(back.h), c.type == DIB_PT_CMYK ? DIB_PT_CMYK
                                     : c.out_depth == 8 ? DIB_PT_GRAY : DIB_PT_RGB);
    // The density travels in the JFIF marker, which CMYK files do not carry.
    EXPECT_EQ(DIB_XResolutionInt(back.h), c.type == DIB_PT_CMYK ? 0 : 200);
    const int err = image_max_error(src.h, back.h);
    EXPECT_GE(err, 0);
    EXPECT_LE(err, 12);
  }
}

TEST_F(OrvJpegTest, RefusesBilevelFourBitAndCmy) {
  struct Case { int type, depth; };
  for (const Case c : {Case{DIB_PT_BW, 1}, Case{DIB_PT_GRAY, 4}, Case{DIB_PT_CMY, 24}}) {
    DibGuard src(make_image(c.type, 8, 8, c.depth));
    const std::string path = temp_path("refused.jpg");
    std::remove(path.c_str());
    EXPECT_NE(write(src.h, path), 0) << c.depth;
    EXPECT_EQ(last_code(), ERR_JPEG_PIXELS);
    EXPECT_EQ(TWAIN_LastErrorCode(), ERR_JPEG_PIXELS);
    EXPECT_FALSE(std::ifstream(path).good()) << "no file is left behind";
    TWAIN_ClearError();
  }
}

// Palette entries are expanded; an inverted gray table is applied, not ignored.
TEST_F(OrvJpegTest, TablesAreApplied) {
  DibGuard pal(DIB_Create(DIB_PT_PALETTE, 16, 16, 8));
  std::vector<std::uint8_t> row(16, 249);  // standard palette entry 249 = pure red
  for (int y = 0; y < 16; ++y) DIB_WriteRow(pal.h, y, row.data(), 16);
  const std::string path = temp_path("pal.jpg");
  ASSERT_EQ(write(pal.h, path), 0);
  DibGuard back(read(path));
  ASSERT_NE(back.h, 0u);
  std::vector<std::uint8_t> bgr(3 * 16 + 4);
  DIB_ReadRowRGB(back.h, 8, bgr.data());
  EXPECT_NEAR(bgr[0], 0, 4);
  EXPECT_NEAR(bgr[1], 0, 4);
  EXPECT_NEAR(bgr[2], 255, 4);

  DibGuard inv(DIB_Create(DIB_PT_GRAY, 16, 16, 8));
  for (int i = 0; i < 256; ++i) DIB_SetColorTableRGB(inv.h, i, 255 - i, 255 - i, 255 - i);
  std::fill(row.begin(), row.end(), 0);  // index 0 = white
  for (int y = 0; y < 16; ++y) DIB_WriteRow(inv.h, y, row.data(), 16);
  ASSERT_EQ(write(inv.h, path), 0);
  DibGuard back2(read(path));
  DIB_ReadRowRGB(back2.h, 8, bgr.data());
  EXPECT_NEAR(bgr[0], 255, 2);
}

// A DIB that holds a JPEG stream is written byte for byte, to a file and to
// memory, and the memory block matches an ordinary file write.
TEST_F(OrvJpegTest, JpegStreamDibIsWrittenWithoutReencoding) {
  DibGuard src(smooth(DIB_PT_RGB, 40, 30, 24));
  const std::string path = temp_path("stream.jpg");
  ASSERT_EQ(write(src.h, path), 0);
  const std::vector<std::uint8_t> stream = read_file(path);
  ASSERT_GT(stream.size(), 100u);

  DibGuard packed(DIB_Create(DIB_PT_RGB, 40, 30, 24));
  platform::mem_realloc(packed.h, 40 + stream.size());
  {
    Bmi bmi(packed.h);
    std::uint8_t* b = bmi.bytes();
    const std::uint32_t compression = ORV_STREAM_JPEG << 8, size = std::uint32_t(stream.size());
    std::memcpy(b + 16, &compression, 4);
    std::memcpy(b + 20, &size, 4);
    std::memcpy(b + 40, stream.data(), stream.size());
  }
  set_quality(10);  // would change the bytes if it re-encoded
  const std::string copy = temp_path("copy.jpg");
  ASSERT_EQ(write(packed.h, copy), 0) << last_text();
  EXPECT_EQ(read_file(copy), stream);

  OrvHandle block = 0;
  int32_t n;
  {
    Bmi bmi(packed.h);
    n = jpeg().fn<ORVJPEG_BmiWriteToMemoryFn>("BmiWriteToMemory")(bmi.get(), &block);
  }
  ASSERT_EQ(n, int32_t(stream.size()));
  const auto* p = static_cast<const std::uint8_t*>(platform::mem_lock(block));
  EXPECT_TRUE(std::equal(stream.begin(), stream.end(), p));
  platform::mem_unlock(block);
  platform::mem_free(block);

  DibGuard back(read_buffer(stream));
  EXPECT_EQ(DIB_Width(back.h), 40);
}

TEST_F(OrvJpegTest, QualityShapesTheFileAndIsClamped) {
  DibGuard src(make_image(DIB_PT_RGB, 64, 64, 24));
  const std::string path = temp_path("q.jpg");
  set_quality(10);
  ASSERT_EQ(write(src.h, path), 0);
  const auto small = read_file(path).size();
  set_quality(95);
  ASSERT_EQ(write(src.h, path), 0);
  EXPECT_GT(read_file(path).size(), small * 2);
  set_quality(0);
  EXPECT_EQ(jpeg().fn<ORVJPEG_GetQualityFn>("GetQuality")(), 1);
  set_quality(1000);
  EXPECT_EQ(jpeg().fn<ORVJPEG_GetQualityFn>("GetQuality")(), 100);
}

TEST_F(OrvJpegTest, IndependentDecodersAgree) {
  DibGuard gray(smooth(DIB_PT_GRAY, 37, 21, 8));
  const std::string path = temp_path("check.jpg");
  ASSERT_EQ(write(gray.h, path), 0);
  if (have_tool("djpeg")) {
    const std::string pnm = run("djpeg -pnm " + path + " | head -c 2");
    EXPECT_EQ(pnm, "P5");  // one gray component
  }
  if (have_tool("identify"))
    EXPECT_EQ(run("identify -units PixelsPerInch -format '%w %h %[colorspace] %x' " + path),
              "37 21 Gray 200");
}

// Bytes with a valid start, patched to declare 60000 x 60000 pixels.
std::vector<std::uint8_t> huge_header(std::vector<std::uint8_t> bytes) {
  for (std::size_t i = 2; i + 9 < bytes.size(); ++i) {
    if (bytes[i] == 0xFF && bytes[i + 1] == 0xC0) {
      for (std::size_t k : {i + 5, i + 7}) {
        bytes[k] = 60000 >> 8;
        bytes[k + 1] = 60000 & 0xFF;
      }
      break;
    }
  }
  return bytes;
}

long peak_rss_kb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

TEST_F(OrvJpegTest, BadFilesAreRefusedWithBoundedMemory) {
  DibGuard src(smooth(DIB_PT_RGB, 64, 48, 24));
  const std::string path = temp_path("good.jpg");
  ASSERT_EQ(write(src.h, path), 0);
  const std::vector<std::uint8_t> good = read_file(path);
  std::vector<std::uint8_t> corrupt = good;
  for (std::size_t i = good.size() / 3; i < good.size() - 2; ++i) corrupt[i] = std::uint8_t(i * 7);
  const std::vector<std::vector<std::uint8_t>> bad = {
      {},
      {0xFF, 0xD8},
      std::vector<std::uint8_t>(good.begin(), good.begin() + long(good.size() / 2)),
      corrupt,
      huge_header(good),
      {'n', 'o', 't', ' ', 'a', ' ', 'j', 'p', 'e', 'g'},
  };
  const int live = DIB_LiveImageCount();
  const long rss = peak_rss_kb();
  for (std::size_t i = 0; i < bad.size(); ++i) {
    SCOPED_TRACE(i);
    const std::string p = temp_path("bad.jpg");
    write_file(p, bad[i]);
    TWAIN_ClearError();
    EXPECT_EQ(read(p), 0u);
    EXPECT_NE(last_code(), 0);
    EXPECT_NE(TWAIN_LastErrorCode(), 0);
    if (!bad[i].empty()) EXPECT_EQ(read_buffer(bad[i]), 0u);
  }
  EXPECT_EQ(DIB_LiveImageCount(), live);
  EXPECT_LT(peak_rss_kb() - rss, 200 * 1024);
  EXPECT_EQ(read(temp_path("missing.jpg")), 0u);
  EXPECT_EQ(last_code(), ERR_NOT_FOUND);
}

TEST_F(OrvJpegTest, WriteErrorsAreReported) {
  DibGuard src(smooth(DIB_PT_GRAY, 8, 8, 8));
  EXPECT_NE(write(src.h, "/nonexistent-folder/x.jpg"), 0);
  EXPECT_NE(last_code(), 0);
  // A full device: the bytes never reach it, and the failure is reported.
  struct stat st {};
  if (::stat("/dev/full", &st) == 0 && S_ISCHR(st.st_mode)) {
    EXPECT_NE(write(src.h, "/dev/full"), 0);
    EXPECT_EQ(last_code(), ERR_FILE_WRITE);
    EXPECT_EQ(::stat("/dev/full", &st), 0) << "the device is left alone";
  }
}

}  // namespace
