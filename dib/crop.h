// Cutting a rectangle out of an image into a new one: the step shared by the
// soft crop after a transfer, auto-crop, deskew and text placement.
#pragma once
#include <cstdint>

#include "dib/dib.h"

namespace dib {

// A new image of the same depth, colour table or masks, subtractive marker
// and resolution as `v`, `w` x `h` pixels (below 1 = 0), holding the pixels
// of `v` from column x and row y (from the top) on. Parts of the rectangle
// outside `v` get `fill` in every byte (so 1-, 2- and 4-bit pixels take the
// bits of `fill` at their place in the byte; 0 and 0xFF are the usual fills).
// Throws Error(ERR_MEMORY) when the image
// cannot be made and the DibView row errors when `v` has no usable rows.
Dib cut_rect(const DibView& v, int x, int y, int w, int h, std::uint8_t fill);

}  // namespace dib
