// The DIB model: allocator and depth rules, block layout and row addressing,
// default tables, the live-image count, resolutions, the table and header
// setters, comparison, validity, and refusing bad handles.
#include <gtest/gtest.h>

#include <climits>
#include <set>
#include <tuple>

#include "dib/allocate.h"
#include "dib_test_support.h"
#include "orivane/trace_log.h"

namespace {

using namespace dib_test;

class DibModelTest : public DibTest {};

TEST_F(DibModelTest, AllocatorNormalisesDepthAndFillsTheTable) {
  struct Case {
    const char* what;
    bool create;  // DIB_Create (else DIB_Allocate)
    int type, depth;
    int want_depth, want_type, want_colours, want_compression;
  };
  const Case cases[] = {
      {"gray, depth 0", true, DIB_PT_GRAY, 0, 8, DIB_PT_GRAY, 256, 0},
      {"gray, depth 15", true, DIB_PT_GRAY, 15, 16, DIB_PT_GRAY, 0, 3},
      {"bw, depth -3", true, DIB_PT_BW, -3, 1, DIB_PT_BW, 2, 0},
      {"palette, depth 0", true, DIB_PT_PALETTE, 0, 8, DIB_PT_PALETTE, 256, 0},
      {"palette, depth 4", true, DIB_PT_PALETTE, 4, 4, DIB_PT_PALETTE, 16, 0},
      {"cmyk, depth 0", true, DIB_PT_CMYK, 0, 32, DIB_PT_CMYK, 0, 5},
      {"cmy, depth 0", true, DIB_PT_CMY, 0, 24, DIB_PT_CMY, 0, 5},
      {"cmy, depth 48", true, DIB_PT_CMY, 48, 48, DIB_PT_CMY, 0, 5},
      {"rgb, depth 16 is 5-5-5 colour", true, DIB_PT_RGB, 16, 16, DIB_PT_RGB, 0, 3},
      {"rgb, depth 0", true, DIB_PT_RGB, 0, 24, DIB_PT_RGB, 0, 0},
      {"allocate 12", false, 0, 12, 24, DIB_PT_RGB, 0, 0},
      {"allocate 2", false, 0, 2, 4, DIB_PT_GRAY, 16, 0},
      {"allocate 7", false, 0, 7, 8, DIB_PT_GRAY, 256, 0},
      {"allocate 15", false, 0, 15, 16, DIB_PT_GRAY, 0, 3},
      {"allocate 64", false, 0, 64, 24, DIB_PT_RGB, 0, 0},
      {"allocate 0", false, 0, 0, 24, DIB_PT_RGB, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Owned h(c.create ? DIB_Create(c.type, 5, 3, c.depth) : DIB_Allocate(c.depth, 5, 3));
    ASSERT_TRUE(h);
    EXPECT_EQ(DIB_Depth(h.get()), c.want_depth);
    EXPECT_EQ(DIB_PixelType(h.get()), c.want_type);
    EXPECT_EQ(DIB_ColorCount(h.get()), c.want_colours);
    EXPECT_EQ(DIB_CompressionLowByte(h.get()), c.want_compression);
    EXPECT_EQ(DIB_IsValid(h.get()), 1);
  }
}

TEST_F(DibModelTest, GrayRampsAndSixteenBitMasks) {
  Owned g8(DIB_Create(DIB_PT_GRAY, 1, 1, 0));
  for (int i : {0, 1, 128, 255}) EXPECT_EQ(DIB_ColorTableG(g8.get(), i), i);
  Owned g4(DIB_Create(DIB_PT_GRAY, 1, 1, 4));
  for (int i = 0; i < 16; ++i) EXPECT_EQ(DIB_ColorTableR(g4.get(), i), i * 17);
  Owned bw(DIB_Create(DIB_PT_BW, 1, 1, 1));
  EXPECT_EQ(DIB_ColorTableB(bw.get(), 0), 0);
  EXPECT_EQ(DIB_ColorTableB(bw.get(), 1), 255);
  Owned g16(DIB_Create(DIB_PT_GRAY, 1, 1, 15));
  const auto block = block_bytes(g16.get());
  EXPECT_EQ(get32(block, 40), 0xFFFFu);
  EXPECT_EQ(get32(block, 44), 0xFFFFu);
  EXPECT_EQ(get32(block, 48), 0xFFFFu);
}

TEST_F(DibModelTest, StandardPaletteEndsAndDistinctEntries) {
  const auto& p = dib::standard_palette();
  const int low[10][3] = {{0, 0, 0},     {128, 0, 0},   {0, 128, 0},     {128, 128, 0},   {0, 0, 128},
                          {128, 0, 128}, {0, 128, 128}, {192, 192, 192}, {192, 220, 192}, {166, 202, 240}};
  const int high[10][3] = {{255, 251, 240}, {160, 160, 164}, {128, 128, 128}, {255, 0, 0},   {0, 255, 0},
                           {255, 255, 0},   {0, 0, 255},     {255, 0, 255},   {0, 255, 255}, {255, 255, 255}};
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(std::make_tuple(p[i].red, p[i].green, p[i].blue),
              std::make_tuple(low[i][0], low[i][1], low[i][2])) << "entry " << i;
    EXPECT_EQ(std::make_tuple(p[246 + i].red, p[246 + i].green, p[246 + i].blue),
              std::make_tuple(high[i][0], high[i][1], high[i][2])) << "entry " << 246 + i;
  }
  std::set<int> colours;
  for (const auto& e : p) colours.insert(e.red << 16 | e.green << 8 | e.blue);
  EXPECT_EQ(colours.size(), 256u);
  // The 16-colour table is entries 0-7 and 248-255.
  Owned h(DIB_Create(DIB_PT_PALETTE, 1, 1, 4));
  EXPECT_EQ(DIB_ColorTableR(h.get(), 8), 128);  // palette entry 248: gray
  EXPECT_EQ(DIB_ColorTableR(h.get(), 9), 255);  // palette entry 249: red
  EXPECT_EQ(DIB_ColorTableG(h.get(), 9), 0);
  EXPECT_EQ(DIB_ColorTableB(h.get(), 15), 255);  // white
}

TEST_F(DibModelTest, StrideImageSizeAndBlockSize) {
  struct Case {
    int depth, width, height;
    int stride;
    std::size_t block;
  };
  const Case cases[] = {
      {1, 1, 1, 4, 40 + 8 + 4},       {1, 33, 2, 8, 40 + 8 + 16},   {4, 9, 1, 8, 40 + 64 + 8},
      {8, 5, 3, 8, 40 + 1024 + 24},   {16, 3, 2, 8, 40 + 12 + 16},  {24, 10, 10, 32, 40 + 320},
      {24, 1, 1, 4, 44},              {32, 3, 1, 12, 52},            {48, 3, 2, 20, 80},
      {24, 0, 5, 0, 40},              {8, 5, 0, 8, 40 + 1024},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(label(c.depth, c.width, c.height));
    Owned h(DIB_Allocate(c.depth, c.width, c.height));
    ASSERT_TRUE(h);
    EXPECT_EQ(DIB_RowBytes(h.get()), c.stride);
    EXPECT_EQ(platform::mem_size(h.get()), c.block);
    EXPECT_EQ(get32(block_bytes(h.get()), 20), static_cast<std::uint32_t>(c.stride * c.height));
  }
}

TEST_F(DibModelTest, RowsAreAddressedFromTheTop) {
  for (const bool top_down : {false, true}) {
    SCOPED_TRACE(top_down ? "top-down" : "bottom-up");
    Owned h(DIB_Allocate(8, 4, 5));
    if (top_down) make_top_down(h.get());
    const std::uint8_t marker[4] = {1, 2, 3, 4};
    ASSERT_EQ(DIB_WriteRow(h.get(), 0, marker, 4), 4);
    const auto block = block_bytes(h.get());
    const std::size_t pixels = 40 + 1024;
    const std::size_t stored = top_down ? 0 : 4 * 4;  // the last stored row when bottom-up
    EXPECT_EQ(block[pixels + stored], 1);
    EXPECT_EQ(block[pixels + stored + 3], 4);
    std::uint8_t back[4] = {};
    EXPECT_EQ(DIB_ReadRow(h.get(), 0, back, 4), 4);
    EXPECT_EQ(back[3], 4);
  }
}

TEST_F(DibModelTest, RowAccessLimits) {
  Owned h(DIB_Allocate(24, 3, 2));  // stride 12, used 9
  std::uint8_t buf[64];
  std::memset(buf, 0xAB, sizeof buf);
  EXPECT_EQ(DIB_ReadRow(h.get(), -1, buf, 64), 0);
  EXPECT_EQ(DIB_ReadRow(h.get(), 2, buf, 64), 0);
  EXPECT_EQ(DIB_ReadRow(h.get(), 0, nullptr, 64), 0);
  EXPECT_EQ(DIB_ReadRow(h.get(), 1, buf, 64), 12);  // never more than the stride
  EXPECT_EQ(DIB_ReadRow(h.get(), 1, buf, 5), 5);
  EXPECT_EQ(DIB_ReadPackedRow(h.get(), 1, buf), 9);
  EXPECT_EQ(DIB_WriteRow(h.get(), 5, buf, 64), 0);
}

TEST_F(DibModelTest, PackedWriteClearsBitsBeyondTheWidth) {
  struct Case {
    int depth, width;
    std::vector<std::uint8_t> written, read_back;
  };
  const Case cases[] = {
      {1, 3, {0xFF}, {0xE0}},
      {1, 9, {0xFF, 0xFF}, {0xFF, 0x80}},
      {1, 8, {0xFF}, {0xFF}},
      {4, 3, {0xFF, 0xFF}, {0xFF, 0xF0}},
      {8, 3, {0xFF, 0xFF, 0xFF}, {0xFF, 0xFF, 0xFF}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(label(c.depth, c.width, 1));
    Owned h(DIB_Allocate(c.depth, c.width, 1));
    DIB_WritePackedRow(h.get(), 0, c.written.data());
    std::vector<std::uint8_t> back(c.read_back.size());
    DIB_ReadPackedRow(h.get(), 0, back.data());
    EXPECT_EQ(back, c.read_back);
  }
}

TEST_F(DibModelTest, WriteOneSamplePlane) {
  Owned rgb(DIB_Allocate(24, 3, 1));
  const std::uint8_t green[3] = {10, 20, 30};
  ASSERT_EQ(DIB_WriteRowSample(rgb.get(), 0, green, 1), 1);
  std::uint8_t row[12] = {};
  DIB_ReadRow(rgb.get(), 0, row, 12);
  EXPECT_EQ(std::vector<std::uint8_t>(row, row + 9), (std::vector<std::uint8_t>{0, 10, 0, 0, 20, 0, 0, 30, 0}));
  EXPECT_EQ(DIB_WriteRowSample(rgb.get(), 0, green, 3), 0);  // no fourth sample
  Owned gray(DIB_Allocate(8, 3, 1));
  EXPECT_EQ(DIB_WriteRowSample(gray.get(), 0, green, 0), 1);
  Owned wide(DIB_Allocate(48, 3, 1));
  EXPECT_EQ(DIB_WriteRowSample(wide.get(), 0, green, 0), 0);  // 16 bits per sample
}

TEST_F(DibModelTest, PixelTypeFollowsTheTable) {
  Owned h(DIB_Create(DIB_PT_GRAY, 2, 2, 8));
  DIB_SetColorTableRGB(h.get(), 3, 10, 20, 30);
  EXPECT_EQ(DIB_PixelType(h.get()), DIB_PT_PALETTE);
  DIB_SetGrayColorTable(h.get());
  EXPECT_EQ(DIB_PixelType(h.get()), DIB_PT_GRAY);
  DIB_SetColorTableRGB(h.get(), 256, 1, 2, 3);  // beyond the table: ignored
  EXPECT_EQ(DIB_PixelType(h.get()), DIB_PT_GRAY);
  EXPECT_EQ(DIB_ColorTableR(h.get(), 256), 0);
  EXPECT_EQ(DIB_ColorTableR(h.get(), -1), 0);
}

TEST_F(DibModelTest, SamplesAndBitsPerSample) {
  struct Case {
    int type, depth, spp, bps;
  };
  const Case cases[] = {{DIB_PT_BW, 1, 1, 1},   {DIB_PT_GRAY, 8, 1, 8},  {DIB_PT_GRAY, 16, 1, 16},
                        {DIB_PT_RGB, 16, 3, 5}, {DIB_PT_RGB, 24, 3, 8},  {DIB_PT_RGB, 32, 4, 8},
                        {DIB_PT_RGB, 48, 3, 16}, {DIB_PT_CMY, 24, 3, 8}, {DIB_PT_CMYK, 32, 4, 8}};
  for (const Case& c : cases) {
    SCOPED_TRACE(label(c.depth, 1, 1));
    Owned h(DIB_Create(c.type, 1, 1, c.depth));
    EXPECT_EQ(DIB_SamplesPerPixel(h.get()), c.spp);
    EXPECT_EQ(DIB_BitsPerSample(h.get()), c.bps);
  }
}

TEST_F(DibModelTest, ResolutionInPixelsPerMetre) {
  Owned h(DIB_Allocate(8, 1, 1));
  struct Case {
    double dpi_in;
    std::int32_t ppm;
    double dpi_out;
  };
  const Case cases[] = {
      {300, 11811, 300},       {100, 3937, 100},         {72, 2835, 72},
      {25.4, 1000, 25.4},      {0, 0, 0},                {600, 23622, 600},
      {1e12, INT32_MAX, -1},  // clamped to the field
      {-1e12, INT32_MIN, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dpi_in);
    DIB_SetResolution(h.get(), c.dpi_in, c.dpi_in);
    EXPECT_EQ(get32(block_bytes(h.get()), 24), static_cast<std::uint32_t>(c.ppm));
    if (c.dpi_out >= 0) {
      EXPECT_DOUBLE_EQ(DIB_XResolution(h.get()), c.dpi_out);
    }
  }
  // Below 50 DPI nothing is snapped; 11811 ppm is 299.9994 DPI, read as 300.
  DIB_SetResolution(h.get(), 300, 49.9);
  EXPECT_EQ(DIB_XResolutionInt(h.get()), 300);
  EXPECT_NEAR(DIB_YResolution(h.get()), 1965 * 0.0254, 1e-9);
  EXPECT_NEAR(DIB_XResolutionInUnits(h.get(), DIB_UNIT_CENTIMETERS), 300 / 2.54, 1e-9);
  EXPECT_DOUBLE_EQ(DIB_ConvertLength(1, DIB_UNIT_INCHES, DIB_UNIT_POINTS), 72);
  EXPECT_DOUBLE_EQ(DIB_ConvertLength(1440, DIB_UNIT_TWIPS, DIB_UNIT_PICAS), 6);
  EXPECT_DOUBLE_EQ(DIB_ConvertLength(2, 9, DIB_UNIT_INCHES), 2);
}

TEST_F(DibModelTest, LiveImageCountAndFreeing) {
  const int start = DIB_LiveImageCount();
  DIB_HANDLE a = DIB_Allocate(8, 2, 2);
  DIB_HANDLE b = DibCopy(a);
  EXPECT_EQ(DIB_LiveImageCount(), start + 2);
  EXPECT_EQ(block_bytes(a), block_bytes(b));
  DIB_Free(0);
  EXPECT_EQ(DIB_LiveImageCount(), start + 2);
  DIB_HANDLE array[3] = {a, 0, b};
  DIB_FreeArray(array, 3);
  EXPECT_EQ(DIB_LiveImageCount(), start);
  EXPECT_EQ(array[0], a);  // entries are left as they were
  DIB_Free(a);            // stale now: refused, count unchanged
  EXPECT_EQ(DIB_LiveImageCount(), start);
}

TEST_F(DibModelTest, StaleAndForeignHandlesAreRefused) {
  DIB_HANDLE stale = DIB_Allocate(8, 4, 4);
  DIB_Free(stale);
  const DIB_HANDLE foreign = platform::mem_alloc(12);  // a block, but no DIB
  const DIB_HANDLE made_up = 0x12345;
  for (DIB_HANDLE h : {stale, foreign, made_up}) {
    SCOPED_TRACE(h);
    TWAIN_ClearError();
    EXPECT_EQ(DIB_Width(h), 0);
    EXPECT_EQ(TWAIN_LastErrorCode(), ERR_BAD_DIB);
    EXPECT_EQ(DIB_PixelType(h), DIB_PT_RGB);
    EXPECT_EQ(DIB_IsValid(h), 0);
    EXPECT_EQ(DibCopy(h), 0u);
    EXPECT_EQ(DIB_Negate(h), 0);
    EXPECT_EQ(DIB_Rotate90(h, 1), 0u);
    EXPECT_EQ(DIB_ConvertToFormat(h, DIB_PT_GRAY, 8, nullptr), 0u);
    std::uint8_t buf[16];
    EXPECT_EQ(DIB_ReadRow(h, 0, buf, 16), 0);
    DIB_SetResolution(h, 100, 100);
    DIB_Free(h);
  }
  EXPECT_TRUE(platform::mem_is_valid(foreign));  // DIB_Free left the foreign block alone
  platform::mem_free(foreign);
  // A null handle is no error for a query.
  TWAIN_ClearError();
  EXPECT_EQ(DIB_Height(0), 0);
  EXPECT_EQ(TWAIN_LastErrorCode(), 0);
}

TEST_F(DibModelTest, FirstErrorSurvivesASecondFailure) {
  TWAIN_ClearError();
  DIB_HANDLE stale = DIB_Allocate(8, 1, 1);
  DIB_Free(stale);
  EXPECT_EQ(DIB_Negate(stale), 0);
  EXPECT_EQ(DIB_Create(DIB_PT_RGB, INT_MAX, INT_MAX, 48), 0u);  // a memory failure next
  EXPECT_EQ(TWAIN_LastErrorCode(), ERR_BAD_DIB);
  EXPECT_EQ(error_text(), "Internal problem: Bad Dib detected (DIB_Negate)");
}

TEST_F(DibModelTest, HostileSizesFailCleanly) {
  const std::size_t blocks = platform::mem_live_count();
  struct Case {
    int depth, width, height;
  };
  for (const Case& c : {Case{48, 100000, 100000}, Case{24, INT_MAX, 2}, Case{48, INT_MAX, INT_MAX}}) {
    SCOPED_TRACE(label(c.depth, c.width, c.height));
    TWAIN_ClearError();
    EXPECT_EQ(DIB_Create(DIB_PT_RGB, c.width, c.height, c.depth), 0u);
    EXPECT_EQ(TWAIN_LastErrorCode(), ERR_MEMORY);
    EXPECT_EQ(error_text(), "Not enough memory or internal error while processing: DIB_Create");
  }
  EXPECT_EQ(platform::mem_live_count(), blocks);
  Owned negative(DIB_Create(DIB_PT_GRAY, -5, -7, 8));  // negative sizes count as 0
  EXPECT_EQ(DIB_Width(negative.get()), 0);
  EXPECT_EQ(DIB_Height(negative.get()), 0);
}

TEST_F(DibModelTest, TruncatedOrCorruptBlocksNeverReadOutside) {
  Owned h(DIB_Allocate(24, 8, 8));
  auto bytes = block_bytes(h.get());
  struct Case {
    const char* what;
    std::size_t at;
    std::uint32_t value;
    std::size_t keep;  // bytes of the block kept
    int valid = 0;
  };
  const Case cases[] = {
      {"cut short", 0, 40, 40 + 24 * 7},       {"huge height", 8, 0x7FFFFFFF, 0},
      {"min height", 8, 0x80000000, 0},        {"huge width", 4, 0x7FFFFFFF, 0},
      {"negative width", 4, 0xFFFFFFF0, 0},    {"header size too big", 0, 1000, 0},
      {"colours used huge", 32, 0xFFFFFFFF, 0}, {"compressed stream", 16, 0x0600, 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto corrupt = bytes;
    put32(corrupt, c.at, c.value);
    if (c.keep) corrupt.resize(c.keep);
    const DIB_HANDLE raw = raw_block(corrupt);
    EXPECT_EQ(DIB_IsValid(raw), c.valid);
    std::uint8_t row[64];
    DIB_ReadRow(raw, 3, row, sizeof row);
    DIB_Negate(raw);
    DIB_FlipHorizontal(raw);
    DIB_Free(DIB_Rotate90(raw, 1));
    DIB_Free(DIB_ConvertToFormat(raw, DIB_PT_GRAY, 8, nullptr));
    DIB_Dump(raw);
    platform::mem_free(raw);
  }
}

TEST_F(DibModelTest, ColourCountChangeKeepsThePixels) {
  Owned h(DIB_Create(DIB_PT_PALETTE, 5, 3, 8));
  fill_pattern(h.get());
  const auto before = packed_rows(h.get());
  ASSERT_EQ(DIB_SetColorCount(h.get(), 16), 1);
  EXPECT_EQ(DIB_ColorCount(h.get()), 16);
  EXPECT_EQ(packed_rows(h.get()), before);
  EXPECT_EQ(platform::mem_size(h.get()), 40u + 64 + 8 * 3);
  ASSERT_EQ(DIB_SetColorCount(h.get(), 0), 1);  // back to the full table
  EXPECT_EQ(DIB_ColorCount(h.get()), 256);
  EXPECT_EQ(packed_rows(h.get()), before);
  EXPECT_EQ(DIB_ColorTableR(h.get(), 200), 0);  // new entries are black
  EXPECT_EQ(DIB_SetColorCount(h.get(), 257), 0);
  Owned rgb(DIB_Allocate(24, 1, 1));
  EXPECT_EQ(DIB_SetColorCount(rgb.get(), 4), 0);
}

TEST_F(DibModelTest, FirstEntryWhiteOrBlack) {
  Owned bw(DIB_Create(DIB_PT_BW, 1, 1, 1));
  EXPECT_EQ(DIB_FirstEntryBlack(bw.get()), 1);
  EXPECT_EQ(DIB_FirstEntryWhite(bw.get()), 0);
  DIB_SetColorTableRGB(bw.get(), 0, 255, 255, 255);
  EXPECT_EQ(DIB_FirstEntryWhite(bw.get()), 1);
  Owned rgb(DIB_Allocate(24, 1, 1));
  EXPECT_EQ(DIB_FirstEntryBlack(rgb.get()), 1);  // no table
  EXPECT_EQ(DIB_FirstEntryWhite(rgb.get()), 0);
}

TEST_F(DibModelTest, CompressionFieldSetters) {
  Owned h(DIB_Allocate(24, 2, 2));
  DIB_SetSubtractive(h.get(), 1);
  EXPECT_EQ(DIB_PixelType(h.get()), DIB_PT_CMY);
  DIB_SetSubtractive(h.get(), 0);
  EXPECT_EQ(DIB_PixelType(h.get()), DIB_PT_RGB);
  Owned g16(DIB_Allocate(16, 2, 2));
  DIB_SetSubtractive(g16.get(), 1);  // 16-bit keeps its masks
  EXPECT_EQ(DIB_CompressionLowByte(g16.get()), 3);
  DIB_SetCompressionCode(h.get(), 6);
  EXPECT_EQ(DIB_IsCompressed(h.get()), 1);
  EXPECT_EQ(DIB_CompressionCode(h.get()), 6);
  EXPECT_EQ(DIB_CompressionLowByte(h.get()), 0);
  EXPECT_EQ(DIB_Negate(h.get()), 0);  // rows of a stream are not pixels
  DIB_SetCompressionCode(h.get(), 0);
  EXPECT_EQ(DIB_IsCompressed(h.get()), 0);
}

TEST_F(DibModelTest, ShrinkAndReplace) {
  Owned h(DIB_Allocate(8, 3, 2));
  fill_pattern(h.get());
  const auto rows = packed_rows(h.get());
  platform::mem_realloc(h.get(), platform::mem_size(h.get()) + 100);
  ASSERT_EQ(DIB_ShrinkToPacked(h.get()), 1);
  EXPECT_EQ(platform::mem_size(h.get()), 40u + 1024 + 8);
  EXPECT_EQ(packed_rows(h.get()), rows);

  Owned target(DIB_Allocate(1, 1, 1));
  const int live = DIB_LiveImageCount();
  DIB_HANDLE source = make_image(24, 5, 4);
  const auto want = block_bytes(source);
  EXPECT_EQ(DIB_ReplaceContents(target.get(), source), 1);
  EXPECT_EQ(block_bytes(target.get()), want);
  EXPECT_EQ(DIB_LiveImageCount(), live);  // the source was released
  EXPECT_FALSE(platform::mem_is_valid(source));
  EXPECT_EQ(DIB_ReplaceContents(target.get(), target.get()), 1);  // itself: nothing to do
  DIB_HANDLE stale = DIB_Allocate(8, 1, 1);
  DIB_Free(stale);
  DIB_HANDLE orphan = DIB_Allocate(8, 1, 1);
  EXPECT_EQ(DIB_ReplaceContents(stale, orphan), 0);
  EXPECT_FALSE(platform::mem_is_valid(orphan));  // released all the same
}

TEST_F(DibModelTest, ReadWholeBlock) {
  Owned h(DIB_Allocate(8, 2, 2));
  std::vector<std::uint8_t> buf(2000, 0xEE);
  EXPECT_EQ(DIB_ReadData(h.get(), buf.data(), 2000), 40 + 1024 + 8);
  EXPECT_EQ(get32(buf, 0), 40u);
  EXPECT_EQ(DIB_ReadData(h.get(), buf.data(), 10), 10);
  EXPECT_EQ(DIB_ReadData(h.get(), nullptr, 10), 0);
}

TEST_F(DibModelTest, ExactAndAlmostEqual) {
  for (const DepthCase& d : all_depths()) {
    SCOPED_TRACE(d.depth);
    Owned a(make_image(d.depth, 7, 3));
    Owned b(DibCopy(a.get()));
    EXPECT_EQ(DIB_Equal(a.get(), b.get()), 1);
    EXPECT_EQ(DIB_AlmostEqual(a.get(), b.get(), 0), 1);
    make_top_down(b.get());  // the same picture stored the other way up
    EXPECT_EQ(DIB_Equal(a.get(), b.get()), 1);
    DIB_SetResolution(b.get(), 300.5, 300);
    EXPECT_EQ(DIB_Equal(a.get(), b.get()), 0);
    EXPECT_EQ(DIB_AlmostEqual(a.get(), b.get(), 0), 0);  // 0.5 DPI apart
  }
  Owned a(make_image(24, 4, 4));
  Owned b(DibCopy(a.get()));
  std::uint8_t row[16];
  DIB_ReadRow(b.get(), 2, row, 16);
  row[4] = static_cast<std::uint8_t>(row[4] > 128 ? row[4] - 3 : row[4] + 3);
  DIB_WriteRow(b.get(), 2, row, 16);
  EXPECT_EQ(DIB_Equal(a.get(), b.get()), 0);
  EXPECT_EQ(DIB_AlmostEqual(a.get(), b.get(), 3), 1);
  EXPECT_EQ(DIB_AlmostEqual(a.get(), b.get(), 2), 0);
  EXPECT_EQ(DIB_Equal(a.get(), a.get()), 1);
  EXPECT_EQ(DIB_Equal(a.get(), 0), 0);
  Owned gray(DIB_Allocate(8, 4, 4));
  EXPECT_EQ(DIB_AlmostEqual(a.get(), gray.get(), 255), 0);  // types differ
  Owned empty1(DIB_Allocate(24, 0, 3)), empty2(DIB_Allocate(24, 0, 3));
  EXPECT_EQ(DIB_Equal(empty1.get(), empty2.get()), 1);
}

TEST_F(DibModelTest, ValidityTest) {
  Owned h(DIB_Allocate(8, 3, 3));
  auto bytes = block_bytes(h.get());
  struct Case {
    const char* what;
    std::size_t at;
    int size;  // 2 or 4 bytes
    std::uint32_t value;
    int valid;
  };
  const Case cases[] = {{"as made", 0, 4, 40, 1},          {"planes 2", 12, 2, 2, 0},
                        {"header 44", 0, 4, 44, 0},        {"colours used 257", 32, 4, 257, 0},
                        {"colours important 300", 36, 4, 300, 0}, {"depth 2", 14, 2, 2, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto b = bytes;
    std::memcpy(&b[c.at], &c.value, static_cast<std::size_t>(c.size));
    const DIB_HANDLE raw = raw_block(b);
    EXPECT_EQ(DIB_IsValid(raw), c.valid);
    platform::mem_free(raw);
  }
}

TEST_F(DibModelTest, TraceLines) {
  LogResetForTests();
  LogAttach();
  const std::string folder = testing::TempDir();
  TWAIN_SetLogFolder(folder.c_str());
  TWAIN_SetLogName("dib_trace.log");
  TWAIN_LogFile(2);
  DIB_HANDLE h = DIB_Create(DIB_PT_GRAY, 3, 2, 0);
  DIB_Free(DIB_Allocate(15, 1, 1));
  DIB_Free(0);
  DIB_Free(h);
  TWAIN_LogFile(0);
  const std::string log = read_file(TWAIN_LogFileName());
  EXPECT_NE(log.find("DIB_Create(1, 3, 2, 0) (using Depth=8)\n => 0x"), std::string::npos) << log;
  EXPECT_NE(log.find("DIB_Allocate(15, 1, 1)\n (using depth=16)\n"),
            std::string::npos) << log;
  EXPECT_NE(log.find("DIB_Free(NULL)\n"), std::string::npos);
  EXPECT_NE(log.find(" in use: "), std::string::npos);
  LogResetForTests();  // leave the log as other tests expect it
  LogAttach();
}

}  // namespace
