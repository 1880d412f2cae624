// Text drawing on images.
//
// The text is laid out and drawn in its own frame, upright, into a 1-bit
// mask: the box turned by the angle's quarter turns and measured in mask
// pixels. On gray and colour pages the mask has twice the page's resolution
// and is scaled down by area averaging to 8-bit coverage, which gives the
// glyph edges their in-between levels; on other pages it has the page's
// resolution. A page whose two resolutions differ gets square mask pixels at
// the smaller of them, stretched to the page by the same scaling, so the text
// keeps its shape and its box. The coverage is then turned into the page's
// frame, placed in the box as the flags say in the page's terms, and blended
// into the page over the optional background.
//
// Only the rows the text takes are kept in the mask (never more than the box
// at the mask's resolution: 4 x the box's pixels in bits), and lines that
// would start below the box are not laid out, so a huge text, font or box
// costs what fits, not what was asked for.
#include "dib/text_draw.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <optional>

#include "core/state_registry.h"
#include "dib/allocate.h"
#include "dib/fonts.h"
#include "dib/rotate.h"
#include "dib/scale.h"
#include "dib/text_blend.h"
#include "dib/text_layout.h"
#include "log/trace.h"
#include "orivane/dib_text.h"

namespace dib {
namespace {

const bool kTextSettingsRegistered = core::register_state(
    {"dib.text_settings", [] { text_settings() = TextSettings{}; }, [] { text_settings() = TextSettings{}; }});

enum Align { kStart = 0, kMiddle = 1, kEnd = 2 };

const char* type_name(int type) {
  static constexpr const char* kNames[] = {"BW", "GRAY", "RGB", "PALETTE", "CMY", "CMYK"};
  return type >= 0 && type < 6 ? kNames[type] : "?";
}

// Where the text goes, in the page's frame and in the mask's.
struct Geometry {
  int k = 1;               // mask pixels per page pixel (2: anti-aliased)
  int turns = 0;           // quarter turns clockwise
  double f_run = 1, f_across = 1;  // page pixels per mask pixel along / across the lines
  int box_run = 0, box_across = 0;  // the box along / across the lines, page pixels
  int mask_w = 0, mask_h = 0;       // the box in mask pixels, in the text's frame
  int font_px = 0;
  int run_align = kStart, block_align = kStart;  // in the text's frame
};

int quarter_turns(int angle) { return ((angle + 450) / 900) % 4; }

// The flags' placement in the page's terms, seen from the turned text:
// along its lines (run) and across them (block).
void align(Geometry& g, int flags) {
  const int across_page = (flags & DIB_TEXT_CENTER) ? kMiddle : (flags & DIB_TEXT_RIGHT) ? kEnd : kStart;
  const int down_page = (flags & DIB_TEXT_BOTTOM) ? kEnd : (flags & DIB_TEXT_VCENTER) ? kMiddle : kStart;
  switch (g.turns) {
    case 0: g.run_align = across_page, g.block_align = down_page; break;
    case 1: g.run_align = down_page, g.block_align = kEnd - across_page; break;
    case 2: g.run_align = kEnd - across_page, g.block_align = kEnd - down_page; break;
    default: g.run_align = kEnd - down_page, g.block_align = across_page; break;
  }
  if (flags & DIB_TEXT_JUSTIFY) g.run_align = kStart;
}

Geometry geometry(const DibView& page, const TextBox& box, const TextSettings& s) {
  Geometry g;
  const int type = page.pixel_type();
  g.k = (type == kGray || type == kRGB) ? 2 : 1;
  g.turns = quarter_turns(s.angle);
  const std::int32_t xppm = page.header().x_ppm, yppm = page.header().y_ppm;
  double fx = 1.0 / g.k, fy = 1.0 / g.k;
  if (xppm > 0 && yppm > 0 && xppm != yppm) {
    const double least = std::min(xppm, yppm);
    fx = xppm / (least * g.k), fy = yppm / (least * g.k);
  }
  const bool odd = g.turns % 2 == 1;
  g.f_run = odd ? fy : fx, g.f_across = odd ? fx : fy;
  g.box_run = odd ? box.h : box.w, g.box_across = odd ? box.w : box.h;
  g.mask_w = std::max(1, static_cast<int>(g.box_run / g.f_run));
  g.mask_h = std::max(1, static_cast<int>(g.box_across / g.f_across));
  const int height = s.height > 0 ? s.height : DIB_TEXT_DEFAULT_HEIGHT;
  g.font_px = static_cast<int>(std::clamp(std::lround(height / fy), 1L, 1L << 20));
  align(g, s.flags);
  return g;
}

void trace_settings(const DibView& page, std::string_view text, const TextSettings& s) {
  LogPrint("DIB pt=%s(%d bpp), w=%d, h=%d, xdpi=%g, ydpi=%g\n", type_name(page.pixel_type()), page.depth(),
           page.width(), page.height(), ppm_to_dpi(page.header().x_ppm), ppm_to_dpi(page.header().y_ppm));
  LogPrint("text<<<<<%.*s>>>>>\n", static_cast<int>(std::min<std::size_t>(text.size(), 1000)), text.data());
  LogPrint("nTextFlags=0x%08x\n", static_cast<unsigned>(s.flags));
  LogPrint("Face='%s'\n", s.face.c_str());
  LogPrint("nTextHeight=%d\n", s.height);
  LogPrint("nAngle=%d\n", s.angle);
  LogPrint("Color=RGB(%d,%d,%d)\n", s.red, s.green, s.blue);
  LogPrint("Background=RGBA(%d,%d,%d,%d)\n", s.bg_red, s.bg_green, s.bg_blue, s.bg_alpha);
}

std::unique_ptr<FontSize> open_font(const TextSettings& s, int pixels, bool hinted) {
  const auto choice = font_choose(s.face, (s.flags & DIB_TEXT_BOLD) != 0, (s.flags & DIB_TEXT_ITALIC) != 0);
  if (!choice) return nullptr;
  if (choice->substituted)
    LogPrint("DrawText: no installed font matches '%s': drawn with %s\n", s.face.c_str(), choice->family.c_str());
  if (LogLevel() != 0)
    LogPrint("Font file '%s'%s%s\n", choice->file.c_str(), choice->embolden ? " emboldened" : "",
             choice->oblique ? " slanted" : "");
  return FontSize::open(*choice, pixels, hinted);
}

// The text's lines in the mask's frame.
std::vector<TextLine> lay_out(const DecodedText& d, std::vector<int>& advances, FontSize& font, const Geometry& g,
                              int flags) {
  advances.resize(d.chars.size());
  for (std::size_t i = 0; i < d.chars.size(); ++i) advances[i] = font.advance(d.chars[i]);
  LayoutRules rules;
  rules.box_width = g.mask_w;
  rules.usable = g.mask_w - 1 - ((flags & DIB_TEXT_ITALIC) ? g.font_px / 6 : 0);
  rules.font_height = g.font_px;
  rules.max_lines = (g.mask_h + font.line_height() - 1) / font.line_height();
  rules.wrap = (flags & DIB_TEXT_WRAP) != 0;
  rules.justify = (flags & DIB_TEXT_JUSTIFY) != 0;
  rules.center = g.run_align == kMiddle;
  rules.right = g.run_align == kEnd;
  return text_layout(d.chars, advances, rules);
}

void draw_line(const TextLine& line, int baseline, const DecodedText& d, const std::vector<int>& advances,
               FontSize& font, int flags, const BitRows& rows) {
  long pen = line.x;
  int spaces = 0;
  for (std::size_t i = line.begin; i < line.end && pen < rows.width; ++i) {
    const char32_t c = d.chars[i];
    // Characters wholly left of the mask are only counted past.
    if (c != U' ' && pen + advances[i] + font.line_height() > 0) font.draw(c, static_cast<int>(pen), baseline, rows);
    pen += advances[i] + (i + 1 < line.end ? line.char_extra : 0);
    if (c == U' ') pen += line.space_extra + (spaces++ < line.spaces_plus_one ? 1 : 0);
  }
  const int x1 = line.x + text_line_drawn_width(line, d.chars);
  for (const auto& [on, stroke] : {std::pair{(flags & DIB_TEXT_UNDERLINE) != 0, font.underline()},
                                   std::pair{(flags & DIB_TEXT_STRIKEOUT) != 0, font.strikeout()}}) {
    if (on) bits_fill(rows, line.x, baseline + stroke.offset, x1, baseline + stroke.offset + stroke.thickness);
  }
}

// For each byte of mask bits, the bits set in each of its four pixel pairs,
// one count per byte of the result (most significant pair first).
constexpr std::array<std::uint32_t, 256> kPairCounts = [] {
  std::array<std::uint32_t, 256> t{};
  for (unsigned v = 0; v < 256; ++v)
    for (unsigned pair = 0; pair < 4; ++pair) {
      const unsigned bits = v >> (6 - 2 * pair) & 3;
      t[v] |= ((bits & 1) + (bits >> 1)) << (8 * pair);
    }
  return t;
}();

// 1-bit mask at twice the size -> 8-bit coverage, each pixel the share of
// its 2 x 2 bits that are set. Four pixels come from one byte of each of
// the two rows; the empty parts of the mask cost a test of two bytes.
Dib halve(const DibView& mask, int w, int h) {
  static constexpr std::uint8_t kLevels[5] = {0, 64, 128, 191, 255};
  Dib out = allocate(8, w, h, kGray);
  Locked o(out.get());
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* a = mask.row_unchecked(2 * y);
    const std::uint8_t* b = mask.row_unchecked(2 * y + 1);
    std::uint8_t* d = o->row_unchecked(y);
    for (int x = 0; x < w; x += 4) {
      const std::uint8_t ab = a[x >> 2], bb = b[x >> 2];
      if ((ab | bb) == 0) continue;  // the new image is all 0 already
      const int n = std::min(4, w - x);
      const std::uint32_t counts = kPairCounts[ab] + kPairCounts[bb];
      for (int i = 0; i < n; ++i) d[x + i] = kLevels[counts >> (8 * i) & 0xFF];
    }
  }
  return out;
}

// 1-bit mask at the page's size -> coverage 0 or 255.
Dib expand(const DibView& mask) {
  Dib out = allocate(8, mask.width(), mask.height(), kGray);
  Locked o(out.get());
  for (int y = 0; y < mask.height(); ++y) {
    const std::uint8_t* s = mask.row_unchecked(y);
    std::uint8_t* d = o->row_unchecked(y);
    for (int x = 0; x < mask.width(); ++x) d[x] = (s[x >> 3] >> (7 - (x & 7)) & 1) ? 255 : 0;
  }
  return out;
}

Dib coverage_of(const DibView& mask, const Geometry& g, int drawn) {
  const int w = std::max(1, static_cast<int>(std::lround(mask.width() * g.f_run)));
  const int h = std::max(1, static_cast<int>(std::lround(drawn * g.f_across)));
  if (g.k == 2 && 2 * w == mask.width() && 2 * h == drawn) return halve(mask, w, h);
  if (w == mask.width() && h == drawn) return expand(mask);
  try {
    return scaled_copy(mask, w, h);
  } catch (const Error&) {
    LogPrint("DrawText-mask isotropy failed.\n");
    return expand(mask);
  }
}

// The drawn text as 8-bit coverage in the text's frame.
std::optional<Dib> render(std::string_view text, const Geometry& g, const TextSettings& s) {
  auto font = open_font(s, g.font_px, g.k == 1);
  if (!font) {
    LogPrint("DrawText-CreateFont failed.\n");
    return std::nullopt;
  }
  const DecodedText d = text_decode(text);
  if (d.latin1_bytes > 0) LogPrint("DrawText: %d bytes that are not UTF-8 read as Latin-1\n", d.latin1_bytes);
  if (d.controls_dropped > 0) LogPrint("DrawText: %d control characters left out\n", d.controls_dropped);
  std::vector<int> advances;
  const std::vector<TextLine> lines = lay_out(d, advances, *font, g, s.flags);
  const long total = static_cast<long>(lines.size()) * font->line_height();
  int drawn = static_cast<int>(std::min<long>(total, g.mask_h));
  if (g.k == 2) drawn = std::min(drawn + (drawn & 1), g.mask_h);
  if (total > g.mask_h) LogPrint("DrawText: the text is cut at the box (%ld of %d rows)\n", total, g.mask_h);
  Dib mask;
  try {
    mask = allocate(1, g.mask_w, drawn, kBW);
  } catch (const Error&) {
    LogPrint("DrawText-CreateBitmap failed.\n");
    return std::nullopt;
  }
  if (LogLevel() != 0) LogPrint("DrawText mask %dx%d of %dx%d\n", g.mask_w, drawn, g.mask_w, g.mask_h);
  Locked m(mask.get());
  const BitRows rows{m->row_unchecked(0), m->step(), g.mask_w, drawn};
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const int baseline = static_cast<int>(i) * font->line_height() + font->ascent();
    draw_line(lines[i], baseline, d, advances, *font, s.flags, rows);
  }
  return coverage_of(m.view(), g, drawn);
}

