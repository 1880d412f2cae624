// The viewer window on FLTK. The window, the image on show and the view
// options are process-wide (one viewer per process), kept in one struct and
// touched only with the display lock held. A modal view runs its own event
// loop until the window is answered; a modeless one lives on between calls
// and takes its events whenever the library pumps messages.
#include "ui/viewer_window.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Return_Button.H>
#include <FL/Fl_Scrollbar.H>
#include <FL/fl_draw.H>
#include <FL/x.H>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <strings.h>

#include <algorithm>
#include <cstdio>

#include "core/app_identity.h"
#include "core/error_record.h"
#include "core/state_registry.h"
#include "log/trace.h"
#include "orivane/dib_api.h"
#include "orivane/errors.h"
#include "orivane/file_api.h"
#include "orivane/multipage_files.h"
#include "orivane/print_api.h"
#include "platform/device_context.h"
#include "platform/interrupt.h"
#include "platform/settings_store.h"
#include "platform/ui.h"
#include "platform/window.h"
#include "ui/fltk_display.h"
#include "ui/paint_context.h"

namespace ui {
namespace {

// The window's first size, before the options place it.
constexpr int kInitialWidth = 640, kInitialHeight = 480;
// The dialog font: FLTK's sans serif at the platform's usual GUI size.
constexpr int kFontSize = 14;
// Button identifiers, the end codes of a modal view.
constexpr int kIdOk = 1, kIdCancel = 2;
const char* const kSettingsSection = "View";
const char* const kSettingsValue = "Position";

class ViewerWindow;

struct ViewerState {
  ViewOptions options;
  ViewerWindow* window = nullptr;  // owned: released with Fl::delete_widget
  DIB_HANDLE image = 0;            // owned
  std::string path;                // empty when an image is viewed
  int pages = 0, page = 0;
  ViewRect last;
  bool modal = false;  // the window on show runs a modal view
  bool ended = false;  // ... which has been answered with end_code
  int end_code = 0;
};

ViewerState& viewer() {
  static auto* state = new ViewerState;
  return *state;
}

// The image area: the image fitted at its top-left, non-square pixels made
// square, the rest light gray. FLTK draws only this widget over its own
// rectangle, so nothing else is erased under the picture.
class ImageArea final : public Fl_Widget {
 public:
  ImageArea() : Fl_Widget(0, 0, 1, 1) {}
  ViewRect painted;
  bool drawn = false;

  void draw() override {
    LogPrint("WM_PAINT\n");
    const ViewerState& v = viewer();
    Size size;
    if (v.image) {
      size = painted_size(display_size(DIB_Width(v.image), DIB_Height(v.image),
                                       DIB_XResolution(v.image), DIB_YResolution(v.image)),
                          {w(), h()});
    }
    fl_push_clip(x(), y(), w(), h());
    fl_rectf(x(), y(), w(), h(), fl_rgb_color(192, 192, 192));
    if (size.w > 0 && size.h > 0) {
      PaintContext context(x(), y(), w(), h());
      const platform::DcHandle dc = platform::dc_register(&context);
      DIB_DrawToDC(v.image, dc, x(), y(), size.w, size.h, 0, 0);
      platform::dc_unregister(dc);
    }
    fl_pop_clip();
    painted = {x(), y(), x() + size.w, y() + size.h};
    drawn = true;
  }
};

void step_page(int delta);
void on_button(Fl_Widget*, void* id);
void on_close(Fl_Widget*, void*);
void on_scroll(Fl_Widget*, void*);
void on_print(Fl_Widget*, void*);
void on_save(Fl_Widget*, void*);

class ViewerWindow final : public Fl_Double_Window {
 public:
  ViewerWindow(const ViewRect& r)
      : Fl_Double_Window(r.left, r.top, r.width(), r.height()) {
    ok = new Fl_Return_Button(0, 0, 1, 1, "OK");
    cancel = new Fl_Button(0, 0, 1, 1, "Cancel");
    print = new Fl_Button(0, 0, 1, 1, "Print...");
    save = new Fl_Button(0, 0, 1, 1, "Save As...");
    scroll = new Fl_Scrollbar(0, 0, 1, 1);
    page_text = new Fl_Box(0, 0, 1, 1, "1");
    area = new ImageArea;
    end();
    for (Fl_Widget* b : {static_cast<Fl_Widget*>(ok), static_cast<Fl_Widget*>(cancel),
                         static_cast<Fl_Widget*>(print), static_cast<Fl_Widget*>(save),
                         static_cast<Fl_Widget*>(page_text)}) {
      b->labelfont(FL_HELVETICA);
      b->labelsize(kFontSize);
    }
    ok->callback(&on_button, reinterpret_cast<void*>(static_cast<std::intptr_t>(kIdOk)));
    cancel->callback(&on_button, reinterpret_cast<void*>(static_cast<std::intptr_t>(kIdCancel)));
    print->callback(&on_print);
    save->callback(&on_save);
    scroll->type(FL_VERTICAL);
    scroll->when(FL_WHEN_CHANGED | FL_WHEN_RELEASE);
    scroll->callback(&on_scroll);
    page_text->align(FL_ALIGN_CENTER | FL_ALIGN_INSIDE);
    callback(&on_close);
    resizable(area);
    fl_font(FL_HELVETICA, kFontSize);
    const char* sample = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    char_w_ = std::max(1, static_cast<int>(fl_width(sample) / 52 + 0.5));
    char_h_ = std::max(1, fl_height());
  }

