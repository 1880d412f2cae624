// The pixel value that shows a colour in a given image, as fills and text
// drawing store it.
#pragma once
#include <array>
#include <cstdint>

#include "dib/dib.h"

namespace dib {

struct PixelValue {
  std::array<std::uint8_t, 8> bytes{};
  int size = 0;  // bytes used; 1 for images below 8 bits per pixel
};

// For images with a colour table: the index of the nearest entry by the sum
// of absolute differences (lowest index on ties), repeated over a whole byte
// for 1- and 4-bit images. 16-bit gray: luminance x 257. RGB: blue, green,
// red (and 0 at 32 bits; samples x 257 at 48). CMY: the inverted components,
// cyan first; CMYK: the same with black taken out of them and stored fourth.
PixelValue colour_to_pixel(const DibView& v, int red, int green, int blue);

}  // namespace dib
