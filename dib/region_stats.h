// Region statistics: the average of one component over a rectangle and the
// one-row projections of columns and rows that auto-crop and the deskew
// border fill measure pages with.
#pragma once
#include "dib/dib.h"

namespace dib {

// The average of component `component` (0 gray, 1 red, 2 green, 3 blue) over
// the rectangle, clipped to the image: right = min(W - 1, x + w - 1),
// bottom = min(H - 1, y + h - 1), then x and y raised to at least 0. An empty
// region gives 0. Throws (DibView row errors) when the rows cannot be read.
double avg_region(const DibView& v, int component, int x, int y, int w, int h);

// A one-row 8-bit gray image of width `w` whose pixel j is the integer average
// of the component over rows y..y + h - 1 at column x + j (rows and columns
// clipped to the image); its X resolution is the source's.
Dib project_columns(const DibView& v, int x, int y, int w, int h, int component);

// A one-row gray image as wide as the source is high (8 bits, or the source's
// bits per sample when larger) whose pixel i is the average of row i over the
// full width; its X resolution is the source's Y resolution.
Dib project_rows(const DibView& v, int component);

}  // namespace dib