// Where the coverage, turned into the page's frame, stands in the box.
PixelRect place(const TextBox& box, const Geometry& g, int cov_run, int cov_across) {
  const int free = g.box_across - cov_across;
  const int offset = g.block_align == kStart ? 0 : g.block_align == kMiddle ? free / 2 : free;
  switch (g.turns) {
    case 0: return {box.x, box.y + offset, cov_run, cov_across};
    case 1: return {box.x + box.w - offset - cov_across, box.y, cov_across, cov_run};
    case 2: return {box.x + box.w - cov_run, box.y + box.h - offset - cov_across, cov_run, cov_across};
    default: return {box.x + offset, box.y + box.h - cov_run, cov_across, cov_run};
  }
}

}  // namespace

TextSettings& text_settings() {
  static TextSettings settings;
  return settings;
}

std::string text_face_normalise(std::string_view face) {
  const auto is = [&](std::string_view name) {
    return face.size() == name.size() &&
           std::equal(face.begin(), face.end(), name.begin(), [](char a, char b) {
             return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
           });
  };
  if (face.empty()) return "Arial";
  if (is("courier")) return "Courier New";
  if (is("times")) return "Times New Roman";
  std::size_t n = std::min<std::size_t>(face.size(), DIB_TEXT_FACE_MAX);
  // Never end inside a UTF-8 sequence: back up over continuation bytes.
  if (n < face.size())
    while (n > 0 && (static_cast<unsigned char>(face[n]) & 0xC0) == 0x80) --n;
  return std::string(face.substr(0, n));
}

