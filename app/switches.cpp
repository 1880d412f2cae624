// The switch vocabulary: a table matched strictly in its order. Each row
// lists its forms and the effect of a match. A keyword form matches the whole
// switch text (any letter case); a value form is a C formatted-input pattern
// that must convert exactly one value (two for the custom-capability form);
// text after the last conversion is not looked at, so /R300dpi is /R300.
// Reading a switch only fills the request: the library settings a switch
// asks for are recorded in it (LibrarySetting) and applied by the run.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "app/options.h"
#include "app/report.h"
#include "orivane/file_options.h"
#include "orivane/twain.h"
#include "orivane/twain_switches.h"
#include "platform/locale.h"

namespace {

// What a value form converted.
struct Values {
  int number = 0;
  float real = 0;
  unsigned hex = 0;
  std::string text;
};

struct Context {
  ScanRequest& r;
  std::string_view switch_text;   // as copied: keyword part in capitals
  std::string& message;
  bool matched_value = false;     // a value form (not a keyword) matched
};

using Effect = bool (*)(Context&, const Values&);

// A switch: its forms, one line saying what it does (the usage text and the
// manual page are made from it; nullptr: a further form of the row before),
// and its effect.
struct Row {
  std::initializer_list<const char*> forms;
  const char* help;
  Effect effect;
};

std::string format_message(const char* format, const std::string& arg) {
  char out[kMessageMax + 1];
  std::snprintf(out, sizeof out, format, arg.c_str());
  return out;
}

bool reject(Context& c, const char* text) {
  c.message = text;
  return false;
}

bool equal_nocase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

// ---- matching ------------------------------------------------------------

// Conversions of a pattern, in order: 'd', 'g', 'x', 's', '[' or 'c'.
std::string conversions(const char* pattern) {
  std::string kinds;
  for (const char* p = pattern; *p; ++p) {
    if (*p != '%') continue;
    ++p;
    if (*p == '%') continue;
    while (std::isdigit(static_cast<unsigned char>(*p))) ++p;
    kinds += *p;
    if (*p == '[')
      while (*p && *p != ']') ++p;
  }
  return kinds;
}

// Runs the pattern over the text; true when it converts exactly the values
// its form asks for (one, or two for "%x=...").
bool scan_form(const char* pattern, const std::string& text, Values& v) {
  const std::string kinds = conversions(pattern);
  char buf[kSwitchTextMax + 2] = {};
  char ch = 0;
  int n = 0;
  if (kinds == "d") {
    n = std::sscanf(text.c_str(), pattern, &v.number);
  } else if (kinds == "g") {
    n = std::sscanf(text.c_str(), pattern, &v.real);
  } else if (kinds == "gc") {
    n = std::sscanf(text.c_str(), pattern, &v.real, &ch);
  } else if (kinds == "s") {
    // "%s" reads up to a blank; bound it by the buffer.
    std::string bounded_pattern = pattern;
    bounded_pattern.replace(bounded_pattern.find("%s"), 2, "%255s");
    n = std::sscanf(text.c_str(), bounded_pattern.c_str(), buf);
  } else if (kinds == "[") {
    n = std::sscanf(text.c_str(), pattern, buf);
  } else if (kinds == "x[") {
    n = std::sscanf(text.c_str(), pattern, &v.hex, buf);
    if (n == 2) v.text = buf;
    return n == 2;
  }
  if (n != 1) return false;
  if (kinds == "s" || kinds == "[") v.text = buf;
  return true;
}

enum class FormKind { Keyword, Value, Prefix };

FormKind form_kind(const char* form) {
  if (form[0] == '^') return FormKind::Prefix;
  return std::strchr(form, '%') ? FormKind::Value : FormKind::Keyword;
}

// True when `text` matches `form`; `out_rest` receives the text after a
// prefix form.
bool form_matches(const char* form, std::string_view text, Values& v, bool* out_is_value) {
  *out_is_value = false;
  switch (form_kind(form)) {
    case FormKind::Keyword: return equal_nocase(text, form);
    case FormKind::Prefix: {
      std::string_view prefix = form + 1;
      if (text.size() < prefix.size() || !equal_nocase(text.substr(0, prefix.size()), prefix))
        return false;
      v.text = std::string(text.substr(prefix.size()));
      return true;
    }
    case FormKind::Value:
      *out_is_value = true;
      return scan_form(form, std::string(text), v);
  }
  return false;
}

// ---- effects ---------------------------------------------------------------

// Each pixel-type switch is remembered as typed (in capitals) for messages.
bool set_pixel_type(Context& c, int bit) {
  c.r.pixel_types |= bit;
  std::string add = " /" + std::string(c.switch_text);
  if (c.r.pixel_switches.size() + add.size() <= kPixelSwitchesMax) c.r.pixel_switches += add;
  return true;
}

// The units switch is remembered as typed for the units message.
bool set_units(Context& c, int units) {
  c.r.units = units;
  c.r.units_switch = bounded(" /" + std::string(c.switch_text), 7);
  return true;
}

// Records a library setting for the run to apply.
bool setting(Context& c, LibrarySetting::Kind kind, int number = 0, int second = 0) {
  LibrarySetting s;
  s.kind = kind;
  s.number = number;
  s.second = second;
  c.r.library_settings.push_back(std::move(s));
  return true;
}

bool set_language(Context& c, int code) {
  if (!platform::locale_known(static_cast<std::uint16_t>(code & 0xffff))) {
    char out[kMessageMax + 1];
    std::snprintf(out, sizeof out, "/LANG failed: check lang code %d", code);
    c.message = out;
    return false;
  }
  return setting(c, LibrarySetting::kLanguage, code & 0xffff);
}

bool set_format_if_available(Context& c, int format, const char* refusal) {
  if (!IsFormatAvailable(format)) return reject(c, refusal);
  c.r.file_format = format;
  return true;
}

// The multipage format's module must load (the format's file format comes
// from the same module).
bool set_multipage(Context& c, int mpf, int format, const char* refusal) {
  if (!IsFormatAvailable(format)) return reject(c, refusal);
  c.r.file_format = format;
  c.r.multipage = true;
  return setting(c, LibrarySetting::kMultipageFormat, mpf);
}

bool set_jpeg(Context& c, const Values& v) {
  c.r.file_format = FF_JPEG;
  if (c.matched_value && v.number != 0) setting(c, LibrarySetting::kJpegQuality, v.number);
  // Gray and colour TIFF pages written later use JPEG compression too.
  setting(c, LibrarySetting::kTiffCompression, TWPT_GRAY, 7);
  return setting(c, LibrarySetting::kTiffCompression, TWPT_RGB, 7);
}

bool set_barcode_engine_by_name(Context& c, const Values& v) {
  struct Name {
    const char* name;
    int engine;
  };
  static constexpr Name kNames[] = {
      {"Talven", 1}, {"Axtel", 2}, {"LEAD", 3}, {"LEADTOOLS", 3}, {"BLACKICE", 4}};
  for (const Name& n : kNames) {
    if (equal_nocase(v.text, n.name)) {
      c.r.barcode_engine = n.engine;
      return true;
    }
  }
  c.message = format_message("Unrecognized barcode engine: %-32s", v.text);
  return false;
}

bool set_paper(Context& c, const Values& v) {
  struct Paper {
    const char* name;
    int code;
  };
  static constexpr Paper kPapers[] = {{"A3", 11}, {"A4", 1},  {"A5", 5}, {"LETTER", 3},
                                      {"LEGAL", 4}, {"B4", 6}, {"B5", 2}, {"B6", 7}};
  for (const Paper& p : kPapers) {
    if (equal_nocase(v.text, p.name)) {
      c.r.paper_size = p.code;
      return true;
    }
  }
  int code = 0;
  char trailing = 0;
  if (std::sscanf(v.text.c_str(), "%d%c", &code, &trailing) == 1) {
    c.r.paper_size = code;
    return true;
  }
  c.message = format_message("Unrecognized paper size:%s", v.text);
  return false;
}

bool set_blank(Context& c, double threshold) {
  c.r.blank_discard = true;
  LibrarySetting s;
  s.kind = LibrarySetting::kBlankThreshold;
  s.real = threshold;
  c.r.library_settings.push_back(s);
  return true;
}

bool set_user_password(Context& c, const Values& v) {
  LibrarySetting s;
  s.kind = LibrarySetting::kPdfUserPassword;
  s.text = v.text;
  c.r.library_settings.push_back(std::move(s));
  return true;
}

bool set_pdfa(Context& c, bool multipage) {
  if (multipage) {
    // The multipage format is asked for without checking its module.
    setting(c, LibrarySetting::kMultipageFormat, MPF_PDF);
    c.r.multipage = true;
  }
  c.r.file_format = FF_PDF;
  return setting(c, LibrarySetting::kPdfA, 1);
}

bool report_file_opened(Context& c, const Values&) {
  // Standard error stands in for standard output, not for the file asked for.
  if (front_end().report_stream && front_end().report_stream != stderr) return true;
  c.message = format_message("could not create file: %s", std::string(c.switch_text));
  return false;
}

#define EFFECT [](Context & c, const Values& v) -> bool
#define FLAG(field) EFFECT { (void)v; c.r.field = true; return true; }

const Row kVocabulary[] = {
    {{"0X%x=%255[^~]"}, "set device capability 0xhhhh (hexadecimal) to a number or a text",
     EFFECT {
       if (c.r.custom_cap != 0) return reject(c, "Only one /0xNNNN switch allowed");
       c.r.custom_cap = static_cast<int>(v.hex);
       c.r.custom_value = bounded(v.text, kCustomValueMax);
       return true;
     }},
    {{"ADF", "AUTOFEED"}, "scan from the document feeder, fed automatically",
     EFFECT { (void)v; c.r.auto_feed = 1; c.r.feeder = 1; return true; }},
    {{"AI", "AUTOINC"}, "never replace a file: a numbered name takes the next free number",
     FLAG(auto_increment)},
    // Taken before anything else runs (PreScanArguments).
    {{"APP=%255[^~]"}, "the application name in the report, the trace and message captions",
     EFFECT { (void)c; (void)v; return true; }},
    {{"APPEND"}, "add the pages to the end of an existing multipage file",
     EFFECT { (void)v; c.r.append = true; return setting(c, LibrarySetting::kAppendFlag, 1); }},
    {{"AUTOBRIGHT"}, "let the device choose the brightness",
     EFFECT { (void)v; c.r.auto_bright = 1; return true; }},
    {{"AUTOBRIGHT%d", "AUTOBRIGHT=%d"}, "automatic brightness on (n above 0) or off",
     EFFECT { c.r.auto_bright = v.number > 0 ? 1 : 0; return true; }},
    {{"AUTOCROP"}, "crop each page to the document", EFFECT { (void)v; c.r.auto_crop = 1; return true; }},
    {{"AXTEL"}, "read barcodes with the Axtel engine",
     EFFECT { (void)v; c.r.barcode_engine = 2; return true; }},
    {{"B%g", "B=%g"}, "brightness, -1000 to 1000", EFFECT { c.r.brightness = v.real; return true; }},
    {{"BARCODE"}, "read barcodes of every type and report them",
     EFFECT { (void)v; c.r.barcode_types = -1; return true; }},
    {{"BCE"}, "(refused: /BCE needs an engine's name)",
     EFFECT { (void)v; return reject(c, "No engine specified with /bce option."); }},
    {{"BCE=%s"}, "barcode engine by name: Talven, Axtel, LEAD, LEADTOOLS, BLACKICE",
     set_barcode_engine_by_name},
    {{"BG"}, "hand the command line to a running server (/SERVER)", FLAG(client)},
    {{"BLACKICE"}, "read barcodes with the BLACKICE engine",
     EFFECT { (void)v; c.r.barcode_engine = 4; return true; }},
    {{"BLANK"}, "drop blank pages (the library's threshold, 0.02 unless set)", FLAG(blank_discard)},
    {{"BLANK=%g%c", "BLANK%g%c"}, "drop blank pages: a page with less than x (0.02) or x% (2%) dark is blank",
     EFFECT { return set_blank(c, v.real); }},
    {{"BLANK=%g%%%c", "BLANK%g%%%c"}, nullptr,
     EFFECT { return set_blank(c, static_cast<double>(v.real) / 100); }},
    {{"BMP"}, "write BMP files", EFFECT { (void)v; c.r.file_format = FF_BMP; return true; }},
    {{"BW"}, "black and white, 1 bit (pixel-type switches may be combined)",
     EFFECT { (void)v; return set_pixel_type(c, kPixelBw); }},
    {{"C%g", "C=%g"}, "contrast, -1000 to 1000", EFFECT { c.r.contrast = v.real; return true; }},
    {{"CC:%255[^~]", "CC=%255[^~]"}, "also write each page to this path (a * or no name: the output's name)",
     EFFECT {
       c.r.carbon_copy = true;
       c.r.carbon_copy_path = bounded(v.text, kCarbonCopyPathMax);
       return true;
     }},
    {{"CLOSE"}, "with /BG: close the server's device after the request",
     EFFECT { (void)v; c.r.close = true; c.r.implies_scan = false; return true; }},
    {{"CM"}, "region in centimetres", EFFECT { (void)v; return set_units(c, TWUN_CENTIMETERS); }},
    {{"CMYK"}, "CMYK colour (memory transfer)",
     EFFECT { (void)v; c.r.transfer_mode = kTransferMemory; return set_pixel_type(c, kPixelCmyk); }},
    {{"CODE39"}, "read Code 39 barcodes", EFFECT { (void)v; c.r.barcode_types |= 0x10; return true; }},
    {{"CODEI25"}, "read Interleaved 2 of 5 barcodes",
     EFFECT { (void)v; c.r.barcode_types |= 0x80; return true; }},
    {{"CODE128"}, "read Code 128 barcodes", EFFECT { (void)v; c.r.barcode_types |= 0x40; return true; }},
    {{"CODEUPC"}, "read UPC barcodes", EFFECT { (void)v; c.r.barcode_types |= 0x0C; return true; }},
    {{"D%d", "D=%d"}, "bits per pixel", EFFECT { c.r.bit_depth = v.number; return true; }},
    {{"DCX"}, "one multipage DCX file",
     EFFECT { (void)v; return set_multipage(c, MPF_DCX, FF_DCX, "DCX output not available."); }},
    {{"DEEP"}, "16 bits per sample: 16-bit gray or 48-bit colour (memory transfer)",
     EFFECT { (void)v; c.r.deep = true; c.r.transfer_mode = kTransferMemory; return true; }},
    {{"DESKEW"}, "straighten each page", EFFECT { (void)v; c.r.deskew = 1; return true; }},
    {{"DUP", "DUPLEX"}, "scan both sides",
     EFFECT { (void)v; c.r.duplex = true; c.r.simplex = false; return true; }},
    {{"ELAPSED"}, "show how long the request took", FLAG(elapsed)},
    {{"ENUM"}, "list the devices in the report (Source1=, Source2=, ...)",
     EFFECT { (void)v; c.r.enumerate = true; c.r.implies_scan = false; return true; }},
    {{"FEEDER"}, "select the document feeder", EFFECT { (void)v; c.r.feeder = 1; return true; }},
    {{"FILE"}, "file transfer: the device writes each page's file itself",
     EFFECT { (void)v; c.r.transfer_mode = kTransferFile; return true; }},
    {{"FILEREVIEW", "FILEREV", "FREV"}, "ask whether to keep the finished multipage file", FLAG(file_review)},
    {{"FLATBED"}, "scan from the flatbed",
     EFFECT { (void)v; c.r.auto_feed = 0; c.r.feeder = 0; return true; }},
    {{"GAMMA%g", "GAMMA=%g"}, "gamma correction", EFFECT { c.r.gamma = v.real; return true; }},
    {{"GIF"}, "write GIF files",
     EFFECT { (void)v; return set_format_if_available(c, FF_GIF, "GIF file output not available."); }},
    {{"GRAY"}, "gray, 8 bits", EFFECT { (void)v; return set_pixel_type(c, kPixelGray); }},
    {{"H%g", "H=%g"}, "height of the region", EFFECT { c.r.height = v.real; return true; }},
    {{"HELP", "?"}, "open the help page",
     EFFECT { (void)v; c.r.help = true; c.r.implies_scan = false; return true; }},
    {{"HIDE"}, "hide the device's own dialog", FLAG(hide_ui)},
    {{"HIGH%g", "HIGH=%g"}, "highlight, 0 to 255", EFFECT { c.r.highlight = v.real; return true; }},
    {{"I", "INCHES"}, "region in inches (the default)",
     EFFECT { (void)v; return set_units(c, TWUN_INCHES); }},
    {{"JPEG", "JPG", "JPEG%d", "JPG%d", "JPEG=%d", "JPG=%d"},
     "write JPEG files of quality n (1 to 100); gray and colour TIFF pages get JPEG compression",
     set_jpeg},
    {{"KEEPWARM"}, "open the device once and close it again",
     EFFECT { (void)v; c.r.keep_warm = true; c.r.implies_scan = false; return true; }},
    {{"LANG=%d", "LANG:%d"},
     "language of the questions: a Windows language code, or da, nl, en, fr, de, it, no, pl, pt, es, sv",
     EFFECT { return set_language(c, v.number); }},
    {{"LANG=da"}, nullptr, EFFECT { (void)v; return set_language(c, 6); }},
    {{"LANG=nl"}, nullptr, EFFECT { (void)v; return set_language(c, 19); }},
    {{"LANG=en"}, nullptr, EFFECT { (void)v; return set_language(c, 9); }},
    {{"LANG=fr"}, nullptr, EFFECT { (void)v; return set_language(c, 12); }},
    {{"LANG=de"}, nullptr, EFFECT { (void)v; return set_language(c, 7); }},
    {{"LANG=it"}, nullptr, EFFECT { (void)v; return set_language(c, 16); }},
    {{"LANG=no"}, nullptr, EFFECT { (void)v; return set_language(c, 20); }},
    {{"LANG=pl"}, nullptr, EFFECT { (void)v; return set_language(c, 21); }},
    {{"LANG=pt"}, nullptr, EFFECT { (void)v; return set_language(c, 22); }},
    {{"LANG=es"}, nullptr, EFFECT { (void)v; return set_language(c, 10); }},
    {{"LANG=sv"}, nullptr, EFFECT { (void)v; return set_language(c, 29); }},
    {{"LEADTOOLS"}, "read barcodes with the LEADTOOLS engine",
     EFFECT { (void)v; c.r.barcode_engine = 3; return true; }},
    // Taken before anything else runs (PreScanArguments).
    {{"LOG", "LOG%d", "LOG=%s", "LOG:%s", "LOGFILE=%s", "LOGNAME=%s"},
     "write a trace log: /LOG=name names it, /LOG2 tells more, /LOG0 none",
     EFFECT { (void)c; (void)v; return true; }},
    {{"FLATE"}, "compress PDF pages with Flate",
     EFFECT { (void)v; return setting(c, LibrarySetting::kPdfCompression, -1, 5); }},
    {{"M"}, "scan until the feeder is empty, into one multipage file",
     EFFECT { (void)v; c.r.page_count = -1; c.r.multipage = true; return true; }},
    {{"MEM", "MEMORY"}, "memory (buffered) transfer",
     EFFECT { (void)v; c.r.transfer_mode = kTransferMemory; return true; }},
    {{"N"}, "scan until the feeder is empty", EFFECT { (void)v; c.r.page_count = -1; return true; }},
    {{"N%d", "N=%d"}, "scan n pages", EFFECT { c.r.page_count = v.number; return true; }},
    {{"NATIVE"}, "native transfer (the default)",
     EFFECT { (void)v; c.r.transfer_mode = kTransferNative; return true; }},
    {{"NEG", "NEGATE"}, "negate each page", FLAG(negate)},
    {{"NOINDIC"}, "hide the device's progress indicators", FLAG(no_indicators)},
    {{"NOSCAN"}, "scan nothing",
     EFFECT { (void)v; c.r.scan = false; c.r.implies_scan = false; return true; }},
    {{"NOUI"}, "hide the device's own dialog", FLAG(hide_ui)},
    {{"^O="}, "write the report to this file instead of standard output", report_file_opened},
    {{"O"}, "(accepted, without effect)", EFFECT { (void)c; (void)v; return true; }},
    {{"OCR"}, "recognise the text of each page and lay it over the page, searchable (PDF output only)", FLAG(ocr)},
    {{"PALETTE"}, "8-bit colour with a palette",
     EFFECT { (void)v; return set_pixel_type(c, kPixelPalette); }},
    {{"PAPER=%s", "PAPER:%s"}, "paper size: A3, A4, A5, LETTER, LEGAL, B4, B5, B6, or a TWAIN size code",
     set_paper},
    {{"PIXELS"}, "region in pixels", EFFECT { (void)v; return set_units(c, TWUN_PIXELS); }},
    {{"PDF"}, "write PDF files",
     EFFECT { (void)v; return set_format_if_available(c, FF_PDF, "PDF file output not available."); }},
    {{"PDF+"}, "one multipage PDF file",
     EFFECT { (void)v; return set_multipage(c, MPF_PDF, FF_PDF, "Multipage PDF output not available."); }},
    {{"PDFA"}, "write PDF/A files", EFFECT { (void)v; return set_pdfa(c, false); }},
    {{"PDFA+"}, "one multipage PDF/A file", EFFECT { (void)v; return set_pdfa(c, true); }},
    {{"PNG"}, "write PNG files",
     EFFECT { (void)v; return set_format_if_available(c, FF_PNG, "PNG file output not available."); }},
    {{"POE", "PROMPTONEMPTY"}, "when the feeder is empty, ask whether to go on", FLAG(prompt_on_empty)},
    {{"PWD=%255[^~]"}, "protect PDF files with this user password", set_user_password},
    {{"QUANT", "QUANTIZE"}, "reduce 24-bit colour pages to 8 bits with a palette", FLAG(quantize)},
    {{"Q%d", "Q=%d"}, "JPEG quality, 1 to 100 (the file format stays)",
     EFFECT { return setting(c, LibrarySetting::kJpegQuality, v.number); }},
    {{"R%g", "R=%g"}, "resolution in dots per inch", EFFECT { c.r.resolution = v.real; return true; }},
    {{"REFL"}, "reflective light path (not the transparency unit)", FLAG(reflective)},
    {{"REV", "REVIEW"}, "ask about each page before it is stored", FLAG(review)},
    {{"RGB", "COLOR"}, "colour, 24 bits", EFFECT { (void)v; return set_pixel_type(c, kPixelRgb); }},
    {{"ROTL"}, "turn each page a quarter turn to the left",
     EFFECT { (void)v; c.r.rotation = -1; return true; }},
    {{"ROTR"}, "turn each page a quarter turn to the right",
     EFFECT { (void)v; c.r.rotation = 1; return true; }},
    {{"ROT180"}, "turn each page upside down", EFFECT { (void)v; c.r.rotation = 2; return true; }},
    {{"S=%64[^~]"}, "the device whose name holds this text (any letter case)",
     EFFECT { c.r.device_name = bounded(v.text, kDeviceNameMax); return true; }},
    {{"SCAN"}, "scan, also without an output name",
     EFFECT { (void)v; c.r.scan = true; c.r.implies_scan = true; return true; }},
    {{"SERVER"}, "stay resident and run the command lines of /BG clients", FLAG(server)},
    {{"SHADOW%g", "SHADOW=%g"}, "shadow, 0 to 255", EFFECT { c.r.shadow = v.real; return true; }},
    {{"SIMPLEX"}, "scan one side", EFFECT { (void)v; c.r.simplex = true; c.r.duplex = false; return true; }},
    {{"SOE", "STOPONEMPTY"}, "stop when the feeder is empty (with the device's dialog shown)",
     FLAG(stop_on_empty)},
    {{"SS"}, "choose the device in a dialog (it becomes the default)",
     EFFECT { (void)v; c.r.select_source = true; c.r.implies_scan = false; return true; }},
    {{"STOP"}, "with /BG: stop the server",
     EFFECT { (void)v; c.r.stop = true; c.r.implies_scan = false; return true; }},
    {{"T%g", "T=%g"}, "threshold for black and white, 0 to 255",
     EFFECT { c.r.threshold = v.real; return true; }},
    {{"TA"}, "text area: gray and colour pages become black and white", FLAG(text_area)},
    {{"^TEXT"}, "stamp a text on each page: /TEXT:attr:attr=template ($file $page $user $date $utc)",
     EFFECT { return ParseTextOption(c.r, v.text, c.message); }},
    {{"TIFF", "TIF"}, "write TIFF files",
     EFFECT { (void)v; return set_format_if_available(c, FF_TIFF, "TIFF file output not available."); }},
    {{"TIFF+", "TIF+"}, "one multipage TIFF file",
     EFFECT { (void)v; return set_multipage(c, MPF_TIFF, FF_TIFF, "Multipage TIFF output not available."); }},
    {{"TOGRAY%d", "TOGRAY:%d", "TOGRAY=%d"}, "convert each page to 8-bit gray, reduced n times",
     EFFECT { c.r.to_gray = v.number; return true; }},
    {{"TOGRAY"}, "convert each page to 8-bit gray", EFFECT { (void)v; c.r.to_gray = 1; return true; }},
    {{"TRANS"}, "transparency unit light path", FLAG(transparency)},
    {{"UIS"}, "undefined image size: the device finds each page's length", FLAG(undefined_size)},
    {{"V", "VERSION"}, "show the About text",
     EFFECT { (void)v; c.r.show_version = true; c.r.implies_scan = false; return true; }},
    {{"W%g", "W=%g"}, "width of the region", EFFECT { c.r.width = v.real; return true; }},
    {{"X%g", "X=%g"}, "left edge of the region", EFFECT { c.r.left = v.real; return true; }},
    {{"Y%g", "Y=%g"}, "top edge of the region", EFFECT { c.r.top = v.real; return true; }},
};

#undef FLAG
#undef EFFECT

// The first row with a matching form, or nullptr.
const Row* find_row(std::string_view text, Values& v, bool* out_is_value) {
  for (const Row& row : kVocabulary)
    for (const char* form : row.forms)
      if (form_matches(form, text, v, out_is_value)) return &row;
  return nullptr;
}

bool is_keyword_end(char c) { return c == '=' || c == ':' || c == '"' || c == '\''; }

}  // namespace

