// Fonts for text drawing.
//
// Choosing: fontconfig is asked for the name, with the weight and slant the
// flags want, outline faces only. fontconfig answers every question with some
// font, so an answer counts only when its family is one the name itself
// stands for: the name, or an alias the configuration binds strongly to it
// ("Arial" -> "Liberation Sans"). The generic families it falls back to for
// any unknown name are bound weakly and do not count. Answers are kept per
// (name, bold, italic): loading fontconfig's configuration takes far longer
// than drawing a stamp.
//
// Drawing: FreeType loads the glyph outline (hinted for black-and-white
// pages; drawn at twice the size for smooth edges, it keeps its true
// shape), makes up bold or italic when the file has no such style, and
// renders it with the black-and-white rasteriser; the bits are OR-ed into
// the target rows at the pen's whole-pixel position. A glyph's picture is
// kept for the rest of the drawing, so a letter that comes back is rendered
// once. A glyph too big to keep (thousands of pixels tall) is rendered each
// time into a bitmap the size of its part inside the rows only.
#include "dib/fonts.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_BITMAP_H
#include FT_OUTLINE_H
#include FT_SYNTHESIS_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cctype>
#include <cmath>
#include <map>
#include <mutex>
#include <set>
#include <tuple>
#include <unordered_map>

#include "core/state_registry.h"

