// OrvDcx through its exported entry points, loaded as the library loads it.
#include <gtest/gtest.h>

#include "pdf_dcx_harness.h"

namespace {

using pdf_dcx_test::LockedDib;
using pdf_dcx_test::Owned;
using pdf_dcx_test::TempDir;

struct Dcx {
  pdf_dcx_test::Module m{"OrvDcx.so", "ORVDCX"};
  ORVDCX_BmiWriteToFileFn write = m.sym<ORVDCX_BmiWriteToFileFn>("BmiWriteToFile");
  ORVDCX_BeginMultipageFileFn begin = m.sym<ORVDCX_BeginMultipageFileFn>("BeginMultipageFile");
  ORVDCX_DibWritePageFn page = m.sym<ORVDCX_DibWritePageFn>("DibWritePage");
  ORVDCX_EndMultipageFileFn end = m.sym<ORVDCX_EndMultipageFileFn>("EndMultipageFile");
  ORVDCX_DibFromFileFn read = m.sym<ORVDCX_DibFromFileFn>("DibFromFile");
  ORVDCX_CountPagesInFileFn count = m.sym<ORVDCX_CountPagesInFileFn>("CountPagesInFile");
  ORVDCX_CountPagesInBufferFn count_buffer = m.sym<ORVDCX_CountPagesInBufferFn>("CountPagesInBuffer");
  ORVDCX_SelectPageToReadFn select = m.sym<ORVDCX_SelectPageToReadFn>("SelectPageToRead");
  ORVDCX_SetAppendFlagFn append = m.sym<ORVDCX_SetAppendFlagFn>("SetAppendFlag");
  ORVDCX_VersionFn version = m.sym<ORVDCX_VersionFn>("Version");
};

Dcx& dcx() {
  static Dcx d;
  return d;
}

class DcxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetForTests();
    ASSERT_TRUE(dcx().m.ok()) << dcx().m.error();
    dcx().append(0);
  }
  TempDir dir;
};

DIB_HANDLE bw_image(int w, int h, int seed) {
  const DIB_HANDLE d = dib_test::make_image(1, w, h, seed);
  return d;
}

int write_pages(const std::string& path, const std::vector<DIB_HANDLE>& pages) {
  if (int rc = dcx().begin(path.c_str())) return rc;
  for (DIB_HANDLE p : pages) {
    if (int rc = dcx().page(LockedDib(p).get())) {
      dcx().end();
      return rc;
    }
  }
  return dcx().end();
}

TEST_F(DcxTest, BwPagesRoundTripPixelExact) {
  struct Case {
    int w, h;
    bool top_down, min_is_white;
  };
  std::vector<Case> cases;
  for (int w : {1, 7, 8, 9, 33, 100})
    for (int h : {1, 5})
      for (bool td : {false, true})
        for (bool miw : {false, true}) cases.push_back({w, h, td, miw});
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h) + (c.top_down ? " top-down" : "") +
                 (c.min_is_white ? " min-is-white" : ""));
    Owned src(bw_image(c.w, c.h, c.w + c.h));
    Owned expect(DibCopy(src.get()));
    if (c.min_is_white) {
      // Same picture, stored with inverted bits and table.
      DIB_Negate(src.get());
      DIB_SetColorTableRGB(src.get(), 0, 255, 255, 255);
      DIB_SetColorTableRGB(src.get(), 1, 0, 0, 0);
    }
    if (c.top_down) dib_test::make_top_down(src.get());
    const std::string path = dir.file("p.dcx");
    ASSERT_EQ(dcx().write(LockedDib(src.get()).get(), path.c_str()), 0);
    Owned back(dcx().read(path.c_str()));
    ASSERT_TRUE(back);
    EXPECT_TRUE(pdf_dcx_test::same_pixels(back.get(), expect.get()));
    EXPECT_EQ(DIB_XResolutionInt(back.get()), 300);
  }
}

TEST_F(DcxTest, MultipageSelectAppendAndCount) {
  std::vector<Owned> pages;
  for (int i = 0; i < 3; ++i) pages.emplace_back(bw_image(40 + i, 10 + i, i));
  const std::string path = dir.file("m.dcx");
  ASSERT_EQ(write_pages(path, {pages[0].get(), pages[1].get(), pages[2].get()}), 0);
  EXPECT_EQ(dcx().count(path.c_str()), 3);

  dcx().append(1);
  Owned extra(bw_image(17, 3, 9));
  ASSERT_EQ(dcx().write(LockedDib(extra.get()).get(), path.c_str()), 0);
  ASSERT_EQ(write_pages(path, {pages[0].get()}), 0);
  dcx().append(0);
  EXPECT_EQ(dcx().count(path.c_str()), 5);
  const std::string bytes = pdf_dcx_test::read_file(path);
  EXPECT_EQ(dcx().count_buffer(bytes.data(), static_cast<int32_t>(bytes.size())), 5);

  const DIB_HANDLE expect[] = {pages[0].get(), pages[1].get(), pages[2].get(), extra.get(), pages[0].get()};
  for (int i = 4; i >= 0; --i) {
    dcx().select(i);
    Owned back(dcx().read(path.c_str()));
    EXPECT_TRUE(pdf_dcx_test::same_pixels(back.get(), expect[i])) << "page " << i;
  }
  // The selection is used once: the next read is page 0 again.
  dcx().select(2);
  Owned p2(dcx().read(path.c_str()));
  Owned p0(dcx().read(path.c_str()));
  EXPECT_TRUE(pdf_dcx_test::same_pixels(p2.get(), pages[2].get()));
  EXPECT_TRUE(pdf_dcx_test::same_pixels(p0.get(), pages[0].get()));
  dcx().select(5);
  EXPECT_EQ(dcx().read(path.c_str()), 0u);
}

