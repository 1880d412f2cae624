// Fonts of the synthetic pages. The face is DejaVu Sans (regular or bold),
// located once per process through fontconfig and rendered by FreeType with
// anti-aliasing at the page's horizontal and vertical resolution, so a
// 10 pt line is 10 pt tall at any dpi. Without fontconfig's match or a
// loadable face, a built-in 5x7 bitmap font (printable ASCII) is scaled by a
// whole number of pixels to about the same size: coarse, but the pages keep
// their text, and tests that need exact glyphs do not depend on it.
#include <fontconfig/fontconfig.h>
#include <ft2build.h>

#include "sources/virtual/pages/detail.h"
#include FT_FREETYPE_H

#include <algorithm>
#include <array>
#include <cmath>
#include <mutex>
#include <optional>

namespace vscan::pages {
namespace {

// ---------------------------------------------------------------- fontconfig

std::optional<std::string> font_lookup(const char* pattern_text) {
  FcConfig* config = FcInitLoadConfigAndFonts();
  if (config == nullptr) return std::nullopt;
  std::optional<std::string> path;
  FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>(pattern_text));
  if (pattern != nullptr) {
    FcConfigSubstitute(config, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(config, pattern, &result);
    FcChar8* file = nullptr;
    FcChar8* family = nullptr;
    // fontconfig answers with some font for any pattern; only DejaVu itself
    // keeps the pages the same from machine to machine.
    if (match != nullptr && FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch &&
        FcPatternGetString(match, FC_FAMILY, 0, &family) == FcResultMatch &&
        std::string_view(reinterpret_cast<const char*>(family)) == "DejaVu Sans")
      path = reinterpret_cast<const char*>(file);
    if (match != nullptr) FcPatternDestroy(match);
    FcPatternDestroy(pattern);
  }
  FcConfigDestroy(config);
  return path;
}

// The face files, looked up once: fontconfig's first load scans the font
// folders, far slower than rendering a page.
const std::optional<std::string>& font_file(bool bold) {
  static std::once_flag once;
  static std::array<std::optional<std::string>, 2> files;
  std::call_once(once, [] {
    files[0] = font_lookup("DejaVu Sans");
    files[1] = font_lookup("DejaVu Sans:bold");
  });
  return files[bold ? 1 : 0];
}

constexpr char kReplacement = '?';

bool printable(char c) { return c >= 32 && c <= 126; }

// ---------------------------------------------------------------- FreeType

class FreeTypeFont final : public Font {
 public:
  ~FreeTypeFont() override {
    if (face_ != nullptr) FT_Done_Face(face_);
    if (library_ != nullptr) FT_Done_FreeType(library_);
  }

  // Null when the face cannot be loaded at that size.
  static std::unique_ptr<Font> load(const std::string& file, const FontSpec& spec) {
    auto font = std::unique_ptr<FreeTypeFont>(new FreeTypeFont);
    if (FT_Init_FreeType(&font->library_) != 0) return nullptr;
    if (FT_New_Face(font->library_, file.c_str(), 0, &font->face_) != 0) return nullptr;
    const auto x_dpi = FT_UInt(std::clamp(std::lround(spec.x_dpi), 1L, 10000L));
    const auto y_dpi = FT_UInt(std::clamp(std::lround(spec.y_dpi), 1L, 10000L));
    if (FT_Set_Char_Size(font->face_, 0, FT_F26Dot6(std::lround(spec.points * 64)), x_dpi, y_dpi) !=
        0)
      return nullptr;
    const FT_Size_Metrics& m = font->face_->size->metrics;
    font->ascent_ = int((m.ascender + 63) >> 6);
    font->line_height_ = std::max(1, int((m.height + 32) >> 6));
    return font;
  }

  const Glyph& glyph(char c) override {
    if (!printable(c)) c = kReplacement;
    auto& slot = glyphs_[std::size_t(c - 32)];
    if (!slot) slot = render(c);
    return *slot;
  }
  int ascent() const override { return ascent_; }
  int line_height() const override { return line_height_; }
  bool builtin() const override { return false; }

