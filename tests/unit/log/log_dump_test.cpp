// The image dump: header fields, colour tables (full or shortened), masks,
// the middle rows with rows counted from the top, and refused blocks.
#include <cstdint>
#include <cstring>

#include "log/trace.h"
#include "log_test_support.h"
#include "platform/memblock.h"

namespace {

using log_test::count_of;
using log_test::LogTest;

struct DibSpec {
  std::int32_t width, height;
  std::uint16_t bits;
  std::uint32_t compression = 0;
  std::uint32_t colours = 0;  // table entries (gray ramp i,i,i); masks when bit fields
  std::int32_t ppm = 11811;   // 299.9994 DPI
};

std::size_t stride_of(const DibSpec& s) { return ((s.bits * s.width + 31) / 32) * 4; }

// Builds a DIB whose pixel byte k of the row y (counted from the top) holds
// y * 16 + k % 16, so a dump shows which row and byte it read.
std::vector<unsigned char> make_dib(const DibSpec& s) {
  const bool masks = (s.compression & 0xFF) == 3;
  const std::size_t table = masks ? 12 : s.colours * 4;
  const std::size_t rows = static_cast<std::size_t>(std::abs(s.height));
  std::vector<unsigned char> dib(40 + table + stride_of(s) * rows);
  auto put32 = [&](std::size_t at, std::uint32_t v) { std::memcpy(&dib[at], &v, 4); };
  put32(0, 40);
  put32(4, static_cast<std::uint32_t>(s.width));
  put32(8, static_cast<std::uint32_t>(s.height));
  const std::uint16_t planes = 1;
  std::memcpy(&dib[12], &planes, 2);
  std::memcpy(&dib[14], &s.bits, 2);
  put32(16, s.compression);
  put32(20, static_cast<std::uint32_t>(stride_of(s) * rows));
  put32(24, static_cast<std::uint32_t>(s.ppm));
  put32(28, static_cast<std::uint32_t>(s.ppm));
  put32(32, masks ? 0 : s.colours);
  if (masks) {
    for (int i = 0; i < 3; ++i) put32(40 + 4 * i, 0xFFFF);
  } else {
    for (std::uint32_t i = 0; i < s.colours; ++i) {
      dib[40 + 4 * i] = dib[41 + 4 * i] = dib[42 + 4 * i] = static_cast<unsigned char>(i);
    }
  }
  for (std::size_t y = 0; y < rows; ++y) {
    const std::size_t stored = s.height > 0 ? rows - 1 - y : y;
    unsigned char* row = &dib[40 + table + stored * stride_of(s)];
    for (std::size_t k = 0; k < stride_of(s); ++k) row[k] = static_cast<unsigned char>(y * 16 + k % 16);
  }
  return dib;
}

platform::MemHandle to_handle(const std::vector<unsigned char>& bytes) {
  const platform::MemHandle h = platform::mem_alloc(bytes.size());
  std::memcpy(platform::mem_lock(h), bytes.data(), bytes.size());
  platform::mem_unlock(h);
  return h;
}

class LogDumpTest : public LogTest {
 protected:
  void SetUp() override {
    LogTest::SetUp();
    TWAIN_LogFile(1);
    LogPrint("#begin\n");
  }
  std::string dumped() {
    const std::string text = log_text();
    return text.substr(text.find("#begin\n") + 7);
  }
};

TEST_F(LogDumpTest, HeaderFieldsAndRowsOfAnRgbImage) {
  DibSpec spec{16, 4, 24};
  const std::vector<unsigned char> dib = make_dib(spec);
  LogDumpDibHeader(dib.data(), dib.size());
  // H=4: rows 1..3; W=16, B=24: bytes 15 up to 21.
  EXPECT_EQ(dumped(),
            "Size=40  Planes=1\nWidth=16  Height=4  BitCount=24\n"
            "Comp=0x0000  SizeImage=192\n"
            "XPPM=11811 (299.999 DPI) YPPM=11811 (299.999 DPI)\nClrUsed=0 ClrImp=0\n"
            "row[1]+15: 1F 10 11 12 13 14 \n"
            "row[2]+15: 2F 20 21 22 23 24 \n"
            "row[3]+15: 3F 30 31 32 33 34 \n");
}

TEST_F(LogDumpTest, TopDownRowsAndSixteenBitWords) {
  DibSpec spec{8, -2, 16, 3};
  const std::vector<unsigned char> dib = make_dib(spec);
  LogDumpDibHeader(dib.data(), dib.size());
  const std::string out = dumped();
  EXPECT_EQ(count_of(out, "Masks: 0x0000ffff 0x0000ffff 0x0000ffff\n"), 1);
  // W=8, B=16: bytes 2 up to 10, shown as the words 1..4.
  EXPECT_EQ(count_of(out, "row[0]+2: 0302 0504 0706 0908 \nrow[1]+2: 1312 1514 1716 1918 \n"), 1);
}

TEST_F(LogDumpTest, ColourTablesFullOrShortened) {
  struct Case {
    std::uint16_t bits;
    std::uint32_t colours;
    std::vector<int> shown;
    bool ellipsis;
  };
  const Case cases[] = {
      {8, 256, {0, 1, 2, 3, 4, 5, 6, 7, 248, 249, 250, 251, 252, 253, 254, 255}, true},
      {4, 16, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}, false},
      {8, 17, {0, 1, 2, 3, 4, 5, 6, 7, 9, 10, 11, 12, 13, 14, 15, 16}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.colours);
    LogPrint("#case\n");
    const std::vector<unsigned char> dib = make_dib({4, 2, c.bits, 0, c.colours});
    LogDumpDibHeader(dib.data(), dib.size());
    std::string out = dumped();
    out = out.substr(out.rfind("#case\n"));
    EXPECT_EQ(count_of(out, "CT["), static_cast<int>(c.shown.size()));
    for (int i : c.shown) {
      char line[40];
      std::snprintf(line, sizeof line, "CT[%03d] = %3d,%3d,%3d,  0\n", i, i, i, i);
      EXPECT_EQ(count_of(out, line), 1) << line;
    }
    EXPECT_EQ(count_of(out, "CT[007] =   7,  7,  7,  0\n  ...\nCT["), c.ellipsis ? 1 : 0);
  }
}

