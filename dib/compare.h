// Comparing two images: exactly (same size, depth, resolution and colours)
// and within a tolerance (DIB_AlmostEqual). Both read every row as 24-bit
// colour, so two layouts that show the same picture compare equal.
#pragma once
#include "dib/dib.h"

namespace dib {

bool images_equal(Handle a, Handle b);
// Whether width, height, pixel type and depth agree, resolutions differ by at
// most 0.02 DPI and no component differs by more than `tolerance`. The largest
// difference found goes to *out_max_error (-1 when the shapes differ).
bool images_almost_equal(Handle a, Handle b, int tolerance, int* out_max_error);

}  // namespace dib
