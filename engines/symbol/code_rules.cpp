// The rules every engine of the module names codes by: directions from
// angles, and Code 39 told from Code 39 Full ASCII.
#include "engines/symbol/symbol_engine.h"

#include <cmath>

#include "orivane/barcode_api.h"

namespace symbol {

int direction_of_degrees(double degrees) {
  double d = std::fmod(degrees, 360.0);
  if (d < 0) d += 360.0;
  const int quarter = int(std::lround(d / 90.0)) % 4;
  static constexpr int kByQuarter[] = {BARCODE_LEFT_TO_RIGHT, BARCODE_TOP_TO_BOTTOM, BARCODE_RIGHT_TO_LEFT,
                                       BARCODE_BOTTOM_TO_TOP};
  return kByQuarter[quarter];
}

namespace {

// The character a Full ASCII pair stands for; 0 for a pair that means
// nothing (NUL, "%U", is refused too: it cannot travel in a C string).
char full_ascii_pair(char shift, char c) {
  if (c < 'A' || c > 'Z') {
    // "/Z" is ':'; "%" with a letter beyond these ranges means nothing.
    return 0;
  }
  const int n = c - 'A';
  switch (shift) {
    case '$': return char(1 + n);                                   // SOH .. SUB
    case '+': return char('a' + n);                                 // a .. z
    case '/':
      if (n <= 14) return char('!' + n);                            // ! .. /
      return c == 'Z' ? ':' : 0;
    case '%': {
      static constexpr char kPercent[] = "\x1b\x1c\x1d\x1e\x1f;<=>?[\\]^_{|}~\x7f" "\0@`\x7f\x7f\x7f";
      return kPercent[n];                                           // %A .. %Z
    }
    default: return 0;
  }
}

bool is_shift(char c) { return c == '$' || c == '%' || c == '/' || c == '+'; }

}  // namespace

bool code39_full_ascii(const std::string& raw, std::string* out_text) {
  std::string text;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (!is_shift(raw[i])) {
      text += raw[i];
      continue;
    }
    if (i + 1 >= raw.size()) return false;
    const char c = full_ascii_pair(raw[i], raw[i + 1]);
    if (c == 0) return false;
    text += c;
    ++i;
  }
  *out_text = text;
  return true;
}

int code39_type(const std::string& raw, int requested, std::string* out_text) {
  const bool plain = (requested & BARCODE_CODE39) != 0;
  const bool full = (requested & BARCODE_CODE39_FULL) != 0;
  std::string decoded;
  if (full && code39_full_ascii(raw, &decoded) && (decoded != raw || !plain)) {
    *out_text = decoded;
    return BARCODE_CODE39_FULL;
  }
  if (!plain) return 0;
  *out_text = raw;
  return BARCODE_CODE39;
}

}  // namespace symbol
