// The edge search of auto-crop: an edge map scored from band averages of the
// page, reduced to a column profile in which the document's left and right
// edges (and, across the rows, its top and bottom) are found.
#pragma once
#include <cstdint>
#include <span>
#include <vector>

#include "dib/dib.h"

namespace dib {

// Crop option bits as the edge scorer reads them.
constexpr int kCropDark = 1;
constexpr int kCropLight = 2;
constexpr int kCropEdge = 4;
constexpr int kCropCheque = 8;
constexpr int kCropChequeBack = 16;

// The trimmed mean of `values` (not empty): the middle one (the larger of
// two) for fewer than three values, else the integer mean without the
// smallest and the largest. `values` is sorted in place.
int crop_trimmed_mean(std::span<std::uint8_t> values);

// Scores positions 2..n-5 of a band profile `p` where the gray level steps:
// out[i] gets 4 where a dark background ends, 1..3 where light paper falls
// to a darker level (kCropLight), 1 for a sharp line between similar levels
// (kCropEdge). `out` (as long as `p`) is cleared first.
void crop_score_row(std::span<const std::uint8_t> p, int options, std::span<int> out);

// The first edge of a profile: the top of the first strong rise, or a
// window `c` before the place where weak evidence adds up; 0 when none.
int crop_left_edge(std::span<const std::uint8_t> profile, int c);
// The last edge, scanning back down to (not reaching) `left`; n - 1 when none.
int crop_right_edge(std::span<const std::uint8_t> profile, int c, int left);

// The document's edges in page coordinates (inclusive). `found_*` is false
// when that direction's map had no bands, so its pair is not measured.
struct CropEdges {
  int left = 0, right = 0, top = 0, bottom = 0;
  bool found_columns = false, found_rows = false;
};

// Both edge maps of the page (columns and, as on the page turned a quarter
// anticlockwise, rows) and the edges found on them. Records error 58
// "CreateEdgeMap" when the rows cannot be read as gray (the maps stay empty)
// and "FindCropEdges" for a map without bands.
CropEdges crop_find_edges(const DibView& v, int options);

}  // namespace dib
