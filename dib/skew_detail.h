// What the skew estimate and the two-shear rotation must agree on: the shear
// offset rule and the relation between a line's angle and the column shear
// that makes it horizontal.
#pragma once
#include <algorithm>
#include <cmath>

namespace dib::skew_detail {

// The offset of position `p` on a line of `length` positions for a shear of
// `factor` (offset per position): factor x (p - length/2) rounded to the
// nearest integer (halves up), length/2 an integer division. Rounding the
// same way on both sides of the centre keeps a sheared straight line
// straight; rounding toward zero would lift the half with negative offsets
// by up to one row and put a step in every line at the centre. Clamped to
// +-length, which moves a line wholly out of the image, so huge factors stay
// in integer range.
inline int shear_offset(double factor, int p, int length) {
  const double raw = std::floor(factor * (p - length / 2) + 0.5);
  return static_cast<int>(std::clamp(raw, -static_cast<double>(length), static_cast<double>(length)));
}

// The profile search measures its angles as shears: angle a moves column x
// by sin(a) x (x - W/2) rows. A line that is really turned by angle t has
// the slope tan(t), so the search finds a with sin(a) = tan(t), and t =
// atan(sin(a)). The rotation's column pass uses the factor tan(t), which for
// an estimated angle is exactly the shear the estimate measured.
inline double line_angle_of_shear(double shear_angle) { return std::atan(std::sin(shear_angle)); }

}  // namespace dib::skew_detail
