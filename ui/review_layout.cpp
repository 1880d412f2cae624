// Zoom steps, scale, fit and placement of the review window. Drawn sizes are
// truncated as the window always did; a tiny allowance keeps a product such
// as 50% x 0.32 x 2550 (exactly 408) from landing on 407.999... in binary
// floating point.
#include "ui/review_layout.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace ui {
namespace {

constexpr double kMinUsableDpi = 50;   // below: no resolution recorded
constexpr double kAssumedDpi = 72;     // what such a page is taken to have
constexpr double kRoundingAllowance = 1e-9;
constexpr double kCmPerInch = 2.54;

// Places one axis: the start and the pan applied.
std::pair<int, int> place_axis(int view_start, int view_size, int drawn, int pan) {
  if (drawn < view_size) return {view_start + (view_size - drawn) / 2, 0};
  pan = std::clamp(pan, view_size - drawn, 0);
  return {view_start + pan, pan};
}

const char* pixel_type_name(int pixel_type) {
  static constexpr const char* kNames[] = {"BW",        "Grayscale",  "RGB Color",
                                           "Indexed Color", "CMY Color", "CMYK Color"};
  if (pixel_type < 0 || pixel_type >= static_cast<int>(std::size(kNames))) return "unknown format";
  return kNames[pixel_type];
}

}  // namespace

int review_zoom_in(int zoom) {
  for (int step : kReviewZooms)
    if (step > zoom) return step;
  return kReviewZooms.back();
}

int review_zoom_out(int zoom) {
  for (auto it = kReviewZooms.rbegin(); it != kReviewZooms.rend(); ++it)
    if (*it < zoom) return *it;
  return kReviewZooms.front();
}

double review_scale(double screen_ppi_x, double screen_ppi_y, double image_dpi_x,
                    double image_dpi_y) {
  const double rx = image_dpi_x < kMinUsableDpi ? kAssumedDpi : image_dpi_x;
  const double ry = image_dpi_y < kMinUsableDpi ? kAssumedDpi : image_dpi_y;
  return std::min(screen_ppi_y / ry, screen_ppi_x / rx);
}

int review_drawn_size(int image_pixels, int zoom, double scale) {
  const double drawn = zoom * scale / 100.0 * image_pixels;
  if (!(drawn > 0)) return 0;
  return static_cast<int>(std::min(drawn + kRoundingAllowance, 1e9));
}

ReviewPlacement review_layout(const platform::DrawRect& view, int image_w, int image_h,
                              int zoom, double scale, int pan_x, int pan_y) {
  const int w = review_drawn_size(image_w, zoom, scale);
  const int h = review_drawn_size(image_h, zoom, scale);
  ReviewPlacement placed;
  const auto [left, applied_x] = place_axis(view.x, view.w, w, pan_x);
  const auto [top, applied_y] = place_axis(view.y, view.h, h, pan_y);
  placed.image = {left, top, w, h};
  placed.pan_x = applied_x;
  placed.pan_y = applied_y;
  placed.scrollable = w >= view.w || h >= view.h;
  return placed;
}

int review_fit_zoom(const platform::DrawRect& view, int image_w, int image_h, double scale) {
  int zoom = 100;
  while (zoom > kReviewZooms.front() && (review_drawn_size(image_w, zoom, scale) > view.w ||
                                         review_drawn_size(image_h, zoom, scale) > view.h))
    zoom = review_zoom_out(zoom);
  return zoom;
}

ReviewPan review_zoom_pan(const platform::DrawRect& view, const ReviewPlacement& placed,
                          int old_zoom, int new_zoom) {
  const double ratio = static_cast<double>(new_zoom) / old_zoom;
  // The page's point under the view's centre, from the page's corner.
  const double centre_x = view.w / 2.0 - (placed.image.x - view.x);
  const double centre_y = view.h / 2.0 - (placed.image.y - view.y);
  return {static_cast<int>(std::lround(view.w / 2.0 - centre_x * ratio)),
          static_cast<int>(std::lround(view.h / 2.0 - centre_y * ratio))};
}

bool review_locale_uses_inches(std::uint16_t lang_id) {
  constexpr std::uint16_t kEnglishUs = 0x0409, kSpanishUs = 0x540A;
  return lang_id == kEnglishUs || lang_id == kSpanishUs;
}

std::string review_info_text(int width, int height, double dpi_x, double dpi_y, int pixel_type,
                             bool inches) {
  char text[160];
  if (dpi_x <= 0 || dpi_y <= 0) {
    std::snprintf(text, sizeof text, " %g x %g %s\n %s", static_cast<double>(width),
                  static_cast<double>(height), "pixels", pixel_type_name(pixel_type));
  } else {
    const double per_inch = inches ? 1.0 : kCmPerInch;
    std::snprintf(text, sizeof text, " %g x %g %s\n %s", width / dpi_x * per_inch,
                  height / dpi_y * per_inch, inches ? "in" : "cm", pixel_type_name(pixel_type));
  }
  return text;
}

}  // namespace ui