std::vector<SwitchHelp> SwitchVocabulary() {
  std::vector<SwitchHelp> rows;
  for (const Row& row : kVocabulary)
    rows.push_back({std::vector<std::string>(row.forms.begin(), row.forms.end()), row.help});
  return rows;
}

bool IsKnownSwitch(std::string_view text) {
  std::string upper(text);
  for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  Values v;
  bool is_value = false;
  const Row* row = find_row(upper, v, &is_value);
  if (!row) return false;
  // "TEXT" is a prefix form: "textfiles" only counts if it parses as a stamp.
  if (upper.compare(0, 4, "TEXT") == 0) {
    ScanRequest scratch;
    std::string message;
    return ParseTextOption(scratch, v.text, message);
  }
  return true;
}

bool ParseSwitch(ScanRequest& r, std::string_view argument, std::string& out_message) {
  std::string_view raw = argument.substr(1);
  std::size_t end = 0;
  while (end < raw.size() && static_cast<unsigned char>(raw[end]) >= 32) ++end;
  raw = raw.substr(0, end);
  if (raw.size() > kSwitchTextMax) {
    out_message = format_message("Option too long (over 255 characters): /%.40s...", std::string(raw));
    return false;
  }
  std::string text(raw);
  bool in_keyword = true;
  for (std::size_t i = 0; i < text.size() && in_keyword; ++i) {
    char ch = text[i];
    if (ch == '/') {
      out_message = format_message("Missing space before: %-32s", std::string(raw.substr(i)));
      return false;
    }
    text[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    if (is_keyword_end(ch)) in_keyword = false;
  }
  Values v;
  bool is_value = false;
  const Row* row = find_row(text, v, &is_value);
  if (!row) {
    out_message = format_message("Unrecognized option:%s", " /" + text);
    return false;
  }
  Context c{r, text, out_message, is_value};
  return row->effect(c, v);
}
