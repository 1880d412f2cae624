// Code 128, code set B: each symbol is 11 modules in three bars and three
// spaces; a symbol's value is its character code minus 32. The symbol
// sequence is start B (104), the data, the check symbol (start value plus
// each data value times its position, modulo 103) and the stop pattern,
// which ends with a two-module bar.
#include <array>
#include <stdexcept>

#include "sources/virtual/pages.h"

namespace vscan {
namespace {

// Bar and space widths of symbols 0..105, bar first.
constexpr std::array<const char*, 106> kPatterns = {
    "212222", "222122", "222221", "121223", "121322", "131222", "122213", "122312", "132212",
    "221213", "221312", "231212", "112232", "122132", "122231", "113222", "123122", "123221",
    "223211", "221132", "221231", "213212", "223112", "312131", "311222", "321122", "321221",
    "312212", "322112", "322211", "212123", "212321", "232121", "111323", "131123", "131321",
    "112313", "132113", "132311", "211313", "231113", "231311", "112133", "112331", "132131",
    "113123", "113321", "133121", "313121", "211331", "231131", "213113", "213311", "213131",
    "311123", "311321", "331121", "312113", "312311", "332111", "314111", "221411", "431111",
    "111224", "111422", "121124", "121421", "141122", "141221", "112214", "112412", "122114",
    "122411", "142112", "142211", "241211", "221114", "413111", "241112", "134111", "111242",
    "121142", "121241", "114212", "124112", "124211", "411212", "421112", "421211", "212141",
    "214121", "412121", "111143", "111341", "131141", "114113", "114311", "411113", "411311",
    "113141", "114131", "311141", "411131", "211412", "211214", "211232"};
constexpr const char* kStop = "2331112";
constexpr int kStartB = 104;

void append_widths(std::vector<bool>& out, const char* widths) {
  bool bar = true;
  for (const char* w = widths; *w != '\0'; ++w, bar = !bar) out.insert(out.end(), *w - '0', bar);
}

}  // namespace

std::vector<bool> code128_modules(const std::string& text) {
  std::vector<bool> out;
  out.reserve((text.size() + 3) * 11 + 2);
  append_widths(out, kPatterns[kStartB]);
  int check = kStartB;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    // Code set B holds the printable characters only; page texts are ours,
    // so anything else is a programming error.
    if (c < 32 || c > 126) throw std::invalid_argument("code128: character outside code set B");
    const int value = c - 32;
    append_widths(out, kPatterns[value]);
    check = (check + value * int((i + 1) % 103)) % 103;
  }
  append_widths(out, kPatterns[check % 103]);  // no data: the start value itself
  append_widths(out, kStop);
  return out;
}

}  // namespace vscan
