#include "dib/image_limit.h"

#include "core/state_registry.h"
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

namespace {

// The largest image accepted: the program's setting, kept across sessions.
const bool kImageLimitRegistered = core::register_state({"dib.image_limit", [] { dib::image_limit() = dib::ImageLimit{DIB_DEFAULT_MAX_IMAGE_PIXELS}; }, nullptr});

}  // namespace
