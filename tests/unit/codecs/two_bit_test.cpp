// 2-bit PNG and TIFF pages, built byte by byte here from the formats' own
// rules (and shown to ImageMagick or libtiff when installed), read through the
// library: the loaders widen them to 4-bit images whose colours are the
// file's levels or palette entries, pixel for pixel, at an odd width.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../../tool_support.h"
#include "../dib/dib_test_support.h"
#include "fileio/codec_modules.h"
#include "orivane/file_api.h"
#include "platform/paths.h"

namespace {

using namespace dib_test;
namespace fs = std::filesystem;
using Bytes = std::string;

constexpr int kWidth = 7, kHeight = 3;  // 14 bits a row: rows end mid-byte
int level(int x, int y) { return (x + 2 * y) % 4; }
// The palette of the palette files: entry i.
constexpr std::array<std::array<std::uint8_t, 3>, 4> kPalette{{{200, 0, 0}, {0, 150, 0}, {0, 0, 100}, {50, 60, 70}}};

void be32(Bytes& b, std::uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) b += static_cast<char>((v >> s) & 0xFF);
}
void le16(Bytes& b, std::uint32_t v) { b += static_cast<char>(v & 0xFF), b += static_cast<char>((v >> 8) & 0xFF); }
void le32(Bytes& b, std::uint32_t v) { le16(b, v & 0xFFFF), le16(b, v >> 16); }

// The packed 2-bit rows, first pixel in the high bits.
std::vector<Bytes> packed_levels() {
  std::vector<Bytes> rows;
  for (int y = 0; y < kHeight; ++y) {
    Bytes row((kWidth * 2 + 7) / 8, '\0');
    for (int x = 0; x < kWidth; ++x) row[x / 4] = static_cast<char>(row[x / 4] | level(x, y) << (6 - 2 * (x % 4)));
    rows.push_back(row);
  }
  return rows;
}

std::uint32_t crc32(const Bytes& data) {
  std::uint32_t c = 0xFFFFFFFFu;
  for (unsigned char ch : data) {
    c ^= ch;
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
  }
  return ~c;
}

void png_chunk(Bytes& out, const char* type, const Bytes& data) {
  be32(out, static_cast<std::uint32_t>(data.size()));
  const Bytes body = type + data;
  out += body;
  be32(out, crc32(body));
}

// A PNG of the levels: colour type 0 (gray) or 3 (palette), 2 bits. The
// image data is one stored (uncompressed) deflate block.
Bytes png_file(bool palette) {
  Bytes raw;
  for (const Bytes& row : packed_levels()) raw += '\0' + row;  // filter type 0
  Bytes z = "\x78\x01";
  z += '\x01';
  le16(z, static_cast<std::uint32_t>(raw.size()));
  le16(z, static_cast<std::uint32_t>(~raw.size() & 0xFFFF));
  z += raw;
  std::uint32_t a = 1, b = 0;
  for (unsigned char ch : raw) a = (a + ch) % 65521, b = (b + a) % 65521;
  be32(z, b << 16 | a);
  Bytes out = "\x89PNG\r\n\x1a\n";
  Bytes ihdr;
  be32(ihdr, kWidth);
  be32(ihdr, kHeight);
  ihdr += Bytes{2, static_cast<char>(palette ? 3 : 0), 0, 0, 0};
  png_chunk(out, "IHDR", ihdr);
  if (palette) {
    Bytes plte;
    for (const auto& e : kPalette) plte += Bytes{static_cast<char>(e[0]), static_cast<char>(e[1]), static_cast<char>(e[2])};
    png_chunk(out, "PLTE", plte);
  }
  png_chunk(out, "IDAT", z);
  png_chunk(out, "IEND", "");
  return out;
}