  Fl_Return_Button* ok;
  Fl_Button *cancel, *print, *save;
  Fl_Scrollbar* scroll;
  Fl_Box* page_text;
  ImageArea* area;
  std::string page_label = "1";

  // Moves the controls to their places for the window's size and the
  // buttons shown now.
  void layout() {
    const ViewerState& v = viewer();
    const ButtonsShown shown{!v.options.ok_hidden, v.options.cancel_shown, v.options.print_shown,
                             v.options.save_shown};
    const ViewerControls c = layout_viewer(w(), h(), shown, v.pages, char_w_, char_h_);
    place(ok, c.ok);
    place(cancel, c.cancel);
    place(print, c.print);
    place(save, c.save);
    place(scroll, c.scroll);
    place(page_text, c.page_text);
    area->resize(c.image.left, c.image.top, c.image.width(), c.image.height());
    redraw();
  }

  // Page Up and Page Down turn the pages wherever the keyboard is, as the
  // scroll bar's page steps do.
  int handle(int event) override {
    if (event == FL_SHORTCUT && (Fl::event_key() == FL_Page_Down || Fl::event_key() == FL_Page_Up)) {
      step_page(Fl::event_key() == FL_Page_Down ? 1 : -1);
      return 1;
    }
    return Fl_Double_Window::handle(event);
  }

  void resize(int x, int y, int w, int h) override {
    Fl_Double_Window::resize(x, y, w, h);
    layout();
    viewer().last = {x, y, x + w, y + h};
  }

 private:
  static void place(Fl_Widget* widget, const ViewRect& r) {
    if (r.width() <= 0 || r.height() <= 0) {
      widget->hide();
      return;
    }
    widget->resize(r.left, r.top, r.width(), r.height());
    widget->show();
  }

