// The virtual scanner's synthetic pages: the Code 128 symbols, the layout of
// every pixel type, the checksum, stamping against drawing the whole page at
// once, colours that show a channel mix-up, and barcodes read back by zbarimg.
#include "sources/virtual/pages.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "sources/virtual/pages/detail.h"

namespace {

using vscan::PageFacts;
using vscan::PageFormat;
using vscan::Raster;

PageFormat format_of(TW_UINT16 type, TW_UINT16 depth, double dpi, double width_in = 8.5,
                     double height_in = 11, TW_UINT16 flavor = TWPF_CHOCOLATE) {
  PageFormat f;
  f.pixel_type = type;
  f.bit_depth = depth;
  f.x_dpi = f.y_dpi = dpi;
  f.width = int(std::lround(width_in * dpi));
  f.height = int(std::lround(height_in * dpi));
  f.pixel_flavor = flavor;
  return f;
}

std::shared_ptr<const Raster> page(const PageFormat& f, int number, int document = 1,
                                   bool back = false) {
  auto r = vscan::render_page(f, {document, number, back});
  EXPECT_NE(r, nullptr);
  return r;
}

// Widths of the runs of equal modules, bar first.
std::string run_widths(const std::vector<bool>& m, std::size_t from, std::size_t count) {
  std::string out;
  for (std::size_t i = from; i < from + count;) {
    std::size_t j = i;
    while (j < from + count && m[j] == m[i]) ++j;
    out += char('0' + (j - i));
    i = j;
  }
  return out;
}

// ---------------------------------------------------------------- Code 128

TEST(PagesCode128, SymbolsOfKnownTexts) {
  // Check symbols worked out by hand: (104 + sum of value x position) mod 103.
  struct Case {
    std::string text;
    const char* check;  // widths of the check symbol
  } cases[] = {
      {"", "222122"},           // 104 mod 103 = 1
      {"A", "131123"},          // 104 + 33 = 137 -> 34
      {"PAGE-0003", "321122"},  // 1055 -> 25
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const std::vector<bool> m = vscan::code128_modules(c.text);
    ASSERT_EQ(m.size(), 11 * (c.text.size() + 2) + 13);
    EXPECT_EQ(run_widths(m, 0, 11), "211214");  // start B
    EXPECT_EQ(run_widths(m, 11 * (c.text.size() + 1), 11), c.check);
    EXPECT_EQ(run_widths(m, m.size() - 13, 13), "2331112");  // stop, ending on a bar
    EXPECT_TRUE(m.back());
  }
}

TEST(PagesCode128, EverySymbolIsElevenModulesWithEvenBars) {
  // Each printable character is its own symbol; a mistyped pattern breaks
  // the module count or the parity that readers check.
  std::string all;
  for (char c = 32; c <= 126; ++c) all += c;
  const std::vector<bool> m = vscan::code128_modules(all);
  ASSERT_EQ(m.size(), 11 * (all.size() + 2) + 13);
  for (std::size_t s = 0; s < all.size() + 2; ++s) {
    const std::string w = run_widths(m, 11 * s, 11);
    ASSERT_EQ(w.size(), 6u) << "symbol " << s;
    EXPECT_EQ((w[0] - '0' + w[2] - '0' + w[4] - '0') % 2, 0) << "symbol " << s << " " << w;
    EXPECT_TRUE(m[11 * s]) << "symbol " << s << " starts with a space";
  }
}

// ---------------------------------------------------------------- layout of the pixels

struct TypeCase {
  TW_UINT16 type, depth, flavor;
};
constexpr TypeCase kTypes[] = {
    {TWPT_BW, 1, TWPF_CHOCOLATE},
    {TWPT_BW, 1, TWPF_VANILLA},
    {TWPT_GRAY, 4, 0},
    {TWPT_GRAY, 8, 0},
    {TWPT_GRAY, 16, 0},
    {TWPT_RGB, 24, 0},
    {TWPT_RGB, 48, 0},
    {TWPT_PALETTE, 8, 0},
    {TWPT_CMY, 24, 0},
    {TWPT_CMYK, 32, 0},
};

TEST(PagesRaster, EveryTypeHasItsSizeChecksumAndZeroTrailingBits) {
  // 853 x 1103 pixels: odd, so 1- and 4-bit rows end inside a byte.
  for (const TypeCase& c : kTypes) {
    for (double dpi : {100.0, 75.0}) {
      PageFormat f = format_of(c.type, c.depth, dpi, 8.53, 11.03, c.flavor);
      SCOPED_TRACE(testing::Message()
                   << "type " << c.type << " depth " << c.depth << " dpi " << dpi);
      auto r = page(f, 3);
      ASSERT_NE(r, nullptr);
      const std::size_t bpr = (std::size_t(f.width) * c.depth + 7) / 8;
      EXPECT_EQ(r->bytes_per_row, bpr);
      ASSERT_EQ(r->pixels.size(), bpr * f.height);
      EXPECT_EQ(r->format, f);
      EXPECT_EQ(r->checksum(), vscan::raster_checksum(r->pixels.data(), bpr, f.height));
      EXPECT_EQ(r->barcode_text, "PAGE-0003");
      const int used = int(std::size_t(f.width) * c.depth % 8);
      if (used != 0) {
        const std::uint8_t mask = std::uint8_t(0xFF >> used);
        for (int y = 0; y < f.height; ++y)
          ASSERT_EQ(r->pixels[(y + 1) * bpr - 1] & mask, 0) << "row " << y;
      }
    }
  }
}

TEST(PagesRaster, ChecksumIsFnv1a64) {
  const std::string texts[] = {"", "a", "foobar"};
  const std::uint64_t expected[] = {0xcbf29ce484222325ULL, 0xaf63dc4c8601ec8cULL,
                                    0x85944171f73967e8ULL};
  for (int i = 0; i < 3; ++i) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(texts[i].data());
    EXPECT_EQ(vscan::raster_checksum(bytes, texts[i].size(), 1), expected[i]) << texts[i];
  }
  // Rows are hashed one after the other.
  const std::uint8_t two_rows[] = {'f', 'o', 'o', 'b', 'a', 'r'};
  EXPECT_EQ(vscan::raster_checksum(two_rows, 3, 2), expected[2]);
}

