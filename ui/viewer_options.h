// The viewer's options, one set per process: how the next view behaves
// (modal or not, which buttons) and where its window goes. Setting one is a
// pure step on the value; what it asks of an open window comes back as the
// effect, for the window to carry out.
#pragma once
#include <string>

#include "ui/viewer_placement.h"

namespace ui {

struct ViewOptions {
  bool modeless = false;
  bool hidden = false;
  bool ok_hidden = false;
  bool cancel_shown = false;
  bool print_shown = false;
  bool save_shown = false;
  bool remember = false;
  bool centre = false;
  std::string title;  // at most 127 characters; empty: the viewed file's path
  PlacementTexts place;  // each at most 15 characters
  std::string timeout;   // kept only: nothing reads it
};

// What an accepted option asks of an open window.
enum class OptionEffect { Unknown, Stored, Caption, Reposition, Buttons, Visibility };

// Applies option `name` (case ignored) with `value` to `options`. Unknown
// names change nothing and answer Unknown.
OptionEffect view_option_apply(ViewOptions& options, const std::string& name,
                               const std::string& value);

}  // namespace ui
