// Post-transfer processing without a device: the device's answers and the
// page analyses are stood in for through the step table.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "../dib/dib_test_support.h"
#include "dib/allocate.h"
#include "dib/dib.h"
#include "orivane/twain.h"
#include "twain/acquisition/acquire.h"
#include "twain/acquisition/post_process.h"
#include "twain/capabilities/deferred.h"
#include "twain/capabilities/switches.h"
#include "twain/session/session.h"

namespace {

using dib_test::error_text;

// What the stand-in device reports.
struct FakeDevice {
  double x_dpi = 0, y_dpi = 0;
  int pixel_type = -1;
  int analyses_run = 0;
  bool blank = false;
};
FakeDevice* fake = nullptr;

double fake_resolution(unsigned cap) { return cap == ICAP_XRESOLUTION ? fake->x_dpi : fake->y_dpi; }
int fake_pixel_type() { return fake->pixel_type; }
bool fake_is_blank(const dib::DibView&, double) { return fake->blank; }
dib::Handle fake_deskew(dib::Handle page) {
  ++fake->analyses_run;
  return dib::dib_copy(page);
}
dib::Handle fake_crop(dib::Handle, int) {
  ++fake->analyses_run;
  return 0;
}
void fake_contrast(const dib::DibView&) { ++fake->analyses_run; }

class PostProcessTest : public dib_test::DibTest {
 protected:
  void SetUp() override {
    DibTest::SetUp();
    fake = &device_;
    twain::PageSteps& s = twain::page_steps();
    s.device_resolution = fake_resolution;
    s.device_pixel_type = fake_pixel_type;
    s.is_blank = fake_is_blank;
    s.deskew = fake_deskew;
    s.crop = fake_crop;
    s.contrast = fake_contrast;
  }
  void TearDown() override {
    twain::page_steps_reset();
    fake = nullptr;
    DibTest::TearDown();
  }

  FakeDevice device_;
};

// A `depth`-bit image whose pixels (as indexes) come from `pixel(x, y)`.
template <typename F>
dib::Handle make_page(int depth, int width, int height, F pixel) {
  dib::Dib d = dib::allocate(depth, width, height);
  dib::Locked lock(d.get());
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = lock->row(y);
    for (int x = 0; x < width; ++x) {
      const unsigned v = pixel(x, y);
      if (depth == 8) {
        row[x] = static_cast<std::uint8_t>(v);
      } else if (v) {
        row[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
      }
    }
  }
  return d.release();
}

unsigned index_at(dib::Handle h, int x, int y) {
  dib::Locked lock(h);
  const std::uint8_t* row = lock->row(y);
  return lock->depth() == 8 ? row[x] : (row[x / 8] >> (7 - x % 8)) & 1;
}

std::vector<dib::Rgbq> table_of(dib::Handle h) {
  dib::Locked lock(h);
  return {lock->table().begin(), lock->table().end()};
}

void set_table(dib::Handle h, const std::vector<dib::Rgbq>& t) {
  dib::Locked lock(h);
  std::copy(t.begin(), t.end(), lock->table().begin());
}

dib::InfoHeader header_of(dib::Handle h) {
  dib::Locked lock(h);
  return lock->header();
}

TEST_F(PostProcessTest, BrokenBlocksAreReturnedUntouched) {
  const dib_test::Owned allocated(DIB_Allocate(8, 10, 10));
  const std::vector<std::uint8_t> sound = dib_test::block_bytes(allocated.get());
  struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;
  };
  std::vector<Case> cases;
  cases.push_back({"shorter than a header", std::vector<std::uint8_t>(20, 0)});
  cases.push_back({"image size beyond the block", sound});
  dib_test::put32(cases.back().bytes, 20, static_cast<std::uint32_t>(sound.size() + 1));
  cases.push_back({"image size below the rows", sound});
  dib_test::put32(cases.back().bytes, 20, 10 * 12 - 1);
  cases.push_back({"rows beyond the block", sound});
  dib_test::put32(cases.back().bytes, 20, 0);
  dib_test::put32(cases.back().bytes, 8, 11);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TWAIN_ClearError();
    const DIB_HANDLE h = dib_test::raw_block(c.bytes);
    EXPECT_EQ(twain::PostProcessDib(h, nullptr), h);
    EXPECT_EQ(dib_test::block_bytes(h), c.bytes);
    EXPECT_EQ(TWAIN_LastErrorCode(), ERR_BAD_DIB);
    EXPECT_NE(error_text().find("(PostProcessDib)"), std::string::npos) << error_text();
    platform::mem_free(h);
  }
}