TEST(PagesRaster, SameFactsSamePixelsOtherFactsOtherPixels) {
  const PageFormat gray = format_of(TWPT_GRAY, 8, 100);
  const PageFormat bw = format_of(TWPT_BW, 1, 100);
  const auto first = page(gray, 5, 2);
  // Another format in between replaces the cached template.
  page(bw, 5, 2);
  const auto again = page(gray, 5, 2);
  EXPECT_EQ(first->checksum(), again->checksum());
  EXPECT_EQ(first->pixels, again->pixels);
  const std::uint64_t others[] = {page(gray, 6, 2)->checksum(), page(gray, 5, 3)->checksum(),
                                  page(gray, 5, 2, true)->checksum()};
  for (std::uint64_t other : others) EXPECT_NE(other, first->checksum());
}

TEST(PagesRaster, PageStaysWhileOthersAreRendered) {
  const PageFormat f = format_of(TWPT_GRAY, 8, 100);
  const auto kept = page(f, 1);
  const std::vector<std::uint8_t> copy = kept->pixels;
  for (int n = 2; n < 6; ++n) page(f, n);  // released pages feed the buffer pool
  EXPECT_EQ(kept->pixels, copy);
  EXPECT_EQ(kept->checksum(), vscan::raster_checksum(copy.data(), kept->bytes_per_row, f.height));
}

// Stamping the boxes on the cached template gives the page that drawing
// everything on one canvas and converting it once gives.
TEST(PagesRaster, StampedPageEqualsWholeDrawing) {
  for (const TypeCase& c : kTypes) {
    const PageFormat f = format_of(c.type, c.depth, 90, 8.47, 6, c.flavor);
    SCOPED_TRACE(testing::Message() << "type " << c.type << " depth " << c.depth);
    const PageFacts facts{4, 7, true};
    const auto r = vscan::render_page(f, facts);
    ASSERT_NE(r, nullptr);

    using namespace vscan::pages;
    const PageLayout l = page_layout(f);
    PageFonts fonts = PageFonts::open(f);
    Canvas whole = page_template(f, l, fonts);
    std::string text;
    const Canvas parts[] = {page_heading(f, l, facts, fonts),
                            page_barcode(f, l, facts, fonts, text)};
    const Box boxes[] = {l.heading, l.barcode};
    for (int i = 0; i < 2; ++i)
      for (int y = 0; y < parts[i].height(); ++y)
        for (int x = 0; x < parts[i].width(); ++x) {
          const int px = boxes[i].x0 + x, py = boxes[i].y0 + y;
          whole.fill({px, py, px + 1, py + 1}, parts[i].pixel(x, y));
        }
    std::vector<std::uint8_t> expected(r->pixels.size(), 0xAA);
    page_convert(whole, f, 0, 0, expected.data(), r->bytes_per_row);
    EXPECT_TRUE(expected == r->pixels);
    EXPECT_EQ(text, "PAGE-0007");
  }
}

