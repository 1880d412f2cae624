// The text stamp's switch grammar: ":ATTR:ATTR...=template".
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/options.h"

namespace {

constexpr std::size_t kAttributeMax = 255;

bool equal_nocase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

std::string message(const char* format, std::string_view text) {
  char out[kMessageMax + 1];
  std::snprintf(out, sizeof out, format, std::string(text).c_str());
  return out;
}

struct FlagAttribute {
  const char* name;
  int clear;   // bits cleared first
  int set;     // then set
};

constexpr FlagAttribute kFlagAttributes[] = {
    {"BOLD", 0, kTextBold},
    {"B", 0, kTextBold},
    {"ITALIC", 0, kTextItalic},
    {"UNDERLINE", 0, kTextUnderline},
    {"NORMAL", kTextStyleGroup, 0},
    {"LEFT", kTextHorizontalGroup, 0},
    {"RIGHT", kTextHorizontalGroup, kTextRight},
    {"CENTER", kTextHorizontalGroup, kTextCenter},
    {"JUSTIFY", kTextHorizontalGroup, kTextJustify},
    {"TOP", kTextVerticalGroup, 0},
    {"VCENTER", kTextVerticalGroup, kTextVCenter},
    {"VC", kTextVerticalGroup, kTextVCenter},
    {"BOTTOM", kTextVerticalGroup, kTextBottom},
    {"BOT", kTextVerticalGroup, kTextBottom},
    {"WRAP", 0, kTextWrap},
};

struct RotationAttribute {
  const char* name;
  int degrees;
};

constexpr RotationAttribute kRotations[] = {
    {"L90", -90}, {"R90", 90}, {"180", 180}, {"L180", 180}, {"R180", 180}};

constexpr const char* kFonts[] = {"COURIER", "TIMES", "ARIAL"};

struct HeightUnit {
  const char* name;
  double per_inch;
};

constexpr HeightUnit kHeightUnits[] = {{"pt", 72.0}, {"in", 1.0}, {"cm", 2.54}, {"mm", 25.4}};

enum class HeightResult { NotAHeight, Taken, BadUnit };

// "<number><two-letter unit>": the number is plain digits with at most one
// point (no sign, exponent or "inf"), so every height is finite.
HeightResult parse_height(std::string_view attr, double* out_inches) {
  std::size_t i = 0, digits = 0, points = 0;
  for (; i < attr.size(); ++i) {
    char c = attr[i];
    if (c >= '0' && c <= '9') {
      ++digits;
    } else if (c == '.' && points == 0) {
      ++points;
    } else {
      break;
    }
  }
  std::string_view unit = attr.substr(i);
  if (digits == 0 || unit.size() != 2 || !std::isalpha(static_cast<unsigned char>(unit[0])) ||
      !std::isalpha(static_cast<unsigned char>(unit[1])))
    return HeightResult::NotAHeight;
  double number = std::strtod(std::string(attr.substr(0, i)).c_str(), nullptr);
  for (const HeightUnit& u : kHeightUnits) {
    if (equal_nocase(unit, u.name)) {
      *out_inches = number / u.per_inch;
      return HeightResult::Taken;
    }
  }
  return HeightResult::BadUnit;
}

bool apply_attribute(ScanRequest& r, std::string_view attr, std::string& out_message) {
  for (const FlagAttribute& f : kFlagAttributes) {
    if (equal_nocase(attr, f.name)) {
      r.text_flags = (r.text_flags & ~f.clear) | f.set;
      return true;
    }
  }
  for (const RotationAttribute& rot : kRotations) {
    if (equal_nocase(attr, rot.name)) {
      r.text_rotation = rot.degrees;
      return true;
    }
  }
  double inches = 0;
  switch (parse_height(attr, &inches)) {
    case HeightResult::Taken: r.text_height = inches; return true;
    case HeightResult::BadUnit:
      out_message = message("Bad text height units: %s", attr);
      return false;
    case HeightResult::NotAHeight: break;
  }
  for (const char* font : kFonts) {
    if (equal_nocase(attr, font)) {
      r.text_font = bounded(std::string(attr), kTextFontMax);
      return true;
    }
  }
  out_message = message("Unrecognized text attribute: %s", attr);
  return false;
}

}  // namespace

bool ParseTextOption(ScanRequest& r, std::string_view text, std::string& out_message) {
  std::size_t i = 0;
  while (true) {
    if (i >= text.size()) {
      r.text_template = kDefaultTextTemplate;
      return true;
    }
    if (text[i] == '=') {
      r.text_template = bounded(std::string(text.substr(i + 1)), kTextTemplateMax);
      return true;
    }
    if (text[i] != ':') {
      out_message = message("Text option syntax: %s", text.substr(i));
      return false;
    }
    ++i;
    std::size_t end = text.find_first_of(":=", i);
    if (end == std::string_view::npos) end = text.size();
    std::string_view attr = text.substr(i, std::min(end - i, kAttributeMax));
    if (attr.empty()) {
      out_message = message("Text option attribute: %s", text.substr(i));
      return false;
    }
    if (!apply_attribute(r, attr, out_message)) return false;
    i = end;
  }
}
