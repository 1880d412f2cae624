// The look of a synthetic page, drawn in 8-bit RGB: white paper with
// margins of about an inch, a blue logo block and a heading ("Page 3 -
// front", the document number) at the top left, a Code 128 barcode of the
// page number at the top right, a red rule under them, paragraphs of 11 pt
// text, and a colour gradient strip above the bottom margin. Sizes are in
// inches at the format's resolution, so a page looks the same at any dpi;
// pages smaller than a sheet keep proportional margins and lose what does
// not fit (the barcode first, when it would run into the heading).
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "sources/virtual/pages/detail.h"

namespace vscan::pages {
namespace {

constexpr double kMarginInches = 1.0;
constexpr double kLogoInches = 0.5;
constexpr double kHeadingGapInches = 0.2;    // logo to heading text
constexpr double kHeadingWidthInches = 2.2;  // kept free for the heading text
constexpr double kBlockHeightInches = 0.75;  // heading and barcode boxes
constexpr double kBarHeightInches = 0.5;
constexpr double kBarModuleInches = 0.015;  // 3 pixels at 200 dpi
constexpr int kQuietModules = 10;           // white either side of the bars
constexpr double kRuleOffsetInches = 0.85;  // from the top of the block
constexpr double kRuleInches = 0.03;
constexpr double kTextGapInches = 0.3;  // rule to the first line
constexpr double kStripInches = 0.15;
constexpr double kStripGapInches = 0.2;  // last line to the strip
constexpr double kHeadingPoints = 18;
constexpr double kDocumentPoints = 11;
constexpr double kTextPoints = 11;
constexpr double kCaptionPoints = 9;  // the text under the bars
constexpr double kCaptionGapInches = 0.05;

// The widest barcode a box is laid out for: "PAGE-" and five digits.
constexpr int kWidestBarcodeChars = 10;

constexpr Rgb kLogoBlue{30, 60, 200};
constexpr Rgb kRuleRed{210, 30, 30};

int align_down8(int x) { return x / 8 * 8; }
int align_up8(int x) { return (x + 7) / 8 * 8; }

Box clip(Box b, const PageFormat& f) {
  b.x0 = std::clamp(b.x0, 0, f.width);
  b.x1 = std::clamp(b.x1, b.x0, f.width);
  b.y0 = std::clamp(b.y0, 0, f.height);
  b.y1 = std::clamp(b.y1, b.y0, f.height);
  return b;
}

struct Scale {
  double x_dpi, y_dpi;
  int x(double inches) const { return int(std::lround(inches * x_dpi)); }
  int y(double inches) const { return int(std::lround(inches * y_dpi)); }
};

Scale scale_of(const PageFormat& f) { return {f.x_dpi, f.y_dpi}; }

int barcode_modules(int chars) { return 11 * (chars + 2) + 13; }

// The barcode box for bars of `module` pixels ending at `right`.
Box barcode_box(int right, int top, int module, const Scale& s) {
  const int width = (barcode_modules(kWidestBarcodeChars) + 2 * kQuietModules) * module;
  return {align_down8(right - width), top, align_up8(right), top + s.y(kBlockHeightInches)};
}

Rgb gradient_at(double t) {
  // Red, yellow, green, cyan, blue, magenta: every channel order mistake
  // moves the colours along the strip.
  const double h = std::clamp(t, 0.0, 1.0) * 5;
  const int seg = std::min(4, int(h));
  const auto ramp = std::uint8_t(std::lround((h - seg) * 255));
  const auto down = std::uint8_t(255 - ramp);
  switch (seg) {
    case 0:
      return {255, ramp, 0};
    case 1:
      return {down, 255, 0};
    case 2:
      return {0, 255, ramp};
    case 3:
      return {0, down, 255};
    default:
      return {ramp, 0, 255};
  }
}

void draw_strip(Canvas& c, Box strip) {
  for (int x = strip.x0; x < strip.x1; ++x) {
    const double t = strip.width() > 1 ? double(x - strip.x0) / (strip.width() - 1) : 0;
    c.fill({x, strip.y0, x + 1, strip.y1}, gradient_at(t));
  }
}

// Fills the box with the prose, word-wrapped, paragraphs repeated until the
// box is full.
void draw_prose(Canvas& c, Box box, Font& font) {
  const auto& paragraphs = page_prose();
  const int line = font.line_height();
  const int space = text_width(font, " ");
  int baseline = box.y0 + font.ascent();
  for (std::size_t p = 0; box.width() > 0 && baseline + line - font.ascent() <= box.y1; ++p) {
    std::string_view rest = paragraphs[p % paragraphs.size()];
    int x = box.x0;
    while (!rest.empty() && baseline + line - font.ascent() <= box.y1) {
      const auto end = rest.find(' ');
      const std::string_view word = rest.substr(0, end);
      rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
      const int width = text_width(font, word);
      if (x > box.x0 && x + width > box.x1) {
        baseline += line;
        x = box.x0;
        if (baseline + line - font.ascent() > box.y1) return;
      }
      x = text_draw(c, font, x, baseline, word, kBlack) + space;
    }
    baseline += line + line / 2;
  }
}

}  // namespace

Canvas::Canvas(int width, int height)
    : width_(std::max(0, width)),
      height_(std::max(0, height)),
      rgb_(std::size_t(width_) * height_ * 3, 255) {}

Rgb Canvas::pixel(int x, int y) const {
  const std::uint8_t* p = row(y) + std::size_t(x) * 3;
  return {p[0], p[1], p[2]};
}

void Canvas::fill(Box box, Rgb colour) {
  const int x0 = std::max(box.x0, 0), x1 = std::min(box.x1, width_);
  const int y0 = std::max(box.y0, 0), y1 = std::min(box.y1, height_);
  for (int y = y0; y < y1; ++y) {
    std::uint8_t* p = rgb_.data() + (std::size_t(y) * width_ + x0) * 3;
    for (int x = x0; x < x1; ++x, p += 3) {
      p[0] = colour.r;
      p[1] = colour.g;
      p[2] = colour.b;
    }
  }
}

void Canvas::blit(const Canvas& src, int x, int y) {
  const int x0 = std::max(x, 0), x1 = std::min(x + src.width(), width_);
  if (x1 <= x0) return;
  for (int sy = std::max(0, -y); sy < src.height() && y + sy < height_; ++sy)
    std::copy_n(src.row(sy) + std::size_t(x0 - x) * 3, std::size_t(x1 - x0) * 3,
                row(y + sy) + std::size_t(x0) * 3);
}

void Canvas::blend(int x, int y, Rgb colour, int coverage) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  std::uint8_t* p = rgb_.data() + (std::size_t(y) * width_ + x) * 3;
  const auto mix = [&](std::uint8_t& dst, int src) {
    dst = std::uint8_t((src * coverage + dst * (255 - coverage) + 127) / 255);
  };
  mix(p[0], colour.r);
  mix(p[1], colour.g);
  mix(p[2], colour.b);
}

