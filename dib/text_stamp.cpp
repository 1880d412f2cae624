// Text stamps: the attribute grammar, the variables, and the page stamp.
#include "dib/text_stamp.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdlib>

#include "orivane/dib_api.h"
#include "platform/paths.h"

namespace dib {
namespace {

constexpr std::size_t kAttributeMax = 255;
constexpr std::size_t kUserMax = 256;
constexpr double kMarginInches = 0.33;
constexpr double kNoResolutionDpi = 72;

bool equal_nocase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
         });
}

struct FlagAttribute {
  const char* name;
  int clear;  // bits cleared first
  int set;    // then set
};

constexpr int kHorizontal = DIB_TEXT_JUSTIFY | DIB_TEXT_CENTER | DIB_TEXT_RIGHT;
constexpr int kVertical = DIB_TEXT_BOTTOM | DIB_TEXT_VCENTER;
constexpr int kStyle = 0xF;

constexpr FlagAttribute kFlagAttributes[] = {
    {"BOLD", 0, DIB_TEXT_BOLD},
    {"B", 0, DIB_TEXT_BOLD},
    {"ITALIC", 0, DIB_TEXT_ITALIC},
    {"UNDERLINE", 0, DIB_TEXT_UNDERLINE},
    {"NORMAL", kStyle, 0},
    {"LEFT", kHorizontal, 0},
    {"RIGHT", kHorizontal, DIB_TEXT_RIGHT},
    {"CENTER", kHorizontal, DIB_TEXT_CENTER},
    {"JUSTIFY", kHorizontal, DIB_TEXT_JUSTIFY},
    {"TOP", kVertical, 0},
    {"VCENTER", kVertical, DIB_TEXT_VCENTER},
    {"VC", kVertical, DIB_TEXT_VCENTER},
    {"BOTTOM", kVertical, DIB_TEXT_BOTTOM},
    {"BOT", kVertical, DIB_TEXT_BOTTOM},
    {"WRAP", 0, DIB_TEXT_WRAP},
};

struct RotationAttribute {
  const char* name;
  int degrees;
};
constexpr RotationAttribute kRotations[] = {{"L90", -90}, {"R90", 90}, {"180", 180}, {"L180", 180}, {"R180", 180}};

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
    const char c = attr[i];
    if (c >= '0' && c <= '9') {
      ++digits;
    } else if (c == '.' && points == 0) {
      ++points;
    } else {
      break;
    }
  }
  const std::string_view unit = attr.substr(i);
  if (digits == 0 || unit.size() != 2 || !std::isalpha(static_cast<unsigned char>(unit[0])) ||
      !std::isalpha(static_cast<unsigned char>(unit[1])))
    return HeightResult::NotAHeight;
  const double number = std::strtod(std::string(attr.substr(0, i)).c_str(), nullptr);
  for (const HeightUnit& u : kHeightUnits) {
    if (equal_nocase(unit, u.name)) {
      *out_inches = number / u.per_inch;
      return HeightResult::Taken;
    }
  }
  return HeightResult::BadUnit;
}

bool apply_attribute(StampStyle& s, std::string_view attr, std::string& out_message) {
  for (const FlagAttribute& f : kFlagAttributes) {
    if (equal_nocase(attr, f.name)) {
      s.flags = (s.flags & ~f.clear) | f.set;
      return true;
    }
  }
  for (const RotationAttribute& rot : kRotations) {
    if (equal_nocase(attr, rot.name)) {
      s.rotation = rot.degrees;
      return true;
    }
  }
  double inches = 0;
  switch (parse_height(attr, &inches)) {
    case HeightResult::Taken: s.height_inches = inches; return true;
    case HeightResult::BadUnit: out_message = "Bad text height units: " + std::string(attr); return false;
    case HeightResult::NotAHeight: break;
  }
  for (const char* font : kFonts) {
    if (equal_nocase(attr, font)) {
      s.font = std::string(attr);
      return true;
    }
  }
  out_message = "Unrecognized text attribute: " + std::string(attr);
  return false;
}

std::string time_text(std::time_t when, bool universal) {
  std::tm parts{};
  if ((universal ? gmtime_r(&when, &parts) : localtime_r(&when, &parts)) == nullptr) return "";
  char out[128];
  const std::size_t n = std::strftime(out, sizeof out, "%c", &parts);
  return std::string(out, n);
}

// Pixels from inches at a resolution, kept inside int.
int to_pixels(double dpi, double inches) {
  return static_cast<int>(std::clamp(dpi * inches + 0.5, 0.0, static_cast<double>(INT_MAX)));
}

}  // namespace

bool stamp_parse(std::string_view text, StampStyle& style, std::string& out_template, std::string& out_message) {
  std::size_t i = 0;
  while (true) {
    if (i >= text.size()) {
      out_template = kStampDefaultTemplate;
      return true;
    }
    if (text[i] == '=') {
      out_template = std::string(text.substr(i + 1));
      return true;
    }
    if (text[i] != ':') {
      out_message = "Text option syntax: " + std::string(text.substr(i));
      return false;
    }
    ++i;
    std::size_t end = text.find_first_of(":=", i);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view attr = text.substr(i, std::min(end - i, kAttributeMax));
    if (attr.empty()) {
      out_message = "Text option attribute: " + std::string(text.substr(i));
      return false;
    }
    if (!apply_attribute(style, attr, out_message)) return false;
    i = end;
  }
}

StampFacts stamp_facts_now(std::string file, int page) {
  StampFacts f;
  f.when = std::time(nullptr);
  f.file = std::move(file);
  f.page = page;
  f.user = platform::user_name();
  if (f.user.size() > kUserMax) f.user.resize(kUserMax);
  return f;
}

std::string stamp_expand(std::string_view text, const StampFacts& facts) {
  // The names start with different letters, so one pass from the left
  // replaces them as the template's order would, without reading a value
  // as part of the template.
  const std::pair<std::string_view, std::string> kVariables[] = {
      {"$date", time_text(facts.when, false)}, {"$utc", time_text(facts.when, true)},
      {"$file", facts.file},                   {"$page", std::to_string(facts.page)},
      {"$user", facts.user.substr(0, kUserMax)}};
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto v = std::find_if(std::begin(kVariables), std::end(kVariables),
                                [&](const auto& var) { return text.substr(i, var.first.size()) == var.first; });
    if (text[i] == '$' && v != std::end(kVariables)) {
      out += v->second;
      i += v->first.size();
    } else {
      out += text[i++];
    }
  }
  return out;
}

int stamp_page(Handle page, const std::string& text, const StampStyle& style) {
  DIB_SetTextAngle(style.rotation);
  DIB_SetTextColor(style.red, style.green, style.blue);
  const double x_dpi = DIB_XResolution(page), y_dpi = DIB_YResolution(page);
  DIB_SetTextHeight(to_pixels(y_dpi < 1 ? kNoResolutionDpi : y_dpi, style.height_inches));
  // The face is set for every stamp: one stamp's face must not carry over
  // to the next stamp that names none.
  DIB_SetTextFace(style.font.c_str());
  DIB_SetTextFlags(style.flags);
  const int left = static_cast<int>(std::clamp(x_dpi * kMarginInches, 0.0, static_cast<double>(INT_MAX / 4)));
  const int top = static_cast<int>(std::clamp(y_dpi * kMarginInches, 0.0, static_cast<double>(INT_MAX / 4)));
  return DIB_DrawText(page, text.c_str(), left, top, DIB_Width(page) - 2 * left, DIB_Height(page) - 2 * top);
}

}  // namespace dib
