// Text stamps: the attribute words that describe one (":BOLD:12pt:CENTER"),
// the variables of its text, and stamping a page the way a scan run does.
// Shared by the scanning front end (/TEXT) and the image tool (stamp).
#pragma once
#include <ctime>
#include <string>
#include <string_view>

#include "dib/dib.h"
#include "orivane/dib_text.h"

namespace dib {

constexpr const char* kStampDefaultTemplate = "$file[$page] ($user) $date";

// A stamp as its attribute words describe it.
struct StampStyle {
  int rotation = 0;                   // degrees: 0, 90, -90 or 180
  double height_inches = 1.0 / 6.0;
  std::string font;                   // "" = the library's default face
  int flags = DIB_TEXT_BOTTOM;        // DIB_TEXT_* style and placement
  int red = 0, green = 0, blue = 0;   // the text's colour

  bool operator==(const StampStyle&) const = default;
};

// Parses ":ATTR:ATTR...[=template]" into `style` and `out_template` (the
// default template when there is no "="). Attribute words, in any letter
// case: BOLD, B, ITALIC, UNDERLINE, NORMAL; LEFT, RIGHT, CENTER, JUSTIFY;
// TOP, VCENTER, VC, BOTTOM, BOT; WRAP; L90, R90, 180, L180, R180; a height
// "<number><pt|in|cm|mm>"; COURIER, TIMES, ARIAL. On a mistake: false with
// the user's message in `out_message` ("Text option syntax: %s", "Text
// option attribute: %s", "Bad text height units: %s", "Unrecognized text
// attribute: %s") and `style` as far as it got.
bool stamp_parse(std::string_view text, StampStyle& style, std::string& out_template, std::string& out_message);

// What the variables of a stamp's text stand for.
struct StampFacts {
  std::time_t when = 0;  // $date (local time) and $utc, in the C library's "%c" form
  std::string file;      // $file: the full path of the page's file
  int page = 1;          // $page: counted from 1
  std::string user;      // $user: the logon name (at most 256 characters)
};
// The facts of now: the time and the user; file and page as given.
StampFacts stamp_facts_now(std::string file, int page);

// The template with $date, $utc, $file, $page and $user replaced by their
// facts. Each variable of the template is replaced once: the text a value
// brings in (a file name holding "$page") is kept as it is.
std::string stamp_expand(std::string_view text, const StampFacts& facts);

// Stamps `text` on the page: sets the library's text settings from the
// style (height from the page's vertical resolution, 72 dpi when it has
// none; the default face when the style names none), and draws into the
// page less margins of a third of an inch (0 without a resolution).
// Returns DIB_DrawText's result.
int stamp_page(Handle page, const std::string& text, const StampStyle& style);

}  // namespace dib
