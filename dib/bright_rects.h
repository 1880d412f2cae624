// Bright rectangles: areas of a page at least a given size whose average
// gray level reaches a given brightness (labels, photographs' highlights,
// blank forms' fields).
#pragma once
#include <vector>

#include "dib/autocrop.h"
#include "dib/dib.h"

namespace dib {

// Up to `capacity` rectangles of at least `min_w` x `min_h` pixels whose
// average gray level is at least `brightness`, in page pixels, found top to
// bottom and left to right. They are searched on a copy reduced about 5
// times below the minimum size, so their sides are multiples of the
// reduction. Empty for sizes below 1, a capacity below 1 or a page smaller
// than the reduction. Throws the DibView row errors and Error(ERR_MEMORY).
std::vector<CropRect> bright_rects(const DibView& v, int min_w, int min_h, int brightness, int capacity);

}  // namespace dib
