// The compressed forms a device hands over: CCITT Group 4 for black and
// white (through libtiff's fax codec) and baseline JPEG for 8-bit gray and
// 24-bit colour (through libjpeg). Both make the whole stream of a page at
// once; memory transfers then send it in pieces.
#pragma once
#include <cstdint>
#include <optional>
#include <vector>

#include "sources/virtual/pages.h"

namespace vscan {

// The Group 4 stream of a 1-bit page, coded the usual way (1 = black): a
// chocolate page's bits are inverted first. Nothing when the codec fails.
std::optional<std::vector<std::uint8_t>> compress_group4(const Raster& raster);

// A JFIF stream of an 8-bit gray or 24-bit RGB page at `quality` (1-100),
// with the page's resolution. Nothing for other pages or when the codec
// fails.
std::optional<std::vector<std::uint8_t>> compress_jpeg(const Raster& raster, int quality);

// The page's rows in the black-is-1 convention of fax coding and of TIFF's
// min-is-white 1-bit images.
std::vector<std::uint8_t> bilevel_black_is_one(const Raster& raster);

}  // namespace vscan