 private:
  FreeTypeFont() = default;

  Glyph render(char c) {
    Glyph g;
    if (FT_Load_Char(face_, FT_ULong(static_cast<unsigned char>(c)), FT_LOAD_RENDER) != 0) return g;
    const FT_GlyphSlot slot = face_->glyph;
    const FT_Bitmap& bm = slot->bitmap;
    g.left = slot->bitmap_left;
    g.top = slot->bitmap_top;
    g.advance = int((slot->advance.x + 32) >> 6);
    if (bm.pixel_mode != FT_PIXEL_MODE_GRAY) return g;  // nothing but gray is asked for
    g.width = int(bm.width);
    g.height = int(bm.rows);
    g.coverage.resize(std::size_t(g.width) * g.height);
    for (int y = 0; y < g.height; ++y) {
      const unsigned char* src = bm.buffer + std::ptrdiff_t(y) * bm.pitch;
      std::copy(src, src + g.width, g.coverage.begin() + std::ptrdiff_t(y) * g.width);
    }
    return g;
  }

  FT_Library library_ = nullptr;
  FT_Face face_ = nullptr;
  int ascent_ = 0;
  int line_height_ = 1;
  std::array<std::optional<Glyph>, 95> glyphs_;
};

// ---------------------------------------------------------------- built-in

// Columns of each glyph, 32..126, least significant bit at the top row.
constexpr std::uint8_t kFont5x7[95][5] = {
    {0x00, 0x00, 0x00, 0x00, 0x00}, {0x00, 0x00, 0x5F, 0x00, 0x00},
    {0x00, 0x07, 0x00, 0x07, 0x00}, {0x14, 0x7F, 0x14, 0x7F, 0x14},
    {0x24, 0x2A, 0x7F, 0x2A, 0x12}, {0x23, 0x13, 0x08, 0x64, 0x62},
    {0x36, 0x49, 0x55, 0x22, 0x50}, {0x00, 0x05, 0x03, 0x00, 0x00},
    {0x00, 0x1C, 0x22, 0x41, 0x00}, {0x00, 0x41, 0x22, 0x1C, 0x00},
    {0x08, 0x2A, 0x1C, 0x2A, 0x08}, {0x08, 0x08, 0x3E, 0x08, 0x08},
    {0x00, 0x50, 0x30, 0x00, 0x00}, {0x08, 0x08, 0x08, 0x08, 0x08},
    {0x00, 0x60, 0x60, 0x00, 0x00}, {0x20, 0x10, 0x08, 0x04, 0x02},
    {0x3E, 0x51, 0x49, 0x45, 0x3E}, {0x00, 0x42, 0x7F, 0x40, 0x00},  // 0 1
    {0x42, 0x61, 0x51, 0x49, 0x46}, {0x21, 0x41, 0x45, 0x4B, 0x31},
    {0x18, 0x14, 0x12, 0x7F, 0x10}, {0x27, 0x45, 0x45, 0x45, 0x39},
    {0x3C, 0x4A, 0x49, 0x49, 0x30}, {0x01, 0x71, 0x09, 0x05, 0x03},
    {0x36, 0x49, 0x49, 0x49, 0x36}, {0x06, 0x49, 0x49, 0x29, 0x1E},
    {0x00, 0x36, 0x36, 0x00, 0x00}, {0x00, 0x56, 0x36, 0x00, 0x00},  // : ;
    {0x08, 0x14, 0x22, 0x41, 0x00}, {0x14, 0x14, 0x14, 0x14, 0x14},
    {0x00, 0x41, 0x22, 0x14, 0x08}, {0x02, 0x01, 0x51, 0x09, 0x06},
    {0x32, 0x49, 0x79, 0x41, 0x3E}, {0x7E, 0x11, 0x11, 0x11, 0x7E},  // @ A
    {0x7F, 0x49, 0x49, 0x49, 0x36}, {0x3E, 0x41, 0x41, 0x41, 0x22},
    {0x7F, 0x41, 0x41, 0x22, 0x1C}, {0x7F, 0x49, 0x49, 0x49, 0x41},
    {0x7F, 0x09, 0x09, 0x01, 0x01}, {0x3E, 0x41, 0x41, 0x51, 0x32},
    {0x7F, 0x08, 0x08, 0x08, 0x7F}, {0x00, 0x41, 0x7F, 0x41, 0x00},
    {0x20, 0x40, 0x41, 0x3F, 0x01}, {0x7F, 0x08, 0x14, 0x22, 0x41},
    {0x7F, 0x40, 0x40, 0x40, 0x40}, {0x7F, 0x02, 0x04, 0x02, 0x7F},
    {0x7F, 0x04, 0x08, 0x10, 0x7F}, {0x3E, 0x41, 0x41, 0x41, 0x3E},
    {0x7F, 0x09, 0x09, 0x09, 0x06}, {0x3E, 0x41, 0x51, 0x21, 0x5E},
    {0x7F, 0x09, 0x19, 0x29, 0x46}, {0x46, 0x49, 0x49, 0x49, 0x31},
    {0x01, 0x01, 0x7F, 0x01, 0x01}, {0x3F, 0x40, 0x40, 0x40, 0x3F},
    {0x1F, 0x20, 0x40, 0x20, 0x1F}, {0x7F, 0x20, 0x18, 0x20, 0x7F},
    {0x63, 0x14, 0x08, 0x14, 0x63}, {0x03, 0x04, 0x78, 0x04, 0x03},
    {0x61, 0x51, 0x49, 0x45, 0x43}, {0x00, 0x7F, 0x41, 0x41, 0x00},  // Z [
    {0x02, 0x04, 0x08, 0x10, 0x20}, {0x00, 0x41, 0x41, 0x7F, 0x00},
    {0x04, 0x02, 0x01, 0x02, 0x04}, {0x40, 0x40, 0x40, 0x40, 0x40},
    {0x00, 0x01, 0x02, 0x04, 0x00}, {0x20, 0x54, 0x54, 0x54, 0x78},  // ` a
    {0x7F, 0x48, 0x44, 0x44, 0x38}, {0x38, 0x44, 0x44, 0x44, 0x20},
    {0x38, 0x44, 0x44, 0x48, 0x7F}, {0x38, 0x54, 0x54, 0x54, 0x18},
    {0x08, 0x7E, 0x09, 0x01, 0x02}, {0x08, 0x14, 0x54, 0x54, 0x3C},
    {0x7F, 0x08, 0x04, 0x04, 0x78}, {0x00, 0x44, 0x7D, 0x40, 0x00},
    {0x20, 0x40, 0x44, 0x3D, 0x00}, {0x00, 0x7F, 0x10, 0x28, 0x44},
    {0x00, 0x41, 0x7F, 0x40, 0x00}, {0x7C, 0x04, 0x18, 0x04, 0x78},
    {0x7C, 0x08, 0x04, 0x04, 0x78}, {0x38, 0x44, 0x44, 0x44, 0x38},
    {0x7C, 0x14, 0x14, 0x14, 0x08}, {0x08, 0x14, 0x14, 0x18, 0x7C},
    {0x7C, 0x08, 0x04, 0x04, 0x08}, {0x48, 0x54, 0x54, 0x54, 0x20},
    {0x04, 0x3F, 0x44, 0x40, 0x20}, {0x3C, 0x40, 0x40, 0x20, 0x7C},
    {0x1C, 0x20, 0x40, 0x20, 0x1C}, {0x3C, 0x40, 0x30, 0x40, 0x3C},
    {0x44, 0x28, 0x10, 0x28, 0x44}, {0x0C, 0x50, 0x50, 0x50, 0x3C},
    {0x44, 0x64, 0x54, 0x4C, 0x44}, {0x00, 0x08, 0x36, 0x41, 0x00},  // z {
    {0x00, 0x00, 0x7F, 0x00, 0x00}, {0x00, 0x41, 0x36, 0x08, 0x00},
    {0x08, 0x04, 0x08, 0x10, 0x08}};

constexpr int kCellWidth = 6;   // 5 columns and a gap
constexpr int kCellHeight = 9;  // 7 rows, a gap above and below
constexpr int kCellAscent = 8;  // baseline under the 7th row

class BuiltinFont final : public Font {
 public:
  explicit BuiltinFont(const FontSpec& spec) : bold_(spec.bold) {
    // Scale so the cell is about as tall as the font's line would be.
    const double line_pixels_y = spec.points / 72.0 * spec.y_dpi * 1.17;
    const double line_pixels_x = spec.points / 72.0 * spec.x_dpi * 1.17;
    sy_ = std::max(1, int(std::lround(line_pixels_y / kCellHeight)));
    sx_ = std::max(1, int(std::lround(line_pixels_x / kCellHeight)));
  }

