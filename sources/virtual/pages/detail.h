// Shared inside the page generator: the RGB canvas pages are drawn on, the
// fonts, the page layout, the conversion to the delivered pixel types and
// the template cache.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sources/virtual/pages.h"

namespace vscan::pages {

struct Rgb {
  std::uint8_t r = 255, g = 255, b = 255;
  bool operator==(const Rgb&) const = default;
};

constexpr Rgb kWhite{255, 255, 255};
constexpr Rgb kBlack{0, 0, 0};

// A half-open pixel box [x0, x1) x [y0, y1); empty when x1 <= x0 or y1 <= y0.
struct Box {
  int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  int width() const { return x1 > x0 ? x1 - x0 : 0; }
  int height() const { return y1 > y0 ? y1 - y0 : 0; }
  bool empty() const { return width() == 0 || height() == 0; }
};

// 8-bit RGB pixels, rows top first, no padding; starts white (paper).
// Drawing clips to the canvas, so callers may draw partly outside it.
class Canvas {
 public:
  Canvas(int width, int height);
  int width() const { return width_; }
  int height() const { return height_; }
  const std::uint8_t* row(int y) const { return rgb_.data() + std::size_t(y) * width_ * 3; }
  std::uint8_t* row(int y) { return rgb_.data() + std::size_t(y) * width_ * 3; }
  Rgb pixel(int x, int y) const;
  void fill(Box box, Rgb colour);
  // Copies `src` with its top-left at (x, y).
  void blit(const Canvas& src, int x, int y);
  // Lays `colour` over the pixel with coverage 0 (none) .. 255 (opaque).
  void blend(int x, int y, Rgb colour, int coverage);

 private:
  int width_;
  int height_;
  std::vector<std::uint8_t> rgb_;
};

// One rendered character: coverage 0..255, `width` x `height`, placed with
// its top-left at (pen x + left, baseline - top); the pen then moves by
// `advance` pixels.
struct Glyph {
  int width = 0, height = 0, left = 0, top = 0, advance = 0;
  std::vector<std::uint8_t> coverage;
};

struct FontSpec {
  bool bold = false;
  double points = 11;
  double x_dpi = 200;
  double y_dpi = 200;
};

// A font at one size. Text is drawn with DejaVu Sans found through
// fontconfig and rendered by FreeType; when either is missing the built-in
// 5x7 bitmap font, scaled by whole pixels, stands in so the scanner still
// delivers readable pages.
class Font {
 public:
  virtual ~Font() = default;
  // FreeType when the face can be found and loaded, the built-in font otherwise.
  static std::unique_ptr<Font> open(const FontSpec& spec);
  static std::unique_ptr<Font> open_builtin(const FontSpec& spec);
  // Printable ASCII; other characters come out as '?'.
  virtual const Glyph& glyph(char c) = 0;
  virtual int ascent() const = 0;       // pixels above the baseline
  virtual int line_height() const = 0;  // baseline to baseline, pixels
  virtual bool builtin() const = 0;
};

// Draws `text` with its baseline at `baseline`, starting at `x`; returns
// the pen position after it.
int text_draw(Canvas& canvas, Font& font, int x, int baseline, std::string_view text, Rgb colour);
int text_width(Font& font, std::string_view text);

// The prose of every page: paragraphs of plain English, no line breaks.
const std::vector<std::string_view>& page_prose();

// Where everything goes on a page of a format. The heading and barcode boxes
// are what changes from page to page: the template leaves them white, and
// their left and right edges fall on multiples of 8 pixels (or the page's
// right edge) so that stamping never shares a byte of a 1- or 4-bit row
// with the template.
struct PageLayout {
  Box logo;        // blue block left of the heading
  Box heading;     // "Page N - front" and the document number
  Box barcode;     // Code 128 with its quiet zone and the text under it
  Box rule;        // red line under the heading
  Box text;        // the paragraphs
  Box strip;       // colour gradient above the bottom margin
  int module = 0;  // barcode module width in pixels, 0 = no barcode
};

PageLayout page_layout(const PageFormat& format);

// The page text for `facts`: "PAGE-0003" for page 3.
std::string page_barcode_text(const PageFacts& facts);

// The fonts of a page at the format's resolution. A font caches its glyphs,
// so one set serves one thread at a time.
struct PageFonts {
  std::unique_ptr<Font> heading;   // bold, "Page 3 - front"
  std::unique_ptr<Font> document;  // the document number
  std::unique_ptr<Font> caption;   // the text under the bars
  std::unique_ptr<Font> text;      // the paragraphs
  static PageFonts open(const PageFormat& format);
};

// The parts of a page: what every page of the format shares, and the two
// stamped boxes (each drawn on a canvas the size of its box). The barcode's
// text goes to `out_text`, "" when the page has no barcode.
Canvas page_template(const PageFormat& format, const PageLayout& layout, PageFonts& fonts);
Canvas page_heading(const PageFormat& format, const PageLayout& layout, const PageFacts& facts,
                    PageFonts& fonts);
Canvas page_barcode(const PageFormat& format, const PageLayout& layout, const PageFacts& facts,
                    PageFonts& fonts, std::string& out_text);

// Pages that are not the usual printed sheet: an empty side, and a sheet
// turned by `degrees` (counter-clockwise) about the centre, in inches so
// that unequal resolutions turn it the way paper turns.
Canvas page_blank(const PageFormat& format, const PageFacts& facts);
Canvas page_rotate(const Canvas& page, double degrees, double x_dpi, double y_dpi);
// The page turned by 180 degrees, pixel for pixel.
Canvas page_turned_over(const Canvas& page);

// Bytes per row of a format ((width x bits + 7) / 8), 0 for an unknown
// pixel type or depth.
std::size_t page_bytes_per_row(const PageFormat& format);

// Converts `canvas` to the format's pixel type and writes it into `out`
// (laid out as Raster, `out_bytes_per_row` per row) with its top-left at
// pixel (x0, y0); x0 is a multiple of 8, and the canvas ends at a multiple
// of 8 or at the page's right edge.
void page_convert(const Canvas& canvas, const PageFormat& format, int x0, int y0, std::uint8_t* out,
                  std::size_t out_bytes_per_row);

}  // namespace vscan::pages
