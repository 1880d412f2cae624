// Message boxes, questions and the list chooser as FLTK windows: a caption,
// an icon, the text and a row of buttons, the default one answering Enter.
#include "ui/fltk_dialogs.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_File_Chooser.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Hold_Browser.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Return_Button.H>
#include <FL/Fl_Round_Button.H>
#include <FL/Fl_Window.H>
#include <FL/fl_draw.H>

#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <string>

#include "platform/interrupt.h"
#include "ui/fltk_display.h"

namespace ui {
namespace {

using platform::UiAnswer;
using platform::UiButtons;
using platform::UiIcon;

constexpr int kMargin = 12;
constexpr int kIconSize = 36;
constexpr int kButtonWidth = 90;
constexpr int kButtonHeight = 26;
constexpr int kTextWidth = 380;

// What a window's buttons and its close/Escape report.
struct Outcome {
  bool done = false;
  UiAnswer answer = UiAnswer::Ok;
  UiAnswer escape_answer = UiAnswer::Cancel;
};

void on_button(Fl_Widget* button, void* answer) {
  auto* outcome = static_cast<Outcome*>(button->window()->user_data());
  outcome->answer = static_cast<UiAnswer>(reinterpret_cast<std::intptr_t>(answer));
  outcome->done = true;
}

// Escape and the window manager's close button.
void on_close(Fl_Widget* window, void*) {
  auto* outcome = static_cast<Outcome*>(window->user_data());
  outcome->answer = outcome->escape_answer;
  outcome->done = true;
}

bool run_modal(Fl_Window& window, Outcome& outcome) {
  return run_modal_window(window, outcome.done, [&] { outcome.answer = outcome.escape_answer; });
}

const char* icon_symbol(UiIcon icon) {
  switch (icon) {
    case UiIcon::Information: return "i";
    case UiIcon::Warning: return "!";
    case UiIcon::Error: return "X";
    case UiIcon::Question: return "?";
  }
  return "i";
}

Fl_Color icon_colour(UiIcon icon) {
  switch (icon) {
    case UiIcon::Error: return FL_RED;
    case UiIcon::Warning: return FL_YELLOW;
    default: return FL_BLUE;
  }
}

std::vector<std::pair<const char*, UiAnswer>> button_row(UiButtons buttons) {
  switch (buttons) {
    case UiButtons::Ok: return {{"OK", UiAnswer::Ok}};
    case UiButtons::YesNo: return {{"&Yes", UiAnswer::Yes}, {"&No", UiAnswer::No}};
    case UiButtons::YesNoCancel:
      return {{"&Yes", UiAnswer::Yes}, {"&No", UiAnswer::No}, {"Cancel", UiAnswer::Cancel}};
    case UiButtons::OkCancel: return {{"OK", UiAnswer::Ok}, {"Cancel", UiAnswer::Cancel}};
  }
  return {{"OK", UiAnswer::Ok}};
}

// FLTK reads '&' in a label as a shortcut mark and '@' as a symbol; a
// message shows them as they are ("Cancel &Scan", an e-mail address).
std::string literal_label(const std::string& text) {
  std::string label;
  for (char c : text) {
    if (c == '&' || c == '@') label += c;
    label += c;
  }
  return label;
}

// The height the text needs at the dialog's width.
int text_height(const std::string& text) {
  fl_font(FL_HELVETICA, FL_NORMAL_SIZE);
  int w = kTextWidth, h = 0;
  fl_measure(literal_label(text).c_str(), w, h, 0);
  return std::max(h + 8, kIconSize);
}

}  // namespace

bool run_modal_window(Fl_Window& window, bool& done, const std::function<void()>& on_interrupt) {
  window.set_modal();
  window.show();
  while (!done && !display_lost()) {
    if (platform::interrupt_raised()) {
      on_interrupt();
      done = true;
      break;
    }
    Fl::wait(0.1);
  }
  if (!display_lost()) {
    window.hide();
    Fl::check();
  }
  return done && !display_lost();
}

std::optional<UiAnswer> run_message_window(const std::string& caption, const std::string& text,
                                           UiIcon icon, UiButtons buttons,
                                           UiAnswer default_answer, UiAnswer escape_answer) {
  const auto row = button_row(buttons);
  const int text_h = text_height(text);
  const int width = kMargin * 3 + kIconSize + kTextWidth;
  const int height = kMargin * 3 + text_h + kButtonHeight;
  Outcome outcome;
  outcome.escape_answer = escape_answer;
  // Widgets belong to the window: deleting it deletes them.
  auto window = std::make_unique<Fl_Window>(width, height);
  window->copy_label(caption.c_str());
  window->user_data(&outcome);
  window->callback(&on_close);
  auto* symbol = new Fl_Box(FL_OVAL_BOX, kMargin, kMargin, kIconSize, kIconSize,
                            icon_symbol(icon));
  symbol->color(icon_colour(icon));
  symbol->labelcolor(icon == UiIcon::Warning ? FL_BLACK : FL_WHITE);
  symbol->labelfont(FL_HELVETICA_BOLD);
  symbol->labelsize(20);
  auto* message = new Fl_Box(kMargin * 2 + kIconSize, kMargin, kTextWidth, text_h);
  message->copy_label(literal_label(text).c_str());
  message->align(FL_ALIGN_LEFT | FL_ALIGN_TOP | FL_ALIGN_INSIDE | FL_ALIGN_WRAP);
  int x = width - kMargin - static_cast<int>(row.size()) * (kButtonWidth + 6) + 6;
  Fl_Widget* default_button = nullptr;
  for (const auto& [label, answer] : row) {
    Fl_Button* button = answer == default_answer
                            ? new Fl_Return_Button(x, height - kMargin - kButtonHeight,
                                                   kButtonWidth, kButtonHeight, label)
                            : new Fl_Button(x, height - kMargin - kButtonHeight, kButtonWidth,
                                            kButtonHeight, label);
    button->callback(&on_button,
                     reinterpret_cast<void*>(static_cast<std::intptr_t>(answer)));
    if (answer == default_answer) default_button = button;
    x += kButtonWidth + 6;
  }
  window->end();
  if (default_button != nullptr) default_button->take_focus();
  if (!run_modal(*window, outcome)) return std::nullopt;
  return outcome.answer;
}

namespace {

void on_list_double_click(Fl_Widget* list, void*) {
  if (Fl::event_clicks() > 0 && static_cast<Fl_Hold_Browser*>(list)->value() > 0) {
    auto* outcome = static_cast<Outcome*>(list->window()->user_data());
    outcome->answer = UiAnswer::Ok;
    outcome->done = true;
  }
}

}  // namespace

std::optional<std::size_t> run_list_window(const std::string& caption,
                                           const std::vector<std::string>& names,
                                           std::size_t preselected, bool* lost) {
  *lost = false;
  const int list_h = static_cast<int>(std::min<std::size_t>(names.size(), 10)) * 20 + 8;
  const int width = 360;
  const int height = kMargin * 3 + list_h + kButtonHeight;
  Outcome outcome;
  auto window = std::make_unique<Fl_Window>(width, height);
  window->copy_label(caption.c_str());
  window->user_data(&outcome);
  window->callback(&on_close);
  auto* list = new Fl_Hold_Browser(kMargin, kMargin, width - 2 * kMargin, list_h);
  for (const std::string& name : names) list->add(name.c_str());
  list->value(static_cast<int>(preselected) + 1);
  list->callback(&on_list_double_click);
  auto* ok = new Fl_Return_Button(width - kMargin - 2 * kButtonWidth - 6,
                                  height - kMargin - kButtonHeight, kButtonWidth, kButtonHeight,
                                  "OK");
  ok->callback(&on_button, reinterpret_cast<void*>(static_cast<std::intptr_t>(UiAnswer::Ok)));
  auto* cancel = new Fl_Button(width - kMargin - kButtonWidth, height - kMargin - kButtonHeight,
                               kButtonWidth, kButtonHeight, "Cancel");
  cancel->callback(&on_button,
                   reinterpret_cast<void*>(static_cast<std::intptr_t>(UiAnswer::Cancel)));
  window->end();
  // The list has the keyboard: arrows move the selection, Enter is OK.
  list->take_focus();
  if (!run_modal(*window, outcome)) {
    *lost = display_lost();
    return std::nullopt;
  }
  if (outcome.answer != UiAnswer::Ok || list->value() < 1) return std::nullopt;
  return static_cast<std::size_t>(list->value() - 1);
}

namespace {

constexpr int kFieldLabelWidth = 110;
constexpr int kRowHeight = 26;

// The width a choice's label needs, its '&' marks not counted.
int choice_width(const std::string& label) {
  fl_font(FL_HELVETICA, FL_NORMAL_SIZE);
  int w = 0, h = 0;
  fl_measure(label.c_str(), w, h, 0);
  return w + 30;  // the round button and a gap
}

// One field's row: its label, then a radio button per choice. The buttons
// of a row sit in a group of their own, so that setting one clears only its
// neighbours.
std::vector<Fl_Round_Button*> add_field_row(const platform::UiFormField& field, int y, int width) {
  auto* label = new Fl_Box(kMargin, y, kFieldLabelWidth, kRowHeight);
  label->copy_label(literal_label(field.label + ":").c_str());
  label->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE);
  auto* group = new Fl_Group(kMargin + kFieldLabelWidth, y, width - 2 * kMargin - kFieldLabelWidth,
                             kRowHeight);
  std::vector<Fl_Round_Button*> buttons;
  int x = group->x();
  for (std::size_t i = 0; i < field.choices.size(); ++i) {
    const int w = choice_width(field.choices[i]);
    auto* button = new Fl_Round_Button(x, y, w, kRowHeight);
    button->copy_label(field.choices[i].c_str());  // '&' marks the key
    button->type(FL_RADIO_BUTTON);
    button->value(i == field.chosen ? 1 : 0);
    buttons.push_back(button);
    x += w;
  }
  group->end();
  return buttons;
}

int form_width(const platform::UiForm& form) {
  int width = kTextWidth + 2 * kMargin;
  for (const platform::UiFormField& field : form.fields) {
    int row = 2 * kMargin + kFieldLabelWidth;
    for (const std::string& choice : field.choices) row += choice_width(choice);
    width = std::max(width, row);
  }
  return std::min(width, 1000);
}

}  // namespace

