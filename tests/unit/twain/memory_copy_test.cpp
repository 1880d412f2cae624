// The block copy of the memory transfer, without a device: blocks are built
// from a known pattern the way sources lay them out (padded rows, short
// BytesWritten, "don't care" offsets, tiles, planes), copied into a fresh DIB,
// and the DIB is compared pixel by pixel with the pattern.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "../test_support.h"
#include "dib/allocate.h"
#include "dib/live_count.h"
#include "orivane/twain.h"
#include "platform/clipboard.h"
#include "twain/acquisition/memory_xfer.h"

namespace {

constexpr std::uint32_t kDontCare = TWON_DONTCARE32;
constexpr std::uint8_t kPadByte = 0xEE;

std::uint8_t sample(int x, int y, int k) { return static_cast<std::uint8_t>((x * 7 + y * 13 + k * 29 + 1) & 0xFF); }

TW_IMAGEINFO image_info(int depth, int width, int height, int pixel_type = TWPT_GRAY) {
  TW_IMAGEINFO info{};
  info.ImageWidth = width;
  info.ImageLength = height;
  info.BitsPerPixel = static_cast<TW_INT16>(depth);
  info.SamplesPerPixel = 1;
  info.PixelType = static_cast<TW_INT16>(pixel_type);
  return info;
}

// One block as a source lays it out: `step` bytes from row to row in the
// buffer, with the header fields it claims.
struct BlockLayout {
  int x, y, columns, rows;
  std::uint32_t step;
  std::uint32_t bytes_per_row = 0;           // 0: the step
  std::int64_t bytes_written = -1;           // -1: rows x step
  std::uint32_t x_offset_raw = 0, y_offset_raw = 0;  // 0: x, y
};

struct Block {
  TW_IMAGEMEMXFER mx{};
  std::vector<std::uint8_t> bytes;
};

Block make_block(const BlockLayout& s, int pixel_bytes) {
  Block b;
  b.bytes.assign(static_cast<std::size_t>(s.rows) * s.step, kPadByte);
  for (int r = 0; r < s.rows; ++r)
    for (int c = 0; c < s.columns; ++c)
      for (int k = 0; k < pixel_bytes; ++k) {
        const std::size_t at = static_cast<std::size_t>(r) * s.step + static_cast<std::size_t>(c) * pixel_bytes + k;
        if (at < b.bytes.size()) b.bytes[at] = sample(s.x + c, s.y + r, k);
      }
  b.mx.Columns = static_cast<TW_UINT32>(s.columns);
  b.mx.Rows = static_cast<TW_UINT32>(s.rows);
  b.mx.XOffset = s.x_offset_raw ? s.x_offset_raw : static_cast<TW_UINT32>(s.x);
  b.mx.YOffset = s.y_offset_raw ? s.y_offset_raw : static_cast<TW_UINT32>(s.y);
  b.mx.BytesPerRow = s.bytes_per_row ? s.bytes_per_row : s.step;
  b.mx.BytesWritten = static_cast<TW_UINT32>(s.bytes_written >= 0 ? s.bytes_written : b.bytes.size());
  b.mx.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
  b.mx.Memory.Length = static_cast<TW_UINT32>(b.bytes.size());
  b.mx.Memory.TheMem = b.bytes.data();
  return b;
}

// The packed bytes of row y (top first).
std::vector<std::uint8_t> row_bytes(dib::Handle h, int y) {
  dib::Locked lock(h);
  const std::uint8_t* p = lock->row(y);
  return std::vector<std::uint8_t>(p, p + lock->used_bytes());
}

class MemoryCopyTest : public testing::Test {
 protected:
  void SetUp() override {
    ResetForTests();
    twain::memory_transfer_reset_for_tests();
    live_ = dib::live_count();
  }
  void TearDown() override { EXPECT_EQ(dib::live_count(), live_); }
  long live_ = 0;
};

struct LayoutCase {
  const char* name;
  int depth, width, height;
  std::vector<BlockLayout> blocks;
  // Blocks whose rectangle is expected in the image ("skipped" ones are not).
  std::vector<bool> lands;
};

// Layouts the virtual scanner does not produce; its strips, tiles and
// padded rows are covered end to end.
std::vector<LayoutCase> layout_cases() {
  return {
      {"rows padded to 3000 bytes for 999 pixels", 24, 999, 4, {{0, 0, 999, 4, 3000}}, {}},
      {"BytesWritten short of Rows x BytesPerRow: step from BytesWritten", 24, 999, 10,
       {{0, 0, 999, 10, 2997, 3000, 29970}}, {}},
      {"BytesWritten 0 taken as Rows x BytesPerRow", 8, 30, 6, {{0, 0, 30, 6, 32, 0, 0}}, {}},
      {"BytesWritten don't care", 8, 30, 6, {{0, 0, 30, 6, 32, 0, kDontCare}}, {}},
      {"XOffset don't care is column 0", 24, 20, 5, {{0, 0, 20, 5, 60, 0, -1, kDontCare}}, {}},
      {"YOffset don't care is row 0", 8, 20, 5, {{0, 0, 20, 5, 20, 0, -1, 0, kDontCare}}, {}},
      {"tiles at X/Y offsets, out of order", 8, 10, 8,
       {{4, 4, 4, 4, 4}, {0, 0, 4, 4, 4}, {8, 0, 2, 4, 2}, {4, 0, 4, 4, 4}, {0, 4, 4, 4, 4}, {8, 4, 2, 4, 2}},
       {}},
      {"columns past the image width are cut", 8, 20, 3, {{0, 0, 25, 3, 25}}, {}},
      {"rows past the image length are cut", 8, 10, 5, {{0, 0, 10, 3, 10}, {0, 3, 10, 4, 10}}, {}},
      {"YOffset past the image is skipped", 8, 10, 5,
       {{0, 0, 10, 2, 10}, {0, 0, 10, 3, 10, 0, -1, 0, 6}}, {true, false}},
      {"negative XOffset is skipped", 8, 10, 5, {{0, 0, 10, 5, 10, 0, -1, 0xFFFFFFF0u}}, {false}},
      {"negative YOffset is skipped", 8, 10, 5, {{0, 0, 10, 5, 10, 0, -1, 0, 0x80000000u}}, {false}},
      {"XOffset past the image is skipped", 8, 10, 5, {{0, 0, 10, 5, 10, 0, -1, 11}}, {false}},
  };
}

TEST_F(MemoryCopyTest, BlocksLandWhereTheirOffsetsSay) {
  for (const LayoutCase& c : layout_cases()) {
    SCOPED_TRACE(c.name);
    const int pixel_bytes = c.depth / 8;
    dib::Dib image = dib::allocate(c.depth, c.width, c.height);
    const TW_IMAGEINFO info = image_info(c.depth, c.width, c.height, c.depth >= 24 ? TWPT_RGB : TWPT_GRAY);
    std::vector<std::vector<bool>> covered(c.height, std::vector<bool>(c.width, false));
    for (std::size_t i = 0; i < c.blocks.size(); ++i) {
      const BlockLayout& s = c.blocks[i];
      Block b = make_block(s, pixel_bytes);
      ASSERT_EQ(twain::BmiCopyMemoryBuffer(image.get(), b.mx, info, twain::memory_block_row(b.mx), 0), 1);
      if (!c.lands.empty() && !c.lands[i]) continue;
      for (int y = s.y; y < std::min(s.y + s.rows, c.height); ++y)
        for (int x = s.x; x < std::min(s.x + s.columns, c.width); ++x) covered[y][x] = true;
    }
    for (int y = 0; y < c.height; ++y) {
      const std::vector<std::uint8_t> row = row_bytes(image.get(), y);
      for (int x = 0; x < c.width; ++x)
        for (int k = 0; k < pixel_bytes; ++k) {
          // Chunky 24-bit RGB arrives blue first; other layouts in the
          // source's order.
          const int from = pixel_bytes == 3 ? 2 - k : k;
          const std::uint8_t want = covered[y][x] ? sample(x, y, from) : 0;
          ASSERT_EQ(row[static_cast<std::size_t>(x) * pixel_bytes + k], want) << "x " << x << " y " << y << " k " << k;
        }
    }
  }
}

// A planar image arrives as one full image per channel; each channel's
// samples go to their place in every pixel, in the source's sample order.
TEST_F(MemoryCopyTest, PlanarChannelsFillTheirSamples) {
  struct Case {
    int depth, channels, sample_bytes;
  };
  for (const Case& c : {Case{24, 3, 1}, Case{48, 3, 2}, Case{32, 4, 1}}) {
    SCOPED_TRACE(std::to_string(c.depth) + " bits");
    constexpr int kWidth = 9, kHeight = 4;
    dib::Dib image = dib::allocate(c.depth, kWidth, kHeight);
    TW_IMAGEINFO info = image_info(c.depth, kWidth, kHeight, TWPT_RGB);
    info.Planar = 1;
    info.SamplesPerPixel = static_cast<TW_INT16>(c.channels);
    for (int channel = 0; channel < c.channels; ++channel) {
      for (int strip = 0; strip < 2; ++strip) {
        // One channel of two rows: a sample per pixel, `sample_bytes` wide.
        std::vector<std::uint8_t> bytes;
        for (int r = 0; r < 2; ++r)
          for (int x = 0; x < kWidth; ++x)
            for (int k = 0; k < c.sample_bytes; ++k) bytes.push_back(sample(x, strip * 2 + r, channel * 2 + k));
        TW_IMAGEMEMXFER mx{};
        mx.Columns = kWidth;
        mx.Rows = 2;
        mx.YOffset = static_cast<TW_UINT32>(strip * 2);
        mx.BytesPerRow = static_cast<TW_UINT32>(kWidth * c.sample_bytes);
        mx.BytesWritten = static_cast<TW_UINT32>(bytes.size());
        mx.Memory = {TWMF_APPOWNS | TWMF_POINTER, static_cast<TW_UINT32>(bytes.size()), bytes.data()};
        ASSERT_EQ(twain::BmiCopyMemoryBuffer(image.get(), mx, info, strip * 2, channel), 1);
      }
    }
    const int pixel_bytes = c.depth / 8;
    for (int y = 0; y < kHeight; ++y) {
      const std::vector<std::uint8_t> row = row_bytes(image.get(), y);
      for (int x = 0; x < kWidth; ++x)
        for (int channel = 0; channel < c.channels; ++channel)
          for (int k = 0; k < c.sample_bytes; ++k)
            ASSERT_EQ(row[x * pixel_bytes + channel * c.sample_bytes + k], sample(x, y, channel * 2 + k))
                << "x " << x << " y " << y << " channel " << channel;
    }
  }
}

// 1-bit tiles that start and end inside a byte change only their own bits.
TEST_F(MemoryCopyTest, BitTilesKeepTheirNeighbours) {
  dib::Dib image = dib::allocate(1, 16, 2);
  const TW_IMAGEINFO info = image_info(1, 16, 2, TWPT_BW);
  std::vector<std::uint8_t> ones = {0xFF, 0xFF};
  TW_IMAGEMEMXFER mx{};
  mx.Columns = 5;
  mx.Rows = 2;
  mx.XOffset = 3;
  mx.BytesPerRow = 1;
  mx.BytesWritten = 2;
  mx.Memory = {TWMF_APPOWNS | TWMF_POINTER, 2, ones.data()};
  ASSERT_EQ(twain::BmiCopyMemoryBuffer(image.get(), mx, info, 0, 0), 1);
  std::vector<std::uint8_t> zero = {0x00, 0x00};
  mx.XOffset = 4;  // a second tile clears the middle of the first
  mx.Columns = 2;
  mx.Memory.TheMem = zero.data();
  ASSERT_EQ(twain::BmiCopyMemoryBuffer(image.get(), mx, info, 0, 0), 1);
  for (int y = 0; y < 2; ++y) {
    // Bits 3..7 set, then 4 and 5 cleared: 0001 0011 0000 0000.
    EXPECT_EQ(row_bytes(image.get(), y), (std::vector<std::uint8_t>{0x13, 0x00}));
  }
}

// A compressed stream is appended block after block; the DIB grows however
// large the blocks are.
TEST_F(MemoryCopyTest, CompressedBlocksAppendAndGrowTheDib) {
  dib::Dib image = dib::allocate(8, 4, 4);
  {
    dib::Locked lock(image.get());
    dib::InfoHeader h = lock->header();
    h.compression |= TWCP_JPEG << 8;
    h.size_image = 0;
    lock->store_header(h);
  }
  TW_IMAGEINFO info = image_info(8, 4, 4);
  info.Compression = TWCP_JPEG;
  std::vector<std::uint8_t> stream;
  for (std::size_t size : {std::size_t{3}, std::size_t{70000}, std::size_t{0}, std::size_t{5}}) {
    std::vector<std::uint8_t> bytes(size + 1);  // an empty block still names a buffer
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(stream.size() + i * 31);
    stream.insert(stream.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size));
    TW_IMAGEMEMXFER mx{};
    mx.Compression = TWCP_JPEG;
    mx.BytesWritten = static_cast<TW_UINT32>(size);
    mx.Memory = {TWMF_APPOWNS | TWMF_POINTER, static_cast<TW_UINT32>(size), bytes.data()};
    ASSERT_EQ(twain::BmiCopyMemoryBuffer(image.get(), mx, info, 0, 0), 1);
  }
  dib::Locked lock(image.get());
  ASSERT_EQ(lock->header().size_image, stream.size());
  ASSERT_GE(lock->block_size(), lock->pixel_offset() + stream.size());
  EXPECT_EQ(std::memcmp(lock->block() + lock->pixel_offset(), stream.data(), stream.size()), 0);
  EXPECT_EQ(lock->header().compression & dib::kCompressionCodeMask, TWCP_JPEG << 8);
}

