#include "dib/image_limit.h"

#include "orivane/dib_api.h"

namespace dib {

ImageLimit& image_limit() {
  static ImageLimit limit{DIB_DEFAULT_MAX_IMAGE_PIXELS};
  return limit;
}

bool image_size_allowed(std::uint64_t width, std::uint64_t height) {
  const auto limit = static_cast<std::uint64_t>(image_limit().max_pixels);
  // Each side alone within the limit first, so the product cannot overflow.
  return width <= limit && height <= limit && (width == 0 || height <= limit / width);
}

std::string image_size_refusal(std::uint64_t width, std::uint64_t height) {
  return "image of " + std::to_string(width) + " x " + std::to_string(height) +
         " pixels is over the limit of " + std::to_string(image_limit().max_pixels) + " pixels";
}

}  // namespace dib