  const Glyph& glyph(char c) override {
    if (!printable(c)) c = kReplacement;
    auto& slot = glyphs_[std::size_t(c - 32)];
    if (!slot) slot = render(c);
    return *slot;
  }
  int ascent() const override { return kCellAscent * sy_; }
  int line_height() const override { return kCellHeight * sy_; }
  bool builtin() const override { return true; }

 private:
  Glyph render(char c) const {
    Glyph g;
    // Bold smears each column one scaled pixel to the right.
    const int columns = bold_ ? 6 : 5;
    g.width = columns * sx_;
    g.height = 7 * sy_;
    g.left = 0;
    g.top = 7 * sy_;
    g.advance = (kCellWidth + (bold_ ? 1 : 0)) * sx_;
    g.coverage.assign(std::size_t(g.width) * g.height, 0);
    const auto& cols = kFont5x7[c - 32];
    for (int col = 0; col < columns; ++col) {
      std::uint8_t bits = col < 5 ? cols[col] : 0;
      if (bold_ && col > 0) bits |= cols[col - 1];
      for (int row = 0; row < 7; ++row) {
        if ((bits >> row & 1) == 0) continue;
        for (int y = row * sy_; y < (row + 1) * sy_; ++y)
          std::fill_n(g.coverage.begin() + std::ptrdiff_t(y) * g.width + col * sx_, sx_, 255);
      }
    }
    return g;
  }

