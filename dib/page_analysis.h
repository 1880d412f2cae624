// The page analyses that post-transfer processing runs on each delivered page
// when the library switches ask for them: blank-page judgement, automatic
// deskew, automatic crop and automatic contrast.
#pragma once
#include "dib/dib.h"

namespace dib {

// Whether the page is blank: less than `threshold` (a fraction, 0.02 = 2 %)
// of it carries ink. The page is not changed.
bool is_blank(const DibView& v, double threshold);

// A new, straightened copy of the page (the caller owns it), or 0 when the
// page needs no straightening or cannot be straightened. `page` is kept.
Handle auto_deskew(Handle page);

// A new image cut to the document found on the page (the caller owns it), or
// 0 when nothing is to be cut. `options`: the crop option bits (0 = 7).
// `page` is kept.
Handle auto_crop(Handle page, int options);

// Stretches the page's levels to the full range, in place.
void auto_contrast(const DibView& v);

}  // namespace dib
