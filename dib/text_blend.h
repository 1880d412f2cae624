// Laying a colour over a page through a coverage mask or at a fixed
// opacity: the last step of text drawing, for pages of every depth.
#pragma once
#include <cstddef>
#include <cstdint>

#include "dib/dib.h"

namespace dib {

struct PixelRect {
  int x = 0, y = 0, w = 0, h = 0;
};

// 8-bit coverage rows: 0 leaves a pixel as it is, 255 gives it the colour.
struct Coverage {
  const std::uint8_t* top = nullptr;
  std::ptrdiff_t step = 0;
  int width = 0, height = 0;
};

// The colour a pixel shows after blending: d' = ((255 - m) x d + c x m) / 255
// per sample, where d is the pixel's sample, c the colour's and m the
// coverage. 8-, 16- (gray and 5-5-5 / bit-field colour), 24-, 32- and
// 48-bit pixels blend their samples (32-bit RGB leaves its fourth byte
// alone); 1-, 4- and 8-bit colour-mapped pixels take the table entry nearest
// the blended colour, so 1-bit pages stay black and white.
// Covers the pixels of `cov` placed with its top-left at (x, y) that lie
// inside `clip` and the page.
void blend_coverage(const DibView& page, const Coverage& cov, int x, int y, PixelRect clip, int red, int green,
                    int blue);
// The same for every pixel of `rect` (cut to the page) at coverage `alpha`.
void blend_fill(const DibView& page, PixelRect rect, int red, int green, int blue, int alpha);

}  // namespace dib
