// The device context of a widget FLTK is painting: DIB_DrawToDC clips as
// FLTK clips and puts its bytes 1:1 with FLTK's image drawing. Only valid
// inside a draw() call.
#pragma once
#include <FL/fl_draw.H>

#include "platform/device_context.h"

namespace ui {

class PaintContext final : public platform::DeviceContext {
 public:
  // The rectangle drawn into, in the coordinates FLTK draws the widget in.
  PaintContext(int x, int y, int w, int h) : x_(x), y_(y), w_(w), h_(h) {}
  explicit PaintContext(const platform::DrawRect& box) : PaintContext(box.x, box.y, box.w, box.h) {}
  platform::DrawRect clip_box() const override {
    int x = 0, y = 0, w = 0, h = 0;
    fl_clip_box(x_, y_, w_, h_, x, y, w, h);
    return {x, y, w, h};
  }
  void draw_pixels(int x, int y, int w, int h, const std::uint8_t* pixels, int channels,
                   int stride) override {
    fl_draw_image(pixels, x, y, w, h, channels, stride);
  }

 private:
  int x_, y_, w_, h_;
};

}  // namespace ui
