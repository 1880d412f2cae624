// Opening the display for FLTK ourselves, so that a display that does not
// answer is an answer (no window back end) rather than FLTK's exit(), and
// catching the connection's loss, so that it ends nothing but the windows.
#include "ui/fltk_display.h"

#include <FL/Fl.H>
#include <FL/x.H>
#include <X11/Xlib.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/ui.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#define ORV_TOOLKIT_LEAKS_IGNORED 1
#endif
#include "ui/window_ui.h"

namespace ui {
namespace {

Display* the_display = nullptr;
bool open_tried = false;
std::atomic<bool> lost{false};
std::atomic<bool> loss_traced{false};
// While the display is being opened the user interface's own lock is held
// (the back end is being chosen), so tracing then would wait on itself: what
// FLTK says meanwhile is kept and traced by the first call after.
bool opening = false;
std::vector<std::string> kept_notes;

void trace_or_keep(const std::string& line) {
  if (opening) {
    kept_notes.push_back(line);
  } else {
    platform::ui_trace(line);
  }
}

void note_loss(const char* why) {
  lost.store(true);
  // Traced once: Xlib may report the same loss from several calls.
  if (!loss_traced.exchange(true))
    trace_or_keep(std::string("Display lost (") + why + "): answering without windows");
}

// Xlib calls this when the connection breaks. Returning is allowed since the
// exit handler below replaces Xlib's exit(); later Xlib calls on a broken
// connection return at once.
int on_io_error(Display*) {
  note_loss("connection to the X server broken");
  return 0;
}

void on_io_exit(Display*, void*) { lost.store(true); }

// FLTK's default fatal handler exits the process; ours stops the windows.
void on_fltk_fatal(const char* format, ...) {
  char text[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  note_loss(text);
}

// FLTK's warnings and errors (X protocol errors among them) go to the trace,
// not to standard error.
void on_fltk_message(const char* format, ...) {
  char text[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  trace_or_keep(std::string("FLTK: ") + text);
}

// A busy X server may not have taken the connections waiting on its socket
// (EAGAIN: the queue is full) or may drop one while it starts up (ECONNRESET):
// those are tried again for up to two seconds. A server that is not there
// (nothing listens, no socket) is an answer at once.
Display* open_with_retries(const char* name) {
  for (int attempt = 0;; ++attempt) {
    errno = 0;
    if (Display* d = XOpenDisplay(name)) return d;
    const bool busy = errno == EAGAIN || errno == ECONNRESET;
    if (!busy || attempt >= 20) return nullptr;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

}  // namespace

std::recursive_mutex& display_lock() {
  static auto* lock = new std::recursive_mutex;
  return *lock;
}

ToolkitScope::ToolkitScope() : lock_(display_lock()) {
#ifdef ORV_TOOLKIT_LEAKS_IGNORED
  __lsan_disable();
#endif
}

ToolkitScope::~ToolkitScope() {
#ifdef ORV_TOOLKIT_LEAKS_IGNORED
  __lsan_enable();
#endif
}

bool display_open() {
  std::lock_guard<std::recursive_mutex> guard(display_lock());
  if (open_tried) return the_display != nullptr && !lost.load();
  open_tried = true;
  const char* name = std::getenv("DISPLAY");
  if (name == nullptr || *name == '\0') return false;
  the_display = open_with_retries(name);
  if (the_display == nullptr) return false;
  opening = true;
  XSetIOErrorHandler(&on_io_error);
  XSetIOErrorExitHandler(the_display, &on_io_exit, nullptr);
  Fl::fatal = &on_fltk_fatal;
  Fl::error = &on_fltk_message;
  Fl::warning = &on_fltk_message;
  fl_open_display(the_display);
  opening = false;
  return true;
}

void display_trace_kept_notes() {
  std::lock_guard<std::recursive_mutex> guard(display_lock());
  std::vector<std::string> notes;
  notes.swap(kept_notes);
  for (const std::string& line : notes) platform::ui_trace(line);
}

bool display_lost() { return lost.load(); }

namespace {

// The desktop's own setting, "Xft.dpi: 96" in the resources the X server
// holds for its clients; 0 when not set or not a sensible number.
int resource_pixels_per_inch() {
  const char* resources = XResourceManagerString(the_display);
  if (resources == nullptr) return 0;
  const std::string text = resources;
  const std::string key = "Xft.dpi:";
  std::size_t at = text.find(key);
  while (at != std::string::npos && at != 0 && text[at - 1] != '\n') at = text.find(key, at + 1);
  if (at == std::string::npos) return 0;
  const double dpi = std::atof(text.c_str() + at + key.size());
  return dpi >= 24 && dpi <= 1200 ? static_cast<int>(dpi + 0.5) : 0;
}

}  // namespace

int screen_pixels_per_inch() {
  std::lock_guard<std::recursive_mutex> guard(display_lock());
  if (!display_open()) return 96;
  if (const int set = resource_pixels_per_inch()) return set;
  const int screen = DefaultScreen(the_display);
  const int pixels = DisplayWidth(the_display, screen);
  const int millimetres = DisplayWidthMM(the_display, screen);
  if (pixels <= 0 || millimetres <= 0) return 96;
  return static_cast<int>(pixels * 25.4 / millimetres + 0.5);
}

}  // namespace ui
