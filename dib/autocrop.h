// Automatic crop: the document's rectangle on a scanned page, by the edge
// map (plain pages on dark or light backgrounds) or the cheque search.
#pragma once
#include <string>

#include "dib/dib.h"

namespace dib {

// A rectangle in pixels of the page, x and y its top-left, rows from the top.
struct CropRect {
  int x = 0, y = 0, w = 0, h = 0;
};

// The process-wide document size range (all 0 = not set). A width range is
// in force when min_w <= max_w and max_w > 0, likewise the heights; when not
// in force the crop uses 5.71 to 9 x 2.21 to 4.5 inches in cheque mode and
// 0 to 999999.99 inches otherwise. The library's reset clears it.
struct CropSizeRange {
  double min_w = 0, max_w = 0, min_h = 0, max_h = 0;
  int unit = 0;  // TWAIN unit code of the four sizes
};
CropSizeRange& crop_size_range();

// The names of the option bits (0 = DARK | LIGHT | EDGE) run together, each
// with a leading space, as the trace shows them: " DARK LIGHT EDGE".
std::string crop_option_names(int options);
// Traces a crop request on image `h`: "GetCropRect(0x..,opts= ..., ...)".
void crop_trace_call(Handle h, int options);

// The rectangle of the document; true when it is not the whole image. `out`
// is the whole image when false. `options`: the crop option bits (0 means
// DARK | LIGHT | EDGE). Traces the result. A layout the row readers do not
// know gives false and records error 58 "DIB_AvgRegion"; edge-map failures
// record 58 "CreateEdgeMap" or "FindCropEdges". Throws the DibView row
// errors for pages without usable rows and Error(ERR_MEMORY).
bool get_crop_rect(const DibView& v, int options, CropRect& out);

}  // namespace dib