// An uncompressed little-endian TIFF of the levels, one strip, with the
// photometric interpretation given (0 min-is-white, 1 min-is-black, 3 palette).
Bytes tiff_file(int photometric) {
  Bytes pixels;
  for (const Bytes& row : packed_levels()) pixels += row;
  struct Entry {
    std::uint16_t tag, type;
    std::uint32_t count, value;
  };
  const std::uint32_t entries = photometric == 3 ? 10 : 9;
  const std::uint32_t ifd_size = 2 + 12 * entries + 4;
  const std::uint32_t pixels_at = 8 + ifd_size, map_at = pixels_at + static_cast<std::uint32_t>(pixels.size());
  std::vector<Entry> ifd = {{256, 3, 1, kWidth},
                            {257, 3, 1, kHeight},
                            {258, 3, 1, 2},
                            {259, 3, 1, 1},
                            {262, 3, 1, static_cast<std::uint32_t>(photometric)},
                            {273, 4, 1, pixels_at},
                            {277, 3, 1, 1},
                            {278, 3, 1, kHeight},
                            {279, 4, 1, static_cast<std::uint32_t>(pixels.size())}};
  if (photometric == 3) ifd.push_back({320, 3, 12, map_at});
  Bytes out = "II*";
  out += '\0';
  le32(out, 8);
  le16(out, entries);
  for (const Entry& e : ifd) {
    le16(out, e.tag), le16(out, e.type), le32(out, e.count);
    if (e.type == 3 && e.count == 1) le16(out, e.value), le16(out, 0);
    else le32(out, e.value);
  }
  le32(out, 0);
  out += pixels;
  // The colour map: all reds, then greens, then blues, 16 bits each.
  if (photometric == 3)
    for (int c = 0; c < 3; ++c)
      for (const auto& e : kPalette) le16(out, e[c] * 257u);
  return out;
}

std::array<int, 3> expected_rgb(const std::string& kind, int v) {
  if (kind == "palette") return {kPalette[v][0], kPalette[v][1], kPalette[v][2]};
  const int gray = kind == "min-is-white" ? 255 - 85 * v : 85 * v;
  return {gray, gray, gray};
}

class TwoBitTest : public DibTest {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/two-bit-XXXXXX";
    dir_ = mkdtemp(tmpl);
    setenv("QUILLET_MODULE_PATH",
           fs::path(platform::program_path()).parent_path().parent_path().string().c_str(), 1);
    DibTest::SetUp();
  }
  void TearDown() override {
    fileio::codec_modules_reset_for_tests();
    DibTest::TearDown();
    unsetenv("QUILLET_MODULE_PATH");
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  std::string dir_;
};

TEST_F(TwoBitTest, PagesAreWidenedToFourBitsWithTheirOwnColours) {
  struct Case {
    const char* name;
    Bytes bytes;
    std::string kind;
    int pixel_type;
  };
  const Case cases[] = {{"gray.png", png_file(false), "min-is-black", DIB_PT_GRAY},
                        {"palette.png", png_file(true), "palette", DIB_PT_PALETTE},
                        {"black.tif", tiff_file(1), "min-is-black", DIB_PT_GRAY},
                        {"white.tif", tiff_file(0), "min-is-white", DIB_PT_GRAY},
                        {"palette.tif", tiff_file(3), "palette", DIB_PT_PALETTE}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = dir_ + "/" + c.name;
    std::ofstream(file, std::ios::binary) << c.bytes;
    // Another reader sees the colours we meant: ImageMagick for PNG; for TIFF
    // libtiff's own RGBA reader (ImageMagick 6 takes 2-bit min-is-white
    // levels for min-is-black).
    const bool tiff = file.ends_with(".tif");
    if (test_tools::have_tool("convert") && (!tiff || test_tools::have_tool("tiff2rgba"))) {
      const std::string show = tiff ? "tiff2rgba " + file + " " + file + ".rgba && convert " + file + ".rgba"
                                    : "convert " + file;
      const std::string seen = test_tools::command_output(show + " -depth 8 txt:- 2>&1");
      for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
          const auto rgb = expected_rgb(c.kind, level(x, y));
          char pixel[64];
          std::snprintf(pixel, sizeof pixel, "%d,%d: (", x, y);
          char hex[16];
          std::snprintf(hex, sizeof hex, "#%02X%02X%02X", rgb[0], rgb[1], rgb[2]);
          const std::size_t at = seen.find(pixel);
          ASSERT_NE(at, std::string::npos) << seen;
          EXPECT_NE(seen.substr(at, seen.find('\n', at) - at).find(hex), std::string::npos) << seen;
        }
    }
    Owned page(DIB_LoadFromFilename(file.c_str()));
    ASSERT_TRUE(page);
    EXPECT_EQ(DIB_Depth(page.get()), 4);
    EXPECT_EQ(DIB_PixelType(page.get()), c.pixel_type);
    EXPECT_EQ(DIB_Width(page.get()), kWidth);
    EXPECT_EQ(DIB_Height(page.get()), kHeight);
    const std::vector<std::uint8_t> rgb = rgb_pixels(page.get());
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x) {
        // rgb_pixels gives the DIB's byte order: blue, green, red.
        const auto want = expected_rgb(c.kind, level(x, y));
        const std::size_t at = 3 * static_cast<std::size_t>(y * kWidth + x);
        ASSERT_EQ((std::array<int, 3>{rgb[at + 2], rgb[at + 1], rgb[at]}), want) << x << "," << y;
      }
  }
}

}  // namespace