std::optional<TextBox> text_box_on_page(TextBox b, int W, int H) {
  if (b.w < 1 || static_cast<long>(b.x) + b.w > W) {
    if (b.x < 1) b.x = 2;
    b.w = W - b.x - 2;
  }
  if (b.h < 1 || static_cast<long>(b.y) + b.h > H) {
    if (b.y < 1) b.y = 2;
    b.h = H - b.y - 2;
  }
  const long x0 = std::max(b.x, 0), y0 = std::max(b.y, 0);
  const long x1 = std::min<long>(static_cast<long>(b.x) + b.w, W), y1 = std::min<long>(static_cast<long>(b.y) + b.h, H);
  if (x1 <= x0 || y1 <= y0) return std::nullopt;
  return TextBox{static_cast<int>(x0), static_cast<int>(y0), static_cast<int>(x1 - x0), static_cast<int>(y1 - y0)};
}

bool draw_text(const DibView& page, std::string_view text, TextBox asked, const TextSettings& s) {
  if (LogLevel() != 0) trace_settings(page, text, s);
  const auto box = text_box_on_page(asked, page.width(), page.height());
  if (!box) {
    LogPrint("DrawText: the box lies outside the page\n");
    return false;
  }
  if (s.angle % 900 != 0) LogPrint("DrawText: angle %d drawn as %d\n", s.angle, quarter_turns(s.angle) * 900);
  try {
    const Geometry g = geometry(page, *box, s);
    auto coverage = render(text, g, s);
    if (!coverage) return false;
    Dib turned = g.turns == 0 ? std::move(*coverage) : rotate_quarter(Locked(coverage->get()).view(), g.turns);
    Locked c(turned.get());
    const bool odd = g.turns % 2 == 1;
    const PixelRect at = place(*box, g, odd ? c->height() : c->width(), odd ? c->width() : c->height());
    const PixelRect clip{box->x, box->y, box->w, box->h};
    if (s.bg_alpha != 0) {
      const int x0 = std::max(at.x, clip.x), y0 = std::max(at.y, clip.y);
      const int x1 = std::min(at.x + at.w, clip.x + clip.w), y1 = std::min(at.y + at.h, clip.y + clip.h);
      blend_fill(page, {x0, y0, x1 - x0, y1 - y0}, s.bg_red, s.bg_green, s.bg_blue, s.bg_alpha);
    }
    blend_coverage(page, {c->row_unchecked(0), c->step(), c->width(), c->height()}, at.x, at.y, clip, s.red,
                   s.green, s.blue);
    return true;
  } catch (const std::bad_alloc&) {
    LogPrint("DrawText-CreateBitmap failed.\n");
  } catch (const Error&) {
    LogPrint("DrawText-CreateBitmap failed.\n");
  }
  return false;
}

}  // namespace dib
