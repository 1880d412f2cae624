// The device context of a window FLTK is painting: drawing is clipped to a
// box of the window (and to FLTK's own clip), and goes out through FLTK's
// image drawing, which puts the bytes 1:1.
#pragma once
#include <FL/fl_draw.H>

#include "platform/device_context.h"

namespace ui {

class PaintContext final : public platform::DeviceContext {
 public:
  // `box` in the window's coordinates.
  explicit PaintContext(const platform::DrawRect& box) : box_(box) {}
  platform::DrawRect clip_box() const override {
    int x = 0, y = 0, w = 0, h = 0;
    fl_clip_box(box_.x, box_.y, box_.w, box_.h, x, y, w, h);
    return {x, y, w, h};
  }
  void draw_pixels(int x, int y, int w, int h, const std::uint8_t* pixels, int channels,
                   int stride) override {
    fl_draw_image(pixels, x, y, w, h, channels, stride);
  }

 private:
  platform::DrawRect box_;
};

}  // namespace ui
