// The process-wide language id and its mapping from POSIX locale names.
#include "platform/locale.h"

#include <atomic>
#include <cstdlib>
#include <string>

namespace platform {
namespace {

constexpr std::uint16_t kEnglishUs = 0x0409;

// A language and the id of its default country (what Windows picks when only
// the language is known).
struct LanguageEntry {
  const char* code;
  std::uint16_t id;
};

constexpr LanguageEntry kLanguages[] = {
    {"ar", 0x0401}, {"bg", 0x0402}, {"ca", 0x0403}, {"zh", 0x0804}, {"cs", 0x0405},
    {"da", 0x0406}, {"de", 0x0407}, {"el", 0x0408}, {"en", 0x0409}, {"es", 0x0C0A},
    {"fi", 0x040B}, {"fr", 0x040C}, {"he", 0x040D}, {"iw", 0x040D}, {"hu", 0x040E},
    {"is", 0x040F}, {"it", 0x0410}, {"ja", 0x0411}, {"ko", 0x0412}, {"nl", 0x0413},
    {"nb", 0x0414}, {"nn", 0x0414}, {"no", 0x0414}, {"pl", 0x0415}, {"pt", 0x0416},
    {"ro", 0x0418}, {"ru", 0x0419}, {"hr", 0x041A}, {"sk", 0x041B}, {"sq", 0x041C},
    {"sv", 0x041D}, {"th", 0x041E}, {"tr", 0x041F}, {"ur", 0x0420}, {"id", 0x0421},
    {"in", 0x0421}, {"uk", 0x0422}, {"be", 0x0423}, {"sl", 0x0424}, {"et", 0x0425},
    {"lv", 0x0426}, {"lt", 0x0427}, {"fa", 0x0429}, {"vi", 0x042A}, {"eu", 0x042D},
    {"mk", 0x042F}, {"af", 0x0436}, {"fo", 0x0438}, {"hi", 0x0439}, {"ms", 0x043E},
    {"gl", 0x0456},
};

// Countries whose id differs from the language's default one.
struct RegionalEntry {
  const char* code;
  const char* territory;
  std::uint16_t id;
};

constexpr RegionalEntry kRegional[] = {
    {"de", "CH", 0x0807}, {"de", "AT", 0x0C07}, {"de", "LU", 0x1007}, {"de", "LI", 0x1407},
    {"en", "GB", 0x0809}, {"en", "AU", 0x0C09}, {"en", "CA", 0x1009}, {"en", "NZ", 0x1409},
    {"en", "IE", 0x1809}, {"en", "ZA", 0x1C09}, {"es", "MX", 0x080A}, {"fr", "BE", 0x080C},
    {"fr", "CA", 0x0C0C}, {"fr", "CH", 0x100C}, {"fr", "LU", 0x140C}, {"it", "CH", 0x0810},
    {"nl", "BE", 0x0813}, {"pt", "PT", 0x0816}, {"sv", "FI", 0x081D}, {"zh", "TW", 0x0404},
    {"zh", "HK", 0x0C04}, {"zh", "SG", 0x1004}, {"zh", "MO", 0x1404}, {"ar", "EG", 0x0C01},
};

struct LocaleState {
  std::atomic<std::uint16_t> lang_id;
};

// The first use reads the environment; later changes to it are not followed,
// as the program sets its language once at start.
LocaleState& locale_state() {
  static LocaleState* state = new LocaleState{{locale_from_environment()}};
  return *state;
}

bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
char to_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
char to_upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Splits "ll[_TT][.codeset][@modifier]" (also "ll-TT") into a lower-case
// language and an upper-case territory; false when the language part is not
// two or three letters.
bool split_posix(const char* text, std::string* out_language, std::string* out_territory) {
  std::size_t i = 0;
  while (is_letter(text[i])) out_language->push_back(to_lower(text[i++]));
  if (out_language->size() < 2 || out_language->size() > 3) return false;
  const char end = text[i];
  if (end != '\0' && end != '_' && end != '-' && end != '.' && end != '@') return false;
  if (end == '_' || end == '-') {
    ++i;
    while (is_letter(text[i])) out_territory->push_back(to_upper(text[i++]));
  }
  return true;
}

}  // namespace

std::uint16_t locale_from_posix(const char* text) {
  if (text == nullptr) return 0;
  try {
    std::string language;
    std::string territory;
    if (!split_posix(text, &language, &territory)) return 0;
    for (const RegionalEntry& r : kRegional) {
      if (language == r.code && territory == r.territory) return r.id;
    }
    for (const LanguageEntry& l : kLanguages) {
      if (language == l.code) return l.id;
    }
    return 0;
  } catch (...) {
    return 0;
  }
}

std::uint16_t locale_from_environment() {
  // Only the first non-empty variable counts, as for any POSIX program: a set
  // LC_ALL=C means English even when LANG names another language.
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value == nullptr || value[0] == '\0') continue;
    const std::uint16_t id = locale_from_posix(value);
    return id != 0 ? id : kEnglishUs;
  }
  return kEnglishUs;
}

std::uint16_t locale_get() {
  return locale_state().lang_id.load(std::memory_order_relaxed);
}

bool locale_known(std::uint16_t lang_id) {
  const int primary = locale_primary(lang_id);
  if (primary == 0) return false;
  bool known = false;
  for (const LanguageEntry& l : kLanguages) known = known || locale_primary(l.id) == primary;
  return known;
}

bool locale_set(std::uint16_t lang_id) {
  if (!locale_known(lang_id)) return false;
  locale_state().lang_id.store(lang_id, std::memory_order_relaxed);
  return true;
}

}  // namespace platform
