#include "sources/virtual/paper.h"

#include <algorithm>
#include <cmath>

namespace vscan {

namespace {

// Larger images are refused (TWCC_LOWMEMORY) rather than attempted.
constexpr double kMaxImageBytes = 1024.0 * 1024 * 1024;

int samples_of(TW_UINT16 pixel_type) {
  switch (pixel_type) {
    case TWPT_RGB:
    case TWPT_CMY:
      return 3;
    case TWPT_CMYK:
      return 4;
    default:
      return 1;
  }
}

int pixels_along(double inches, double dpi) {
  return std::max(1, static_cast<int>(std::lround(inches * dpi)));
}

// The compression a transfer can apply to this kind of image: Group 4 for
// black and white, JPEG for 8-bit gray and 24-bit colour; anything else is
// sent as it is.
TW_UINT16 usable_compression(TW_UINT16 wanted, const PageFormat& format) {
  if (wanted == TWCP_GROUP4 && format.pixel_type == TWPT_BW) return TWCP_GROUP4;
  if (wanted == TWCP_JPEG && ((format.pixel_type == TWPT_GRAY && format.bit_depth == 8) ||
                              (format.pixel_type == TWPT_RGB && format.bit_depth == 24)))
    return TWCP_JPEG;
  return TWCP_NONE;
}

// The page's pixels mapped through its response curve: a copy, since the
// rendered page may be shared with other pages of the same format.
std::shared_ptr<const Raster> apply_response(const Raster& rendered, const ResponseCurve& curve) {
  auto mapped = std::make_shared<Raster>();
  mapped->format = rendered.format;
  mapped->bytes_per_row = rendered.bytes_per_row;
  mapped->barcode_text = rendered.barcode_text;
  mapped->pixels = rendered.pixels;
  const int channels = rendered.format.pixel_type == TWPT_RGB ? 3 : 1;
  const std::size_t used = static_cast<std::size_t>(rendered.format.width) * channels;
  for (std::size_t row = 0; row < static_cast<std::size_t>(rendered.format.height); ++row) {
    std::uint8_t* p = mapped->pixels.data() + row * mapped->bytes_per_row;
    for (std::size_t i = 0; i < used; ++i) p[i] = curve[i % channels][p[i]];
  }
  return mapped;
}

}  // namespace

std::optional<ResponseCurve> response_for(const Settings& settings, const ImageShape& shape) {
  const PageFormat& f = shape.format;
  if (f.pixel_type == TWPT_GRAY && f.bit_depth == 8) return settings.gray_response;
  if (f.pixel_type == TWPT_RGB && f.bit_depth == 24) return settings.rgb_response;
  return std::nullopt;
}

ImageShape image_shape(const DeviceConfig& device, const Settings& settings) {
  ImageShape shape;
  PageFormat& f = shape.format;
  f.pixel_type = settings.pixel_type;
  const auto depth = settings.bit_depth.find(settings.pixel_type);
  f.bit_depth = depth != settings.bit_depth.end() ? depth->second : TW_UINT16{1};
  f.x_dpi = settings.x_dpi;
  f.y_dpi = settings.y_dpi;
  f.width = pixels_along(settings.frame.right - settings.frame.left, settings.x_dpi);
  f.height = pixels_along(settings.frame.bottom - settings.frame.top, settings.y_dpi);
  f.pixel_flavor = f.pixel_type == TWPT_BW ? settings.pixel_flavor : TW_UINT16{TWPF_CHOCOLATE};
  shape.samples = samples_of(f.pixel_type);
  shape.bits_per_sample = std::max(1, f.bit_depth / shape.samples);
  const TW_UINT16 mech = settings.xfer_mech;
  if (mech == TWSX_MEMORY || mech == TWSX_FILE)
    shape.compression = usable_compression(settings.compression, f);
  if (mech == TWSX_MEMORY && shape.compression == TWCP_NONE) {
    shape.planar =
        settings.planar_chunky == TWPC_PLANAR && shape.samples > 1 && shape.bits_per_sample == 8;
    shape.tiles = settings.tiles && device.tiles && !shape.planar;
  }
  return shape;
}

const Raster* page_raster(Page& page) {
  if (!page.raster) {
    const PageFormat& f = page.shape.format;
    const double bytes = std::ceil(static_cast<double>(f.width) * f.bit_depth / 8) * f.height;
    if (bytes > kMaxImageBytes) return nullptr;
    page.raster = render_page(f, page.facts);
    if (page.raster && page.response) page.raster = apply_response(*page.raster, *page.response);
  }
  return page.raster.get();
}

bool page_has_event(const Page& page, PageEventKind kind) {
  return std::any_of(page.events.begin(), page.events.end(),
                     [&](const PageEvent& e) { return e.kind == kind; });
}

}  // namespace vscan
