// A page as a device-independent bitmap, the way the native transfer and the
// BMP file hand it over: a BITMAPINFOHEADER, the colour table (1, 4 and 8
// bit images), BI_BITFIELDS masks for 16-bit gray, and rows bottom-up, each
// padded to 4 bytes. Colour samples are stored B G R (48-bit: 16-bit samples
// in that order); CMY and CMYK keep the device's C M Y (K) order and mark
// biCompression 5. Resolutions are in pixels per metre.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "sources/virtual/pages.h"

namespace vscan {

constexpr std::size_t kDibHeaderBytes = 40;

// Bytes of one padded DIB row of `format`.
std::size_t dib_stride(const PageFormat& format);
// Bytes of the whole DIB (header, colour table or masks, pixels).
std::size_t dib_bytes(const PageFormat& format);
// Writes the DIB of `raster` to `out`, which holds dib_bytes() bytes.
void dib_write(const Raster& raster, std::uint8_t* out);
// The colour table (B, G, R, 0 per entry; empty for deep images): black then
// white for 1 bit (white first with TWPF_VANILLA), grays for 4 and 8 bit
// gray, the page palette for PALETTE.
std::vector<std::uint8_t> dib_colour_table(const PageFormat& format);

}  // namespace vscan
