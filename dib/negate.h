// In-place byte edits of the pixels: negation and exchanging red and blue.
#pragma once
#include "dib/dib.h"

namespace dib {

// Inverts every used byte of every row; the colour table is kept. Bits
// beyond the width stay clear.
void negate(const DibView& v);
// Exchanges the first and third sample of every pixel of a 24-, 32- or 48-bit
// RGB image. Throws Error(ERR_WRONG_IMAGE_TYPE) for other images.
void swap_red_blue(const DibView& v);

}  // namespace dib
