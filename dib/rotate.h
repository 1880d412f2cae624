// Quarter turns, flips and the mirror image.
#pragma once
#include "dib/dib.h"

namespace dib {

// A new image turned `turns` x 90 degrees clockwise as displayed (taken modulo
// 4, negative counts anticlockwise): size exchanged for odd turns, colour
// table, masks and compression low byte copied, resolutions exchanged.
Dib rotate_quarter(const DibView& src, int turns);
// Turns the image of `h` itself: half turns in place, quarter turns through a
// turned copy that replaces the contents.
void rotate_in_place(Handle h, int turns);
// Swaps rows top to bottom.
void flip_vertical(const DibView& v);
// Reverses the pixel order of every row, bit-exact below 8 bits per pixel.
void mirror(const DibView& v);

}  // namespace dib
