// Automatic crop: the document's rectangle on a scanned page, by the edge
// map (plain pages on dark or light backgrounds) or the cheque search.
#pragma once
#include "dib/dib.h"

namespace dib {

struct CropRect {
  int x = 0, y = 0, w = 0, h = 0;
};

// The process-wide document size range (all 0 = not set).
struct CropSizeRange {
  double min_w = 0, max_w = 0, min_h = 0, max_h = 0;
  int unit = 0;  // TWAIN unit code
};
CropSizeRange& crop_size_range();

// The rectangle of the document; true when it is not the whole image.
// `options` 0 means DARK | LIGHT | EDGE.
bool get_crop_rect(const DibView& v, int options, CropRect& out);

}  // namespace dib
