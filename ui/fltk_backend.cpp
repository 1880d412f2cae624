// The window back end: message boxes, questions, the list chooser, the
// waiting window, the progress bar, the review window and the save dialog as
// FLTK windows. The open dialog is not one of them yet: it answers as a run
// without windows does (cancelled, and traced). Every
// call traces what it showed and what the person answered, as the other back
// ends do. When the display goes away, the call in progress and every later
// one answer as the non-interactive back end does.
#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Progress.H>
#include <FL/Fl_Window.H>

#include <memory>
#include <mutex>
#include <string>

#include "platform/ui.h"
#include "ui/fltk_dialogs.h"
#include "ui/fltk_display.h"
#include "ui/print_dialog.h"
#include "ui/review_window.h"
#include "ui/window_ui.h"

namespace ui {
namespace {

using platform::UiAnswer;
using platform::UiButtons;
using platform::UiIcon;
using platform::ui_trace;

// Holds the display for one call, and first traces what FLTK said while the
// display was opened.
class Guard {
 public:
  Guard() { display_trace_kept_notes(); }

 private:
  ToolkitScope scope_;
};

// Escape and closing the window give the least committing answer the
// buttons offer; a lone OK is still OK.
UiAnswer escape_answer_for(UiButtons buttons) {
  for (UiAnswer a : {UiAnswer::Cancel, UiAnswer::No}) {
    if (platform::ui_buttons_offer(buttons, a)) return a;
  }
  return UiAnswer::Ok;
}

const char* review_end_name(platform::UiReviewEnd end) {
  switch (end) {
    case platform::UiReviewEnd::Accept: return "Accept";
    case platform::UiReviewEnd::Reject: return "Reject";
    case platform::UiReviewEnd::Cancel: return "Cancel Scan Job";
    default: return "closed";
  }
}

class WindowUi final : public platform::UiBackend {
 public:
  WindowUi() : fallback_(platform::make_noninteractive_ui()) {}

  ~WindowUi() override {
    Guard guard;
    // Deleting windows talks to the X server; after a loss nothing may.
    if (display_lost()) {
      (void)waiting_.release();
      (void)progress_.release();
    }
  }

  const char* name() const override { return "window"; }

  void message_box(const std::string& caption, const std::string& text, UiIcon icon) override {
    Guard guard;
    if (display_lost()) return fallback_->message_box(caption, text, icon);
    ui_trace("MessageBox(" + caption + "): " + text);
    if (!run_message_window(caption, text, icon, UiButtons::Ok, UiAnswer::Ok, UiAnswer::Ok)) {
      // The person never saw it: the text goes where nobody-watching runs
      // put it.
      fallback_->message_box(caption, text, icon);
    }
  }

  UiAnswer ask(const std::string& caption, const std::string& text, UiButtons buttons,
               UiAnswer default_answer) override {
    Guard guard;
    if (display_lost()) return fallback_->ask(caption, text, buttons, default_answer);
    const UiAnswer wanted = platform::ui_default_answer(buttons, default_answer);
    const std::optional<UiAnswer> answer = run_message_window(
        caption, text, UiIcon::Question, buttons, wanted, escape_answer_for(buttons));
    if (!answer) return fallback_->ask(caption, text, buttons, default_answer);
    ui_trace("Question(" + caption + "): " + text + " => " + platform::ui_answer_name(*answer));
    return *answer;
  }

  std::optional<std::size_t> choose_from_list(const std::string& caption,
                                              const std::vector<std::string>& names,
                                              std::size_t preselected) override {
    if (names.empty() || preselected >= names.size()) return std::nullopt;
    Guard guard;
    if (display_lost()) return fallback_->choose_from_list(caption, names, preselected);
    bool lost = false;
    const std::optional<std::size_t> choice =
        run_list_window(caption, names, preselected, &lost);
    if (lost) return fallback_->choose_from_list(caption, names, preselected);
    ui_trace(caption + " => " + (choice ? "\"" + names[*choice] + "\"" : "cancelled"));
    return choice;
  }

  platform::UiFormResult form_dialog(platform::UiForm& form) override {
    Guard guard;
    if (display_lost()) return fallback_->form_dialog(form);
    const std::optional<bool> accepted = run_form_window(form);
    if (!accepted) return fallback_->form_dialog(form);
    std::string line = "Form(" + form.caption + ") => ";
    if (*accepted) {
      std::string accept = form.accept_label;
      std::erase(accept, '&');
      line += accept;
      for (const platform::UiFormField& field : form.fields) {
        if (field.chosen >= field.choices.size()) continue;
        std::string choice = field.choices[field.chosen];
        std::erase(choice, '&');  // a key mark, not part of the text
        line += ", " + field.label + "=" + choice;
      }
    } else {
      line += "Cancel";
    }
    ui_trace(line);
    return *accepted ? platform::UiFormResult::Accepted : platform::UiFormResult::Cancelled;
  }

  platform::UiReviewEnd review(const platform::UiReviewRequest& request,
                               std::uintptr_t* page) override {
    Guard guard;
    if (display_lost()) return fallback_->review(request, page);
    bool lost = false;
    const platform::UiReviewEnd end = run_review_window(request, page, &lost);
    // Nobody can answer any more: the page or file is answered as a run
    // without windows answers it.
    if (lost) return fallback_->review(request, page);
    ui_trace(std::string("Review") + (request.file.empty() ? "" : "(" + request.file + ")") +
             " => " + review_end_name(end));
    return end;
  }

