// Fonts for text drawing: a face name turned into an installed font file
// through fontconfig, and that file opened with FreeType at a pixel size to
// measure characters and draw them into a 1-bit mask.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dib {

// The font file a face name leads to, and what has to be made up because
// the file lacks it.
struct FontChoice {
  std::string file;
  int index = 0;             // face index inside the file
  std::string family;        // the chosen face's family name
  bool embolden = false;     // bold asked for, the face is not bold
  bool oblique = false;      // italic asked for, the face is upright
  bool substituted = false;  // the name matched no installed face: the default stands in
};

// The font for `face` (a normalised name, see text_face_normalise). "Arial",
// "Courier New" and "Times New Roman" lead to their metric-compatible faces
// (Liberation), then to DejaVu; generic names ("sans-serif", "serif",
// "monospace") take fontconfig's choice; any other name must be matched by
// an installed family or one of its close aliases, else the default face
// ("Arial") stands in with `substituted` set. Nothing when fontconfig finds
// no font at all. Answers are kept for the life of the process.
std::optional<FontChoice> font_choose(std::string_view face, bool bold, bool italic);

// A horizontal stroke of a line (underline, strike-out): its top edge below
// the baseline (negative: above) and its thickness, in pixels.
struct FontStroke {
  int offset = 0;
  int thickness = 1;
};

// Rows of a 1-bit image to draw into: most significant bit leftmost, bits
// set where text is. `step` is the byte distance from one row to the next.
struct BitRows {
  std::uint8_t* top = nullptr;
  std::ptrdiff_t step = 0;
  int width = 0, height = 0;
  std::uint8_t* row(int y) const { return top + step * y; }
};

// Sets every bit of the rectangle [x0, x1) x [y0, y1), clipped to the rows.
void bits_fill(const BitRows& rows, int x0, int y0, int x1, int y1);

// One face at one size, drawn by FreeType's black-and-white rasteriser with
// hinting for it. The face stays locked for this object's life: one drawing
// at a time uses the shared FreeType state.
class FontSize {
 public:
  // The face of `choice` with an em of `pixels` (clamped to 1..32767);
  // null when the file cannot be loaded or sized. `hinted`: outlines fitted
  // to the pixel grid, for text that stays black and white; text drawn at
  // twice the size and scaled down keeps its true shapes (and loads faster).
  static std::unique_ptr<FontSize> open(const FontChoice& choice, int pixels, bool hinted);
  ~FontSize();
  FontSize(const FontSize&) = delete;
  FontSize& operator=(const FontSize&) = delete;

  // The pen's advance after `c`, whole pixels (0 for characters the face
  // cannot load).
  int advance(char32_t c);
  int ascent() const { return ascent_; }
  // Ascent plus descent: the distance from one line to the next.
  int line_height() const { return line_height_; }
  FontStroke underline() const { return underline_; }
  FontStroke strikeout() const { return strikeout_; }
  // Draws `c` with its origin at (pen_x, baseline) of `rows`, clipped to them.
  // Memory and time follow the part inside the rows, not the glyph's size.
  void draw(char32_t c, int pen_x, int baseline, const BitRows& rows);

 private:
  struct Impl;
  explicit FontSize(std::unique_ptr<Impl> impl);
  bool load(char32_t c);
  std::unique_ptr<Impl> impl_;
  int ascent_ = 0, line_height_ = 1;
  FontStroke underline_, strikeout_;
};

}  // namespace dib
