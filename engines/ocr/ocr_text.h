// The recognised text in the form the library takes it: Windows-1252, one
// byte per character, each byte with its box on the page; words joined by
// one space, lines ended by the line break text, paragraphs apart by an
// empty line.
//
// Tesseract's recognizer places words exactly but single characters only
// roughly (its character positions come from the timing of its line
// reader, not from the glyphs), so a character's box is typeset: its
// columns from the engine, kept inside the word and in reading order; its
// rows from the line it stands on, as print places a letter of its kind (a
// capital from the line up to the capital height, an "x" to two thirds of
// it, a "g" one third below the line, a full stop a fifth of it high). The
// PDF text layer reads such boxes back into the line and its height.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ocr {

struct Box {
  int x = 0, y = 0, w = 0, h = 0;  // left, top, width, height in pixels
};

// Where a line of print stands: the last row of ink of the letters sitting
// on it, and the height of its capitals above that row (pixels).
struct TypeLine {
  int baseline = 0;
  int ascent = 0;
};

// The advance width of the character of byte `c` in a common sans-serif face
// (Helvetica's), in thousandths of an em; 0 for control characters.
int advance_width(unsigned char c);

// The box of the character of byte `c` that covers columns x to x + w - 1
// of `line`.
Box typeset_box(unsigned char c, int x, int w, TypeLine line);

struct PageText {
  std::string text;
  std::vector<Box> boxes;  // one per byte of text
};

// The Windows-1252 bytes of a UTF-8 symbol: a ligature gives its letters, a
// character without a byte gives '?', an empty or broken symbol nothing.
std::string cp1252_from_utf8(std::string_view symbol);

// Collects the engine's symbols in reading order into a PageText.
class TextBuilder {
 public:
  explicit TextBuilder(std::string line_break);
  // One symbol over columns x to x + w - 1 of `line`, and where it stands:
  // first of a word, of a line, of a paragraph.
  void add(std::string_view utf8, int x, int w, TypeLine line, bool word_start, bool line_start,
           bool paragraph_start);
  PageText finish() &&;

 private:
  void separator(const std::string& bytes, Box box);
  std::string line_break_;
  PageText out_;
  bool any_ = false;
  Box last_{};  // box of the last symbol added
};

// A box found on a page turned clockwise by `degrees`, mapped back onto the
// page as it was (`width` x `height` pixels before the turn).
Box box_unturned(Box b, int degrees, int width, int height);
// A box found on a page reduced by `factor`, on the page itself.
Box box_enlarged(Box b, int factor);

}  // namespace ocr
