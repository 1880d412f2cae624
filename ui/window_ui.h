// The window back end of the user interface (FLTK), registered with platform/
// at attach, and the screen's measures. Everything here is safe when no
// display answers or the display goes away in the middle of a run: the back
// end then answers as the non-interactive one does and says so in the trace.
#pragma once
#include <memory>

#include "platform/ui.h"

namespace ui {

// The window back end, or nullptr when no display answers ($DISPLAY unset,
// or the X server does not accept the connection).
std::unique_ptr<platform::UiBackend> make_window_ui();

// The screen's pixels per inch: the desktop's setting (the X resource
// Xft.dpi) when there is one, else from the X server's size in pixels and
// millimetres; 96 when no display answers or it reports no size.
int screen_pixels_per_inch();

}  // namespace ui
