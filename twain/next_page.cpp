#include "twain/next_page.h"

namespace twain {

NextPagePrompt& next_page_prompt() {
  static NextPagePrompt p;
  return p;
}

}  // namespace twain
