// The user-interface interface: message boxes and questions. One back end is
// chosen at start: windows when a display is present and answers, terminal when
// standard input and standard error are terminals, non-interactive otherwise.
// No call ever waits forever for a person who is not there: the non-interactive
// back end writes boxes to standard error with their caption and answers
// questions with their default, and says so in the trace.
#pragma once
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

enum class UiIcon { Information, Warning, Error, Question };
enum class UiButtons { Ok, YesNo, YesNoCancel, OkCancel };
enum class UiAnswer { Ok, Cancel, Yes, No };

void ui_trace(const std::string& line);

// A line on the terminal that is written over in place (the front end's
// progress) and not yet ended. Whatever a back end writes to standard error
// ends it first, so that a message starts on a line of its own.
void ui_mark_open_line(bool open);
void ui_end_open_line();

// One entry of a save dialog's list of file types.
struct UiFileType {
  std::string label;    // shown as it is, e.g. "PDF (*.pdf)"
  std::string pattern;  // "*.pdf", several joined by ';' ("*.tif;*.tiff")
};

// What an open dialog offers: the file types to choose among, the first
// chosen at first.
struct UiOpenRequest {
  std::string title;
  std::vector<UiFileType> types;  // at least one
};

// What a save dialog offers.
struct UiSaveRequest {
  std::string title;
  std::vector<UiFileType> types;  // at least one
  int chosen_type = 0;            // the entry preselected
  bool ask_overwrite = true;      // ask before a name that exists is taken
};

// What the user chose: the name as typed (no extension added) and the entry.
struct UiSaveAnswer {
  std::string path;
  int type = 0;
};

// One row of a form: a label and the choices offered, `chosen` indexing the
// one selected. A '&' in a choice marks the letter that picks it.
struct UiFormField {
  std::string label;
  std::vector<std::string> choices;
  std::size_t chosen = 0;
};

// A device's own dialog: a caption, a line of text, rows of choices, and the
// button that accepts them ("Scan", "OK") beside Cancel.
struct UiForm {
  std::string caption;
  std::string text;
  std::string accept_label = "OK";
  std::vector<UiFormField> fields;
};

enum class UiFormResult { Accepted, Cancelled, NoOneToAsk };
// What the print dialog offers: the destinations (default preselected),
// and a page range when the job knows its page count (pages < 1: none).
struct UiPrintRequest {
  std::vector<std::string> destinations;
  std::size_t preselected = 0;
  int pages = 0;
};

// What the user chose: a destination and, when a range was asked for, the
// pages from..to (1-based, inclusive). Copies are always one.
struct UiPrintAnswer {
  std::size_t destination = 0;
  bool range = false;
  int from = 0, to = 0;
};

enum class UiDialogEnd { Chosen, Cancelled, Failed };

// What the review window shows: one scanned page, or the pages of a file.
struct UiReviewRequest {
  std::string title;  // the window's title (the application's name)
  std::string file;   // file mode: the file under review; "" reviews the page
};

// The button that ended a review (the dialog's own identifiers): Accept,
// Cancel Scan Job, Reject; Other for any other way of closing it.
enum class UiReviewEnd { Other = 0, Accept = 1, Cancel = 2, Reject = 3 };

class UiBackend {
 public:
  virtual ~UiBackend() = default;
  virtual const char* name() const = 0;
  // Shows a message and returns when it has been seen (or at once).
  virtual void message_box(const std::string& caption, const std::string& text,
                           UiIcon icon) = 0;
  // Asks a question; `default_answer` is what a person who is not there
  // answers, and what Enter chooses.
  virtual UiAnswer ask(const std::string& caption, const std::string& text,
                       UiButtons buttons, UiAnswer default_answer) = 0;

  // The waiting window: one line of text and a Cancel button, shown while
  // the library waits for a device whose own dialog is hidden. Back ends
  // without windows only trace it. show answers whether a window is up;
  // cancelled answers (and forgets) whether Cancel was pressed since the
  // last ask; close takes the window down.
  virtual bool waiting_window_show(const std::string& text) {
    ui_trace("Waiting window: " + text);
    return false;
  }
  virtual bool waiting_window_cancelled() { return false; }
  virtual void waiting_window_close() {}

  // A transfer's progress: a bar in a window, a line written over in place on
  // a terminal, nothing where nobody watches. update's `fraction` runs from 0
  // to 1.
  virtual void progress_show(const std::string& caption) { ui_trace("Progress: " + caption); }
  virtual void progress_update(double /*fraction*/) {}
  virtual void progress_close() {}

