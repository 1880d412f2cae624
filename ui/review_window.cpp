// The review window as an FLTK dialog. The arithmetic (zoom steps, fit,
// placement, centre-keeping zoom, the information text) is in
// review_layout; this file holds the controls, painting, dragging and what
// each button does to the page. Every change is traced, so that a run's log
// shows what the person saw and did.
#include "ui/review_window.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Return_Button.H>
#include <FL/fl_draw.H>

#include <cstdio>
#include <memory>
#include <string>
#include <utility>

#include "orivane/dib_api.h"
#include "orivane/errors.h"
#include "orivane/file_api.h"
#include "orivane/print_api.h"
#include "platform/locale.h"
#include "ui/fltk_dialogs.h"
#include "ui/fltk_display.h"
#include "ui/paint_context.h"
#include "ui/review_layout.h"
#include "ui/window_ui.h"

namespace ui {
namespace {

using platform::DrawRect;
using platform::UiReviewEnd;

const Fl_Color kBackground = fl_rgb_color(192, 192, 192);

class ReviewDialog;

// The image area: paints the page and pans it when dragged.
class ImageArea final : public Fl_Box {
 public:
  ImageArea(ReviewDialog& dialog, const DrawRect& r)
      : Fl_Box(FL_DOWN_FRAME, r.x, r.y, r.w, r.h, nullptr), dialog_(dialog) {}
  void draw() override;
  int handle(int event) override;

 private:
  ReviewDialog& dialog_;
};

class ReviewDialog final : public Fl_Double_Window {
 public:
  ReviewDialog(const platform::UiReviewRequest& request, std::uintptr_t page,
               const DrawRect& frame);
  ~ReviewDialog() override {
    if (file_mode_) DIB_Free(image_);
  }

  std::uintptr_t image() const { return image_; }
  // The page shown, no longer the dialog's to free.
  std::uintptr_t release_image() { return std::exchange(image_, 0); }
  UiReviewEnd end() const { return end_; }
  bool& done() { return done_; }
  void end_with(UiReviewEnd end) {
    end_ = end;
    done_ = true;
  }

  void paint_view();
  int drag(int event);
  int handle(int event) override;

 private:
  Fl_Button* add_button(ReviewRow row, const char* label, Fl_Callback* action);
  void build_controls();
  void start();
  void lay_out() { placed_ = review_layout(view_, DIB_Width(image_), DIB_Height(image_), zoom_,
                                           scale_, pan_x_, pan_y_); }
  void zoom_to(int zoom);
  void pan_to(int mx, int my);
  void show_info();
  void page_changed();
  void turn(int turns, const char* name);
  void changed_in_place(const char* name);
  void print();
  void go_to_page(int page);