  int char_w_ = 7, char_h_ = 16;
};

// --- The desktop ------------------------------------------------------------

// The work area the window manager announces (_NET_WORKAREA), else the
// screen.
ViewRect work_area() {
  int sx = 0, sy = 0, sw = 0, sh = 0;
  Fl::screen_xywh(sx, sy, sw, sh, 0);
  ViewRect screen{sx, sy, sx + sw, sy + sh};
  const Atom atom = XInternAtom(fl_display, "_NET_WORKAREA", True);
  if (atom == None) return screen;
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(fl_display, RootWindow(fl_display, fl_screen), atom, 0, 4, False,
                         XA_CARDINAL, &type, &format, &count, &after, &data) != Success)
    return screen;
  ViewRect r = screen;
  if (data != nullptr && format == 32 && count >= 4) {
    // Xlib hands 32-bit properties over as longs.
    const long* v = reinterpret_cast<const long*>(data);
    if (v[2] > 0 && v[3] > 0)
      r = {static_cast<int>(v[0]), static_cast<int>(v[1]), static_cast<int>(v[0] + v[2]),
           static_cast<int>(v[1] + v[3])};
  }
  if (data != nullptr) XFree(data);
  return r;
}

std::string settings_app() { return core::app_identity().title; }

std::optional<ViewRect> remembered_position() {
  const std::optional<std::string> text =
      platform::settings_get(settings_app(), kSettingsSection, kSettingsValue);
  return text ? parse_position(*text) : std::nullopt;
}

void remember_position(const ViewerWindow& w) {
  if (!viewer().options.remember) return;
  const ViewRect r{w.x(), w.y(), w.x() + w.w(), w.y() + w.h()};
  platform::settings_put(settings_app(), kSettingsSection, kSettingsValue, position_text(r));
}

// --- The window's behaviour -------------------------------------------------

void update_position(ViewerWindow& w) {
  LogPrint("UpdatePosition\n");
  const ViewerState& v = viewer();
  const ViewRect work = work_area();
  ViewRect r;
  const std::optional<ViewRect> remembered = v.options.remember ? remembered_position() : std::nullopt;
  if (remembered) {
    r = bring_inside(*remembered, work);
  } else {
    r = place_view({w.x(), w.y(), w.x() + w.w(), w.y() + w.h()}, work, v.options.place,
                   v.options.centre);
  }
  // X refuses windows without pixels: a size of 0 or less is one pixel.
  r.right = std::max(r.right, r.left + 1);
  r.bottom = std::max(r.bottom, r.top + 1);
  LogPrint("MoveWindow(0x%p, l=%d, t=%d, w=%d, h=%d)\n", static_cast<void*>(&w), r.left, r.top,
           r.width(), r.height());
  w.resize(r.left, r.top, r.width(), r.height());
}

// Takes `dib` (owned) as the image on show.
void set_image(DIB_HANDLE dib) {
  ViewerState& v = viewer();
  LogPrint("Viewer_SetImage(0x%p)\n", reinterpret_cast<void*>(dib));
  DibFree(v.image);
  v.image = dib;
  if (v.window != nullptr && v.window->visible()) {
    const ImageArea& a = *v.window->area;
    LogPrint("InvalidateRect(%d,%d,%d,%d)\n", a.x(), a.y(), a.x() + a.w(), a.y() + a.h());
    v.window->area->redraw();
  }
}

void set_page_text(ViewerWindow& w, int page) {
  const ViewerState& v = viewer();
  char text[32];
  std::snprintf(text, sizeof text, "%d/%d", page + 1, v.pages);
  w.page_label = text;
  w.page_text->label(w.page_label.c_str());
  w.page_text->redraw();
}

void show_page(int page, bool load) {
  ViewerState& v = viewer();
  if (v.image && page == v.page) return;
  set_image(0);
  v.page = page;
  if (v.window != nullptr && v.pages >= 2) {
    set_page_text(*v.window, page);
    v.window->scroll->value(page, 1, 0, v.pages);
  }
  if (v.path.empty() || !load) return;
  if (v.window != nullptr) v.window->cursor(FL_CURSOR_WAIT);
  Fl::check();
  const DIB_HANDLE loaded = DIB_LoadPage(v.path.c_str(), page);
  if (v.window != nullptr) v.window->cursor(FL_CURSOR_DEFAULT);
  if (loaded) {
    set_image(loaded);
  } else {
    TWAIN_ReportLastError("");
  }
}

// Fills the window for the current view: caption, buttons, page controls,
// place; the first page is shown by the caller.
void init_window(ViewerWindow& w, const std::string& caption) {
  LogPrint("Viewer_OnInit(0x%p)\n", static_cast<void*>(&w));
  const ViewerState& v = viewer();
  w.copy_label(caption.c_str());
  if (v.pages >= 2) {
    w.scroll->value(0, 1, 0, v.pages);
    w.scroll->linesize(1);
    set_page_text(w, 0);
  }
  update_position(w);
}

// `flush`: let FLTK delete the window now. Not from the window's own
// callbacks: the window must outlive them.
void destroy_window(bool flush) {
  ViewerState& v = viewer();
  if (v.window == nullptr) return;
  LogPrint("WM_NCDESTROY\n");
  // Deleting a window talks to the X server; after its loss nothing may, and
  // the window is left to the process's end.
  if (!display_lost()) {
    v.window->hide();
    Fl::delete_widget(v.window);
  }
  v.window = nullptr;
  v.modal = false;
  set_image(0);
  if (flush && !display_lost()) Fl::check();
}

void end_modal(int code) {
  ViewerState& v = viewer();
  if (code == 0) {
    LogPrint("EndDialog(.., 0)\n");
  } else {
    LogPrint("EndDialog(.., %d)\n", code);
  }
  v.ended = true;
  v.end_code = code;
}

void on_button(Fl_Widget*, void* id) {
  ViewerState& v = viewer();
  if (v.window == nullptr) return;
  const int code = static_cast<int>(reinterpret_cast<std::intptr_t>(id));
  // A modal view ends with the button's code; only closing the window
  // (below, and a modeless view's buttons) remembers where it was.
  if (v.modal) {
    end_modal(code);
  } else {
    LogPrint("OK/CANCEL in modeless\n");
    remember_position(*v.window);
    destroy_window(false);
  }
}

void on_close(Fl_Widget*, void*) {
  ViewerState& v = viewer();
  LogPrint("WM_CLOSE\n");
  if (v.window == nullptr) return;
  remember_position(*v.window);
  if (v.modal) {
    end_modal(0);
  } else {
    destroy_window(false);
  }
}

void on_scroll(Fl_Widget*, void*) {
  ViewerState& v = viewer();
  if (v.window == nullptr || v.pages < 2) return;
  const int page = std::clamp(v.window->scroll->value(), 0, v.pages - 1);
  LogPrint("OnVSCroll(%d...)\n", page);
  // While the thumb is dragged only the number follows; the page is loaded
  // when it is let go.
  if (Fl::event() == FL_DRAG) {
    set_page_text(*v.window, page);
    return;
  }
  show_page(page, true);
}

void step_page(int delta) {
  const ViewerState& v = viewer();
  if (v.pages < 2) return;
  const int page = std::clamp(v.page + delta, 0, v.pages - 1);
  LogPrint("OnVSCroll(%d...)\n", page);
  show_page(page, true);
}

std::string caption_of(const ViewerWindow& w) { return w.label() ? w.label() : ""; }

void on_print(Fl_Widget*, void*) {
  ViewerState& v = viewer();
  if (v.window == nullptr) return;
  const std::string title = caption_of(*v.window);
  if (!v.path.empty()) {
    DIB_PrintFile(v.path.c_str(), title.c_str(), 0);
  } else if (v.image) {
    DIB_Print(v.image, title.c_str());
  }
}

void on_save(Fl_Widget*, void*) {
  ViewerState& v = viewer();
  if (!v.path.empty()) {
    FileCopy(v.path.c_str(), nullptr, 0);
  } else if (v.image) {
    DIB_WriteToFilename(v.image, nullptr);
  }
}

bool windows_available() { return platform::ui().shows_windows() && display_open() && !display_lost(); }

// Shows the window of a modeless view (made once, reused), or runs a modal
// one to its end. The view's pages, path or image are set. The end code of a
// modal view (2 not yet turned into 0), 1 for a modeless window that exists,
// -1 when no window could be made.
int run_view(const std::string& caption) {
  ViewerState& v = viewer();
  const bool modeless = v.options.modeless;
  LogPrint("modeless=%s\n", modeless ? "true" : "false");
  LogPrint("%s", modeless ? "CreateDialog...\n" : "DialogBox...\n");
  if (!windows_available()) {
    LogPrint("No window: no display to show it on\n");
    if (!modeless) LogPrint("DialogBox => %d\n", -1);
    return -1;
  }
  const ViewRect work = work_area();
  if (v.window == nullptr) {
    v.window = new ViewerWindow({work.left, work.top, work.left + kInitialWidth,
                                 work.top + kInitialHeight});
  }
  v.modal = !modeless;
  v.ended = false;
  ViewerWindow& w = *v.window;
  init_window(w, caption);
  if (!modeless || !v.options.hidden) w.show();
  // An image view has its image already; a file view loads its first page.
  if (!v.image) show_page(0, true);
  // The window is mapped and painted before the call goes on, so that it is
  // there for the person (and for whatever looks for it); a server that does
  // not paint it in 2 s is not waited for longer.
  if (w.visible()) {
    w.area->drawn = false;
    for (int i = 0; i < 100 && !w.area->drawn && !display_lost(); ++i) Fl::wait(0.02);
  }
  if (modeless) return 1;
  while (!v.ended && v.window != nullptr && !display_lost()) {
    // Ctrl+C or SIGTERM answers as the close box does, so the run can end.
    if (platform::interrupt_raised()) end_modal(0);
    Fl::wait(0.1);
  }
  const int code = v.ended ? v.end_code : 0;
  LogPrint("DialogBox => %d\n", code);
  destroy_window(true);
  return code;
}

// Drops the image on show; a modeless window stays.
void drop_view_contents() {
  ViewerState& v = viewer();
  set_image(0);
  v.path.clear();
  v.pages = 0;
  v.page = 0;
}

}  // namespace

