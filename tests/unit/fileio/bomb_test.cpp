// Decompression bombs and the loading limit, through the library's loaders as
// a caller uses them: every bomb kept in the fuzz corpora (made by
// tests/fuzz/make_bombs.py) is refused from its header, with its format's
// error code and a text naming the size, before its image is allocated; the
// limit is a setting every loader obeys; and real pages of the largest sizes
// we promise still load in every format.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../dib/dib_test_support.h"
#include "fileio/codec_modules.h"
#include "orivane/file_api.h"
#include "orivane/file_options.h"
#include "tests/tool_support.h"

namespace {

using namespace dib_test;
using test_tools::command_output;
using test_tools::have_tool;
namespace fs = std::filesystem;

std::string corpus_file(const std::string& target, const std::string& name) {
  const char* data = std::getenv("QUILLET_TEST_DATA");  // tests/data, beside tests/fuzz
  const fs::path tests = data ? fs::path(data).parent_path() : fs::path("tests");
  return (tests / "fuzz" / "corpus" / target / name).string();
}

long peak_rss_kb() {
  rusage r{};
  getrusage(RUSAGE_SELF, &r);
  return r.ru_maxrss;
}

class BombTest : public DibTest {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/fileio-bomb-XXXXXX";
    dir_ = mkdtemp(tmpl);
    if (const char* t = std::getenv("TMPDIR")) old_tmp_ = t;
    setenv("TMPDIR", dir_.c_str(), 1);
    setenv("QUILLET_MODULE_PATH", build_folder().c_str(), 1);
    DibTest::SetUp();
    TWAIN_SuppressErrorMessages(1);
  }
  void TearDown() override {
    DibTest::TearDown();
    fileio::codec_modules_reset_for_tests();
    unsetenv("QUILLET_MODULE_PATH");
    if (old_tmp_.empty()) unsetenv("TMPDIR");
    else setenv("TMPDIR", old_tmp_.c_str(), 1);
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  std::string dir_, old_tmp_;
};

constexpr const char* kOverLimit = "pixels is over the limit of 320000000 pixels";
constexpr const char* kDataMissing = "image data missing";

// Each bomb: refused with the format's code, a text naming why and the size;
// the same from memory. Two are not bombs once read soundly: a small frame on
// a huge GIF screen is only the frame, and a PDF image whose stream inflates
// to 8 GiB is filled from its first 8.7 MB.
TEST_F(BombTest, BombsAreRefusedFromTheirHeaders) {
  struct Case {
    const char* target;
    const char* file;
    int code;          // 0: loads, to width x height
    const char* why;
    const char* size;
    int width, height;
  };
  const Case cases[] = {
      {"fuzz_load_gif", "bomb_gif_frame_16000.gif", ERR_FILE_READ, kDataMissing, "16000 x 16000", 0, 0},
      {"fuzz_load_gif", "bomb_gif_frame_32768.gif", ERR_FILE_READ, kOverLimit, "32768 x 32768", 0, 0},
      {"fuzz_load_jpeg", "bomb_jpeg_arithmetic_16000.jpg", ERR_JPEG, "of arithmetic-coded JPEG data", "16000 x 16000", 0, 0},
      {"fuzz_load_jpeg", "bomb_jpeg_arithmetic_32768.jpg", ERR_JPEG, kOverLimit, "32768 x 32768", 0, 0},
      {"fuzz_load_jpeg", "bomb_jpeg_huffman_16000.jpg", ERR_JPEG, "of Huffman-coded JPEG data", "16000 x 16000", 0, 0},
      {"fuzz_load_jpeg", "bomb_jpeg_progressive_16000.jpg", ERR_JPEG, "of Huffman-coded JPEG data", "16000 x 16000", 0, 0},
      {"fuzz_load_tiff", "bomb_tiff_g4_80000.tif", ERR_TIFF, kOverLimit, "80000 x 80000", 0, 0},
      {"fuzz_load_tiff", "bomb_tiff_g4_16000.tif", ERR_TIFF, "of CCITT data", "16000 x 16000", 0, 0},
      {"fuzz_load_tiff", "bomb_tiff_deflate_32768.tif", ERR_TIFF, kOverLimit, "32768 x 32768", 0, 0},
      {"fuzz_load_tiff", "bomb_tiff_deflate_16000.tif", ERR_TIFF, "of Deflate data", "16000 x 16000", 0, 0},
      {"fuzz_load_tiff", "bomb_tiff_lzw_16000.tif", ERR_TIFF, "of LZW data", "16000 x 16000", 0, 0},
      {"fuzz_load_tiff", "bomb_tiff_packbits_16000.tif", ERR_TIFF, "of PackBits data", "16000 x 16000", 0, 0},
      {"fuzz_load_tiff", "bomb_tiff_planar_16000.tif", ERR_TIFF, "of Deflate data", "16000 x 16000", 0, 0},
      {"fuzz_load_tiff", "bomb_tiff_tiled_16000.tif", ERR_TIFF, "of Deflate data", "16000 x 16000", 0, 0},
      {"fuzz_load_tiff", "bomb_tiff_huge_tile.tif", ERR_TIFF, "of Deflate data", "64 x 64", 0, 0},
      {"fuzz_load_tiff", "bomb_tiff_uncompressed_lie.tif", ERR_TIFF, "of uncompressed data", "16000 x 16000", 0, 0},
      {"fuzz_load_png", "bomb_png_deflate_32768.png", ERR_FILE_READ, kOverLimit, "32768 x 32768", 0, 0},
      {"fuzz_load_png", "bomb_png_deflate_16000.png", ERR_FILE_READ, "of Deflate data", "16000 x 16000", 0, 0},
      {"fuzz_load_dispatch", "bomb_bmp_rle_20000.bmp", ERR_FILE_READ, kOverLimit, "20000 x 20000", 0, 0},
      {"fuzz_load_dispatch", "bomb_bmp_rle_16000.bmp", ERR_FILE_READ, "run-length data too short", "16000 x 16000", 0, 0},
      {"fuzz_load_dcx", "bomb_dcx_20000.dcx", ERR_FILE_READ, kOverLimit, "20000 x 20000", 0, 0},
      {"fuzz_load_pdf", "bomb_pdf_flate_16000.pdf", ERR_PDF_FORMAT, "of filtered data", "16000 x 16000", 0, 0},
      {"fuzz_load_pdf", "bomb_pdf_flate_32768.pdf", ERR_MEMORY, kOverLimit, "32768 x 32768", 0, 0},
      {"fuzz_load_pdf", "bomb_pdf_ccitt_16000.pdf", ERR_PDF_FORMAT, "of CCITT data", "16000 x 16000", 0, 0},
      {"fuzz_load_pdf", "bomb_pdf_dct_arithmetic_16000.pdf", ERR_PDF_FORMAT, "of arithmetic-coded JPEG data", "16000 x 16000", 0, 0},
      // Last, so that the memory they take is not counted against the refusals.
      {"fuzz_load_gif", "bomb_gif_screen_32768.gif", 0, "", "", 16, 16},
      {"fuzz_load_pdf", "bomb_pdf_flate_layers.pdf", 0, "", "", 2480, 3508},
  };
  const long rss_before = peak_rss_kb();
  bool refusals_done = false;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    if (c.code == 0 && !refusals_done) {
      // No refusal decoded an image (the smallest bomb image, 1-bit
      // 16000 x 16000, is 32 MB).
      EXPECT_LT(peak_rss_kb() - rss_before, 24 * 1024);
      refusals_done = true;
    }
    const std::string file = corpus_file(c.target, c.file);
    ASSERT_TRUE(fs::exists(file));
    const std::string bytes = read_file(file);
    for (const bool from_memory : {false, true}) {
      SCOPED_TRACE(from_memory ? "from memory" : "from the file");
      TWAIN_ClearError();
      Owned h(from_memory ? DIB_LoadFromBuffer(bytes.data(), static_cast<uint32_t>(bytes.size()))
                          : DIB_LoadFromFilename(file.c_str()));
      if (c.code == 0) {
        ASSERT_TRUE(h) << error_text();
        EXPECT_EQ(DIB_Width(h.get()), c.width);
        EXPECT_EQ(DIB_Height(h.get()), c.height);
        continue;
      }
      EXPECT_FALSE(h);
      EXPECT_EQ(TWAIN_LastErrorCode(), c.code) << error_text();
      // A BMP in memory that is refused for its data only says where it was.
      if (from_memory && std::string(c.target) == "fuzz_load_dispatch" && c.why != kOverLimit) continue;
      const std::string text = error_text();
      EXPECT_NE(text.find(c.why), std::string::npos) << text;
      EXPECT_NE(text.find(c.size), std::string::npos) << text;
    }
  }
}