PageLayout page_layout(const PageFormat& f) {
  const Scale s = scale_of(f);
  const int margin_x = std::min(s.x(kMarginInches), f.width / 8);
  const int margin_y = std::min(s.y(kMarginInches), f.height / 8);
  const int top = margin_y;
  const int right = f.width - margin_x;
  PageLayout l;
  l.logo = clip({margin_x, top, margin_x + s.x(kLogoInches), top + s.y(kLogoInches)}, f);
  const int heading_x0 = align_up8(l.logo.x1);
  const int heading_text_end = l.logo.x1 + s.x(kHeadingGapInches + kHeadingWidthInches);
  // Narrower bars until the barcode clears the heading; none when even
  // one-pixel modules do not, or the bars would not fit on the page.
  for (int module = std::max(1, int(std::lround(f.x_dpi * kBarModuleInches))); module > 0;
       --module) {
    const Box box = barcode_box(right, top, module, s);
    if (box.x0 >= heading_text_end && box.x0 >= heading_x0 &&
        top + s.y(kBarHeightInches) <= f.height) {
      l.barcode = clip(box, f);
      l.module = module;
      break;
    }
  }
  const int heading_x1 = l.module > 0 ? l.barcode.x0 : align_up8(right);
  l.heading = clip({heading_x0, top, heading_x1, top + s.y(kBlockHeightInches)}, f);
  const int rule_y = top + s.y(kRuleOffsetInches);
  l.rule = clip({margin_x, rule_y, right, rule_y + std::max(2, s.y(kRuleInches))}, f);
  const int strip_y1 = f.height - margin_y;
  l.strip = clip({margin_x, strip_y1 - std::max(2, s.y(kStripInches)), right, strip_y1}, f);
  l.text = clip(
      {margin_x, l.rule.y1 + s.y(kTextGapInches), right, l.strip.y0 - s.y(kStripGapInches)}, f);
  return l;
}

