#include "app/text_stamp.h"

#include "dib/text_stamp.h"

void StampPage(const ScanRequest& r, std::uintptr_t image, const std::string& path, int page_index) {
  if (r.text_template.empty()) return;
  const dib::StampStyle style{r.text_rotation, r.text_height, r.text_font, r.text_flags,
                              r.text_red,      r.text_green,  r.text_blue};
  const std::string text = dib::stamp_expand(r.text_template, dib::stamp_facts_now(path, page_index + 1));
  dib::stamp_page(image, text, style);
}
