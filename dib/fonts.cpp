// Fonts for text drawing.
//
// Choosing: fontconfig is asked for the name, with the weight and slant the
// flags want, outline faces only. fontconfig answers every question with some
// font, so an answer counts only when its family is one the name itself
// stands for: the name, or an alias the configuration binds strongly to it
// ("Arial" -> "Liberation Sans"). The generic families it falls back to for
// any unknown name are bound weakly and do not count. Answers are kept per
// (name, bold, italic); fontconfig's first load reads the font folders, which
// takes far longer than drawing a stamp.
//
// Drawing: FreeType loads the glyph outline hinted for black-and-white
// output, makes up bold or italic when the file has no such style, and
// renders it with the black-and-white rasteriser into a scratch bitmap the
// size of the part of the glyph that falls inside the target rows; those
// bits are then OR-ed into the rows. A glyph thousands of pixels tall costs
// only the rows it covers.
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

// The process's fonts: fontconfig's configuration, FreeType, the open faces
// and the answers given. A process resource: kept until the process ends.
struct FontCache {
  std::recursive_mutex lock;
  bool started = false;
  FcConfig* config = nullptr;
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
  c.config = FcInitLoadConfigAndFonts();
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
  start(c);
  if (c.config == nullptr) return std::nullopt;
  const auto key = std::make_tuple(lower(face), bold, italic);
  const auto known = c.choices.find(key);
  if (known != c.choices.end()) return known->second;
  auto choice = choose_uncached(c.config, face, bold, italic);
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

struct FontSize::Impl {
  std::unique_lock<std::recursive_mutex> hold;
  FT_Library library = nullptr;
  FT_Face face = nullptr;
  bool embolden = false, oblique = false;
  std::unordered_map<char32_t, int> advances;
  std::vector<std::uint8_t> scratch;
};

FontSize::FontSize(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
FontSize::~FontSize() = default;

std::unique_ptr<FontSize> FontSize::open(const FontChoice& choice, int pixels) {
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
  const FT_Int32 flags = FT_LOAD_NO_BITMAP | FT_LOAD_TARGET_MONO;
  if (FT_Load_Glyph(face, index, flags) != 0 && FT_Load_Glyph(face, index, flags | FT_LOAD_NO_HINTING) != 0)
    return false;
  if (face->glyph->format != FT_GLYPH_FORMAT_OUTLINE) return false;
  if (impl_->embolden) FT_GlyphSlot_Embolden(face->glyph);
  if (impl_->oblique) FT_GlyphSlot_Oblique(face->glyph);
  return true;
}

int FontSize::advance(char32_t c) {
  const auto known = impl_->advances.find(c);
  if (known != impl_->advances.end()) return known->second;
  const int a = load(c) ? std::max(0, round_px(impl_->face->glyph->advance.x)) : 0;
  impl_->advances.emplace(c, a);
  return a;
}

void FontSize::draw(char32_t c, int pen_x, int baseline, const BitRows& rows) {
  if (!load(c)) return;
  FT_Outline& outline = impl_->face->glyph->outline;
  FT_BBox box;
  FT_Outline_Get_CBox(&outline, &box);
  // The glyph's pixels on the rows, cut to them.
  const long left = std::max<long>(0, static_cast<long>(pen_x) + floor_px(box.xMin));
  const long right = std::min<long>(rows.width, static_cast<long>(pen_x) + ceil_px(box.xMax));
  const long top = std::max<long>(0, static_cast<long>(baseline) - ceil_px(box.yMax));
  const long bottom = std::min<long>(rows.height, static_cast<long>(baseline) - floor_px(box.yMin));
  if (left >= right || top >= bottom) return;
  const int w = static_cast<int>(right - left), h = static_cast<int>(bottom - top);
  const int pitch = (w + 7) / 8;
  impl_->scratch.assign(static_cast<std::size_t>(pitch) * static_cast<std::size_t>(h), 0);
  FT_Bitmap target;
  FT_Bitmap_Init(&target);
  target.rows = static_cast<unsigned>(h);
  target.width = static_cast<unsigned>(w);
  target.pitch = pitch;
  target.buffer = impl_->scratch.data();
  target.pixel_mode = FT_PIXEL_MODE_MONO;
  target.num_grays = 2;
  // The scratch bitmap's lower left corner is the outline's origin.
  FT_Outline_Translate(&outline, (pen_x - left) * 64, (bottom - baseline) * 64);
  if (FT_Outline_Get_Bitmap(impl_->library, &outline, &target) != 0) return;
  const int shift = static_cast<int>(left & 7);
  const std::size_t first = static_cast<std::size_t>(left >> 3);
  const std::size_t used = static_cast<std::size_t>((rows.width + 7) / 8);
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* src = impl_->scratch.data() + static_cast<std::size_t>(y) * pitch;
    std::uint8_t* dst = rows.row(static_cast<int>(top) + y);
    for (int i = 0; i < pitch; ++i) {
      const std::uint8_t v = src[i];
      if (v == 0) continue;
      dst[first + i] |= static_cast<std::uint8_t>(v >> shift);
      if (shift != 0 && first + i + 1 < used) dst[first + i + 1] |= static_cast<std::uint8_t>(v << (8 - shift));
    }
  }
}

}  // namespace dib
