// The text stamp's switch: "/TEXT:ATTR:ATTR...=template". The grammar is
// the library's (dib/text_stamp.h), shared with the image tool's stamp
// command; the request keeps what it describes.
#include <string>

#include "app/options.h"
#include "dib/text_stamp.h"

bool ParseTextOption(ScanRequest& r, std::string_view text, std::string& out_message) {
  dib::StampStyle style{r.text_rotation, r.text_height, r.text_font, r.text_flags,
                        r.text_red,      r.text_green,  r.text_blue};
  std::string text_template;
  if (!dib::stamp_parse(text, style, text_template, out_message)) {
    out_message = bounded(out_message, kMessageMax);
    return false;
  }
  r.text_template = bounded(text_template, kTextTemplateMax);
  r.text_rotation = style.rotation;
  r.text_height = style.height_inches;
  r.text_font = bounded(style.font, kTextFontMax);
  r.text_flags = style.flags;
  return true;
}
