#include "engines/ocr/ocr_text.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace ocr {
namespace {

// Unicode characters that Windows-1252 places in 0x80..0x9F.
struct Cp1252Extra {
  char32_t code;
  unsigned char byte;
};
constexpr Cp1252Extra kExtras[] = {
    {0x20AC, 0x80}, {0x201A, 0x82}, {0x0192, 0x83}, {0x201E, 0x84}, {0x2026, 0x85}, {0x2020, 0x86},
    {0x2021, 0x87}, {0x02C6, 0x88}, {0x2030, 0x89}, {0x0160, 0x8A}, {0x2039, 0x8B}, {0x0152, 0x8C},
    {0x017D, 0x8E}, {0x2018, 0x91}, {0x2019, 0x92}, {0x201C, 0x93}, {0x201D, 0x94}, {0x2022, 0x95},
    {0x2013, 0x96}, {0x2014, 0x97}, {0x02DC, 0x98}, {0x2122, 0x99}, {0x0161, 0x9A}, {0x203A, 0x9B},
    {0x0153, 0x9C}, {0x017E, 0x9E}, {0x0178, 0x9F}};

struct Ligature {
  char32_t code;
  const char* letters;
};
constexpr Ligature kLigatures[] = {{0xFB00, "ff"}, {0xFB01, "fi"}, {0xFB02, "fl"},
                                   {0xFB03, "ffi"}, {0xFB04, "ffl"}, {0xFB05, "st"}, {0xFB06, "st"}};

// The next code point of `s` from `i` (advanced); U+FFFD for a broken sequence.
char32_t next_code(std::string_view s, std::size_t& i) {
  const auto b = static_cast<unsigned char>(s[i++]);
  int more = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : 0;
  if (b >= 0x80 && more == 0) return 0xFFFD;
  char32_t c = more == 3 ? b & 0x07 : more == 2 ? b & 0x0F : more == 1 ? b & 0x1F : b;
  for (; more > 0; --more) {
    if (i >= s.size() || (static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) return 0xFFFD;
    c = (c << 6) | (static_cast<unsigned char>(s[i++]) & 0x3F);
  }
  return c;
}

std::string bytes_of(char32_t c) {
  // Control characters would end the text or break its lines: none is text.
  if (c < 0x20 || c == 0x7F) return "";
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return std::string(1, static_cast<char>(c));
  for (const Cp1252Extra& e : kExtras)
    if (e.code == c) return std::string(1, static_cast<char>(e.byte));
  for (const Ligature& l : kLigatures)
    if (l.code == c) return l.letters;
  return "?";
}

bool in(unsigned char c, const char* set) { return c != 0 && std::strchr(set, c) != nullptr; }

}  // namespace

int advance_width(unsigned char c) {
  // Helvetica's widths of the printable ASCII characters, from the space on.
  static constexpr short kAscii[95] = {
      278, 278, 355, 556, 556, 889, 667, 191, 333, 333, 389, 584, 278, 333, 278, 278,  // space to /
      556, 556, 556, 556, 556, 556, 556, 556, 556, 556, 278, 278, 584, 584, 584, 556,  // 0 to ?
      1015, 667, 667, 722, 722, 667, 611, 778, 722, 278, 500, 667, 556, 833, 722, 778,  // @ to O
      667, 778, 722, 667, 611, 722, 667, 944, 667, 667, 611, 278, 278, 278, 469, 556,   // P to _
      333, 556, 556, 500, 556, 556, 278, 556, 556, 222, 222, 500, 222, 833, 556, 556,   // ` to o
      556, 556, 333, 500, 278, 556, 500, 722, 500, 500, 500, 334, 260, 334, 584};       // p to ~
  if (c < 0x20 || c == 0x7F) return 0;
  return c < 0x7F ? kAscii[c - 0x20] : 556;
}

Box typeset_box(unsigned char c, int x, int w, TypeLine line) {
  const int a = std::max(line.ascent, 1);
  const int b = line.baseline;
  int h = a, top = b - a + 1;  // a capital, a digit, an ascender
  if (c == '"' || c == '\'') {
    h = std::max(1, a / 3);  // quote marks hang from the capital height
  } else if (in(c, "$(){}")) {
    h = a * 10 / 9;  // brackets reach a little below the line
  } else if (in(c, "gjpqy")) {
    top = b - a * 2 / 3 + 1;  // from the x-height down a third below the line
  } else if (c == '.' || c == '_') {
    h = std::max(1, a / 5);
    top = b - h + 1;
  } else if (in(c, ":;acemnorsuvwxz")) {
    h = std::max(1, a * 2 / 3);
    top = b - h + 1;
  } else if (c == 't') {
    h = std::max(1, a * 4 / 5);
    top = b - h + 1;
  }
  return Box{x, std::max(0, top), w, h};
}

std::string cp1252_from_utf8(std::string_view symbol) {
  std::string out;
  for (std::size_t i = 0; i < symbol.size();) out += bytes_of(next_code(symbol, i));
  return out;
}

TextBuilder::TextBuilder(std::string line_break) : line_break_(std::move(line_break)) {}

void TextBuilder::separator(const std::string& bytes, Box box) {
  for (char c : bytes) {
    out_.text += c;
    out_.boxes.push_back(box);
  }
}

void TextBuilder::add(std::string_view utf8, int x, int w, TypeLine line, bool word_start, bool line_start,
                      bool paragraph_start) {
  const std::string bytes = cp1252_from_utf8(utf8);
  if (bytes.empty()) return;
  const Box box{x, std::max(0, line.baseline - line.ascent + 1), w, std::max(line.ascent, 1)};
  if (any_) {
    if (line_start || paragraph_start) {
      const Box end{last_.x + last_.w, last_.y, 0, last_.h};
      separator(line_break_, end);
      if (paragraph_start) separator(line_break_, end);
    } else if (word_start) {
      // The gap between the two words, as tall as both together.
      const int x = last_.x + last_.w;
      const int top = std::min(last_.y, box.y);
      const int bottom = std::max(last_.y + last_.h, box.y + box.h);
      separator(" ", Box{x, top, std::max(0, box.x - x), bottom - top});
    }
  }
  // A ligature's letters share its columns in equal parts.
  const int n = static_cast<int>(bytes.size());
  for (int i = 0; i < n; ++i) {
    const int x0 = x + w * i / n, x1 = x + w * (i + 1) / n;
    const auto c = static_cast<unsigned char>(bytes[std::size_t(i)]);
    out_.text += static_cast<char>(c);
    out_.boxes.push_back(typeset_box(c, x0, x1 - x0, line));
  }
  last_ = box;
  any_ = true;
}

PageText TextBuilder::finish() && { return std::move(out_); }

Box box_unturned(Box b, int degrees, int width, int height) {
  switch (degrees) {
    case 90: return Box{b.y, height - b.x - b.w, b.h, b.w};
    case 180: return Box{width - b.x - b.w, height - b.y - b.h, b.w, b.h};
    case 270: return Box{width - b.y - b.h, b.x, b.h, b.w};
    default: return b;
  }
}

Box box_enlarged(Box b, int factor) {
  return Box{b.x * factor, b.y * factor, b.w * factor, b.h * factor};
}

}  // namespace ocr