TEST_F(LogDumpTest, RefusedHeadersAndCompressedData) {
  struct Case {
    const char* name;
    std::uint32_t size_field;
    std::uint32_t compression;
    std::size_t block_cut;  // bytes taken off the block's end
    const char* expected;
    const char* absent;
  };
  const Case cases[] = {
      {"header size too small", 12, 0, 0, "Size=12 ??invalid\n", "Planes"},
      {"header size beyond block", 4000, 0, 0, "Size=4000 ??invalid\n", "Planes"},
      {"compressed stream", 40, 0x0400, 0, "[data is compressed]\n", "row["},
      {"rows beyond block", 40, 0, 100, "row[1]+15: <bad addr>\n", "1F"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LogPrint("#case\n");
    std::vector<unsigned char> dib = make_dib({16, 4, 24, c.compression});
    std::memcpy(&dib[0], &c.size_field, 4);
    LogDumpDibHeader(dib.data(), dib.size() - c.block_cut);
    std::string out = dumped();
    out = out.substr(out.rfind("#case\n"));
    EXPECT_EQ(count_of(out, c.expected), 1) << out;
    EXPECT_EQ(count_of(out, c.absent), 0) << out;
  }
}

TEST_F(LogDumpTest, DumpOfAHandleIndentsTheHeader) {
  const platform::MemHandle h = to_handle(make_dib({4, 1, 1, 0, 2}));
  LogDumpDib(h);
  platform::mem_free(h);
  char handle_text[96];
  std::snprintf(handle_text, sizeof handle_text, "hdib=0x%08lx \n   Size=40  Planes=1\n",
                static_cast<unsigned long>(h));
  const std::string out = dumped();
  EXPECT_EQ(out.rfind(handle_text, 0), 0u) << out;
  EXPECT_EQ(count_of(out, "\n   CT[001] =   1,  1,  1,  0\n"), 1) << out;
  EXPECT_EQ(count_of(out, "\n   row[0]+0: 00 \n"), 1) << out;
}

TEST_F(LogDumpTest, UnusableHandles) {
  const platform::MemHandle small = platform::mem_alloc(39);
  LogDumpDib(small);
  platform::mem_free(small);
  LogDumpDib(0);
  char expected[128];
  std::snprintf(expected, sizeof expected, "hdib=0x%08lx  invalid: size=39\nhdib=0x00000000 ",
                static_cast<unsigned long>(small));
  EXPECT_EQ(dumped(), expected);  // the null handle ends the dump at once
}

}  // namespace