// One image per format, written by our own writers.
struct Written {
  const char* name;
  int pixel_type, depth;
  int code;  // the format's code for an image over the limit
};
const Written kFormats[] = {
    {"page.bmp", DIB_PT_RGB, 24, ERR_FILE_READ}, {"page.jpg", DIB_PT_RGB, 24, ERR_JPEG},
    {"page.tif", DIB_PT_RGB, 24, ERR_TIFF},      {"page.png", DIB_PT_RGB, 24, ERR_FILE_READ},
    {"page.gif", DIB_PT_GRAY, 8, ERR_FILE_READ}, {"page.dcx", DIB_PT_BW, 1, ERR_FILE_READ},
    {"page.pdf", DIB_PT_RGB, 24, ERR_MEMORY},
};

// Every loader takes the limit from the one setting: an image of exactly the
// limit loads, one pixel more is refused with a text naming size and limit,
// from a file and from memory.
TEST_F(BombTest, EveryLoaderObeysTheLimit) {
  constexpr int kWidth = 40, kHeight = 25;
  for (const Written& f : kFormats) {
    SCOPED_TRACE(f.name);
    Owned src(DIB_Create(f.pixel_type, kWidth, kHeight, f.depth));
    const std::string file = path(f.name);
    ASSERT_EQ(DIB_WriteToFilename(src.get(), file.c_str()), 0) << error_text();
    const std::string bytes = read_file(file);
    EXPECT_EQ(DIB_SetMaxImagePixels(kWidth * kHeight), DIB_DEFAULT_MAX_IMAGE_PIXELS);
    Owned fits(DIB_LoadFromFilename(file.c_str()));
    EXPECT_TRUE(fits) << error_text();
    DIB_SetMaxImagePixels(kWidth * kHeight - 1);
    for (const bool from_memory : {false, true}) {
      TWAIN_ClearError();
      Owned refused(from_memory ? DIB_LoadFromBuffer(bytes.data(), static_cast<uint32_t>(bytes.size()))
                                : DIB_LoadFromFilename(file.c_str()));
      EXPECT_FALSE(refused) << from_memory;
      EXPECT_EQ(TWAIN_LastErrorCode(), f.code);
      EXPECT_NE(error_text().find("image of 40 x 25 pixels is over the limit of 999 pixels"), std::string::npos)
          << error_text();
    }
    EXPECT_EQ(DIB_SetMaxImagePixels(0), kWidth * kHeight - 1);
    EXPECT_EQ(DIB_GetMaxImagePixels(), DIB_DEFAULT_MAX_IMAGE_PIXELS);
  }
}

