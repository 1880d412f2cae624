// Row access: raw and packed reads and writes of one row (rows counted from
// the top) and writing one sample plane of a row.
#pragma once
#include <cstddef>
#include <cstdint>

#include "dib/dib.h"

namespace dib {

// Copies min(stride, length) bytes of row y; 0 when y is outside the image.
std::size_t row_read(const DibView& v, int y, std::uint8_t* out, std::size_t length);
// Copies min(stride, length) bytes into row y.
std::size_t row_write(const DibView& v, int y, const std::uint8_t* data, std::size_t length);
// The used bytes of row y.
std::size_t row_read_packed(const DibView& v, int y, std::uint8_t* out);
// Copies the used bytes and clears the bits beyond the width (depths below 8).
std::size_t row_write_packed(const DibView& v, int y, const std::uint8_t* data);
// 8-bit-per-sample images: data[i] becomes sample `sample` of pixel i (one
// sample per pixel: the row is copied). False when the layout does not fit.
bool row_write_sample(const DibView& v, int y, const std::uint8_t* data, int sample);

}  // namespace dib