// Numbers a careless or hostile source may send: the copy neither writes
// outside the DIB nor reads outside the buffer (the sanitizers watch), and
// refuses a BytesWritten beyond the buffer.
TEST_F(MemoryCopyTest, LyingBlocksStayInsideTheirMemory) {
  struct Case {
    const char* name;
    std::uint32_t columns, rows, x, y, bytes_per_row, bytes_written;
    int dib_row;
    int result;
  };
  const Case cases[] = {
      {"every size don't care", kDontCare, kDontCare, 0, 0, kDontCare, kDontCare, 0, 1},
      {"huge rows and columns", 0x7FFFFFFF, 0x7FFFFFFF, 0, 0, 0x7FFFFFFF, 64, 0, 1},
      {"BytesPerRow larger than the buffer", 10, 10, 0, 0, 1000, 64, 0, 1},
      {"BytesPerRow smaller than a row", 10, 10, 0, 0, 1, 64, 0, 1},
      {"last column offset", 10, 10, 9, 9, 10, 64, 9, 1},
      {"destination row past the DIB", 10, 10, 0, 0, 10, 64, 1000, 1},
      {"negative destination row", 10, 10, 0, 0, 10, 64, -5, 1},
      {"BytesWritten beyond the buffer", 10, 10, 0, 0, 10, 65, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    dib::Dib image = dib::allocate(24, 10, 10);
    std::vector<std::uint8_t> bytes(64, 0x5A);
    TW_IMAGEMEMXFER mx{};
    mx.Columns = c.columns;
    mx.Rows = c.rows;
    mx.XOffset = c.x;
    mx.YOffset = c.y;
    mx.BytesPerRow = c.bytes_per_row;
    mx.BytesWritten = c.bytes_written;
    mx.Memory = {TWMF_APPOWNS | TWMF_POINTER, static_cast<TW_UINT32>(bytes.size()), bytes.data()};
    EXPECT_EQ(twain::BmiCopyMemoryBuffer(image.get(), mx, image_info(24, 10, 10, TWPT_RGB), c.dib_row, 0), c.result);
  }
}

// The source's palette replaces the table; a shorter table moves the rows
// with it, so every pixel keeps its index.
TEST_F(MemoryCopyTest, PaletteReplacesTheTableAndKeepsThePixels) {
  struct Case {
    int depth, colours;
    std::uint8_t highest_index;  // of the palette's entries
    std::uint32_t entries_after;
  };
  // Index 9 of a 3-colour palette keeps 10 entries; index 40 is not in a
  // 16-entry table and is ignored.
  for (const Case& c : {Case{8, 4, 3, 4}, Case{8, 3, 9, 10}, Case{8, 256, 255, 0}, Case{4, 3, 40, 3}}) {
    SCOPED_TRACE(std::to_string(c.depth) + " bits, " + std::to_string(c.colours) + " colours");
    dib::Dib image = dib::allocate(c.depth, 5, 3, TWPT_PALETTE);
    const std::vector<std::uint8_t> pixels = {0x12, 0x30, 0x01};
    for (int y = 0; y < 3; ++y) {
      dib::Locked lock(image.get());
      std::memcpy(lock->row(y), pixels.data(), pixels.size());
    }
    TW_PALETTE8 palette{};
    palette.NumColors = static_cast<TW_UINT16>(c.colours);
    for (int i = 0; i < c.colours; ++i) {
      const auto index = static_cast<TW_UINT8>(i + 1 == c.colours ? c.highest_index : i);
      palette.Colors[i] = {index, static_cast<TW_UINT8>(10 + i), static_cast<TW_UINT8>(20 + i), static_cast<TW_UINT8>(30 + i)};
    }
    twain::memory_palette_apply(image.get(), palette);
    dib::Locked lock(image.get());
    EXPECT_EQ(lock->header().clr_used, c.entries_after);
    EXPECT_EQ(lock->block_size(), lock->pixel_offset() + lock->stride() * 3) << "no bytes left over";
    const dib::Rgbq first = lock->table()[0];
    EXPECT_EQ(std::vector<int>({first.red, first.green, first.blue}), std::vector<int>({10, 20, 30}));
    for (int y = 0; y < 3; ++y)
      EXPECT_EQ(std::vector<std::uint8_t>(lock->row(y), lock->row(y) + 3), pixels);
  }
}

// The incompatibility message appears once per process and goes to the
// clipboard with carriage returns.
TEST_F(MemoryCopyTest, IncompatibilityIsReportedOnce) {
  core::error_record().suppress_messages = true;
  platform::clipboard_clear();
  TW_IMAGEMEMXFER mx{};
  mx.BytesWritten = 70000;
  mx.Memory.Length = 65536;
  mx.YOffset = kDontCare;
  const TW_IMAGEINFO info = image_info(24, 100, 50, TWPT_RGB);
  const std::string text = twain::memory_incompatibility_text("first", mx, info, 2);
  EXPECT_EQ(text.rfind("ORIVANE 3.47: Memory Transfer Incompatibility\n(first)\n\n", 0), 0u) << text;
  EXPECT_NE(text.find("Channel: 2   MXB.Memory.Flags: 0x00000000\nMXB.Memory.Length: 65536\n"), std::string::npos);
  EXPECT_NE(text.find("XOffset: 0, YOffset: -1\n"), std::string::npos);
  EXPECT_NE(text.find("INFO.ImageWidth: 100, ImageLength: 50\n"), std::string::npos);

  twain::MemTransferError("first", mx, info, 2);
  platform::ClipboardContent clip = platform::clipboard_get();
  ASSERT_EQ(clip.format, platform::ClipboardFormat::Text);
  const std::string copied(clip.bytes.begin(), clip.bytes.end());
  EXPECT_EQ(copied.rfind("ORIVANE 3.47: Memory Transfer Incompatibility\r\n(first)\r\n\r\n", 0), 0u);

  twain::MemTransferError("second", mx, info, 2);
  clip = platform::clipboard_get();
  EXPECT_EQ(std::string(clip.bytes.begin(), clip.bytes.end()), copied);
  platform::clipboard_clear();
}

}  // namespace
