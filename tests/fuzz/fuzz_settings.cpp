// Fuzz target: any settings-file text is applied line by line without
// crashing; refused values leave the switches in their ranges.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/error_record.h"
#include "orivane/twain_switches.h"
#include "twain/capabilities/switches.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  twain::switches() = twain::Switches{};
  core::error_reset_for_tests();
  std::string_view text(reinterpret_cast<const char*>(data), size);
  twain::settings_apply_text(text);
  int crop = TWAIN_GetAutoCrop();
  if (crop < 0 || crop > 3) __builtin_trap();
  int deskew = TWAIN_GetAutoDeskew();
  if (deskew != 0 && deskew != 1) __builtin_trap();
  return 0;
}
