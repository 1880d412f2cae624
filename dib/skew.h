// Skew estimation by sheared line profiles and rotation in place by two
// shears with the exposed borders refilled.
#pragma once
#include "dib/dib.h"

namespace dib {

// "No skew found"; any angle not above kSkewUnknownLimit means the same.
constexpr double kNoSkew = -99.0;
constexpr double kSkewUnknownLimit = -9.0;

// The estimated skew in radians (positive: the page must turn counter-
// clockwise as displayed to be straight), or kNoSkew.
double deskew_angle(const DibView& v);

// Turns the image in place by `radians` (size unchanged); nothing when
// |radians| <= 0.001 or when the work buffers cannot be had.
void rotate_by_radians(const DibView& v, double radians);

}  // namespace dib