// ---------------------------------------------------------------- the same page in every type

// The 8-bit RGB a reader recovers from a pixel of a colour type.
vscan::pages::Rgb colour_at(const Raster& r, int x, int y) {
  const std::uint8_t* p = r.pixels.data() + std::size_t(y) * r.bytes_per_row;
  switch (r.format.pixel_type) {
    case TWPT_RGB:
      if (r.format.bit_depth == 48) return {p[x * 6 + 1], p[x * 6 + 3], p[x * 6 + 5]};
      return {p[x * 3], p[x * 3 + 1], p[x * 3 + 2]};
    case TWPT_CMY:
      return {std::uint8_t(255 - p[x * 3]), std::uint8_t(255 - p[x * 3 + 1]),
              std::uint8_t(255 - p[x * 3 + 2])};
    case TWPT_CMYK: {
      const auto back = [&](int i) {
        return std::uint8_t(255 - std::min(255, p[x * 4 + i] + p[x * 4 + 3]));
      };
      return {back(0), back(1), back(2)};
    }
    case TWPT_PALETTE: {
      const TW_ELEMENT8& e = vscan::page_palette()[p[x]];
      return {e.Channel1, e.Channel2, e.Channel3};
    }
    default:
      ADD_FAILURE() << "not a colour type";
      return {};
  }
}

TEST(PagesColour, RedRuleBlueLogoWhitePaperInEveryColourType) {
  const TypeCase colour[] = {{TWPT_RGB, 24, 0},
                             {TWPT_RGB, 48, 0},
                             {TWPT_CMY, 24, 0},
                             {TWPT_CMYK, 32, 0},
                             {TWPT_PALETTE, 8, 0}};
  for (const TypeCase& c : colour) {
    const PageFormat f = format_of(c.type, c.depth, 100);
    SCOPED_TRACE(testing::Message() << "type " << c.type << " depth " << c.depth);
    const auto r = page(f, 1);
    const auto l = vscan::pages::page_layout(f);
    const auto mid = [](const vscan::pages::Box& b) {
      return std::pair{(b.x0 + b.x1) / 2, (b.y0 + b.y1) / 2};
    };
    const auto [rx, ry] = mid(l.rule);
    const auto red = colour_at(*r, rx, ry);
    EXPECT_GT(red.r, 170);
    EXPECT_LT(red.b, 80);
    const auto [lx, ly] = mid(l.logo);
    const auto blue = colour_at(*r, lx, ly);
    EXPECT_GT(blue.b, 170);
    EXPECT_LT(blue.r, 80);
    const auto paper = colour_at(*r, 2, 2);
    EXPECT_GT(std::min({paper.r, paper.g, paper.b}), 240);
    // The strip runs from red on the left to blue-magenta on the right.
    const auto left = colour_at(*r, l.strip.x0, l.strip.y0);
    const auto right = colour_at(*r, l.strip.x1 - 1, l.strip.y0);
    EXPECT_GT(left.r, 200);
    EXPECT_LT(left.b, 60);
    EXPECT_GT(right.b, 200);
    EXPECT_LT(right.g, 60);
  }
}

