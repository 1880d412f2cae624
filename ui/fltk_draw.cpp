// Drawing images into FLTK windows: the device context of a window being
// painted, and the image window.
#include <FL/Fl.H>
#include <FL/Fl_Double_Window.H>
#include <FL/fl_draw.H>

#include <memory>

#include "orivane/dib_api.h"
#include "platform/device_context.h"
#include "ui/fltk_display.h"
#include "ui/image_window.h"
#include "ui/paint_context.h"

namespace ui {
namespace {

class ImageWindow final : public Fl_Double_Window {
 public:
  ImageWindow(std::uintptr_t dib, int w, int h) : Fl_Double_Window(w, h), dib_(dib) {}
  bool painted() const { return painted_; }

  void draw() override {
    PaintContext context({0, 0, w(), h()});
    const platform::DcHandle dc = platform::dc_register(&context);
    fl_rectf(0, 0, w(), h(), fl_rgb_color(192, 192, 192));
    DIB_DrawToDC(dib_, dc, 0, 0, w(), h(), 0, 0);
    platform::dc_unregister(dc);
    painted_ = true;
  }

 private:
  std::uintptr_t dib_;
  bool painted_ = false;
};

std::unique_ptr<ImageWindow>& image_window() {
  static auto* window = new std::unique_ptr<ImageWindow>;
  return *window;
}

}  // namespace

bool show_image_window(std::uintptr_t dib, const std::string& title, int width, int height) {
  ToolkitScope scope;
  if (!display_open()) return false;
  close_image_window();
  auto window = std::make_unique<ImageWindow>(dib, width, height);
  window->copy_label(title.c_str());
  window->end();
  window->show();
  // Painting waits for the server to map the window; a lost display ends it.
  for (int i = 0; i < 200 && !window->painted() && !display_lost(); ++i) Fl::wait(0.05);
  const bool shown = window->painted() && !display_lost();
  image_window() = std::move(window);
  return shown;
}

void close_image_window() {
  ToolkitScope scope;
  if (display_lost()) {
    (void)image_window().release();
    return;
  }
  if (image_window()) {
    image_window().reset();
    Fl::check();
  }
}

}  // namespace ui
