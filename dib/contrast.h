// Automatic contrast, level tables and the edge-strength image.
#pragma once
#include <array>
#include <cstdint>
#include <optional>

#include "dib/dib.h"
#include "dib/histogram.h"

namespace dib {

using LevelTable = std::array<std::uint8_t, 256>;

// The stretch table for a page's gray histogram: from the dominant dark and
// light peaks when they exist, else by clipping the darkest and lightest 1 %.
// Nothing when the histogram is empty. `changes` is set false when the table
// would leave the page as it is.
std::optional<LevelTable> auto_contrast_table(const Histogram& h, bool* changes);

// Stretches the page in place. False (page unchanged) when the analysis
// failed; throws the DibView row errors when the rows cannot be read.
bool auto_contrast_page(const DibView& v);

// Maps the page through `table` in place: BW by its colour table, gray
// directly (4- and 16-bit through derived tables), 24/32/48-bit colour by the
// luminance; palette, CMY and CMYK unchanged.
void apply_gray_table(const DibView& v, const LevelTable& table);

// Maps every sample (each of R, G, B for colour pixels) through `table`.
void apply_sample_table(const DibView& v, const LevelTable& table);

LevelTable brightness_contrast_table(int brightness, int contrast);
LevelTable posterize_table(int levels);

// A new 8-bit gray image of the same size and resolution holding the edge
// strength of `v` (mode 0 gy, 1 gx, 2 |gy| + |gx|, 3 spread maximum); values
// below `threshold` (when above 0) become 0.
Dib edge_strength(const DibView& v, int mode, int threshold);

}  // namespace dib