TEST_F(PostProcessTest, ResolutionIsRecoveredFromTheDevice) {
  struct Case {
    const char* name;
    int page_dpi;  // 0 = fields left 0
    const char* product;
    double x, y;
    int units;
    int expect_x_ppm, expect_y_ppm;
  };
  const Case cases[] = {
      {"inches, fields 0", 0, "Virtual Scanner", 300, 300, TWUN_INCHES, 11811, 11811},
      {"centimetres", 0, "Virtual Scanner", 118.11, 118.11, TWUN_CENTIMETERS, 11811, 11811},
      {"units unknown count as inches", 0, "", 300, 0, -1, 11811, 11811},
      {"different x and y", 0, "", 200, 400, TWUN_INCHES, 7874, 15748},
      {"the page's own resolution stands", 150, "Virtual Scanner", 300, 300, TWUN_INCHES, 5906, 5906},
      {"one driver's values are always replaced", 150, "SHARP TWAIN AR/DM", 300, 300, TWUN_INCHES, 11811,
       11811},
      {"a name that only begins like it is not", 150, "SHARP TWAIN AR/DM 2", 300, 300, TWUN_INCHES, 5906,
       5906},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    dib_test::Owned page(DIB_Allocate(8, 4, 4));
    DIB_SetResolution(page.get(), c.page_dpi, c.page_dpi);
    twain::session().source_product = c.product;
    twain::acquisition().units_at_enable = c.units;
    device_.x_dpi = c.x;
    device_.y_dpi = c.y;
    twain::recover_resolution(page.get());
    EXPECT_EQ(header_of(page.get()).x_ppm, c.expect_x_ppm);
    EXPECT_EQ(header_of(page.get()).y_ppm, c.expect_y_ppm);
  }
}

TEST_F(PostProcessTest, MostlyBlackPagesAreTurnedBlackOnWhite) {
  const std::vector<dib::Rgbq> standard = {{0, 0, 0, 0}, {255, 255, 255, 0}};
  const std::vector<dib::Rgbq> reversed = {{255, 255, 255, 0}, {0, 0, 0, 0}};
  struct Case {
    const char* name;
    std::vector<dib::Rgbq> table;
    int black_percent;  // of the picture as seen through the table
    int switch_on;
    bool pixels_inverted;
    std::vector<dib::Rgbq> table_after;
  };
  const Case cases[] = {
      {"90% black, standard table", standard, 90, 1, true, standard},
      {"90% black, entry 0 white", reversed, 90, 1, false, standard},
      {"80% black", standard, 80, 1, false, standard},
      {"switch off", standard, 90, 0, false, standard},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    twain::switches().auto_negate = c.switch_on;
    const unsigned black_index = c.table[0].green == 0 ? 0 : 1;
    // 21 x 5: the row's last byte has padding bits.
    auto is_black = [&](int x, int y) { return (y * 21 + x) * 100 < c.black_percent * 105; };
    dib_test::Owned page(make_page(1, 21, 5, [&](int x, int y) {
      return is_black(x, y) ? black_index : 1 - black_index;
    }));
    set_table(page.get(), c.table);
    ASSERT_EQ(twain::PostProcessDib(page.get(), nullptr), page.get());
    for (int y = 0; y < 5; ++y) {
      for (int x = 0; x < 21; ++x) {
        const unsigned before = is_black(x, y) ? black_index : 1 - black_index;
        ASSERT_EQ(index_at(page.get(), x, y), c.pixels_inverted ? 1 - before : before) << x << "," << y;
      }
    }
    const auto t = table_of(page.get());
    EXPECT_EQ(t[0].green, c.table_after[0].green);
    EXPECT_EQ(t[1].green, c.table_after[1].green);
  }
}

