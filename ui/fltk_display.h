// The one X connection the window back end uses, shared with FLTK, and what
// happens when it breaks. Xlib and FLTK are not thread-safe: every use holds
// the display lock.
#pragma once
#include <mutex>

namespace ui {

std::recursive_mutex& display_lock();

// Holds the display lock for a stretch of toolkit calls. Under the address
// sanitizer, what is allocated meanwhile is not reported as leaked: FLTK keeps
// the fontconfig patterns of the fonts it opened for the whole process, and
// nothing can free them.
class ToolkitScope {
 public:
  ToolkitScope();
  ~ToolkitScope();
  ToolkitScope(const ToolkitScope&) = delete;
  ToolkitScope& operator=(const ToolkitScope&) = delete;

 private:
  std::lock_guard<std::recursive_mutex> lock_;
};
// Opens the display once (with the lock held); false when none answers.
bool display_open();
// True once the X server went away (or FLTK met a fatal error): from then on
// nothing may wait for the display.
bool display_lost();
// Traces what FLTK reported while the display was being opened (nothing may
// be traced then). Called by the back end's first call.
void display_trace_kept_notes();

}  // namespace ui