namespace dib {
namespace {

constexpr int kMaxPixels = 32767;
constexpr std::size_t kMaxChoicesKept = 256;
// Names of the families fontconfig stands in for with the fonts of its
// choice: any answer is the right one for them.
constexpr const char* kGenericFamilies[] = {"sans-serif", "sans", "serif",   "monospace",
                                            "mono",       "cursive", "fantasy", "system-ui"};

struct MetricFace {
  const char* name;       // the face users ask for
  const char* metric;     // installed face with the same character widths
  const char* fallback;   // DejaVu's face of the same kind
};
constexpr MetricFace kMetricFaces[] = {
    {"arial", "Liberation Sans", "DejaVu Sans"},
    {"courier new", "Liberation Mono", "DejaVu Sans Mono"},
    {"times new roman", "Liberation Serif", "DejaVu Serif"},
};
constexpr const char* kDefaultFace = "Arial";

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// The process's fonts: FreeType, the open faces
// and the answers given. A process resource: kept until the process ends.
struct FontCache {
  std::recursive_mutex lock;
  bool started = false;
  FT_Library library = nullptr;
  std::map<std::pair<std::string, int>, FT_Face> faces;
  std::map<std::tuple<std::string, bool, bool>, std::optional<FontChoice>> choices;
};

// Never destroyed: faces in use by another thread at exit stay valid, and
// what the cache holds stays reachable for the leak checker.
FontCache& font_cache() {
  static FontCache* const cache = new FontCache;
  return *cache;
}

const bool kFontCacheRegistered =
    core::register_state({"dib.font_cache", nullptr, nullptr, core::ResetStage::Resource});

void start(FontCache& c) {
  if (c.started) return;
  c.started = true;
  if (FT_Init_FreeType(&c.library) != 0) c.library = nullptr;
}

// The families fontconfig binds strongly to the pattern's request, lower case.
std::set<std::string> strong_families(FcPattern* p) {
  std::set<std::string> names;
  FcValue v;
  FcValueBinding b;
  for (int i = 0; FcPatternGetWithBinding(p, FC_FAMILY, i, &v, &b) == FcResultMatch; ++i) {
    if (v.type == FcTypeString && b != FcValueBindingWeak)
      names.insert(lower(reinterpret_cast<const char*>(v.u.s)));
  }
  return names;
}

// fontconfig's answer for the families (first preferred); nothing when it
// has none, or when `any_answer` is off and the answer is not one of them.
std::optional<FontChoice> match(FcConfig* config, const std::vector<std::string>& families, bool bold,
                                bool italic, bool any_answer) {
  FcPattern* p = FcPatternCreate();
  if (p == nullptr) return std::nullopt;
  for (const std::string& f : families) FcPatternAddString(p, FC_FAMILY, reinterpret_cast<const FcChar8*>(f.c_str()));
  FcPatternAddInteger(p, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
  FcPatternAddInteger(p, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  FcPatternAddBool(p, FC_SCALABLE, FcTrue);
  FcConfigSubstitute(config, p, FcMatchPattern);
  FcDefaultSubstitute(p);
  const std::set<std::string> wanted = strong_families(p);
  FcResult result = FcResultNoMatch;
  FcPattern* m = FcFontMatch(config, p, &result);
  FcPatternDestroy(p);
  if (m == nullptr) return std::nullopt;
  std::optional<FontChoice> choice;
  FcChar8* file = nullptr;
  if (FcPatternGetString(m, FC_FILE, 0, &file) == FcResultMatch) {
    FontChoice c;
    c.file = reinterpret_cast<const char*>(file);
    FcPatternGetInteger(m, FC_INDEX, 0, &c.index);
    bool known = any_answer;
    FcChar8* family = nullptr;
    for (int i = 0; FcPatternGetString(m, FC_FAMILY, i, &family) == FcResultMatch; ++i) {
      if (i == 0) c.family = reinterpret_cast<const char*>(family);
      known = known || wanted.count(lower(reinterpret_cast<const char*>(family))) != 0;
    }
    int weight = FC_WEIGHT_REGULAR, slant = FC_SLANT_ROMAN;
    FcPatternGetInteger(m, FC_WEIGHT, 0, &weight);
    FcPatternGetInteger(m, FC_SLANT, 0, &slant);
    c.embolden = bold && weight < FC_WEIGHT_DEMIBOLD;
    c.oblique = italic && slant == FC_SLANT_ROMAN;
    if (known) choice = c;
  }
  FcPatternDestroy(m);
  return choice;
}

std::vector<std::string> families_for(std::string_view face) {
  const std::string key = lower(face);
  for (const MetricFace& f : kMetricFaces) {
    if (key == f.name) return {std::string(face), f.metric, f.fallback};
  }
  return {std::string(face)};
}

bool is_generic(std::string_view face) {
  const std::string key = lower(face);
  return std::any_of(std::begin(kGenericFamilies), std::end(kGenericFamilies),
                     [&](const char* g) { return key == g; });
}

std::optional<FontChoice> choose_uncached(FcConfig* config, std::string_view face, bool bold, bool italic) {
  if (auto c = match(config, families_for(face), bold, italic, is_generic(face))) return c;
  // The default face, then whatever fontconfig offers for it: a stamp in
  // another face is better than none.
  auto c = match(config, families_for(kDefaultFace), bold, italic, false);
  if (!c) c = match(config, families_for(kDefaultFace), bold, italic, true);
  if (c) c->substituted = true;
  return c;
}

int floor_px(FT_Pos v) { return static_cast<int>(v >= 0 ? v / 64 : -((-v + 63) / 64)); }
int ceil_px(FT_Pos v) { return -floor_px(-v); }
int round_px(FT_Pos v) { return floor_px(v + 32); }

}  // namespace

std::optional<FontChoice> font_choose(std::string_view face, bool bold, bool italic) {
  FontCache& c = font_cache();
  std::lock_guard<std::recursive_mutex> hold(c.lock);
  const auto key = std::make_tuple(lower(face), bold, italic);
  const auto known = c.choices.find(key);
  if (known != c.choices.end()) return known->second;
  // fontconfig's configuration is loaded for the question and let go after:
  // kept, part of it would outlive every reference to it.
  FcConfig* config = FcInitLoadConfigAndFonts();
  if (config == nullptr) return std::nullopt;
  auto choice = choose_uncached(config, face, bold, italic);
  FcConfigDestroy(config);
  // A program that draws with ever new names must not grow without end.
  if (c.choices.size() >= kMaxChoicesKept) c.choices.clear();
  c.choices.emplace(key, choice);
  return choice;
}

void bits_fill(const BitRows& rows, int x0, int y0, int x1, int y1) {
  x0 = std::max(x0, 0), y0 = std::max(y0, 0);
  x1 = std::min(x1, rows.width), y1 = std::min(y1, rows.height);
  for (int y = y0; y < y1; ++y) {
    std::uint8_t* r = rows.row(y);
    for (int x = x0; x < x1; ++x) r[x >> 3] |= static_cast<std::uint8_t>(0x80 >> (x & 7));
  }
}

// Part of a glyph as bits: `width` x `height`, most significant bit
// leftmost, its top-left at (x, y) of the plane it was rendered for.
struct GlyphBits {
  long x = 0, y = 0;
  int width = 0, height = 0, pitch = 0;
  std::vector<std::uint8_t> bits;
};

// What a drawing knows of one character: its advance, and its whole picture
// once drawn, unless that is too big to keep.
struct Glyph {
  int advance = 0;
  bool tried = false;   // the picture was asked for
  bool cached = false;  // `picture` holds the whole glyph, origin at (0, 0)
  GlyphBits picture;
};

struct FontSize::Impl {
  std::unique_lock<std::recursive_mutex> hold;
  FT_Library library = nullptr;
  FT_Face face = nullptr;
  bool embolden = false, oblique = false;
  FT_Int32 load_flags = FT_LOAD_NO_BITMAP;
  std::unordered_map<char32_t, Glyph> glyphs;
  std::size_t cached_bytes = 0;
  GlyphBits scratch;
};

namespace {

// Pictures kept per glyph and per drawing, at most: a stamp's glyphs are a
// few kilobytes; a glyph thousands of pixels tall is drawn from its outline
// each time, only the part inside the mask.
constexpr long kGlyphBitsKept = 1L << 20;
constexpr std::size_t kBytesKept = 8u << 20;

// Renders the outline (origin at (ox, oy) of a plane whose rows grow
// downwards) into the region [x0, x1) x [y0, y1) of that plane.
bool render_region(FT_Library library, FT_Outline& outline, long ox, long oy, long x0, long y0, long x1, long y1,
                   GlyphBits& out) {
  out.x = x0, out.y = y0;
  out.width = static_cast<int>(x1 - x0), out.height = static_cast<int>(y1 - y0);
  out.pitch = (out.width + 7) / 8;
  out.bits.assign(static_cast<std::size_t>(out.pitch) * static_cast<std::size_t>(out.height), 0);
  FT_Bitmap target;
  FT_Bitmap_Init(&target);
  target.rows = static_cast<unsigned>(out.height);
  target.width = static_cast<unsigned>(out.width);
  target.pitch = out.pitch;
  target.buffer = out.bits.data();
  target.pixel_mode = FT_PIXEL_MODE_MONO;
  target.num_grays = 2;
  // The bitmap's lower left corner is the outline's origin.
  FT_Outline_Translate(&outline, (ox - x0) * 64, (y1 - oy) * 64);
  return FT_Outline_Get_Bitmap(library, &outline, &target) == 0;
}

// ORs the bits into the rows with their top-left at (at_x, at_y), cut to
// the rows.
void or_bits(const GlyphBits& g, long at_x, long at_y, const BitRows& rows) {
  const long y0 = std::max(0L, at_y), y1 = std::min<long>(rows.height, at_y + g.height);
  const bool whole_width = at_x >= 0 && at_x + g.width <= rows.width;
  const int shift = static_cast<int>(at_x & 7);
  const std::size_t used = static_cast<std::size_t>((rows.width + 7) / 8);
  for (long y = y0; y < y1; ++y) {
    const std::uint8_t* src = g.bits.data() + static_cast<std::size_t>(y - at_y) * static_cast<std::size_t>(g.pitch);
    std::uint8_t* dst = rows.row(static_cast<int>(y));
    if (whole_width) {
      const std::size_t first = static_cast<std::size_t>(at_x >> 3);
      for (int i = 0; i < g.pitch; ++i) {
        const std::uint8_t v = src[i];
        if (v == 0) continue;
        dst[first + static_cast<std::size_t>(i)] |= static_cast<std::uint8_t>(v >> shift);
        if (shift != 0 && first + static_cast<std::size_t>(i) + 1 < used)
          dst[first + static_cast<std::size_t>(i) + 1] |= static_cast<std::uint8_t>(v << (8 - shift));
      }
      continue;
    }
    const long x0 = std::max(0L, at_x), x1 = std::min<long>(rows.width, at_x + g.width);
    for (long x = x0; x < x1; ++x) {
      const long i = x - at_x;
      if (src[i >> 3] & (0x80 >> (i & 7))) dst[x >> 3] |= static_cast<std::uint8_t>(0x80 >> (x & 7));
    }
  }
}

}  // namespace

FontSize::FontSize(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
FontSize::~FontSize() = default;

std::unique_ptr<FontSize> FontSize::open(const FontChoice& choice, int pixels, bool hinted) {
  FontCache& c = font_cache();
  auto impl = std::make_unique<Impl>();
  impl->hold = std::unique_lock<std::recursive_mutex>(c.lock);
  start(c);
  if (c.library == nullptr) return nullptr;
  const auto key = std::make_pair(choice.file, choice.index);
  auto at = c.faces.find(key);
  if (at == c.faces.end()) {
    FT_Face face = nullptr;
    if (FT_New_Face(c.library, choice.file.c_str(), choice.index, &face) != 0) return nullptr;
    at = c.faces.emplace(key, face).first;
  }
  FT_Face face = at->second;
  if (FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(std::clamp(pixels, 1, kMaxPixels))) != 0) return nullptr;
  impl->library = c.library;
  impl->face = face;
  impl->embolden = choice.embolden;
  impl->oblique = choice.oblique;
  impl->load_flags = FT_LOAD_NO_BITMAP | (hinted ? FT_LOAD_TARGET_MONO : FT_LOAD_NO_HINTING);
  auto font = std::unique_ptr<FontSize>(new FontSize(std::move(impl)));

  const FT_Size_Metrics& m = face->size->metrics;
  font->ascent_ = ceil_px(m.ascender);
  font->line_height_ = std::max(1, font->ascent_ + ceil_px(-m.descender));
  const FT_Pos under_pos = FT_MulFix(face->underline_position, m.y_scale);
  const FT_Pos under_size = std::max<FT_Pos>(FT_MulFix(face->underline_thickness, m.y_scale), 64);
  font->underline_ = {round_px(-under_pos - under_size / 2), std::max(1, round_px(under_size))};
  // The strike-out stroke's top, above the baseline, comes from the OS/2
  // table; without one, a quarter of the em up is where it usually lies.
  FT_Pos strike_top = m.y_ppem * 64 / 4 + under_size / 2, strike_size = under_size;
  if (const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
      os2 != nullptr && os2->version != 0xFFFF && os2->yStrikeoutSize > 0) {
    strike_top = FT_MulFix(os2->yStrikeoutPosition, m.y_scale);
    strike_size = std::max<FT_Pos>(FT_MulFix(os2->yStrikeoutSize, m.y_scale), 64);
  }
  font->strikeout_ = {-round_px(strike_top), std::max(1, round_px(strike_size))};
  return font;
}

// Loads the outline of `c` into the face's slot, made bold or slanted as
// asked. Hinting can fail at extreme sizes; the plain outline then serves.
bool FontSize::load(char32_t c) {
  FT_Face face = impl_->face;
  const FT_UInt index = FT_Get_Char_Index(face, c);
  const FT_Int32 flags = impl_->load_flags;
  if (FT_Load_Glyph(face, index, flags) != 0 && FT_Load_Glyph(face, index, flags | FT_LOAD_NO_HINTING) != 0)
    return false;
  if (face->glyph->format != FT_GLYPH_FORMAT_OUTLINE) return false;
  if (impl_->embolden) FT_GlyphSlot_Embolden(face->glyph);
  if (impl_->oblique) FT_GlyphSlot_Oblique(face->glyph);
  return true;
}

int FontSize::advance(char32_t c) {
  const auto [at, fresh] = impl_->glyphs.try_emplace(c);
  if (fresh && load(c)) at->second.advance = std::max(0, round_px(impl_->face->glyph->advance.x));
  return at->second.advance;
}

void FontSize::draw(char32_t c, int pen_x, int baseline, const BitRows& rows) {
  advance(c);
  Glyph& g = impl_->glyphs[c];
  if (!g.tried) {
    g.tried = true;
    if (!load(c)) return;
    FT_BBox box;
    FT_Outline_Get_CBox(&impl_->face->glyph->outline, &box);
    const long x0 = floor_px(box.xMin), x1 = ceil_px(box.xMax), y0 = -ceil_px(box.yMax), y1 = -floor_px(box.yMin);
    const long area = (x1 - x0) * (y1 - y0);
    if (area <= 0) {
      g.cached = true;  // a glyph with no ink
    } else if (area <= kGlyphBitsKept && impl_->cached_bytes < kBytesKept &&
               render_region(impl_->library, impl_->face->glyph->outline, 0, 0, x0, y0, x1, y1, g.picture)) {
      g.cached = true;
      impl_->cached_bytes += g.picture.bits.size();
    }
  }
  if (g.cached) {
    if (!g.picture.bits.empty()) or_bits(g.picture, pen_x + g.picture.x, baseline + g.picture.y, rows);
    return;
  }
  // Too big to keep: only the part on the rows is rendered.
  if (!load(c)) return;
  FT_Outline& outline = impl_->face->glyph->outline;
  FT_BBox box;
  FT_Outline_Get_CBox(&outline, &box);
  const long left = std::max<long>(0, static_cast<long>(pen_x) + floor_px(box.xMin));
  const long right = std::min<long>(rows.width, static_cast<long>(pen_x) + ceil_px(box.xMax));
  const long top = std::max<long>(0, static_cast<long>(baseline) - ceil_px(box.yMax));
  const long bottom = std::min<long>(rows.height, static_cast<long>(baseline) - floor_px(box.yMin));
  if (left >= right || top >= bottom) return;
  if (render_region(impl_->library, outline, pen_x, baseline, left, top, right, bottom, impl_->scratch))
    or_bits(impl_->scratch, left, top, rows);
}

}  // namespace dib