std::optional<bool> run_form_window(platform::UiForm& form) {
  const int width = form_width(form);
  const int text_h = form.text.empty() ? 0 : text_height(form.text);
  const int height = kMargin * 3 + text_h + static_cast<int>(form.fields.size()) * kRowHeight +
                     kMargin + kButtonHeight;
  Outcome outcome;
  auto window = std::make_unique<Fl_Window>(width, height);
  window->copy_label(form.caption.c_str());
  window->user_data(&outcome);
  window->callback(&on_close);
  if (!form.text.empty()) {
    auto* message = new Fl_Box(kMargin, kMargin, width - 2 * kMargin, text_h);
    message->copy_label(literal_label(form.text).c_str());
    message->align(FL_ALIGN_LEFT | FL_ALIGN_TOP | FL_ALIGN_INSIDE | FL_ALIGN_WRAP);
  }
  std::vector<std::vector<Fl_Round_Button*>> rows;
  int y = kMargin * 2 + text_h;
  for (const platform::UiFormField& field : form.fields) {
    rows.push_back(add_field_row(field, y, width));
    y += kRowHeight;
  }
  auto* accept = new Fl_Return_Button(width - kMargin - 2 * kButtonWidth - 6,
                                      height - kMargin - kButtonHeight, kButtonWidth,
                                      kButtonHeight);
  accept->copy_label(form.accept_label.c_str());
  accept->callback(&on_button, reinterpret_cast<void*>(static_cast<std::intptr_t>(UiAnswer::Ok)));
  auto* cancel = new Fl_Button(width - kMargin - kButtonWidth, height - kMargin - kButtonHeight,
                               kButtonWidth, kButtonHeight, "Cancel");
  cancel->callback(&on_button,
                   reinterpret_cast<void*>(static_cast<std::intptr_t>(UiAnswer::Cancel)));
  window->end();
  accept->take_focus();
  if (!run_modal(*window, outcome)) return std::nullopt;
  if (outcome.answer != UiAnswer::Ok) return false;
  for (std::size_t f = 0; f < rows.size(); ++f) {
    for (std::size_t i = 0; i < rows[f].size(); ++i) {
      if (rows[f][i]->value() != 0) form.fields[f].chosen = i;
    }
  }
  return true;
}

