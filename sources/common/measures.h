// Lengths and paper, shared by the data sources (the virtual scanner, the
// SANE bridge): the units an application measures in, and the standard
// paper sizes a desktop scanner meets.
#pragma once
#include <optional>
#include <vector>

#include "orivane/twain.h"

namespace twsource {

// How many of `units` (TWUN_) make an inch; pixels count at `dpi`. Unknown
// units count as inches.
double units_per_inch(TW_UINT16 units, double dpi);

struct PaperSize {
  TW_UINT16 code;  // TWSS_
  double width;    // inches
  double height;
};
// The sizes that fit an area of `width` x `height` inches, TWSS_NONE first.
std::vector<TW_UINT16> paper_sizes_fitting(double width, double height);
std::optional<PaperSize> paper_size(TW_UINT16 code);

}  // namespace twsource
