// The next-page question's default answer (settings key
// "DefaultScanAnotherPagePrompt").
#pragma once

namespace twain {

struct NextPagePrompt {
  int default_answer = 1;   // 1 yes, 0 no
};

NextPagePrompt& next_page_prompt();

}  // namespace twain
