// The library's process-wide switches and its settings file "Orivane3.ini".
#pragma once
#include <string>
#include <string_view>

namespace twain {

struct Switches {
  int multi_transfer = 0;
  int disable_parent = 1;
  int hide_ui = 0;
  int stop_on_empty = 0;     // kept by a reset
  int auto_negate = 1;
  int auto_deskew = 0;
  int blank_page_mode = 0;
  double blank_page_threshold = 0.02;
  int auto_crop = 0;
  int auto_crop_options = 1;
  int auto_contrast = 0;
  int wait_dialog_delay = -1;
};

Switches& switches();
// Restores every switch but stop-on-empty to its default.
void switches_reset();

// Applies the settings text of a settings file: one "Key(n)" or "Key=n" line
// each, "TWAIN_" and "Set" prefixes optional; CR LF and LF lines alike.
void settings_apply_text(std::string_view text);
// Reads and applies "Orivane3.ini" beside the library module, if present.
void settings_process_file(const std::string& folder);

}  // namespace twain