  bool waiting_window_show(const std::string& text) override {
    Guard guard;
    ui_trace("Waiting window: " + text);
    if (display_lost()) return false;
    waiting_window_close();
    cancelled_ = false;
    waiting_text_ = text;
    waiting_ = std::make_unique<Fl_Window>(360, 110);
    waiting_->copy_label("Please wait");
    waiting_->user_data(this);
    waiting_->callback(&WindowUi::on_waiting_cancel);
    auto* box = new Fl_Box(12, 12, 336, 50);
    box->label(waiting_text_.c_str());
    box->align(FL_ALIGN_LEFT | FL_ALIGN_TOP | FL_ALIGN_INSIDE | FL_ALIGN_WRAP);
    auto* cancel = new Fl_Button(258, 72, 90, 26, "Cancel");
    cancel->callback(&WindowUi::on_waiting_cancel, this);
    waiting_->end();
    waiting_->show();
    Fl::check();
    return !display_lost();
  }

  bool waiting_window_cancelled() override {
    Guard guard;
    if (!waiting_ || display_lost()) return false;
    Fl::check();
    if (!cancelled_) return false;
    cancelled_ = false;
    ui_trace("Waiting window: Cancel pressed");
    return true;
  }

  void waiting_window_close() override {
    Guard guard;
    if (display_lost()) {
      (void)waiting_.release();
      return;
    }
    if (waiting_) {
      waiting_.reset();
      Fl::check();
    }
  }

  void progress_show(const std::string& caption) override {
    Guard guard;
    ui_trace("Progress: " + caption);
    if (display_lost()) return;
    progress_close();
    progress_ = std::make_unique<Fl_Window>(360, 60);
    progress_->copy_label(caption.c_str());
    bar_ = new Fl_Progress(12, 16, 336, 24);
    bar_->minimum(0);
    bar_->maximum(1);
    bar_->selection_color(FL_BLUE);
    progress_->end();
    progress_->show();
    Fl::check();
  }

  void progress_update(double fraction) override {
    Guard guard;
    if (!progress_ || display_lost()) return;
    bar_->value(static_cast<float>(fraction < 0 ? 0 : fraction > 1 ? 1 : fraction));
    Fl::check();
  }

  void progress_close() override {
    Guard guard;
    if (display_lost()) {
      (void)progress_.release();
      return;
    }
    if (progress_) {
      progress_.reset();
      bar_ = nullptr;
      Fl::check();
    }
  }

  bool save_dialog(const platform::UiSaveRequest& request,
                   platform::UiSaveAnswer* out_answer) override {
    Guard guard;
    if (display_lost()) return fallback_->save_dialog(request, out_answer);
    bool lost = false;
    const std::optional<FileChoice> choice = run_file_window(
        request.title, request.types, request.chosen_type, true, request.ask_overwrite, &lost);
    if (lost) return fallback_->save_dialog(request, out_answer);
    if (!choice) {
      ui_trace("Save dialog(" + request.title + ") => cancelled");
      return false;
    }
    out_answer->path = choice->path;
    out_answer->type = choice->type;
    ui_trace("Save dialog(" + request.title + ") => " + out_answer->path);
    return true;
  }

  bool open_dialog(const platform::UiOpenRequest& request, std::string* out_path) override {
    Guard guard;
    if (display_lost()) return fallback_->open_dialog(request, out_path);
    bool lost = false;
    const std::optional<FileChoice> choice =
        run_file_window(request.title, request.types, 0, false, false, &lost);
    if (lost) return fallback_->open_dialog(request, out_path);
    if (!choice) {
      ui_trace("Open dialog(" + request.title + ") => cancelled");
      return false;
    }
    *out_path = choice->path;
    ui_trace("Open dialog(" + request.title + ") => " + *out_path);
    return true;
  }

  platform::UiDialogEnd print_dialog(const platform::UiPrintRequest& request,
                                     platform::UiPrintAnswer* out_answer) override {
    Guard guard;
    if (display_lost()) return fallback_->print_dialog(request, out_answer);
    const platform::UiDialogEnd end = run_print_dialog(request, out_answer);
    if (end == platform::UiDialogEnd::Failed && display_lost())
      return fallback_->print_dialog(request, out_answer);
    if (end == platform::UiDialogEnd::Chosen) {
      std::string range = out_answer->range ? ", pages " + std::to_string(out_answer->from) +
                                                  "-" + std::to_string(out_answer->to)
                                            : "";
      ui_trace("Print dialog => \"" + request.destinations[out_answer->destination] + "\"" + range);
    } else {
      ui_trace(end == platform::UiDialogEnd::Cancelled ? "Print dialog => cancelled"
                                                       : "Print dialog => no destinations");
    }
    return end;
  }

  bool shows_windows() const override { return !display_lost(); }

 private:
  static void on_waiting_cancel(Fl_Widget*, void* self) {
    static_cast<WindowUi*>(self)->cancelled_ = true;
  }

  std::unique_ptr<platform::UiBackend> fallback_;
  std::unique_ptr<Fl_Window> waiting_;
  std::string waiting_text_;
  bool cancelled_ = false;
  std::unique_ptr<Fl_Window> progress_;
  Fl_Progress* bar_ = nullptr;
};

}  // namespace

std::unique_ptr<platform::UiBackend> make_window_ui() {
  try {
    // Called while the back end is chosen: nothing may be traced here.
    ToolkitScope scope;
    if (!display_open()) return nullptr;
    return std::make_unique<WindowUi>();
  } catch (...) {
    return nullptr;
  }
}

}  // namespace ui
