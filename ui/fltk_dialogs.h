// The modal windows of the window back end. Each runs until it is answered
// or the display is lost; the caller holds the display lock.
#pragma once
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui.h"

class Fl_Window;

namespace ui {

// Shows `window` modally and runs events until `done` is set, the display
// goes away (false then) or the run is interrupted (Ctrl+C, SIGTERM:
// `on_interrupt` says how the window answers then, as its Escape does, so
// that the run can end). The window is hidden afterwards.
bool run_modal_window(Fl_Window& window, bool& done, const std::function<void()>& on_interrupt);

// A message or a question: `buttons` in a row, `default_answer` the one Enter
// chooses, `escape_answer` what Escape or closing the window gives. Nothing
// when the display went away before an answer.
std::optional<platform::UiAnswer> run_message_window(const std::string& caption,
                                                     const std::string& text,
                                                     platform::UiIcon icon,
                                                     platform::UiButtons buttons,
                                                     platform::UiAnswer default_answer,
                                                     platform::UiAnswer escape_answer);

// A list with OK and Cancel; `preselected` starts selected. The index, or
// nothing when cancelled; `lost` says the display went away instead.
std::optional<std::size_t> run_list_window(const std::string& caption,
                                           const std::vector<std::string>& names,
                                           std::size_t preselected, bool* lost);

// A form: the text, a row of radio buttons per field (the chosen one set)
// and the accepting button (Enter) beside Cancel (Escape). True when
// accepted, with the choices written back; false when cancelled; nothing
// when the display went away.
std::optional<bool> run_form_window(platform::UiForm& form);

// What a file window answered.
struct FileChoice {
  std::string path;
  int type = 0;  // index into the types offered
};

// A file window: `for_saving` lets a new name be typed and asks before a
// name that exists is taken (when `ask_overwrite`). The choice; nothing when
// cancelled; `lost` says the display went away instead.
std::optional<FileChoice> run_file_window(const std::string& title,
                                          const std::vector<platform::UiFileType>& types,
                                          int chosen_type, bool for_saving, bool ask_overwrite,
                                          bool* lost);

}  // namespace ui
