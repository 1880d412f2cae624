// The next-page question's default answer (settings key
// "DefaultScanAnotherPagePrompt").
#pragma once
#include <cstdint>

#include "platform/window.h"

namespace twain {

struct NextPagePrompt {
  int default_answer = 1;   // 1 yes, 0 no
};

NextPagePrompt& next_page_prompt();

// The next-page question in the language of `lang_id` (English when the
// language has none).
const char* next_page_text(std::uint16_t lang_id);

// Asks whether to scan more pages: 1 yes, 0 no.
int AskForNextPage(platform::WindowHandle window);

}  // namespace twain
