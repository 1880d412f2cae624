// Scaling: gray thumbnails by whole factors, area-averaged copies of any
// size, and resampling to a resolution.
#pragma once
#include "dib/dib.h"

namespace dib {

// A new 8-bit gray image of ceil(W / f) x ceil(H / f) (at least 1 x 1): each
// pixel the average of an f x f block (shorter at the right and bottom
// edges). The resolution is divided by f. Throws Error(ERR_BAD_PARAMETER)
// for f < 1.
Dib scale_to_gray(const DibView& src, int factor);
// A new image of `width` x `height`: 8-bit gray for BW and gray sources, 24-bit
// RGB for the others, each pixel the area-weighted average of the source
// pixels it covers. Throws Error(ERR_WRONG_IMAGE_TYPE) for sizes below 1.
Dib scaled_copy(const DibView& src, int width, int height);
// The same average for the screen, shrinking only (`width` and `height` at
// most the source's): the rows are summed down first, in integers, and each
// level rounded once (in double precision) instead of across and then down,
// which makes it several times faster; a level may differ by one from
// scaled_copy's. Throws
// Error(ERR_WRONG_IMAGE_TYPE) for sizes below 1 or above the source's.
Dib screen_copy(const DibView& src, int width, int height);
// A new image at `x_dpi` x `y_dpi`, scaled by the ratio to the source's
// resolution (8- and 24-bit sources).
Dib resample(const DibView& src, double x_dpi, double y_dpi);

}  // namespace dib