ViewOptions& view_options() { return viewer().options; }

int viewer_view_file(const std::string& path) {
  ToolkitScope scope;
  ViewerState& v = viewer();
  if (v.options.modeless && v.window != nullptr) {
    drop_view_contents();
  } else {
    viewer_close();
  }
  const int pages = FilePageCount(path.c_str());
  if (pages <= 0) {
    RecordError(ERR_FILE_READ, path.c_str());
    return -2;
  }
  v.path = path;
  v.pages = pages;
  v.page = 0;
  const std::string caption = v.options.title.empty() ? path : v.options.title;
  const int code = run_view(caption);
  // A title applies to one view.
  v.options.title.clear();
  if (code < 0) {
    v.path.clear();
    return -2;
  }
  return code == kIdCancel ? 0 : code;
}

int viewer_view_image(std::uintptr_t dib, const std::string& title, std::uintptr_t parent) {
  ToolkitScope scope;
  ViewerState& v = viewer();
  if (parent != 0 && !platform::window_is_valid(static_cast<platform::WindowHandle>(parent))) {
    ReportUrgentError(ERR_BAD_WINDOW, "DIB_View");
    parent = 0;
  }
  if (parent == 0) {
    parent = static_cast<std::uintptr_t>(platform::window_active());
    LogPrint("using hwndParent=GetActiveWindow()=%08x\n", static_cast<unsigned>(parent));
  } else if (!platform::window_is_enabled(static_cast<platform::WindowHandle>(parent))) {
    LogPrint("Parent window disabled\n");
  }
  if (v.options.modeless && v.window != nullptr) {
    drop_view_contents();
  } else {
    viewer_close();
  }
  const DIB_HANDLE copy = DibCopy(dib);
  if (!copy) return v.options.modeless ? 0 : -1;
  v.pages = 1;
  v.page = 0;
  set_image(copy);
  const std::string caption = !title.empty() ? title.substr(0, 127) : v.options.title;
  const int code = run_view(caption);
  if (code < 0) {
    set_image(0);
    if (v.options.modeless) return 0;
    RecordErrorF(ERR_FAILURE, "Orivane view dialog create failed (GLE %d) - static linking?", 0);
    return code;
  }
  return code == kIdCancel ? 0 : code;
}