// A PCX page coded by hand: every byte as a count-1 run where needed.
std::string pcx_page(int w, int h, int planes, const std::vector<std::uint8_t>& scan_bytes, int bpl,
                     const std::string& trailer) {
  std::string p(128, '\0');
  p[0] = 0x0A, p[1] = 5, p[2] = 1, p[3] = 8;
  p[8] = static_cast<char>(w - 1), p[10] = static_cast<char>(h - 1);
  p[12] = 72, p[14] = 72;
  p[65] = static_cast<char>(planes);
  p[66] = static_cast<char>(bpl);
  for (std::uint8_t b : scan_bytes) {
    p += static_cast<char>(0xC1);
    p += static_cast<char>(b);
  }
  return p + trailer;
}

std::string dcx_of(const std::string& page) {
  std::string f(4100, '\0');
  const unsigned char magic[4] = {0xB1, 0x68, 0xDE, 0x3A};
  std::memcpy(f.data(), magic, 4);
  f[4] = static_cast<char>(4100 & 0xFF);
  f[5] = static_cast<char>(4100 >> 8);
  return f + page;
}

TEST_F(DcxTest, ReadsPaletteAndColourPages) {
  // 3 x 2 palette page: indices row 0 = 0 1 2, row 1 = 2 1 0; palette i -> (10i, 20i, 30i).
  std::string palette = "\x0C";
  for (int i = 0; i < 256; ++i) palette += std::string{char(10 * i), char(20 * i), char(30 * i)};
  const std::string pal_path = dir.file("pal.dcx");
  pdf_dcx_test::write_file(pal_path, dcx_of(pcx_page(3, 2, 1, {0, 1, 2, 0, 2, 1, 0, 0}, 4, palette)));
  Owned pal(dcx().read(pal_path.c_str()));
  ASSERT_TRUE(pal);
  EXPECT_EQ(DIB_Depth(pal.get()), 8);
  EXPECT_EQ(DIB_PixelType(pal.get()), DIB_PT_PALETTE);
  std::uint8_t rgb[16];
  DIB_ReadRowRGB(pal.get(), 1, rgb);  // pixel 0 of row 1 is index 2; read as blue, green, red
  EXPECT_EQ(rgb[0], 60);
  EXPECT_EQ(rgb[1], 40);
  EXPECT_EQ(rgb[2], 20);

  // 2 x 1 colour page, planes R, G, B: pixel 0 = (200, 100, 50), pixel 1 = (1, 2, 3).
  const std::string rgb_path = dir.file("rgb.dcx");
  pdf_dcx_test::write_file(rgb_path, dcx_of(pcx_page(2, 1, 3, {200, 1, 100, 2, 50, 3}, 2, "")));
  Owned col(dcx().read(rgb_path.c_str()));
  ASSERT_TRUE(col);
  EXPECT_EQ(DIB_Depth(col.get()), 24);
  DIB_ReadRowRGB(col.get(), 0, rgb);
  EXPECT_EQ(std::vector<int>(rgb, rgb + 6), (std::vector<int>{50, 100, 200, 3, 2, 1}));
}

TEST_F(DcxTest, BadFilesAreRefused) {
  Owned page(bw_image(64, 20, 1));
  const std::string good = dir.file("good.dcx");
  ASSERT_EQ(dcx().write(LockedDib(page.get()).get(), good.c_str()), 0);
  const std::string bytes = pdf_dcx_test::read_file(good);

  std::string huge = dcx_of(pcx_page(1, 1, 1, {}, 1, ""));
  // 60000 x 60000 pixels claimed by a page of a few bytes.
  huge[4100 + 8] = static_cast<char>(0x5F), huge[4100 + 9] = static_cast<char>(0xEA);
  huge[4100 + 10] = static_cast<char>(0x5F), huge[4100 + 11] = static_cast<char>(0xEA);
  huge[4100 + 66] = static_cast<char>(0x60), huge[4100 + 67] = static_cast<char>(0xEA);
  std::string bad_offset = bytes;
  bad_offset[5] = 0x7F;  // first page beyond the end

  const std::vector<std::pair<const char*, std::string>> cases = {
      {"zero length", ""},
      {"header only", bytes.substr(0, 4100)},
      {"truncated page", bytes.substr(0, bytes.size() - 5)},
      {"truncated header", bytes.substr(0, 10)},
      {"no magic", "PK" + bytes.substr(2)},
      {"offset beyond end", bad_offset},
      {"60000 x 60000 claim", huge},
  };
  for (const auto& [name, content] : cases) {
    SCOPED_TRACE(name);
    const std::string path = dir.file("bad.dcx");
    pdf_dcx_test::write_file(path, content);
    TWAIN_ClearError();
    EXPECT_EQ(dcx().read(path.c_str()), 0u);
    EXPECT_NE(TWAIN_LastErrorCode(), 0);
  }
  EXPECT_EQ(dcx().count(dir.file("missing.dcx").c_str()), -1);
  EXPECT_EQ(dcx().count_buffer("xx", 2), -1);
}

TEST_F(DcxTest, WriterRefusesWhatItCannotStore) {
  Owned gray(dib_test::make_image(8, 10, 10));
  EXPECT_NE(dcx().write(LockedDib(gray.get()).get(), dir.file("g.dcx").c_str()), 0);
  Owned page(bw_image(2000, 2000, 3));
  // /dev/full takes the open but fails every write: the error must surface.
  EXPECT_NE(dcx().write(LockedDib(page.get()).get(), "/dev/full"), 0);
  EXPECT_NE(dcx().page(LockedDib(page.get()).get()), 0) << "a page without an open file";
  EXPECT_NE(dcx().end(), 0);
}

}  // namespace