// A nearly blank page (the case where coders come closest to their largest
// expansion) at 300-dpi A3 and 600-dpi US Letter, RGB, loads back in every
// format from our writers; GIF and DCX, which hold no RGB, as 8-bit gray and
// bilevel. cjpeg's arithmetic coding of the blank Letter page (about 200
// bytes) loads too.
TEST_F(BombTest, RealPagesStillLoad) {
  struct Page {
    const char* name;
    int width, height;
  };
  TWAIN_SetTiffCompression(DIB_PT_RGB, 5);  // LZW: compressed strips on the way in
  for (const Page p : {Page{"A3 300 dpi", 3508, 4961}, Page{"Letter 600 dpi", 5100, 6600}}) {
    SCOPED_TRACE(p.name);
    Owned rgb(DIB_Create(DIB_PT_RGB, p.width, p.height, 24));
    std::vector<std::uint8_t> row(static_cast<std::size_t>(DIB_RowBytes(rgb.get())), 0xFF);
    for (int y = 0; y < p.height; ++y) DIB_WriteRow(rgb.get(), y, row.data(), static_cast<int32_t>(row.size()));
    std::vector<std::uint8_t> line(row.size(), 0x00);
    for (int y = 100; y < p.height; y += 400) DIB_WriteRow(rgb.get(), y, line.data(), static_cast<int32_t>(line.size()));
    Owned gray(DIB_ConvertToPixelType(rgb.get(), DIB_PT_GRAY));
    Owned bw(DIB_ConvertToPixelType(rgb.get(), DIB_PT_BW));
    for (const Written& f : kFormats) {
      SCOPED_TRACE(f.name);
      const DIB_HANDLE src = f.depth == 24 ? rgb.get() : f.depth == 8 ? gray.get() : bw.get();
      const std::string file = path(f.name);
      ASSERT_EQ(DIB_WriteToFilename(src, file.c_str()), 0) << error_text();
      Owned back(DIB_LoadFromFilename(file.c_str()));
      ASSERT_TRUE(back) << error_text();
      EXPECT_EQ(DIB_Width(back.get()), p.width);
      EXPECT_EQ(DIB_Height(back.get()), p.height);
      std::remove(file.c_str());
    }
    if (std::string(p.name) == "Letter 600 dpi" && have_tool("cjpeg")) {
      Owned white(DIB_Create(DIB_PT_RGB, p.width, p.height, 24));
      for (int y = 0; y < p.height; ++y) DIB_WriteRow(white.get(), y, row.data(), static_cast<int32_t>(row.size()));
      ASSERT_EQ(DIB_WriteToFilename(white.get(), path("white.bmp").c_str()), 0);
      command_output("cjpeg -arithmetic -outfile " + path("white.jpg") + " " + path("white.bmp"));
      ASSERT_LT(fs::file_size(path("white.jpg")), 400u);
      Owned back(DIB_LoadFromFilename(path("white.jpg").c_str()));
      ASSERT_TRUE(back) << error_text();
      EXPECT_EQ(DIB_Width(back.get()), p.width);
    }
  }
}

}  // namespace
