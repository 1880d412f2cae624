// BMP files: header fields, the three writers and two readers, round trips
// across depths and row orders, malformed and hostile headers, and files
// checked by ImageMagick in both directions.
#include "fileio/bmp.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "../dib/dib_test_support.h"
#include "orivane/bmp_api.h"

namespace {

using namespace dib_test;
namespace fs = std::filesystem;

std::vector<std::uint8_t> file_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void write_file(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// The BMP file of an image, through the buffer writer.
std::vector<std::uint8_t> bmp_of(DIB_HANDLE h) {
  std::vector<std::uint8_t> bytes(WriteDibToBmpBuffer(h, nullptr, 0));
  WriteDibToBmpBuffer(h, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  return bytes;
}

// Runs a shell command; its standard output and error, and its exit status.
std::pair<int, std::string> run(const std::string& command) {
  std::string out;
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  if (p == nullptr) return {-1, ""};
  char buf[4096];
  for (std::size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  const int status = pclose(p);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

bool have_imagemagick() { return run("command -v convert && command -v compare").first == 0; }

// A binary PPM of an image's pixels as this library reads them.
void write_ppm(DIB_HANDLE h, const std::string& path) {
  const auto pixels = rgb_pixels(h);  // blue, green, red
  std::ofstream out(path, std::ios::binary);
  out << "P6\n" << DIB_Width(h) << " " << DIB_Height(h) << "\n255\n";
  for (std::size_t i = 0; i + 2 < pixels.size(); i += 3) out << pixels[i + 2] << pixels[i + 1] << pixels[i];
}

// Pixels (red, green, blue) of a file as ImageMagick decodes it.
std::vector<std::uint8_t> magick_pixels(const std::string& path) {
  const auto [status, out] = run("convert '" + path + "' -depth 8 rgb:-");
  EXPECT_EQ(status, 0) << out;
  return std::vector<std::uint8_t>(out.begin(), out.end());
}

std::vector<std::uint8_t> our_pixels_rgb(DIB_HANDLE h) {
  auto p = rgb_pixels(h);
  for (std::size_t i = 0; i + 2 < p.size(); i += 3) std::swap(p[i], p[i + 2]);
  return p;
}

class BmpTest : public DibTest {
 protected:
  void SetUp() override {
    DibTest::SetUp();
    dir_ = fs::path(testing::TempDir()) / ("orv_bmp_" + std::to_string(getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    fs::remove_all(dir_);
    DibTest::TearDown();
  }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  fs::path dir_;
};

TEST_F(BmpTest, FileHeaderFields) {
  struct Case {
    const char* what;
    int depth, width, height;
    std::uint32_t clr_used;
    std::uint32_t off_bits, file_size;
  };
  const Case cases[] = {
      {"bit fields", 16, 2, 2, 0, 66, 66 + 8},
      {"8-bit full table", 8, 4, 1, 0, 1078, 1078 + 4},
      {"8-bit 16 colours", 8, 4, 1, 16, 118, 118 + 4},
      {"24-bit width 1", 24, 1, 3, 0, 54, 54 + 4 * 3},
      {"24-bit width 3", 24, 3, 3, 0, 54, 54 + 12 * 3},
      {"1-bit", 1, 9, 2, 0, 62, 62 + 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Owned h(DIB_Allocate(c.depth, c.width, c.height));
    if (c.clr_used) {
      ASSERT_EQ(DIB_SetColorCount(h.get(), static_cast<int>(c.clr_used)), 1);
    }
    const auto bytes = bmp_of(h.get());
    ASSERT_EQ(bytes.size(), c.file_size);
    const fileio::BmpFileHeader fh = fileio::bmp_file_header_read(bytes.data());
    EXPECT_EQ(fh.type, 0x4D42);
    EXPECT_EQ(fh.size, c.file_size);
    EXPECT_EQ(fh.reserved1 | fh.reserved2, 0);
    EXPECT_EQ(fh.off_bits, c.off_bits);
    // The rest is the block byte for byte.
    const auto block = block_bytes(h.get());
    EXPECT_TRUE(std::equal(bytes.begin() + 14, bytes.end(), block.begin()));
    // A top-down twin has the same size.
    make_top_down(h.get());
    EXPECT_EQ(WriteDibToBmpBuffer(h.get(), nullptr, 0), c.file_size);
  }
}

TEST_F(BmpTest, BufferWriterCopiesOnlyWhenItFits) {
  Owned h(make_image(24, 3, 2));
  const std::uint32_t size = WriteDibToBmpBuffer(h.get(), nullptr, 0);
  ASSERT_EQ(size, 54u + 24);
  std::vector<std::uint8_t> buf(size, 0xCC);
  EXPECT_EQ(WriteDibToBmpBuffer(h.get(), buf.data(), size - 1), size);
  EXPECT_EQ(buf, std::vector<std::uint8_t>(size, 0xCC));
  EXPECT_EQ(WriteDibToBmpBuffer(h.get(), buf.data(), size), size);
  EXPECT_EQ(buf[0], 'B');
  TWAIN_ClearError();
  EXPECT_EQ(WriteDibToBmpBuffer(0, buf.data(), size), 0u);
  EXPECT_EQ(TWAIN_LastErrorCode(), ERR_BAD_DIB);
  EXPECT_EQ(error_text(), "Internal problem: Bad Dib detected (WriteDibToBmpBuffer)");
}

TEST_F(BmpTest, RoundTripsEveryDepthAndRowOrder) {
  for (const DepthCase& d : all_depths()) {
    for (int width : odd_widths()) {
      for (bool top_down : {false, true}) {
        SCOPED_TRACE(label(d.depth, width, 3) + (top_down ? " top-down" : ""));
        Owned h(make_image(d.depth, width, 3));
        if (top_down) make_top_down(h.get());
        ASSERT_EQ(DIB_WriteToBmp(h.get(), path("rt.bmp").c_str()), 0);
        char message[1024] = "untouched";
        Owned back(LoadBmp(path("rt.bmp").c_str(), message));
        ASSERT_TRUE(back) << message;
        EXPECT_STREQ(message, "");
        EXPECT_EQ(DIB_Equal(h.get(), back.get()), 1);
        EXPECT_EQ(packed_rows(back.get()), packed_rows(h.get()));
        Owned from_memory(BMP_LoadFromBuffer(static_cast<std::uint32_t>(bmp_of(h.get()).size()), bmp_of(h.get()).data()));
        EXPECT_EQ(block_bytes(from_memory.get()), block_bytes(h.get()));
      }
    }
  }
}

TEST_F(BmpTest, SubtractiveImagesAreWrittenAsRgbFilesOnly) {
  Owned cmyk(DIB_Create(DIB_PT_CMYK, 3, 2, 32));
  fill_pattern(cmyk.get());
  ASSERT_EQ(DIB_WriteToBmp(cmyk.get(), path("cmyk.bmp").c_str()), 0);
  Owned back(LoadBmp(path("cmyk.bmp").c_str(), nullptr));
  ASSERT_TRUE(back);
  EXPECT_EQ(DIB_Depth(back.get()), 24);
  EXPECT_EQ(DIB_PixelType(back.get()), DIB_PT_RGB);
  EXPECT_EQ(rgb_pixels(back.get()), rgb_pixels(cmyk.get()));
  EXPECT_EQ(DIB_PixelType(cmyk.get()), DIB_PT_CMYK);  // the caller's image is unchanged
  // The buffer writer stores it as it is.
  const auto bytes = bmp_of(cmyk.get());
  EXPECT_EQ(bytes[14 + 14], 32);
  EXPECT_EQ(bytes[14 + 16], 5);
}

TEST_F(BmpTest, WriterCreatesFoldersAndReportsFailures) {
  Owned h(make_image(8, 4, 4));
  const std::string deep = path("a/b/c/page.bmp");
  EXPECT_EQ(DIB_WriteToBmp(h.get(), deep.c_str()), 0);
  EXPECT_TRUE(fs::exists(deep));

  write_file(path("blocker"), {1});
  EXPECT_EQ(DIB_WriteToBmp(h.get(), path("blocker/x.bmp").c_str()), -2);
  EXPECT_EQ(TWAIN_LastErrorCode(), ERR_CREATE_FOLDER);
  EXPECT_EQ(error_text(), "Can't create folder: " + path("blocker"));

  fs::create_directories(path("dir.bmp"));
  EXPECT_EQ(DIB_WriteToBmp(h.get(), path("dir.bmp").c_str()), -2);
  EXPECT_EQ(TWAIN_LastErrorCode(), ERR_FILE_ACCESS);

  DIB_HANDLE stale = DIB_Allocate(8, 1, 1);
  DIB_Free(stale);
  EXPECT_EQ(DIB_WriteToBmp(stale, path("stale.bmp").c_str()), -3);
  EXPECT_EQ(TWAIN_LastErrorCode(), ERR_BAD_DIB);
  EXPECT_EQ(error_text(), "Internal problem: Bad Dib detected " + path("stale.bmp"));

  // A full device: the message names the file.
  if (fs::exists("/dev/full")) {
    EXPECT_EQ(DIB_WriteToBmp(h.get(), "/dev/full"), -4);
    EXPECT_EQ(TWAIN_LastErrorCode(), ERR_FILE_WRITE);
    EXPECT_EQ(error_text(), "Error writing to file: /dev/full");
    const int fd = ::open("/dev/full", O_WRONLY);
    EXPECT_EQ(DIB_WriteToBmpFile(h.get(), fd), -4);
    ::close(fd);
  }
}

TEST_F(BmpTest, MalformedHeadersAreRefusedWithTheirMessage) {
  Owned h(make_image(24, 2, 2));
  const auto good = bmp_of(h.get());
  struct Case {
    const char* what;
    std::size_t at;
    int bytes;
    std::uint32_t value;
    const char* message;
    bool memory_accepts;
  };
  const Case cases[] = {
      {"offset 53", 10, 4, 53, "LoadBmp:Bad header 4d42 00000046 0000 0000 00000035\n", true},
      {"reserved 1", 6, 2, 7, "LoadBmp:Bad header 4d42 00000046 0007 0000 00000036\n", true},
      {"reserved 2", 8, 2, 0x100, "LoadBmp:Bad header 4d42 00000046 0000 0100 00000036\n", true},
      {"not BM", 0, 2, 0x4D43, "LoadBmp:Bad header 4d43 00000046 0000 0000 00000036\n", false},
      {"size below offset", 2, 4, 40, "LoadBmp:Bad header 4d42 00000028 0000 0000 00000036\n", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto bytes = good;
    std::memcpy(&bytes[c.at], &c.value, static_cast<std::size_t>(c.bytes));
    write_file(path("bad.bmp"), bytes);
    char message[1024];
    EXPECT_EQ(LoadBmp(path("bad.bmp").c_str(), message), 0u);
    EXPECT_STREQ(message, c.message);
    TWAIN_ClearError();
    Owned mem(BMP_LoadFromBuffer(static_cast<std::uint32_t>(bytes.size()), bytes.data()));
    EXPECT_EQ(static_cast<bool>(mem), c.memory_accepts);
    if (mem) {
      EXPECT_EQ(DIB_Equal(mem.get(), h.get()), 1);
    } else {
      EXPECT_EQ(TWAIN_LastErrorCode(), ERR_FILE_READ);
      EXPECT_EQ(error_text(), "Error reading file: BMP in memory");
    }
  }
  char message[1024];
  EXPECT_EQ(LoadBmp(path("missing.bmp").c_str(), message), 0u);
  EXPECT_EQ(std::string(message), "LoadBmp:_open(" + path("missing.bmp") + ") failed\n");
  write_file(path("short.bmp"), {'B', 'M', 1, 2});
  EXPECT_EQ(LoadBmp(path("short.bmp").c_str(), message), 0u);
  EXPECT_STREQ(message, "LoadBmp:_read failed\n");
  // The buffer reader wants more than the file header and all of bfSize.
  EXPECT_EQ(BMP_LoadFromBuffer(14, good.data()), 0u);
  EXPECT_EQ(BMP_LoadFromBuffer(static_cast<std::uint32_t>(good.size() - 1), good.data()), 0u);
  EXPECT_EQ(BMP_LoadFromBuffer(100, nullptr), 0u);
}

// A BMP header with the given fields and `tail` bytes after the headers.
std::vector<std::uint8_t> forged(std::int32_t width, std::int32_t height, std::uint16_t bits,
                                 std::uint32_t compression = 0, std::uint32_t clr_used = 0,
                                 std::size_t tail = 64, std::uint32_t header_size = 40) {
  std::vector<std::uint8_t> b(14 + 40 + tail, 0);
  b[0] = 'B', b[1] = 'M';
  put32(b, 2, static_cast<std::uint32_t>(b.size()));
  put32(b, 10, 54);
  put32(b, 14, header_size);
  put32(b, 18, static_cast<std::uint32_t>(width));
  put32(b, 22, static_cast<std::uint32_t>(height));
  b[26] = 1;
  std::memcpy(&b[28], &bits, 2);
  put32(b, 30, compression);
  put32(b, 46, clr_used);
  return b;
}

TEST_F(BmpTest, HostileSizesAreRefusedBeforeAnyAllocation) {
  struct Case {
    const char* what;
    std::vector<std::uint8_t> bytes;
  };
  const Case cases[] = {
      {"100000 x 100000", forged(100000, 100000, 24)},
      {"100000 x 100000 top-down", forged(100000, -100000, 1)},
      {"negative width", forged(-5, 5, 24)},
      {"height INT_MIN", forged(5, INT32_MIN, 8)},
      {"overflowing size", forged(0x7FFFFFFF, 0x7FFFFFFF, 48)},
      {"huge colour count", forged(2, 2, 8, 0, 0xFFFFFFFF)},
      {"zero depth", forged(2, 2, 0)},
      {"depth 2", forged(2, 2, 2)},
      {"header size 1000", forged(2, 2, 24, 0, 0, 64, 1000)},
      {"header size 12", forged(2, 2, 24, 0, 0, 64, 12)},
      {"rle claiming 60000 x 60000", forged(60000, 60000, 8, 1)},
      {"rle top-down", forged(4, -4, 8, 1)},
      {"jpeg compression", forged(4, 4, 24, 4)},
      {"32-bit odd masks", [] {
         auto b = forged(1, 1, 32, 3);
         put32(b, 54, 0xFF), put32(b, 58, 0xFF00), put32(b, 62, 0xFF0000);
         return b;
       }()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    write_file(path("hostile.bmp"), c.bytes);
    const std::size_t blocks = platform::mem_live_count();
    char message[1024];
    EXPECT_EQ(LoadBmp(path("hostile.bmp").c_str(), message), 0u);
    EXPECT_NE(std::string(message), "");
    EXPECT_EQ(BMP_LoadFromBuffer(static_cast<std::uint32_t>(c.bytes.size()), c.bytes.data()), 0u);
    EXPECT_EQ(platform::mem_live_count(), blocks);
  }
  char message[1024];
  write_file(path("hostile.bmp"), forged(100000, 100000, 24));
  LoadBmp(path("hostile.bmp").c_str(), message);
  EXPECT_STREQ(message, "LoadBmp:image of 100000 x 100000 pixels is over the limit of 320000000 pixels\n");
  // Under the limit, the same header is refused for the data the file lacks.
  write_file(path("hostile.bmp"), forged(10000, 10000, 24));
  LoadBmp(path("hostile.bmp").c_str(), message);
  EXPECT_STREQ(message, "LoadBmp:file too short for 10000 x 10000, 24 bits (118 bytes)\n");
}

TEST_F(BmpTest, ReaderTakesPixelsAtTheFileOffset) {
  // A gap between the table and the pixels, as some writers leave.
  Owned h(make_image(8, 3, 2));
  auto bytes = bmp_of(h.get());
  bytes.insert(bytes.begin() + 1078, 10, 0xEE);
  put32(bytes, 10, 1078 + 10);
  put32(bytes, 2, static_cast<std::uint32_t>(bytes.size()));
  write_file(path("gap.bmp"), bytes);
  Owned back(LoadBmp(path("gap.bmp").c_str(), nullptr));
  ASSERT_TRUE(back);
  EXPECT_EQ(packed_rows(back.get()), packed_rows(h.get()));
}

TEST_F(BmpTest, RunLengthFilesDecode) {
  // 8-bit: a run, an absolute run, a delta, end of line, end of picture.
  std::vector<std::uint8_t> rle = {3, 7, 0, 3, 1, 2, 3, 0, 0, 0, 0, 2, 5, 0, 1, 9, 0, 1};
  auto b = forged(6, 3, 8, 1, 0, 1024 + rle.size());
  put32(b, 10, 54 + 1024);
  for (int i = 0; i < 256; ++i) b[54 + 4 * i] = b[55 + 4 * i] = b[56 + 4 * i] = static_cast<std::uint8_t>(i);
  std::copy(rle.begin(), rle.end(), b.begin() + 54 + 1024);
  write_file(path("rle8.bmp"), b);
  Owned h(LoadBmp(path("rle8.bmp").c_str(), nullptr));
  ASSERT_TRUE(h);
  EXPECT_EQ(DIB_CompressionLowByte(h.get()), 0);
  const auto rows = packed_rows(h.get());  // top first; the stream starts at the bottom
  EXPECT_EQ(rows[2], (std::vector<std::uint8_t>{7, 7, 7, 1, 2, 3}));
  EXPECT_EQ(rows[1], (std::vector<std::uint8_t>{0, 0, 0, 0, 0, 9}));
  EXPECT_EQ(rows[0], (std::vector<std::uint8_t>{0, 0, 0, 0, 0, 0}));
}

// ---- ImageMagick in both directions ---------------------------------------------------

TEST_F(BmpTest, ImageMagickOpensOurFiles) {
  if (!have_imagemagick()) GTEST_SKIP() << "ImageMagick is not installed";
  struct Case {
    int type, depth;
  };
  for (const Case& c : {Case{DIB_PT_BW, 1}, Case{DIB_PT_GRAY, 4}, Case{DIB_PT_PALETTE, 4}, Case{DIB_PT_GRAY, 8},
                        Case{DIB_PT_PALETTE, 8}, Case{DIB_PT_GRAY, 16}, Case{DIB_PT_RGB, 16}, Case{DIB_PT_RGB, 24},
                        Case{DIB_PT_RGB, 32}}) {
    for (int width : {1, 7, 33}) {
      SCOPED_TRACE(label(c.depth, width, 5) + " type " + std::to_string(c.type));
      Owned h(DIB_Create(c.type, width, 5, c.depth));
      fill_pattern(h.get());
      if (c.type == DIB_PT_GRAY && c.depth == 16) {
        // Samples whose low byte repeats the high one are exact in 8 bits.
        std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * 2);
        for (int y = 0; y < 5; ++y) {
          DIB_ReadPackedRow(h.get(), y, row.data());
          for (int x = 0; x < width; ++x) row[2 * x] = row[2 * x + 1];
          DIB_WritePackedRow(h.get(), y, row.data());
        }
      }
      if (c.type == DIB_PT_RGB && c.depth == 16) {
        // 5-5-5 values whose 8-bit forms ImageMagick and we agree on: 0 and 31.
        std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * 2);
        for (int y = 0; y < 5; ++y) {
          for (int x = 0; x < width; ++x) {
            const int p = ((x + y) % 2 ? 0x7C00 : 0) | ((x % 3) ? 0x03E0 : 0) | ((y % 2) ? 0x1F : 0);
            row[2 * x] = static_cast<std::uint8_t>(p), row[2 * x + 1] = static_cast<std::uint8_t>(p >> 8);
          }
          DIB_WritePackedRow(h.get(), y, row.data());
        }
      }
      ASSERT_EQ(DIB_WriteToBmp(h.get(), path("ours.bmp").c_str()), 0);
      write_ppm(h.get(), path("ref.ppm"));
      ASSERT_EQ(run("convert '" + path("ref.ppm") + "' '" + path("ref.png") + "'").first, 0);
      const auto [status, out] = run("identify -format '%w %h' '" + path("ours.bmp") + "'");
      EXPECT_EQ(status, 0) << out;
      EXPECT_EQ(out, std::to_string(width) + " 5");
      const auto [cmp_status, metric] =
          run("compare -metric AE '" + path("ours.bmp") + "' '" + path("ref.png") + "' null:");
      EXPECT_EQ(metric, "0") << "compare exit " << cmp_status;
    }
  }
}

// Reverses the stored rows of an uncompressed BMP and negates its height.
std::vector<std::uint8_t> top_down_twin(std::vector<std::uint8_t> b) {
  const std::uint32_t off = get32(b, 10);
  const std::int32_t width = static_cast<std::int32_t>(get32(b, 18));
  const std::int32_t height = static_cast<std::int32_t>(get32(b, 22));
  const std::uint16_t bits = static_cast<std::uint16_t>(b[28] | (b[29] << 8));
  const std::size_t stride = static_cast<std::size_t>((bits * width + 31) / 32 * 4);
  for (std::int32_t a = 0, z = height - 1; a < z; ++a, --z) {
    std::swap_ranges(b.begin() + off + a * stride, b.begin() + off + (a + 1) * stride, b.begin() + off + z * stride);
  }
  put32(b, 22, static_cast<std::uint32_t>(-height));
  return b;
}

TEST_F(BmpTest, ImageMagickFilesLoadWithTheirPixels) {
  if (!have_imagemagick()) GTEST_SKIP() << "ImageMagick is not installed";
  Owned source(make_image(24, 13, 7));
  write_ppm(source.get(), path("src.ppm"));
  struct Case {
    const char* what;
    const char* options;
    int depth;
    bool can_flip;  // uncompressed rows
  };
  const Case cases[] = {
      {"1-bit", "-type bilevel BMP3:", 1, true},
      {"4-bit", "-colors 16 -type Palette BMP3:", 4, true},
      {"8-bit run-length", "-colors 200 -type Palette BMP3:", 8, false},
      {"8-bit plain", "-colors 200 -type Palette -compress none BMP3:", 8, true},
      {"24-bit", "BMP3:", 24, true},
      {"24-bit version 5 header", "BMP:", 24, true},
      {"32-bit bit fields", "-alpha on BMP:", 32, true},
      {"16-bit 5-6-5", "-define bmp:subtype=RGB565 BMP:", 16, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string file = path("im.bmp");
    const auto [status, out] = run("convert '" + path("src.ppm") + "' " + c.options + "'" + file + "'");
    ASSERT_EQ(status, 0) << out;
    for (bool top_down : {false, true}) {
      if (top_down && !c.can_flip) continue;
      SCOPED_TRACE(top_down ? "top-down" : "bottom-up");
      std::string name = file;
      if (top_down) {
        name = path("im_td.bmp");
        write_file(name, top_down_twin(file_bytes(file)));
      }
      char message[1024];
      Owned h(LoadBmp(name.c_str(), message));
      ASSERT_TRUE(h) << message;
      EXPECT_EQ(DIB_Depth(h.get()), c.depth);
      EXPECT_EQ(DIB_IsValid(h.get()), 1);
      EXPECT_EQ(our_pixels_rgb(h.get()), magick_pixels(name));
      const auto bytes = file_bytes(name);
      Owned mem(BMP_LoadFromBuffer(static_cast<std::uint32_t>(bytes.size()), bytes.data()));
      EXPECT_EQ(DIB_Equal(mem.get(), h.get()), 1);
    }
  }
}

}  // namespace
