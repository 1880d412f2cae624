// The gray histogram of an image (or of a region of it) and the isodata
// threshold chosen from it: the library's general tools for picking a
// black/white threshold.
#pragma once
#include <array>
#include <cstdint>

#include "dib/dib.h"

namespace dib {

using Histogram = std::array<std::uint32_t, 256>;

// Region in pixels, right and bottom exclusive, rows from the top.
struct Region {
  int left, top, right, bottom;
};

// Counts the gray level of every pixel of the region (clipped to the image);
// the whole image without one.
Histogram gray_histogram(const DibView& v, const Region* region = nullptr);

// Isodata threshold: starting at 128, the midpoint of the mean levels below
// and at or above the threshold, until it settles. A histogram that swings
// between two thresholds settles on the lower one.
int isodata_threshold(const Histogram& h);

}  // namespace dib