std::string page_barcode_text(const PageFacts& facts) {
  char text[32];
  std::snprintf(text, sizeof text, "PAGE-%04d", facts.page);
  return text;
}

PageFonts PageFonts::open(const PageFormat& f) {
  PageFonts fonts;
  fonts.heading = Font::open({true, kHeadingPoints, f.x_dpi, f.y_dpi});
  fonts.document = Font::open({false, kDocumentPoints, f.x_dpi, f.y_dpi});
  fonts.caption = Font::open({false, kCaptionPoints, f.x_dpi, f.y_dpi});
  fonts.text = Font::open({false, kTextPoints, f.x_dpi, f.y_dpi});
  return fonts;
}

Canvas page_template(const PageFormat& f, const PageLayout& l, PageFonts& fonts) {
  Canvas c(f.width, f.height);
  c.fill(l.logo, kLogoBlue);
  c.fill(l.rule, kRuleRed);
  draw_strip(c, l.strip);
  if (!l.text.empty()) draw_prose(c, l.text, *fonts.text);
  return c;
}

Canvas page_heading(const PageFormat& f, const PageLayout& l, const PageFacts& facts,
                    PageFonts& fonts) {
  Canvas c(l.heading.width(), l.heading.height());
  if (c.width() == 0 || c.height() == 0) return c;
  const Scale s = scale_of(f);
  Font& bold = *fonts.heading;
  Font& regular = *fonts.document;
  const int x = l.logo.x1 + s.x(kHeadingGapInches) - l.heading.x0;
  char text[64];
  std::snprintf(text, sizeof text, "Page %d - %s", facts.page, facts.back ? "back" : "front");
  const int baseline = bold.ascent();
  text_draw(c, bold, x, baseline, text, kBlack);
  std::snprintf(text, sizeof text, "Document %d", facts.document);
  const int below = bold.line_height() - bold.ascent() + regular.line_height() / 4;
  text_draw(c, regular, x, baseline + below + regular.ascent(), text, kBlack);
  return c;
}

Canvas page_barcode(const PageFormat& f, const PageLayout& l, const PageFacts& facts,
                    PageFonts& fonts, std::string& out_text) {
  out_text.clear();
  Canvas c(l.barcode.width(), l.barcode.height());
  if (l.module == 0 || c.width() == 0 || c.height() == 0) return c;
  const Scale s = scale_of(f);
  const std::string text = page_barcode_text(facts);
  const std::vector<bool> modules = code128_modules(text);
  // The bars end a quiet zone before the page's right margin, whatever the
  // length of the text.
  const int right = f.width - std::min(s.x(kMarginInches), f.width / 8) - l.barcode.x0;
  const int bars_x0 = right - (int(modules.size()) + kQuietModules) * l.module;
  if (bars_x0 < kQuietModules * l.module) return c;  // a page number too long for the box
  const int bar_height = s.y(kBarHeightInches);
  for (std::size_t i = 0; i < modules.size(); ++i)
    if (modules[i]) {
      const int x = bars_x0 + int(i) * l.module;
      c.fill({x, 0, x + l.module, bar_height}, kBlack);
    }
  Font& caption = *fonts.caption;
  const int bars_width = int(modules.size()) * l.module;
  const int x = bars_x0 + (bars_width - text_width(caption, text)) / 2;
  text_draw(c, caption, x, bar_height + s.y(kCaptionGapInches) + caption.ascent(), text, kBlack);
  out_text = text;
  return c;
}

}  // namespace vscan::pages