  // The save dialog: true with the user's choice in `out_answer`, false when
  // cancelled. Back ends with no one to ask cancel, and trace that they did.
  virtual bool save_dialog(const UiSaveRequest& request, UiSaveAnswer* out_answer) {
    ui_trace("Save dialog(" + request.title + ") => cancelled (no one to ask)");
    return false;
  }

  // The review window over `*page` (a DIB handle; page mode) or over the
  // pages of `request.file` (file mode; `page` unused, may be null). In page
  // mode the page may come back turned (a new handle in `*page`, the old one
  // freed), flipped or inverted. Back ends without windows ask a question
  // instead ("Keep this page?", "Keep <file>?"): Yes accepts, No rejects,
  // Cancel cancels; nobody there accepts, so nothing scanned is lost.
  virtual UiReviewEnd review(const UiReviewRequest& request, std::uintptr_t* page);

  // The open dialog: true with the chosen file's path in `out_path`, false
  // when cancelled. Back ends with no one to ask cancel, and trace that they
  // did.
  virtual bool open_dialog(const UiOpenRequest& request, std::string* /*out_path*/) {
    ui_trace("Open dialog(" + request.title + ") => cancelled (no one to ask)");
    return false;
  }

  // Shows `form` and waits for its answer: Accepted with the choices made
  // written back into `form`, Cancelled, or NoOneToAsk where no window can
  // be shown (a device then does what the person at it would do). Only
  // windows can show a form: the other back ends trace it and answer
  // NoOneToAsk.
  virtual UiFormResult form_dialog(UiForm& form) {
    ui_trace("Form(" + form.caption + ") => no one to ask");
    return UiFormResult::NoOneToAsk;
  }
  // The print dialog. Back ends with no one to ask cancel, and trace that
  // they did; Failed means the dialog could not be shown (no destinations).
  virtual UiDialogEnd print_dialog(const UiPrintRequest& /*request*/,
                                   UiPrintAnswer* /*out_answer*/) {
    ui_trace("Print dialog => cancelled (no one to ask)");
    return UiDialogEnd::Cancelled;
  }

  // True while this back end can show windows of the library's own (the
  // viewer): only the window back end with its display up.
  virtual bool shows_windows() const { return false; }

  // Chooses one of `names` (at least one; `preselected` indexes it): the
  // index, or nothing when cancelled. Without a list to show, each entry is
  // offered in turn as a question, the preselected one first: Yes takes it,
  // No offers the next, Cancel stops.
  virtual std::optional<std::size_t> choose_from_list(const std::string& caption,
                                                      const std::vector<std::string>& names,
                                                      std::size_t preselected);
};

enum class UiKind { Auto, NonInteractive, Terminal, Window };

// Chooses the back end (Auto: by the rule above; QUILLET_UI=none|terminal|window
// overrides). Called once at start; later calls replace the back end. Window
// falls back to the automatic choice without windows when no window back end
// is registered or the display does not answer.
void ui_select(UiKind kind = UiKind::Auto);

// The window back end lives above this layer (it needs a toolkit); the layer
// that owns it registers its factory at attach. The factory answers nullptr
// when no display answers. Registering drops a back end that was chosen
// automatically before, so that the next ui() may choose windows.
using UiWindowFactory = std::unique_ptr<UiBackend> (*)();
void ui_register_window_backend(UiWindowFactory factory);
// The current back end (selects Auto on first use).
UiBackend& ui();
// Installs a back end (tests); nullptr restores the automatic choice.
void ui_install(std::unique_ptr<UiBackend> backend);

// Where the back ends report what they did, for the trace log. The log
// installs a sink at attach; with none, nothing is traced.
void ui_set_trace_sink(std::function<void(const std::string&)> sink);
void ui_trace(const std::string& line);

std::unique_ptr<UiBackend> make_noninteractive_ui();
std::unique_ptr<UiBackend> make_terminal_ui();
// A terminal back end that reads answers from `input` and writes to `output`
// (tests feed it a pipe); the streams are not closed by the back end.
std::unique_ptr<UiBackend> make_terminal_ui(std::FILE* input, std::FILE* output);

// Name of an answer as the trace shows it ("Yes").
const char* ui_answer_name(UiAnswer answer);
// True if the button set offers `answer`.
bool ui_buttons_offer(UiButtons buttons, UiAnswer answer);
// The answer a person who is not there gives: `wanted` when the buttons offer
// it, else the set's least committing answer (Cancel, then No, then Ok).
UiAnswer ui_default_answer(UiButtons buttons, UiAnswer wanted);

}  // namespace platform