  bool bold_;
  int sx_ = 1;
  int sy_ = 1;
  std::array<std::optional<Glyph>, 95> glyphs_;
};

}  // namespace

std::unique_ptr<Font> Font::open(const FontSpec& spec) {
  if (const auto& file = font_file(spec.bold)) {
    if (auto font = FreeTypeFont::load(*file, spec)) return font;
  }
  return open_builtin(spec);
}

std::unique_ptr<Font> Font::open_builtin(const FontSpec& spec) {
  return std::make_unique<BuiltinFont>(spec);
}

int text_draw(Canvas& canvas, Font& font, int x, int baseline, std::string_view text, Rgb colour) {
  for (char c : text) {
    const Glyph& g = font.glyph(c);
    const int left = x + g.left;
    const int top = baseline - g.top;
    for (int y = 0; y < g.height; ++y)
      for (int gx = 0; gx < g.width; ++gx) {
        const int coverage = g.coverage[std::size_t(y) * g.width + gx];
        if (coverage != 0) canvas.blend(left + gx, top + y, colour, coverage);
      }
    x += g.advance;
  }
  return x;
}

int text_width(Font& font, std::string_view text) {
  int width = 0;
  for (char c : text) width += font.glyph(c).advance;
  return width;
}

}  // namespace vscan::pages
