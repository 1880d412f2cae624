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
// Nothing when the histogram is empty. `changes` (may be null) is set false
// when the table maps every level the histogram holds to itself.
std::optional<LevelTable> auto_contrast_table(const Histogram& h, bool* changes);

// Stretches the page in place. False (page unchanged) when the analysis
// failed: the histogram is empty or the rows cannot be read. Records nothing.
bool auto_contrast_page(const DibView& v);

// Maps the page through `table` in place: 1-bit pages keep their colour table
// and each bit value takes the entry nearest to the mapped level it showed
// (so the bits are kept, inverted or all set alike); gray directly (4- and
// 16-bit through derived tables); 24/32/48-bit RGB by the luminance, the
// fourth byte of 32-bit pixels untouched; palette, CMY, CMYK and 16-bit
// colour unchanged. Throws the DibView row errors when the rows cannot be
// addressed.
void apply_gray_table(const DibView& v, const LevelTable& table);

// Maps every sample (each of R, G, B for colour pixels, the fourth byte of
// 32-bit pixels untouched) through `table`; 1-bit and gray pages as
// apply_gray_table; palette, CMY, CMYK and 16-bit colour unchanged.
void apply_sample_table(const DibView& v, const LevelTable& table);

// Brightness and contrast, each -1000..1000 (clamped); 0, 0 is the identity.
// Contrast c scales the levels about mid-gray by 128^(c / 1000).
LevelTable brightness_contrast_table(int brightness, int contrast);
// `levels` equal bands, each mapped to one level spread over 0..255; clamped
// to 2..256 (256 is the identity).
LevelTable posterize_table(int levels);

// A new 8-bit gray image of the same size and resolution holding the edge
// strength of `v` (mode 0 gy, 1 gx, 2 |gy| + |gx|, 3 spread maximum); values
// below `threshold` (when above 0) become 0. Throws Error(ERR_BAD_PARAMETER)
// for another mode, Error(ERR_MEMORY) when the image cannot be made, and the
// DibView row errors.
Dib edge_strength(const DibView& v, int mode, int threshold);

}  // namespace dib
