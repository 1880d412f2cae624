// The review window's arithmetic, apart from the toolkit: the zoom steps, the
// scale that shows a page at its printed size, the fit, where the page is
// drawn inside the view, the zoom that keeps the view's centre in place, and
// the information text. Everything here is pure and testable without a
// display.
#pragma once
#include <array>
#include <cstdint>
#include <string>

#include "platform/device_context.h"

namespace ui {

// The zoom steps, in percent.
inline constexpr std::array<int, 12> kReviewZooms = {12, 25, 33, 50, 66, 75,
                                                     100, 125, 150, 200, 300, 400};

// The dialog: a column of controls on the left, the image area on the right.
// Rows of the column, top to bottom (the zoom row holds "&-", the zoom text
// and "&+"; the information text takes two rows; the page row holds "Page",
// "<", the page text and ">").
enum class ReviewRow {
  Accept, Reject, CancelJob, TurnRight, TurnLeft, FlipTopBottom, FlipLeftRight, Negative,
  Print, Zoom, ZoomIn, Info, PageControls = Info + 2
};
inline constexpr int kReviewMargin = 10;
inline constexpr int kReviewColumnWidth = 150;
inline constexpr int kReviewRowHeight = 26;
inline constexpr int kReviewRowStep = 32;

// A row's rectangle in the window.
constexpr platform::DrawRect review_row_rect(ReviewRow row) {
  return {kReviewMargin, kReviewMargin + kReviewRowStep * static_cast<int>(row),
          kReviewColumnWidth, kReviewRowHeight};
}
// The window's size on a screen of `screen_w` x `screen_h` pixels: as large
// as leaves room for the window manager's frame, at most 860 x 700.
constexpr platform::DrawRect review_window_rect(int screen_w, int screen_h) {
  const int w = screen_w - 40 < 860 ? screen_w - 40 : 860;
  const int h = screen_h - 68 < 700 ? screen_h - 68 : 700;
  return {0, 0, w < 480 ? 480 : w, h < 480 ? 480 : h};
}
// The image-area control in a window of `window_w` x `window_h`; the view is
// this inset by one pixel.
constexpr platform::DrawRect review_area_rect(int window_w, int window_h) {
  const int left = 2 * kReviewMargin + kReviewColumnWidth;
  return {left, kReviewMargin, window_w - left - kReviewMargin, window_h - 2 * kReviewMargin};
}

// One step up (or down) from `zoom`; at the ends the zoom stays. A zoom that
// is not a step goes to the nearest step in that direction.
int review_zoom_in(int zoom);
int review_zoom_out(int zoom);

// Screen pixels per image pixel at zoom 100, so that zoom 100 shows the page
// at its printed size: the smaller of the two axes' ratios. Resolutions below
// 50 dots per inch (none, or nonsense) count as 72.
double review_scale(double screen_ppi_x, double screen_ppi_y, double image_dpi_x,
                    double image_dpi_y);

// The drawn size of `image_pixels` at `zoom` and `scale`: the integer part.
int review_drawn_size(int image_pixels, int zoom, double scale);

// Where the page goes in `view` (screen coordinates): centred along an axis
// where it is smaller than the view; elsewhere placed by the pan, which is
// kept between (view size - drawn size) and 0 so that the page always covers
// the view along that axis.
struct ReviewPlacement {
  platform::DrawRect image;  // the drawn page
  int pan_x = 0, pan_y = 0;  // the pan as it was applied
  bool scrollable = false;   // the page is larger than the view along an axis
};
ReviewPlacement review_layout(const platform::DrawRect& view, int image_w, int image_h,
                              int zoom, double scale, int pan_x, int pan_y);

// The first zoom, from 100 down, at which the page fits the view (12 when
// none does).
int review_fit_zoom(const platform::DrawRect& view, int image_w, int image_h, double scale);

// The pan after a zoom from `old_zoom` to `new_zoom` that keeps the page's
// point at the view's centre in place (`placed`: the layout before the zoom).
// Not yet clamped: review_layout does that.
struct ReviewPan {
  int x = 0, y = 0;
};
ReviewPan review_zoom_pan(const platform::DrawRect& view, const ReviewPlacement& placed,
                          int old_zoom, int new_zoom);

// True when the language (a Windows language id) measures in inches.
bool review_locale_uses_inches(std::uint16_t lang_id);

// " <w> x <h> <unit>\n <pixel type>": the page's size in inches or cm from
// its pixels and resolution, or in pixels when a resolution is 0.
// `pixel_type` is a DIB_PT_ value (-1 and others: "unknown format").
std::string review_info_text(int width, int height, double dpi_x, double dpi_y, int pixel_type,
                             bool inches);

}  // namespace ui