// Deeper and shallower types carry the 8-bit gray or RGB page: the high byte
// of a 16-bit sample is the 8-bit sample, the low byte is not a copy of it;
// 4-bit gray is the top nibble; 1 bit is the threshold at the middle, and
// vanilla is chocolate inverted.
TEST(PagesDepths, AgreeWithTheEightBitPage) {
  const PageFormat gray8 = format_of(TWPT_GRAY, 8, 80, 8.5, 11.01);
  const auto g8 = page(gray8, 2);
  const auto deep_check = [&](const Raster& deep, const Raster& shallow) {
    ASSERT_EQ(deep.pixels.size(), shallow.pixels.size() * 2);
    bool low_differs = false;
    for (std::size_t i = 0; i < shallow.pixels.size(); ++i) {
      ASSERT_EQ(deep.pixels[2 * i + 1], shallow.pixels[i]) << "sample " << i;
      low_differs |= deep.pixels[2 * i] != deep.pixels[2 * i + 1];
    }
    EXPECT_TRUE(low_differs);
  };
  {
    PageFormat f = gray8;
    f.bit_depth = 16;
    deep_check(*page(f, 2), *g8);
    f.pixel_type = TWPT_RGB;
    f.bit_depth = 24;
    const auto rgb24 = page(f, 2);
    f.bit_depth = 48;
    deep_check(*page(f, 2), *rgb24);
  }
  PageFormat f4 = gray8, choc = gray8, van = gray8;
  f4.bit_depth = 4;
  choc.pixel_type = van.pixel_type = TWPT_BW;
  choc.bit_depth = van.bit_depth = 1;
  van.pixel_flavor = TWPF_VANILLA;
  const auto g4 = page(f4, 2), bc = page(choc, 2), bv = page(van, 2);
  ASSERT_EQ(bc->pixels.size(), bv->pixels.size());
  for (int y = 0; y < gray8.height; ++y)
    for (int x = 0; x < gray8.width; ++x) {
      const std::uint8_t v = g8->pixels[std::size_t(y) * g8->bytes_per_row + x];
      const std::uint8_t nib = g4->pixels[std::size_t(y) * g4->bytes_per_row + x / 2];
      ASSERT_EQ(x % 2 == 0 ? nib >> 4 : nib & 15, v >> 4) << x << "," << y;
      const std::size_t byte = std::size_t(y) * bc->bytes_per_row + x / 8;
      const int bit = 7 - x % 8;
      ASSERT_EQ(bc->pixels[byte] >> bit & 1, v >= 128 ? 1 : 0) << x << "," << y;
      ASSERT_NE(bv->pixels[byte] >> bit & 1, bc->pixels[byte] >> bit & 1) << x << "," << y;
    }
}

// ---------------------------------------------------------------- odd formats

TEST(PagesFormats, UnrenderableFormatsGiveNoPage) {
  PageFormat bad[] = {format_of(9, 8, 100),
                      format_of(TWPT_BW, 8, 100),
                      format_of(TWPT_GRAY, 12, 100),
                      format_of(TWPT_RGB, 32, 100),
                      format_of(TWPT_GRAY, 8, 100, 0, 11),
                      format_of(TWPT_GRAY, 8, 100, 8.5, 0)};
  for (const PageFormat& f : bad)
    EXPECT_EQ(vscan::render_page(f, {}), nullptr) << f.pixel_type << "/" << f.bit_depth;
  PageFormat f = format_of(TWPT_GRAY, 8, 100);
  f.x_dpi = 0;
  EXPECT_EQ(vscan::render_page(f, {}), nullptr);
  f.x_dpi = std::nan("");
  EXPECT_EQ(vscan::render_page(f, {}), nullptr);
  f.x_dpi = 100;
  f.y_dpi = 1e6;
  EXPECT_EQ(vscan::render_page(f, {}), nullptr);
}

TEST(PagesFormats, TinyAndOddPagesRender) {
  struct Case {
    int width, height;
    double x_dpi, y_dpi;
    bool barcode;
  } cases[] = {
      {1, 1, 200, 200, false},     {7, 5, 200, 200, false},     {200, 200, 200, 200, false},
      {1700, 400, 200, 200, true}, {850, 2200, 100, 200, true}, {4250, 1100, 500, 100, true},
  };
  for (const Case& c : cases) {
    for (TW_UINT16 type : {TWPT_BW, TWPT_RGB}) {
      PageFormat f;
      f.pixel_type = type;
      f.bit_depth = type == TWPT_BW ? 1 : 24;
      f.width = c.width;
      f.height = c.height;
      f.x_dpi = c.x_dpi;
      f.y_dpi = c.y_dpi;
      SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " type " << type);
      const auto r = vscan::render_page(f, {1, 12, false});
      ASSERT_NE(r, nullptr);
      EXPECT_EQ(r->pixels.size(), r->bytes_per_row * c.height);
      EXPECT_EQ(r->barcode_text, c.barcode ? "PAGE-0012" : "");
    }
  }
}

