// The DIB allocator behind DIB_Create and DIB_Allocate: depth normalisation,
// the block layout of a new image and the default colour tables.
#pragma once
#include <array>

#include "dib/dib.h"

namespace dib {

// The depth a pixel type gets when none is asked for: BW 1, GRAY and PALETTE 8,
// CMYK 32, others 24.
int depth_for_type(int pixel_type);
// A depth the model supports: <= 0 from the pixel type, then 15 -> 16,
// 9 and above (other than 16, 24, 32, 48) -> 24, 5..8 -> 8, 2..4 -> 4.
int depth_normalise(int depth, int pixel_type);
// The pixel type of DIB_Allocate: 1 BW; 4, 8, 16 GRAY; others RGB.
int type_for_depth(int depth);

// A new image block, counted as a live image. pixel_type -1 = from the depth.
// Negative sizes count as 0. Pixels are zero. Returns an empty Dib when the
// size overflows or memory runs out.
Dib try_allocate(int depth, int width, int height, int pixel_type = -1);
// The same, throwing Error(ERR_MEMORY) on failure.
Dib allocate(int depth, int width, int height, int pixel_type = -1);
// A new image shaped like `like` (depth, table or masks, compression low
// byte, resolution) with the given size. Throws Error(ERR_MEMORY).
Dib allocate_like(const DibView& like, int width, int height);

// The colour table (or masks) a new image of `pixel_type` gets.
void table_fill_default(DibView& v, int pixel_type);
// Entry i = i x 255 / (n - 1) over the table's n entries; 16-bit: masks 0xFFFF.
void table_fill_gray(DibView& v);
// The fixed 256-entry palette of colour-mapped images.
const std::array<Rgbq, 256>& standard_palette();
// The 16 standard colours: palette entries 0..7 and 248..255.
std::array<Rgbq, 16> standard_palette16();

}  // namespace dib
