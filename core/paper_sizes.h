// The TWAIN paper sizes in inches.
#pragma once

namespace core {

struct PaperSize {
  double width = 0;    // inches
  double height = 0;
};

// Size of a TWSS_ code 1..53; false for other codes.
bool paper_size_inches(int code, PaperSize* out_size);

// Inches in a TWUN_ unit; pixels need the resolution (dots per inch).
double inches_to_units(double inches, int units, double dots_per_inch);

}  // namespace core