TEST(PagesLayout, StampBoxesAreByteAlignedAndApartFromTheTemplate) {
  using vscan::pages::Box;
  const auto overlap = [](const Box& a, const Box& b) {
    return !a.empty() && !b.empty() && a.x0 < b.x1 && b.x0 < a.x1 && a.y0 < b.y1 && b.y0 < a.y1;
  };
  for (double dpi : {50.0, 75.0, 100.0, 150.0, 200.0, 299.0, 300.0, 600.0})
    for (auto [w, h] : {std::pair{8.5, 11.0}, {8.5, 14.0}, {8.27, 11.69}, {4.0, 6.0}, {2.0, 2.0}}) {
      const PageFormat f = format_of(TWPT_BW, 1, dpi, w, h);
      SCOPED_TRACE(testing::Message() << dpi << " dpi " << w << "x" << h);
      const auto l = vscan::pages::page_layout(f);
      for (const Box& stamp : {l.heading, l.barcode}) {
        if (stamp.empty()) continue;
        EXPECT_EQ(stamp.x0 % 8, 0);
        EXPECT_TRUE(stamp.x1 % 8 == 0 || stamp.x1 == f.width);
        EXPECT_LE(stamp.x1, f.width);
        EXPECT_LE(stamp.y1, f.height);
        for (const Box& fixed : {l.logo, l.rule, l.text, l.strip})
          EXPECT_FALSE(overlap(stamp, fixed));
      }
      EXPECT_FALSE(overlap(l.heading, l.barcode));
      if (w >= 8 && dpi >= 100) {
        EXPECT_GE(l.module, dpi >= 200 ? 3 : 2);
      }
    }
}

TEST(PagesFont, BuiltinFontDrawsEveryPrintableCharacter) {
  auto font = vscan::pages::Font::open_builtin({false, 11, 200, 200});
  for (char c = 33; c <= 126; ++c) {
    const auto& g = font->glyph(c);
    int ink = 0;
    for (auto v : g.coverage) ink += v != 0;
    EXPECT_GT(ink, 0) << "'" << c << "'";
    EXPECT_GT(g.advance, g.width / 2);
  }
  EXPECT_GT(font->line_height(), 20);  // about 11 pt at 200 dpi
}

TEST(PagesThreads, ConcurrentPagesMatchSerialOnes) {
  const PageFormat f = format_of(TWPT_GRAY, 8, 60);
  std::vector<std::uint64_t> serial;
  for (int n = 1; n <= 8; ++n) serial.push_back(page(f, n)->checksum());
  std::vector<std::uint64_t> parallel(8);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int n = t; n < 8; n += 4)
        parallel[n] = vscan::render_page(f, {1, n + 1, false})->checksum();
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(parallel, serial);
}

// ---------------------------------------------------------------- blank and turned sheets

TEST(PagesSheets, BlankSideIsPaperWithSpecks) {
  const PageFormat f = format_of(TWPT_GRAY, 8, 100);
  const auto blank = vscan::render_page(f, {1, 2, true, true});
  ASSERT_NE(blank, nullptr);
  EXPECT_EQ(blank->barcode_text, "");
  EXPECT_EQ(blank->checksum(),
            vscan::raster_checksum(blank->pixels.data(), blank->bytes_per_row, f.height));
  std::size_t marked = 0;
  for (auto v : blank->pixels) marked += v < 250;
  EXPECT_GT(marked, 0u);
  EXPECT_LT(marked, blank->pixels.size() / 1000);
  EXPECT_EQ(vscan::render_page(f, {1, 2, true, true})->checksum(), blank->checksum());
  EXPECT_NE(vscan::render_page(f, {1, 4, true, true})->checksum(), blank->checksum());
}

// The red rule of a turned colour page leans by the angle asked for, about
// the page's centre.
TEST(PagesSheets, TurnedPageLeansByItsAngle) {
  for (double degrees : {3.0, -1.5}) {
    for (double y_dpi : {100.0, 150.0}) {
      PageFormat f = format_of(TWPT_RGB, 24, 100);
      f.y_dpi = y_dpi;
      f.height = int(11 * y_dpi);
      SCOPED_TRACE(testing::Message() << degrees << " degrees, y dpi " << y_dpi);
      const auto r = vscan::render_page(f, {1, 1, false, false, degrees});
      ASSERT_NE(r, nullptr);
      EXPECT_EQ(r->barcode_text, "PAGE-0001");
      // Middle of the red pixels of a column, in the top half of the page.
      const auto red_y = [&](int x) {
        double sum = 0, n = 0;
        for (int y = 0; y < f.height / 2; ++y) {
          const std::uint8_t* p = r->pixels.data() + y * r->bytes_per_row + x * 3;
          if (p[0] > 150 && p[1] < 110 && p[2] < 110) sum += y, n += 1;
        }
        return n > 0 ? sum / n : -1.0;
      };
      const int x0 = int(2 * f.x_dpi), x1 = f.width - int(2 * f.x_dpi);
      const double y0 = red_y(x0), y1 = red_y(x1);
      ASSERT_GE(y0, 0);
      ASSERT_GE(y1, 0);
      const double measured =
          std::atan2((y0 - y1) / f.y_dpi, (x1 - x0) / f.x_dpi) * 180 / 3.14159265358979;
      EXPECT_NEAR(measured, degrees, 0.1);
    }
  }
}