TEST_F(PostProcessTest, EightBitPagesGetTheAscendingGrayTable) {
  auto pattern = [](int x, int y) { return static_cast<unsigned>(x * 37 + y * 11) & 0xFF; };
  // White to black: the pixels are inverted so the page looks the same.
  dib_test::Owned page(make_page(8, 9, 3, pattern));
  std::vector<dib::Rgbq> descending(256);
  for (int i = 0; i < 256; ++i) {
    const auto g = static_cast<std::uint8_t>(255 - i);
    descending[i] = {g, g, g, 0};
  }
  set_table(page.get(), descending);
  twain::PostProcessDib(page.get(), nullptr);
  for (int i = 0; i < 256; ++i) ASSERT_EQ(table_of(page.get())[i].green, i);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 9; ++x) EXPECT_EQ(index_at(page.get(), x, y), 255 - pattern(x, y));

  // A colour table becomes gray only when the device says the page is gray.
  for (int device_type : {TWPT_RGB, TWPT_GRAY}) {
    SCOPED_TRACE(device_type);
    device_.pixel_type = device_type;
    dib_test::Owned colour(make_page(8, 9, 3, pattern));
    std::vector<dib::Rgbq> palette(256);
    for (int i = 0; i < 256; ++i) palette[i] = {static_cast<std::uint8_t>(i), 0, 0, 0};
    set_table(colour.get(), palette);
    twain::PostProcessDib(colour.get(), nullptr);
    EXPECT_EQ(table_of(colour.get())[200].green, device_type == TWPT_GRAY ? 200 : 0);
    EXPECT_EQ(index_at(colour.get(), 4, 2), pattern(4, 2));
  }
}

class SoftCropTest : public PostProcessTest {
 protected:
  void region(double l, double t, double r, double b, int units) {
    twain::DeferredSettings& d = twain::deferred();
    d.region_left = l;
    d.region_top = t;
    d.region_right = r;
    d.region_bottom = b;
    d.region_units = units;
  }
  static unsigned pattern(int x, int y) { return static_cast<unsigned>(x * 7 + y * 3) % 251; }
  dib::Handle page_200dpi() {
    const dib::Handle h = make_page(8, 1700, 2200, pattern);
    DIB_SetResolution(h, 200, 200);
    return h;
  }
};

TEST_F(SoftCropTest, RegionIsCutOutOfALargerPage) {
  struct Case {
    const char* name;
    double l, t, r, b;
    int units;
    int x, y, w, h;
  };
  const Case cases[] = {
      {"1 x 1 inch at the origin", 0, 0, 1, 1, TWUN_INCHES, 0, 0, 200, 200},
      {"centimetres", 2.54, 0, 5.08, 2.54, TWUN_CENTIMETERS, 200, 0, 200, 200},
      {"points", 72, 144, 144, 216, TWUN_POINTS, 200, 400, 200, 200},
      {"pixels", 10, 20, 60, 50, TWUN_PIXELS, 10, 20, 50, 30},
      {"overhanging the right side by 8 pixels", 1, 1, 8.54, 2, TWUN_INCHES, 200, 200, 1508, 200},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    region(c.l, c.t, c.r, c.b, c.units);
    const dib::Handle in = page_200dpi();
    dib_test::Owned out(twain::PostProcessDib(in, nullptr));
    ASSERT_NE(out.get(), in) << "the old page is freed, a new one returned";
    ASSERT_EQ(DIB_Width(out.get()), c.w);
    ASSERT_EQ(DIB_Height(out.get()), c.h);
    EXPECT_EQ(header_of(out.get()).x_ppm, dib::dpi_to_ppm(200));
    for (auto [x, y] : {std::pair{0, 0}, std::pair{c.w - 9, c.h - 1}, std::pair{c.w / 2, c.h / 3}})
      EXPECT_EQ(index_at(out.get(), x, y), pattern(c.x + x, c.y + y)) << x << "," << y;
    if (c.x + c.w > 1700) {
      // Beyond the page: white (entry 0 of the gray table is black, so 0xFF).
      EXPECT_EQ(index_at(out.get(), c.w - 1, 0), 255u);
    }
  }
}

