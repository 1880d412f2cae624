// A window that shows one image drawn with DIB_DrawToDC over its whole area:
// the screen half of the image drawing, and the base the review window builds
// on.
#pragma once
#include <cstdint>
#include <string>

namespace ui {

// Opens a `width` x `height` window titled `title` showing `dib` scaled to
// fill it, and returns once its first frame is painted. False when no display
// answers (nothing is shown). One such window at a time: a second call
// replaces the first.
bool show_image_window(std::uintptr_t dib, const std::string& title, int width, int height);
// Takes the window down (nothing when none is up).
void close_image_window();

}  // namespace ui
