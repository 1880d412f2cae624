#include "ui/print_dialog.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Hold_Browser.H>
#include <FL/Fl_Int_Input.H>
#include <FL/Fl_Return_Button.H>
#include <FL/Fl_Window.H>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>

#include "platform/interrupt.h"
#include "ui/fltk_display.h"

namespace ui {
namespace {

constexpr int kMargin = 12, kButtonWidth = 90, kButtonHeight = 26, kRowHeight = 20;
constexpr int kWidth = 380;

enum class End { Open, Print, Cancel };

void on_print(Fl_Widget* w, void*) { *static_cast<End*>(w->window()->user_data()) = End::Print; }
void on_cancel(Fl_Widget* w, void*) {
  Fl_Window* window = w->as_window() ? w->as_window() : w->window();
  *static_cast<End*>(window->user_data()) = End::Cancel;
}

// A page number typed into a range field, kept within 1..pages; empty or
// unreadable counts as `fallback`.
int page_number(const Fl_Int_Input& input, int pages, int fallback) {
  const char* text = input.value();
  const int n = text != nullptr && *text != '\0' ? std::atoi(text) : fallback;
  return std::clamp(n, 1, pages);
}

}  // namespace

platform::UiDialogEnd run_print_dialog(const platform::UiPrintRequest& request,
                                       platform::UiPrintAnswer* out_answer) {
  if (request.destinations.empty() || display_lost()) return platform::UiDialogEnd::Failed;
  const int list_h =
      static_cast<int>(std::min<std::size_t>(request.destinations.size(), 8)) * kRowHeight + 8;
  const bool ranged = request.pages >= 1;
  const int height = kMargin * 5 + list_h + kRowHeight * (ranged ? 2 : 1) + kButtonHeight;
  End end = End::Open;
  auto window = std::make_unique<Fl_Window>(kWidth, height);
  window->copy_label("Print");
  window->user_data(&end);
  window->callback(&on_cancel);
  auto* list = new Fl_Hold_Browser(kMargin, kMargin + kRowHeight, kWidth - 2 * kMargin, list_h,
                                   "Destination:");
  list->align(FL_ALIGN_TOP_LEFT);
  for (const std::string& name : request.destinations) list->add(name.c_str());
  list->value(static_cast<int>(std::min(request.preselected, request.destinations.size() - 1)) + 1);
  int y = kMargin * 2 + kRowHeight + list_h;
  // One copy: collation and copies are the destination's business.
  new Fl_Box(kMargin, y, kWidth - 2 * kMargin, kRowHeight, "Copies: 1");
  Fl_Int_Input* from = nullptr;
  Fl_Int_Input* to = nullptr;
  const std::string last = std::to_string(request.pages);
  if (ranged) {
    y += kRowHeight + kMargin;
    from = new Fl_Int_Input(kMargin + 60, y, 60, kRowHeight, "Pages:");
    from->value("1");
    to = new Fl_Int_Input(kMargin + 150, y, 60, kRowHeight, "to");
    to->value(last.c_str());
    auto* count = new Fl_Box(kMargin + 215, y, 60, kRowHeight);
    count->copy_label(("of " + last).c_str());
  }
  auto* print = new Fl_Return_Button(kWidth - kMargin - 2 * kButtonWidth - 6,
                                     height - kMargin - kButtonHeight, kButtonWidth,
                                     kButtonHeight, "Print");
  print->callback(&on_print);
  auto* cancel = new Fl_Button(kWidth - kMargin - kButtonWidth, height - kMargin - kButtonHeight,
                               kButtonWidth, kButtonHeight, "Cancel");
  cancel->callback(&on_cancel);
  window->end();
  window->set_modal();
  window->show();
  list->take_focus();
  while (end == End::Open && !display_lost()) {
    if (platform::interrupt_raised()) end = End::Cancel;
    Fl::wait(0.1);
  }
  if (display_lost()) {
    (void)window.release();
    return platform::UiDialogEnd::Failed;
  }
  window->hide();
  Fl::check();
  if (end != End::Print || list->value() < 1) return platform::UiDialogEnd::Cancelled;
  out_answer->destination = static_cast<std::size_t>(list->value() - 1);
  out_answer->range = false;
  if (ranged) {
    int a = page_number(*from, request.pages, 1);
    int b = page_number(*to, request.pages, request.pages);
    if (a > b) std::swap(a, b);
    out_answer->range = a != 1 || b != request.pages;
    out_answer->from = a;
    out_answer->to = b;
  }
  return platform::UiDialogEnd::Chosen;
}

}  // namespace ui