TEST_F(SoftCropTest, RegionsThatDoNotFitLeaveThePage) {
  struct Case {
    const char* name;
    double l, t, r, b;
  };
  const Case cases[] = {
      {"right edge 10 pixels beyond the page", 1, 1, (1700 + 10) / 200.0, 5},
      {"bottom edge 4 pixels beyond the page", 1, 1, 5, (2200 + 4) / 200.0},
      {"already the page's size", 0, 0, 8.5, 11},
      {"no region", 0, 0, 0, 0},
      {"empty region", 2, 2, 1, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    region(c.l, c.t, c.r, c.b, TWUN_INCHES);
    dib_test::Owned page(page_200dpi());
    EXPECT_EQ(twain::PostProcessDib(page.get(), nullptr), page.get());
    EXPECT_EQ(DIB_Width(page.get()), 1700);
    EXPECT_EQ(DIB_Height(page.get()), 2200);
  }
  // A page without resolution cannot be measured.
  region(0, 0, 1, 1, TWUN_INCHES);
  dib_test::Owned page(make_page(8, 300, 300, pattern));
  EXPECT_EQ(twain::PostProcessDib(page.get(), nullptr), page.get());
}

TEST_F(SoftCropTest, FillIsWhiteThroughTheTable) {
  // A 1-bit page whose entry 0 is white: outside parts get index 0.
  // From -0.05 inch: x = integer part of (-10 + 0.5), 9 columns left of the page.
  region(-0.05, 0, 0.1, 0.1, TWUN_INCHES);
  dib::Handle in = make_page(1, 40, 40, [](int, int) { return 1u; });
  DIB_SetResolution(in, 200, 200);
  set_table(in, {{255, 255, 255, 0}, {0, 0, 0, 0}});
  twain::switches().auto_negate = 0;
  dib_test::Owned out(twain::PostProcessDib(in, nullptr));
  ASSERT_EQ(DIB_Width(out.get()), 30);
  EXPECT_EQ(index_at(out.get(), 0, 0), 0u);
  EXPECT_EQ(index_at(out.get(), 8, 5), 0u);
  EXPECT_EQ(index_at(out.get(), 9, 5), 1u);
}

TEST_F(PostProcessTest, BlankPagesSkipTheAnalyses) {
  twain::switches().auto_deskew = 1;
  twain::switches().auto_crop = 1;
  twain::switches().auto_contrast = 1;
  struct Case {
    int mode;
    bool blank;
    int flag;
    int analyses;
  };
  for (const Case& c : {Case{1, true, 1, 0}, Case{1, false, 0, 3}, Case{0, true, 0, 3}}) {
    SCOPED_TRACE(c.mode * 10 + c.blank);
    twain::switches().blank_page_mode = c.mode;
    device_.blank = c.blank;
    device_.analyses_run = 0;
    twain::blank_flag() = 7;
    const dib::Handle in = DIB_Allocate(8, 5, 5);
    dib_test::Owned out(twain::PostProcessDib(in, nullptr));
    EXPECT_EQ(twain::blank_flag(), c.flag);
    EXPECT_EQ(device_.analyses_run, c.analyses);
    // The deskew stand-in makes a new page; the crop's null keeps it.
    EXPECT_EQ(out.get() != in, c.analyses > 0);
  }
}

}  // namespace
