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

struct Row {
  std::initializer_list<const char*> forms;
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
  if (front_end().report_stream) return true;
  c.message = format_message("could not create file: %s", std::string(c.switch_text));
  return false;
}

#define EFFECT [](Context & c, const Values& v) -> bool
#define FLAG(field) EFFECT { (void)v; c.r.field = true; return true; }

const Row kVocabulary[] = {
    {{"0X%x=%255[^~]"}, EFFECT {
       if (c.r.custom_cap != 0) return reject(c, "Only one /0xNNNN switch allowed");
       c.r.custom_cap = static_cast<int>(v.hex);
       c.r.custom_value = bounded(v.text, kCustomValueMax);
       return true;
     }},
    {{"ADF", "AUTOFEED"}, EFFECT { (void)v; c.r.auto_feed = 1; c.r.feeder = 1; return true; }},
    {{"AI", "AUTOINC"}, FLAG(auto_increment)},
    // Taken before anything else runs (PreScanArguments).
    {{"APP=%255[^~]"}, EFFECT { (void)c; (void)v; return true; }},
    {{"APPEND"}, EFFECT { (void)v; c.r.append = true; return setting(c, LibrarySetting::kAppendFlag, 1); }},
    {{"AUTOBRIGHT"}, EFFECT { (void)v; c.r.auto_bright = 1; return true; }},
    {{"AUTOBRIGHT%d", "AUTOBRIGHT=%d"}, EFFECT { c.r.auto_bright = v.number > 0 ? 1 : 0; return true; }},
    {{"AUTOCROP"}, EFFECT { (void)v; c.r.auto_crop = 1; return true; }},
    {{"AXTEL"}, EFFECT { (void)v; c.r.barcode_engine = 2; return true; }},
    {{"B%g", "B=%g"}, EFFECT { c.r.brightness = v.real; return true; }},
    {{"BARCODE"}, EFFECT { (void)v; c.r.barcode_types = -1; return true; }},
    {{"BCE"}, EFFECT { (void)v; return reject(c, "No engine specified with /bce option."); }},
    {{"BCE=%s"}, set_barcode_engine_by_name},
    {{"BG"}, FLAG(client)},
    {{"BLACKICE"}, EFFECT { (void)v; c.r.barcode_engine = 4; return true; }},
    {{"BLANK"}, FLAG(blank_discard)},
    {{"BLANK=%g%c", "BLANK%g%c"}, EFFECT { return set_blank(c, v.real); }},
    {{"BLANK=%g%%%c", "BLANK%g%%%c"}, EFFECT { return set_blank(c, static_cast<double>(v.real) / 100); }},
    {{"BMP"}, EFFECT { (void)v; c.r.file_format = FF_BMP; return true; }},
    {{"BW"}, EFFECT { (void)v; return set_pixel_type(c, kPixelBw); }},
    {{"C%g", "C=%g"}, EFFECT { c.r.contrast = v.real; return true; }},
    {{"CC:%255[^~]", "CC=%255[^~]"}, EFFECT {
       c.r.carbon_copy = true;
       c.r.carbon_copy_path = bounded(v.text, kCarbonCopyPathMax);
       return true;
     }},
    {{"CLOSE"}, EFFECT { (void)v; c.r.close = true; c.r.implies_scan = false; return true; }},
    {{"CM"}, EFFECT { (void)v; return set_units(c, TWUN_CENTIMETERS); }},
    {{"CMYK"}, EFFECT { (void)v; c.r.transfer_mode = kTransferMemory; return set_pixel_type(c, kPixelCmyk); }},
    {{"CODE39"}, EFFECT { (void)v; c.r.barcode_types |= 0x10; return true; }},
    {{"CODEI25"}, EFFECT { (void)v; c.r.barcode_types |= 0x80; return true; }},
    {{"CODE128"}, EFFECT { (void)v; c.r.barcode_types |= 0x40; return true; }},
    {{"CODEUPC"}, EFFECT { (void)v; c.r.barcode_types |= 0x0C; return true; }},
    {{"D%d", "D=%d"}, EFFECT { c.r.bit_depth = v.number; return true; }},
    {{"DCX"}, EFFECT { (void)v; return set_multipage(c, MPF_DCX, FF_DCX, "DCX output not available."); }},
    {{"DEEP"}, EFFECT { (void)v; c.r.deep = true; c.r.transfer_mode = kTransferMemory; return true; }},
    {{"DESKEW"}, EFFECT { (void)v; c.r.deskew = 1; return true; }},
    {{"DUP", "DUPLEX"}, EFFECT { (void)v; c.r.duplex = true; c.r.simplex = false; return true; }},
    {{"ELAPSED"}, FLAG(elapsed)},
    {{"ENUM"}, EFFECT { (void)v; c.r.enumerate = true; c.r.implies_scan = false; return true; }},
    {{"FEEDER"}, EFFECT { (void)v; c.r.feeder = 1; return true; }},
    {{"FILE"}, EFFECT { (void)v; c.r.transfer_mode = kTransferFile; return true; }},
    {{"FILEREVIEW", "FILEREV", "FREV"}, FLAG(file_review)},
    {{"FLATBED"}, EFFECT { (void)v; c.r.auto_feed = 0; c.r.feeder = 0; return true; }},
    {{"GAMMA%g", "GAMMA=%g"}, EFFECT { c.r.gamma = v.real; return true; }},
    {{"GIF"}, EFFECT { (void)v; return set_format_if_available(c, FF_GIF, "GIF file output not available."); }},
    {{"GRAY"}, EFFECT { (void)v; return set_pixel_type(c, kPixelGray); }},
    {{"H%g", "H=%g"}, EFFECT { c.r.height = v.real; return true; }},
    {{"HELP", "?"}, EFFECT { (void)v; c.r.help = true; c.r.implies_scan = false; return true; }},
    {{"HIDE"}, FLAG(hide_ui)},
    {{"HIGH%g", "HIGH=%g"}, EFFECT { c.r.highlight = v.real; return true; }},
    {{"I", "INCHES"}, EFFECT { (void)v; return set_units(c, TWUN_INCHES); }},
    {{"JPEG", "JPG", "JPEG%d", "JPG%d", "JPEG=%d", "JPG=%d"}, set_jpeg},
    {{"KEEPWARM"}, EFFECT { (void)v; c.r.keep_warm = true; c.r.implies_scan = false; return true; }},
    {{"LANG=%d", "LANG:%d"}, EFFECT { return set_language(c, v.number); }},
    {{"LANG=da"}, EFFECT { (void)v; return set_language(c, 6); }},
    {{"LANG=nl"}, EFFECT { (void)v; return set_language(c, 19); }},
    {{"LANG=en"}, EFFECT { (void)v; return set_language(c, 9); }},
    {{"LANG=fr"}, EFFECT { (void)v; return set_language(c, 12); }},
    {{"LANG=de"}, EFFECT { (void)v; return set_language(c, 7); }},
    {{"LANG=it"}, EFFECT { (void)v; return set_language(c, 16); }},
    {{"LANG=no"}, EFFECT { (void)v; return set_language(c, 20); }},
    {{"LANG=pl"}, EFFECT { (void)v; return set_language(c, 21); }},
    {{"LANG=pt"}, EFFECT { (void)v; return set_language(c, 22); }},
    {{"LANG=es"}, EFFECT { (void)v; return set_language(c, 10); }},
    {{"LANG=sv"}, EFFECT { (void)v; return set_language(c, 29); }},
    {{"LEADTOOLS"}, EFFECT { (void)v; c.r.barcode_engine = 3; return true; }},
    // Taken before anything else runs (PreScanArguments).
    {{"LOG", "LOG%d", "LOG=%s", "LOG:%s", "LOGFILE=%s", "LOGNAME=%s"}, EFFECT { (void)c; (void)v; return true; }},
    {{"FLATE"}, EFFECT { (void)v; return setting(c, LibrarySetting::kPdfCompression, -1, 5); }},
    {{"M"}, EFFECT { (void)v; c.r.page_count = -1; c.r.multipage = true; return true; }},
    {{"MEM", "MEMORY"}, EFFECT { (void)v; c.r.transfer_mode = kTransferMemory; return true; }},
    {{"N"}, EFFECT { (void)v; c.r.page_count = -1; return true; }},
    {{"N%d", "N=%d"}, EFFECT { c.r.page_count = v.number; return true; }},
    {{"NATIVE"}, EFFECT { (void)v; c.r.transfer_mode = kTransferNative; return true; }},
    {{"NEG", "NEGATE"}, FLAG(negate)},
    {{"NOINDIC"}, FLAG(no_indicators)},
    {{"NOSCAN"}, EFFECT { (void)v; c.r.scan = false; c.r.implies_scan = false; return true; }},
    {{"NOUI"}, FLAG(hide_ui)},
    {{"^O="}, report_file_opened},
    {{"O"}, EFFECT { (void)c; (void)v; return true; }},
    {{"OCR"}, FLAG(ocr)},
    {{"PALETTE"}, EFFECT { (void)v; return set_pixel_type(c, kPixelPalette); }},
    {{"PAPER=%s", "PAPER:%s"}, set_paper},
    {{"PIXELS"}, EFFECT { (void)v; return set_units(c, TWUN_PIXELS); }},
    {{"PDF"}, EFFECT { (void)v; return set_format_if_available(c, FF_PDF, "PDF file output not available."); }},
    {{"PDF+"}, EFFECT { (void)v; return set_multipage(c, MPF_PDF, FF_PDF, "Multipage PDF output not available."); }},
    {{"PDFA"}, EFFECT { (void)v; return set_pdfa(c, false); }},
    {{"PDFA+"}, EFFECT { (void)v; return set_pdfa(c, true); }},
    {{"PNG"}, EFFECT { (void)v; return set_format_if_available(c, FF_PNG, "PNG file output not available."); }},
    {{"POE", "PROMPTONEMPTY"}, FLAG(prompt_on_empty)},
    {{"PWD=%255[^~]"}, set_user_password},
    {{"QUANT", "QUANTIZE"}, FLAG(quantize)},
    {{"Q%d", "Q=%d"}, EFFECT { return setting(c, LibrarySetting::kJpegQuality, v.number); }},
    {{"R%g", "R=%g"}, EFFECT { c.r.resolution = v.real; return true; }},
    {{"REFL"}, FLAG(reflective)},
    {{"REV", "REVIEW"}, FLAG(review)},
    {{"RGB", "COLOR"}, EFFECT { (void)v; return set_pixel_type(c, kPixelRgb); }},
    {{"ROTL"}, EFFECT { (void)v; c.r.rotation = -1; return true; }},
    {{"ROTR"}, EFFECT { (void)v; c.r.rotation = 1; return true; }},
    {{"ROT180"}, EFFECT { (void)v; c.r.rotation = 2; return true; }},
    {{"S=%64[^~]"}, EFFECT { c.r.device_name = bounded(v.text, kDeviceNameMax); return true; }},
    {{"SCAN"}, EFFECT { (void)v; c.r.scan = true; c.r.implies_scan = true; return true; }},
    {{"SERVER"}, FLAG(server)},
    {{"SHADOW%g", "SHADOW=%g"}, EFFECT { c.r.shadow = v.real; return true; }},
    {{"SIMPLEX"}, EFFECT { (void)v; c.r.simplex = true; c.r.duplex = false; return true; }},
    {{"SOE", "STOPONEMPTY"}, FLAG(stop_on_empty)},
    {{"SS"}, EFFECT { (void)v; c.r.select_source = true; c.r.implies_scan = false; return true; }},
    {{"STOP"}, EFFECT { (void)v; c.r.stop = true; c.r.implies_scan = false; return true; }},
    {{"T%g", "T=%g"}, EFFECT { c.r.threshold = v.real; return true; }},
    {{"TA"}, FLAG(text_area)},
    {{"^TEXT"}, EFFECT { return ParseTextOption(c.r, v.text, c.message); }},
    {{"TIFF", "TIF"}, EFFECT { (void)v; return set_format_if_available(c, FF_TIFF, "TIFF file output not available."); }},
    {{"TIFF+", "TIF+"}, EFFECT { (void)v; return set_multipage(c, MPF_TIFF, FF_TIFF, "Multipage TIFF output not available."); }},
    {{"TOGRAY%d", "TOGRAY:%d", "TOGRAY=%d"}, EFFECT { c.r.to_gray = v.number; return true; }},
    {{"TOGRAY"}, EFFECT { (void)v; c.r.to_gray = 1; return true; }},
    {{"TRANS"}, FLAG(transparency)},
    {{"UIS"}, FLAG(undefined_size)},
    {{"V", "VERSION"}, EFFECT { (void)v; c.r.show_version = true; c.r.implies_scan = false; return true; }},
    {{"W%g", "W=%g"}, EFFECT { c.r.width = v.real; return true; }},
    {{"X%g", "X=%g"}, EFFECT { c.r.left = v.real; return true; }},
    {{"Y%g", "Y=%g"}, EFFECT { c.r.top = v.real; return true; }},
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