namespace {

// The chooser's filter list: "Label (*.{tif,tiff})" entries separated by
// tabs; the pattern is what stands in the last parentheses, so a label's own
// parentheses are left out.
std::string chooser_filter(const std::vector<platform::UiFileType>& types) {
  std::string filter;
  for (const platform::UiFileType& type : types) {
    std::string label = type.label.substr(0, type.label.find(" ("));
    std::string alternatives;
    std::size_t start = 0;
    int count = 0;
    while (start <= type.pattern.size()) {
      std::size_t end = type.pattern.find(';', start);
      if (end == std::string::npos) end = type.pattern.size();
      std::string one = type.pattern.substr(start, end - start);
      if (one.rfind("*.", 0) == 0) one.erase(0, 2);
      if (!one.empty()) {
        if (count++ > 0) alternatives += ',';
        alternatives += one;
      }
      start = end + 1;
    }
    if (!filter.empty()) filter += '\t';
    filter += label + (count > 1 ? " (*.{" + alternatives + "})" : " (*." + alternatives + ")");
  }
  return filter;
}

bool exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

std::optional<FileChoice> run_file_window(const std::string& title,
                                          const std::vector<platform::UiFileType>& types,
                                          int chosen_type, bool for_saving, bool ask_overwrite,
                                          bool* lost) {
  *lost = false;
  const std::string filter = chooser_filter(types);
  Fl_File_Chooser chooser(".", filter.c_str(),
                          for_saving ? Fl_File_Chooser::CREATE : Fl_File_Chooser::SINGLE,
                          title.c_str());
  chooser.preview(0);
  chooser.filter_value(chosen_type);
  for (;;) {
    // The chooser's own show() waits for ever once the display is gone: it
    // is run here, where a lost display or an interrupt ends it.
    chooser.show();
    while (chooser.shown() && !display_lost()) {
      if (platform::interrupt_raised()) chooser.hide();
      Fl::wait(0.1);
    }
    if (display_lost()) {
      *lost = true;
      return std::nullopt;
    }
    if (platform::interrupt_raised() || chooser.count() < 1 || chooser.value() == nullptr ||
        *chooser.value() == '\0')
      return std::nullopt;
    FileChoice choice{chooser.value(), chooser.filter_value()};
    if (!for_saving || !ask_overwrite || !exists(choice.path)) return choice;
    const std::optional<UiAnswer> replace = run_message_window(
        title, choice.path + " already exists.\nDo you want to replace it?", UiIcon::Warning,
        UiButtons::YesNo, UiAnswer::No, UiAnswer::No);
    if (!replace) {
      *lost = display_lost();
      return std::nullopt;
    }
    if (*replace == UiAnswer::Yes) return choice;
  }
}

}  // namespace ui
