// Text layout.
//
// Lines are the text's paragraphs (split at "\n"), each cut further at
// spaces when wrapping is on: a line that is too wide is cut before its last
// run of spaces, again and again, until it fits or holds a single word,
// which is then drawn as it is and clipped at the box. Widths of character
// runs come from prefix sums of the advances, so a long text costs time in
// proportion to its length, not its square.
//
// Justification stretches only lines that already fill most of the box
// (wider than 3.2 times the slack): a little extra after every character,
// the rest spread over the spaces. The last line of a paragraph keeps its
// natural spacing.
#include "dib/text_layout.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>

namespace dib {
namespace {

constexpr double kJustifyFill = 3.2;  // justify a line only when width > this x slack

bool continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// The code point of the valid UTF-8 sequence at `at`, and its length; 0 for
// a byte that does not start one.
int utf8_sequence(std::string_view s, std::size_t at, char32_t* out) {
  const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[at + i]); };
  const unsigned char c = b(0);
  int n = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
  if (n == 0 || at + static_cast<std::size_t>(n) > s.size()) return 0;
  for (int i = 1; i < n; ++i)
    if (!continuation(b(static_cast<std::size_t>(i)))) return 0;
  char32_t v = n == 2 ? c & 0x1F : n == 3 ? c & 0x0F : c & 0x07;
  for (int i = 1; i < n; ++i) v = v << 6 | (b(static_cast<std::size_t>(i)) & 0x3F);
  const char32_t least = n == 2 ? 0x80 : n == 3 ? 0x800 : 0x10000;
  if (v < least || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return 0;
  *out = v;
  return n;
}

bool is_control(char32_t c) { return c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0); }

struct Widths {
  std::vector<std::int64_t> sum;  // sum[i] = advances of text[0..i)
  std::int64_t of(std::size_t b, std::size_t e) const { return sum[e] - sum[b]; }
};

int clamp_int(std::int64_t v) { return static_cast<int>(std::clamp<std::int64_t>(v, INT_MIN / 2, INT_MAX / 2)); }

// Where a too-wide line [b, e) is cut: before the last run of spaces that
// leaves it narrow enough, else before the first run; e when it has none.
std::size_t wrap_cut(std::u32string_view t, const Widths& w, std::size_t b, std::size_t e, int usable) {
  std::size_t fitting = e, first = e;
  for (std::size_t p = b; p < e; ++p) {
    if (t[p] != U' ' || (p > b && t[p - 1] == U' ')) continue;
    const bool fits = w.of(b, p) <= usable;
    if (first == e) first = p;
    if (fits) fitting = p;
    if (!fits) break;  // widths only grow from here
  }
  return fitting != e ? fitting : first;
}

void justify(TextLine& line, std::u32string_view t, const LayoutRules& r) {
  const std::int64_t length = static_cast<std::int64_t>(line.end - line.begin);
  const std::int64_t slack = r.usable - static_cast<std::int64_t>(line.width);
  if (!(line.width > kJustifyFill * static_cast<double>(slack)) || length <= 1) return;
  const auto spaces = std::count(t.begin() + static_cast<std::ptrdiff_t>(line.begin),
                                 t.begin() + static_cast<std::ptrdiff_t>(line.end), U' ');
  const double share = static_cast<double>(slack) / (spaces > 2 ? 5.0 : 3.0) / static_cast<double>(length - 1);
  std::int64_t extra = std::llround(share);
  if (slack >= length) extra = std::max<std::int64_t>(extra, 1);
  extra = std::max<std::int64_t>(0, std::min<std::int64_t>(extra, r.font_height / 4));
  line.char_extra = clamp_int(extra);
  const std::int64_t rest = slack - (length - 1) * extra;
  if (spaces > 0 && rest > 0) {
    line.space_extra = clamp_int(rest / spaces);
    line.spaces_plus_one = clamp_int(rest % spaces);
  }
}

}  // namespace

DecodedText text_decode(std::string_view bytes) {
  DecodedText d;
  d.chars.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    char32_t c = static_cast<unsigned char>(bytes[i]);
    int n = 1;
    if (c >= 0x80) {
      n = utf8_sequence(bytes, i, &c);
      if (n == 0) {
        c = static_cast<unsigned char>(bytes[i]);
        n = 1;
        ++d.latin1_bytes;
      }
    }
    i += static_cast<std::size_t>(n);
    if (c == U'\r' && i < bytes.size() && bytes[i] == '\n') continue;
    if (c == U'\t') c = U' ';
    if (c != U'\n' && is_control(c)) {
      ++d.controls_dropped;
      continue;
    }
    if (c == 0xFEFF) continue;  // a byte-order mark has no shape
    d.chars.push_back(c);
  }
  return d;
}

std::vector<TextLine> text_layout(std::u32string_view t, std::span<const int> advances, const LayoutRules& r) {
  Widths w;
  w.sum.resize(t.size() + 1, 0);
  for (std::size_t i = 0; i < t.size(); ++i) w.sum[i + 1] = w.sum[i] + std::max(0, advances[i]);
  std::vector<TextLine> lines;
  std::size_t pos = 0;
  while (pos <= t.size() && static_cast<int>(lines.size()) < r.max_lines) {
    const std::size_t para_end = std::min(t.find(U'\n', pos), t.size());
    std::size_t b = pos, e = para_end;
    if (r.center) {
      while (b < e && t[b] == U' ') ++b;
      while (e > b && t[e - 1] == U' ') --e;
    }
    bool cut = false;
    if (r.wrap && w.of(b, e) > r.usable) {
      const std::size_t at = wrap_cut(t, w, b, e, r.usable);
      cut = at != e;
      e = at;
    }
    TextLine line{b, e, 0, clamp_int(w.of(b, e))};
    if (r.justify && (cut || para_end == t.size())) justify(line, t, r);
    if (r.center) line.x = (r.box_width - line.width) / 2;
    else if (r.right) line.x = r.usable - line.width;
    lines.push_back(line);
    // The next line starts after the spaces at a cut, or after the "\n".
    pos = e;
    if (cut) {
      while (pos < para_end && t[pos] == U' ') ++pos;
      if (pos < para_end) continue;
    }
    pos = para_end + 1;
  }
  return lines;
}

int text_line_drawn_width(const TextLine& line, std::u32string_view text) {
  if (line.end <= line.begin) return line.width;
  const auto spaces = std::count(text.begin() + static_cast<std::ptrdiff_t>(line.begin),
                                 text.begin() + static_cast<std::ptrdiff_t>(line.end), U' ');
  const std::int64_t length = static_cast<std::int64_t>(line.end - line.begin);
  return clamp_int(std::int64_t{line.width} + (length - 1) * line.char_extra +
                   spaces * std::int64_t{line.space_extra} + line.spaces_plus_one);
}

}  // namespace dib