// ---------------------------------------------------------------- read by zbarimg

bool have_zbarimg() { return std::system("command -v zbarimg >/dev/null 2>&1") == 0; }

std::string zbar_read(const std::string& path) {
  std::string out;
  if (FILE* p = ::popen(("zbarimg --raw -q '" + path + "' 2>/dev/null").c_str(), "r")) {
    char buf[512];
    while (std::fgets(buf, sizeof buf, p) != nullptr) out += buf;
    ::pclose(p);
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

class PagesBarcode : public testing::Test {
 protected:
  void SetUp() override {
    if (!have_zbarimg()) GTEST_SKIP() << "zbarimg is not installed";
    dir_ = std::filesystem::temp_directory_path() / ("pages_test_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override {
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }
  // Writes 8-bit gray or 1-bit pixels as a PGM / PBM file.
  std::string write(const std::string& name, const Raster& r) {
    const std::string path = (dir_ / name).string();
    std::ofstream out(path, std::ios::binary);
    const bool bw = r.format.pixel_type == TWPT_BW;
    out << (bw ? "P4\n" : "P5\n") << r.format.width << " " << r.format.height << "\n"
        << (bw ? "" : "255\n");
    std::vector<std::uint8_t> pixels = r.pixels;
    // PBM's 1 is black: chocolate pages are inverted on the way out.
    if (bw && r.format.pixel_flavor == TWPF_CHOCOLATE)
      for (auto& b : pixels) b = std::uint8_t(~b);
    out.write(reinterpret_cast<const char*>(pixels.data()), std::streamsize(pixels.size()));
    return path;
  }
  std::filesystem::path dir_;
};

TEST_F(PagesBarcode, PageBarcodeReadsAsPageNumber) {
  struct Case {
    TW_UINT16 type, depth;
    double dpi;
    int page;
    double skew;
  } cases[] = {{TWPT_GRAY, 8, 200, 3, 0},
               {TWPT_GRAY, 8, 100, 42, 0},
               {TWPT_BW, 1, 300, 1234, 0},
               {TWPT_BW, 1, 150, 99999, 0},
               {TWPT_GRAY, 8, 200, 5, 2.5}};
  for (const Case& c : cases) {
    const auto r =
        vscan::render_page(format_of(c.type, c.depth, c.dpi), {1, c.page, false, false, c.skew});
    ASSERT_NE(r, nullptr);
    SCOPED_TRACE(r->barcode_text);
    EXPECT_EQ(zbar_read(write("page.pnm", *r)), r->barcode_text);
  }
  EXPECT_EQ(page(format_of(TWPT_GRAY, 8, 200), 3)->barcode_text, "PAGE-0003");
}

TEST_F(PagesBarcode, EveryPrintableCharacterReadsBack) {
  // Strips of 3-pixel modules, 20 characters each.
  for (int first = 32; first <= 126; first += 20) {
    std::string text;
    for (int c = first; c <= 126 && c < first + 20; ++c) text += char(c);
    // zbarimg prints the text: a leading space or backslash reads back the same.
    const std::vector<bool> m = vscan::code128_modules(text);
    constexpr int kModule = 3, kQuiet = 40, kHeight = 60;
    Raster r;
    r.format.pixel_type = TWPT_GRAY;
    r.format.bit_depth = 8;
    r.format.width = int(m.size()) * kModule + 2 * kQuiet;
    r.format.height = kHeight;
    r.bytes_per_row = std::size_t(r.format.width);
    r.pixels.assign(r.bytes_per_row * kHeight, 255);
    for (int y = 10; y < kHeight - 10; ++y)
      for (std::size_t i = 0; i < m.size(); ++i)
        if (m[i])
          for (int k = 0; k < kModule; ++k)
            r.pixels[y * r.bytes_per_row + kQuiet + i * kModule + k] = 0;
    EXPECT_EQ(zbar_read(write("strip.pgm", r)), text);
  }
}

}  // namespace
