// Blank-page judgement: the fraction of dark pixels inside the page with its
// outer 5 % left out.
#pragma once
#include <optional>

#include "dib/dib.h"

namespace dib {

// The dark fraction of the page; nothing when the measured area is 0.
std::optional<double> dark_fraction(const DibView& v);

}  // namespace dib
