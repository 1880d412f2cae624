// The loading limit: the largest image, in pixels, that the library's file
// and buffer readers accept (the library's BMP reader here, the codec modules
// through the host table). A limit on what loaders make, not on what the
// library can hold: scans and images made in memory are not limited.
#pragma once
#include <cstdint>
#include <string>

namespace dib {

struct ImageLimit {
  std::int64_t max_pixels;
};
// The process-wide limit (DIB_SetMaxImagePixels / MaxImagePixels=).
ImageLimit& image_limit();

// Whether a loaded image of `width` x `height` pixels is within the limit.
bool image_size_allowed(std::uint64_t width, std::uint64_t height);
// The text of a refusal: "image of W x H pixels is over the limit of N pixels".
std::string image_size_refusal(std::uint64_t width, std::uint64_t height);

}  // namespace dib
