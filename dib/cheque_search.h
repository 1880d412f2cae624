// The cheque search of auto-crop: the window of a cheque-like size that
// holds the most edge strength of a page.
#pragma once
#include <cstdint>
#include <optional>
#include <span>

#include "dib/dib.h"

namespace dib {

// A document size range in inches.
struct CropSizeInches {
  double min_w = 0, max_w = 0, min_h = 0, max_h = 0;
};

// A window [start, end) along a profile and its score.
struct CropWindow {
  int start = 0, end = 0;
  double score = -9999;
};

// The window of profile `p` (at `dpi` pixels per inch) whose width, tried from
// `max_inches` down to `min_inches` in steps of 0.1 inch, best separates a
// strong inside from a weak outside: score = sum inside - sum outside -
// width x mean / 2.2; the first strictly greatest wins. Windows are at least
// 1 and at most the profile's length. The whole profile with score -9999
// when no width is tried.
CropWindow crop_window_search(std::span<const std::uint8_t> p, double dpi, double min_inches,
                              double max_inches);

// The document's edges (inclusive) found on `work` by the cheque search, in
// the rows of the page `work` was cut from at row `top_offset`. Nothing when
// `work` has no resolution. Throws the errors of the scaling steps.
struct ChequeBox {
  int left = 0, top = 0, right = 0, bottom = 0;
};
std::optional<ChequeBox> cheque_search(const DibView& work, const CropSizeInches& size, int top_offset);

}  // namespace dib