  platform::UiReviewRequest request_;
  bool file_mode_;
  std::uintptr_t image_;
  int page_ = 0, page_count_ = 0;
  int zoom_ = 100;
  double scale_ = 1.0;
  int pan_x_ = 0, pan_y_ = 0;
  DrawRect view_;
  ReviewPlacement placed_;
  struct Drag {
    bool active = false;
    int mouse_x = 0, mouse_y = 0, pan_x = 0, pan_y = 0;
  } drag_;
  bool done_ = false;
  UiReviewEnd end_ = UiReviewEnd::Cancel;
  ImageArea* area_ = nullptr;
  Fl_Box* zoom_text_ = nullptr;
  Fl_Box* info_text_ = nullptr;
  Fl_Box* page_text_ = nullptr;
};

ReviewDialog* dialog_of(Fl_Widget* widget) {
  return static_cast<ReviewDialog*>(widget->window());
}

ReviewDialog::ReviewDialog(const platform::UiReviewRequest& request, std::uintptr_t page,
                           const DrawRect& frame)
    : Fl_Double_Window(frame.w, frame.h),
      request_(request),
      file_mode_(!request.file.empty()),
      image_(file_mode_ ? 0 : page) {
  copy_label(request_.title.c_str());
  // Escape and the close button: Cancel, as the dialog's cancel button.
  callback([](Fl_Widget* w, void*) { static_cast<ReviewDialog*>(w)->end_with(UiReviewEnd::Cancel); });
  build_controls();
  end();
  start();
}

Fl_Button* ReviewDialog::add_button(ReviewRow row, const char* label, Fl_Callback* action) {
  const DrawRect r = review_row_rect(row);
  Fl_Button* button = row == ReviewRow::Accept ? new Fl_Return_Button(r.x, r.y, r.w, r.h, label)
                                               : new Fl_Button(r.x, r.y, r.w, r.h, label);
  button->callback(action);
  return button;
}

void ReviewDialog::build_controls() {
  add_button(ReviewRow::Accept, "Accept", [](Fl_Widget* w, void*) { dialog_of(w)->end_with(UiReviewEnd::Accept); });
  add_button(ReviewRow::Reject, "Reject", [](Fl_Widget* w, void*) { dialog_of(w)->end_with(UiReviewEnd::Reject); });
  Fl_Widget* image_controls[] = {
      add_button(ReviewRow::CancelJob, "Cancel Scan Job",
                 [](Fl_Widget* w, void*) { dialog_of(w)->end_with(UiReviewEnd::Cancel); }),
      add_button(ReviewRow::TurnRight, "Turn Right", [](Fl_Widget* w, void*) { dialog_of(w)->turn(1, "Turn Right"); }),
      add_button(ReviewRow::TurnLeft, "Turn Left", [](Fl_Widget* w, void*) { dialog_of(w)->turn(-1, "Turn Left"); }),
      add_button(ReviewRow::FlipTopBottom, "Flip Top/Bottom", [](Fl_Widget* w, void*) {
        DIB_FlipVertical(dialog_of(w)->image_);
        dialog_of(w)->changed_in_place("Flip Top/Bottom");
      }),
      add_button(ReviewRow::FlipLeftRight, "Flip Left/Right", [](Fl_Widget* w, void*) {
        DIB_FlipHorizontal(dialog_of(w)->image_);
        dialog_of(w)->changed_in_place("Flip Left/Right");
      }),
      add_button(ReviewRow::Negative, "&Negative/Positive", [](Fl_Widget* w, void*) {
        DIB_Negate(dialog_of(w)->image_);
        dialog_of(w)->changed_in_place("Negative/Positive");
      })};
  add_button(ReviewRow::Print, "&Print...", [](Fl_Widget* w, void*) { dialog_of(w)->print(); });

  const DrawRect zoom = review_row_rect(ReviewRow::Zoom);
  const int step = zoom.w / 3;
  (new Fl_Button(zoom.x, zoom.y, step, zoom.h, "&-"))
      ->callback([](Fl_Widget* w, void*) { auto* d = dialog_of(w); d->zoom_to(review_zoom_out(d->zoom_)); });
  zoom_text_ = new Fl_Box(zoom.x + step, zoom.y, zoom.w - 2 * step, zoom.h);
  (new Fl_Button(zoom.x + zoom.w - step, zoom.y, step, zoom.h, "&+"))
      ->callback([](Fl_Widget* w, void*) { auto* d = dialog_of(w); d->zoom_to(review_zoom_in(d->zoom_)); });
  add_button(ReviewRow::ZoomIn, "&= zoom in",
             [](Fl_Widget* w, void*) { auto* d = dialog_of(w); d->zoom_to(review_zoom_in(d->zoom_)); });

  DrawRect info = review_row_rect(ReviewRow::Info);
  info_text_ = new Fl_Box(info.x, info.y, info.w, info.h + kReviewRowStep);
  info_text_->align(FL_ALIGN_LEFT | FL_ALIGN_TOP | FL_ALIGN_INSIDE);

  const DrawRect paging = review_row_rect(ReviewRow::PageControls);
  Fl_Widget* page_controls[] = {
      new Fl_Box(paging.x, paging.y, 40, paging.h, "Page"),
      new Fl_Button(paging.x + 40, paging.y, 30, paging.h, "<"),
      page_text_ = new Fl_Box(paging.x + 70, paging.y, paging.w - 100, paging.h),
      new Fl_Button(paging.x + paging.w - 30, paging.y, 30, paging.h, ">")};
  page_controls[1]->callback([](Fl_Widget* w, void*) { auto* d = dialog_of(w); d->go_to_page(d->page_ - 1); });
  page_controls[3]->callback([](Fl_Widget* w, void*) { auto* d = dialog_of(w); d->go_to_page(d->page_ + 1); });

  for (Fl_Widget* control : image_controls) file_mode_ ? control->hide() : control->show();
  for (Fl_Widget* control : page_controls) file_mode_ ? control->show() : control->hide();

  const DrawRect area = review_area_rect(w(), h());
  area_ = new ImageArea(*this, area);
  view_ = {area.x + 1, area.y + 1, area.w - 2, area.h - 2};
}

// The first page, its scale at the screen's pixels per inch, and the fit.
void ReviewDialog::start() {
  if (file_mode_) {
    page_count_ = FilePageCount(request_.file.c_str());
    image_ = DIB_LoadPage(request_.file.c_str(), 0);
  }
  const int ppi = screen_pixels_per_inch();
  scale_ = image_ ? review_scale(ppi, ppi, DIB_XResolution(image_), DIB_YResolution(image_)) : 1.0;
  zoom_ = image_ ? review_fit_zoom(view_, DIB_Width(image_), DIB_Height(image_), scale_) : 100;
  lay_out();
  char line[160];
  std::snprintf(line, sizeof line, "Review window: view %d,%d %dx%d, %d ppi, scale %g, zoom %d%%",
                view_.x, view_.y, view_.w, view_.h, ppi, scale_, zoom_);
  platform::ui_trace(line);
  zoom_to(zoom_);
  page_changed();
}

void ReviewDialog::zoom_to(int zoom) {
  const ReviewPan pan = review_zoom_pan(view_, placed_, zoom_, zoom);
  zoom_ = zoom;
  pan_x_ = pan.x;
  pan_y_ = pan.y;
  lay_out();
  pan_x_ = placed_.pan_x;
  pan_y_ = placed_.pan_y;
  char text[16];
  std::snprintf(text, sizeof text, "%d%%", zoom_);
  zoom_text_->copy_label(text);
  platform::ui_trace(std::string("Review zoom: ") + text);
  area_->redraw();
}

void ReviewDialog::show_info() {
  const std::string text =
      image_ ? review_info_text(DIB_Width(image_), DIB_Height(image_), DIB_XResolution(image_),
                                DIB_YResolution(image_), DIB_PixelType(image_),
                                review_locale_uses_inches(platform::locale_get()))
             : std::string();
  info_text_->copy_label(text.c_str());
  platform::ui_trace("Review info:" + text);
}

// After a new image (turned, or another page): layout, paint, texts.
void ReviewDialog::page_changed() {
  lay_out();
  show_info();
  if (file_mode_) {
    char text[32];
    std::snprintf(text, sizeof text, "%d/%d", page_ + 1, page_count_);
    page_text_->copy_label(text);
    platform::ui_trace(std::string("Review page: ") + text);
  }
  area_->redraw();
}

void ReviewDialog::turn(int turns, const char* name) {
  const std::uintptr_t turned = DIB_Rotate90(image_, turns);
  platform::ui_trace(std::string("Review: ") + name + (turned ? "" : " failed"));
  if (turned == 0) return;
  DIB_Free(image_);
  image_ = turned;
  page_changed();
}

void ReviewDialog::changed_in_place(const char* name) {
  platform::ui_trace(std::string("Review: ") + name);
  area_->redraw();
}

// The print dialog asks for the printer. The problem is shown even while the
// scan loop holds the library's messages back: the person pressed Print and
// waits for an answer.
void ReviewDialog::print() {
  if (image_ == 0) return;
  const std::string job = file_mode_ ? request_.file : request_.title;
  const int result = DIB_Print(image_, job.c_str());
  platform::ui_trace("Review: Print => " + std::to_string(result));
  if (TWAIN_LastErrorCode() != 0) {
    const int held = TWAIN_SuppressErrorMessages(0);
    TWAIN_ReportLastError("Printing Problem.");
    TWAIN_SuppressErrorMessages(held);
  }
}

void ReviewDialog::go_to_page(int page) {
  if (page < 0 || page >= page_count_ || page == page_) return;
  DIB_Free(image_);
  page_ = page;
  image_ = DIB_LoadPage(request_.file.c_str(), page_);
  page_changed();
}

void ReviewDialog::paint_view() {
  fl_push_clip(view_.x, view_.y, view_.w, view_.h);
  fl_rectf(view_.x, view_.y, view_.w, view_.h, kBackground);
  if (image_ != 0) {
    PaintContext context(view_);
    const platform::DcHandle dc = platform::dc_register(&context);
    const DrawRect& r = placed_.image;
    DIB_DrawToDC(image_, dc, r.x, r.y, r.w, r.h, 0, 0);
    platform::dc_unregister(dc);
  }
  fl_pop_clip();
}

// The pan that follows the mouse from where the drag began to (mx, my).
void ReviewDialog::pan_to(int mx, int my) {
  pan_x_ = drag_.pan_x + mx - drag_.mouse_x;
  pan_y_ = drag_.pan_y + my - drag_.mouse_y;
  lay_out();
  pan_x_ = placed_.pan_x;
  pan_y_ = placed_.pan_y;
  area_->redraw();
}

// Pans by the mouse's movement since the press; the hand shows over a page
// that can be moved.
int ReviewDialog::drag(int event) {
  const int mx = Fl::event_x(), my = Fl::event_y();
  const DrawRect& r = placed_.image;
  const bool over_page = mx >= r.x && mx < r.x + r.w && my >= r.y && my < r.y + r.h;
  switch (event) {
    case FL_PUSH:
      if (Fl::event_button() != FL_LEFT_MOUSE) return 0;
      drag_ = {true, mx, my, pan_x_, pan_y_};
      platform::ui_trace("Start Drag");
      return 1;
    case FL_DRAG:
      if (!drag_.active) return 0;
      pan_to(mx, my);
      return 1;
    case FL_RELEASE:
      // The release is where the mouse ended: the last movement may come
      // with it rather than before it.
      if (!drag_.active) return 0;
      pan_to(mx, my);
      drag_.active = false;
      platform::ui_trace("End Drag");
      return 1;
    case FL_ENTER:
    case FL_MOVE:
      cursor(over_page && placed_.scrollable ? FL_CURSOR_HAND : FL_CURSOR_DEFAULT);
      return 1;
    case FL_LEAVE:
      cursor(FL_CURSOR_DEFAULT);
      return 1;
    default:
      return 0;
  }
}

// "+", "=" and "-" zoom from the keyboard as the zoom buttons do.
int ReviewDialog::handle(int event) {
  if (event == FL_SHORTCUT && !(Fl::event_state() & (FL_CTRL | FL_META))) {
    const std::string key = Fl::event_text() ? Fl::event_text() : "";
    if (key == "+" || key == "=") {
      zoom_to(review_zoom_in(zoom_));
      return 1;
    }
    if (key == "-") {
      zoom_to(review_zoom_out(zoom_));
      return 1;
    }
  }
  return Fl_Double_Window::handle(event);
}

void ImageArea::draw() {
  draw_box();
  dialog_.paint_view();
}

int ImageArea::handle(int event) {
  const int used = dialog_.drag(event);
  return used ? used : Fl_Box::handle(event);
}

}  // namespace

UiReviewEnd run_review_window(const platform::UiReviewRequest& request, std::uintptr_t* page,
                              bool* lost) {
  *lost = false;
  const DrawRect frame = review_window_rect(Fl::w(), Fl::h());
  auto dialog = std::make_unique<ReviewDialog>(request, page ? *page : 0, frame);
  const bool answered = run_modal_window(*dialog, dialog->done(), [&] {
    dialog->end_with(UiReviewEnd::Cancel);
  });
  if (page != nullptr && request.file.empty()) *page = dialog->image();
  if (!answered) {
    *lost = display_lost();
    if (*lost) {
      // Deleting windows talks to the X server; after a loss nothing may.
      if (!request.file.empty()) DIB_Free(dialog->release_image());
      (void)dialog.release();
      return UiReviewEnd::Other;
    }
  }
  return dialog->end();
}

}  // namespace ui
