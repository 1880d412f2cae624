// The library's image viewer: one image, or the pages of an image file one
// at a time, in a window with OK and optional Cancel, Print... and Save As...
// buttons, a page scroll bar and page text for files of several pages. Modal
// (the call returns when the window is closed) or modeless (the call returns
// at once; the caller keeps the window alive by pumping messages). Placed
// against the desktop's work area by the view options, and remembered in the
// per-user settings when asked.
//
// Windows need the window back end: without one (no display, or a user
// interface chosen without windows) no window is created and the calls
// answer as for a window that could not be created. Nothing here waits for a
// person who is not there.
#pragma once
#include <cstdint>
#include <string>

#include "ui/viewer_options.h"
#include "ui/viewer_placement.h"

namespace ui {

// The process's view options.
ViewOptions& view_options();

// Views file `path` (not empty) as TWAIN_ViewFile does: 1 OK, 0 Cancel or
// closed, -2 no readable page or no window; modeless 1 when the window
// exists. ERR_FILE_READ is recorded for a file without pages.
int viewer_view_file(const std::string& path);
// Views a copy of `dib` as DIB_View does; `parent` a platform window or 0.
int viewer_view_image(std::uintptr_t dib, const std::string& title, std::uintptr_t parent);
// Sets a view option and carries its effect out on an open window; false
// (with ERR_BAD_PARAMETER recorded) for an unknown name.
bool viewer_set_option(const std::string& name, const std::string& value);
// Shows a copy of `dib` in the open viewer (nothing when none is open).
void viewer_set_image(std::uintptr_t dib);
bool viewer_is_open();
// Closes the window if it exists ("Destroying window") and drops the image.
void viewer_close();
// The last recorded window rectangle.
ViewRect viewer_last_position();
// Lets an open modeless window take its waiting events (called by the
// library's message pump); nothing when none is open.
void viewer_pump_events();

// What the open window shows, read back from its widgets (tests and the
// trace): empty when none is open.
struct ViewerSnapshot {
  bool open = false;
  std::string caption, page_text;
  bool ok = false, cancel = false, print = false, save = false, scroll = false;
  ViewRect window;   // screen pixels
  ViewRect painted;  // the image as last painted, window pixels
};
ViewerSnapshot viewer_snapshot();

}  // namespace ui
