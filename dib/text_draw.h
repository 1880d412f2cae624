// Text drawing on images: the process-wide text settings and the drawing of
// a text into a box of a page (DIB_DrawText).
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "dib/dib.h"

namespace dib {

struct TextSettings {
  std::string face = "Arial";
  int height = 14;  // pixels of the page's vertical direction
  int red = 0, green = 0, blue = 0;
  int bg_red = 0, bg_green = 0, bg_blue = 0, bg_alpha = 0;
  int flags = 0;
  int angle = 0;  // tenths of a degree, 0..3599, clockwise
};

// The process's text settings (reset with the library's other settings).
TextSettings& text_settings();

// The face name as stored: "" -> "Arial", "Courier" -> "Courier New",
// "Times" -> "Times New Roman" (any letter case), others cut to 127 bytes
// (never inside a UTF-8 sequence).
std::string text_face_normalise(std::string_view face);

// The box of a drawing, pixels, rows from the top.
struct TextBox {
  int x = 0, y = 0, w = 0, h = 0;
};

// The box as the page takes it: a width below 1 or one reaching past the
// right edge becomes the page's width less 2-pixel margins (x = 2 when x was
// below 1), the same for the height; then the box is cut to the page.
// Nothing when no part of it lies on the page.
std::optional<TextBox> text_box_on_page(TextBox box, int page_width, int page_height);

// Draws `text` into `box` of the page with `settings`, tracing each step.
// True when something was drawn. Throws nothing but std::bad_alloc.
bool draw_text(const DibView& page, std::string_view text, TextBox box, const TextSettings& settings);

}  // namespace dib
