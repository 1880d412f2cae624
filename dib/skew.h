// Skew estimation by sheared line profiles and rotation in place by two
// shears with the exposed borders refilled.
#pragma once
#include "dib/dib.h"

namespace dib {

// "No skew found"; any angle not above kSkewUnknownLimit means the same.
constexpr double kNoSkew = -99.0;
constexpr double kSkewUnknownLimit = -9.0;

// The estimated skew of the text lines in radians (positive: the page must
// turn counter-clockwise as displayed to be straight), within about +-13.7
// degrees, or kNoSkew when no angle stands out. Throws (DibView row errors)
// when the rows cannot be read.
double deskew_angle(const DibView& v);

// Turns the image in place by `radians` about its centre with a column and a
// row shear (size unchanged, uncovered borders refilled); the estimated angle
// straightens the page it was measured on. Nothing when |radians| <= 0.001,
// the angle is not finite, or the work buffers cannot be had. Throws (DibView
// row errors) when the rows cannot be addressed.
void rotate_by_radians(const DibView& v, double radians);

}  // namespace dib
