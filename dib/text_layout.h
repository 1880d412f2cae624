// Text layout for text drawing: bytes read as characters, and characters
// broken into lines that fit a box, each with its start and the spacing
// that justifies it. Widths come from the caller (one advance per
// character), so the layout itself knows nothing of fonts.
#pragma once
#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace dib {

// Text read for drawing. "\n" stays, a "\r" just before it is dropped, a
// tab becomes a space and other control characters are left out.
struct DecodedText {
  std::u32string chars;
  int latin1_bytes = 0;      // bytes that were not valid UTF-8, read as Latin-1
  int controls_dropped = 0;  // control characters left out
};
// UTF-8 where the bytes are valid UTF-8 (no overlong forms, surrogates or
// values past U+10FFFF); every other byte is one Latin-1 character.
DecodedText text_decode(std::string_view bytes);

struct LayoutRules {
  int box_width = 0;     // the mask's width: centring is within it
  int usable = 0;        // the usable width s (box width - 1, less height / 6 for italic)
  int font_height = 0;   // caps the justification's extra spacing at height / 4
  int max_lines = 0;     // lines wanted at most (those that start inside the box)
  bool wrap = false, justify = false, center = false, right = false;
};

// One line: the characters [begin, end) of the text, drawn from x.
struct TextLine {
  std::size_t begin = 0, end = 0;
  int x = 0;
  int width = 0;           // the characters' advances added up
  int char_extra = 0;      // added after each character but the last
  int space_extra = 0;     // added after each space
  int spaces_plus_one = 0; // the first this many spaces get one pixel more
};

// Breaks `text` into at most max_lines lines. `advances[i]` is the advance
// of text[i]. Work is linear in the characters laid out.
std::vector<TextLine> text_layout(std::u32string_view text, std::span<const int> advances, const LayoutRules& rules);

// The width a line takes when drawn, its extra spacing included.
int text_line_drawn_width(const TextLine& line, std::u32string_view text);

}  // namespace dib