bool viewer_set_option(const std::string& name, const std::string& value) {
  ToolkitScope scope;
  ViewerState& v = viewer();
  const OptionEffect effect = view_option_apply(v.options, name, value);
  if (effect == OptionEffect::Unknown) {
    RecordError(ERR_BAD_PARAMETER, name.c_str());
    return false;
  }
  // Nothing closes the viewer after a time: say so rather than keep quiet.
  if (::strcasecmp(name.c_str(), "timeout") == 0)
    LogPrint("timeout kept: the viewer stays until it is closed\n");
  if (v.window == nullptr || display_lost()) return true;
  ViewerWindow& w = *v.window;
  switch (effect) {
    case OptionEffect::Caption:
      if (!v.options.title.empty()) w.copy_label(v.options.title.c_str());
      break;
    case OptionEffect::Reposition:
      update_position(w);
      break;
    case OptionEffect::Buttons:
      w.layout();
      break;
    case OptionEffect::Visibility:
      if (v.options.hidden) {
        w.hide();
      } else {
        w.show();
      }
      break;
    case OptionEffect::Stored:
    case OptionEffect::Unknown:
      break;
  }
  Fl::check();
  return true;
}

void viewer_set_image(std::uintptr_t dib) {
  ToolkitScope scope;
  if (viewer().window == nullptr) return;
  set_image(DibCopy(dib));
}

bool viewer_is_open() { return viewer().window != nullptr; }

void viewer_close() {
  ToolkitScope scope;
  ViewerState& v = viewer();
  if (v.window != nullptr) {
    LogPrint("Destroying window\n");
    // The close request: what the close box does, remembering the place.
    remember_position(*v.window);
    destroy_window(true);
  } else {
    LogPrint("Nothing to do\n");
  }
  drop_view_contents();
}

ViewRect viewer_last_position() { return viewer().last; }

void viewer_pump_events() {
  if (viewer().window == nullptr) return;
  ToolkitScope scope;
  if (!display_lost()) Fl::check();
}

ViewerSnapshot viewer_snapshot() {
  ToolkitScope scope;
  const ViewerState& v = viewer();
  ViewerSnapshot s;
  if (v.window == nullptr || display_lost()) return s;
  const ViewerWindow& w = *v.window;
  s.open = true;
  s.caption = caption_of(w);
  s.page_text = w.page_text->visible() && w.page_text->label() ? w.page_text->label() : "";
  s.ok = w.ok->visible();
  s.cancel = w.cancel->visible();
  s.print = w.print->visible();
  s.save = w.save->visible();
  s.scroll = w.scroll->visible();
  s.window = {w.x(), w.y(), w.x() + w.w(), w.y() + w.h()};
  s.painted = w.area->painted;
  return s;
}

namespace {
const bool kViewerRegistered = core::register_state(
    {"ui.viewer",
     [] {
       if (viewer().window != nullptr) viewer_close();
       viewer() = ViewerState{};
     },
     nullptr, core::ResetStage::Resource});
}  // namespace

}  // namespace ui
