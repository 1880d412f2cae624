// The process-wide language identifier (a Windows language id: primary
// language in the low 10 bits, sub-language above). It chooses the language of
// the next-page and waiting texts.
#pragma once
#include <cstdint>

namespace platform {

// Current language id. Starts from LC_ALL / LC_MESSAGES / LANG ("de_DE" ->
// German, ...); English (0x0409) when none names a known language.
std::uint16_t locale_get();
// True when the primary language of `lang_id` is one the platform knows.
bool locale_known(std::uint16_t lang_id);
// Sets the language id. False (and unchanged) when the primary language is 0
// or not one the platform knows.
bool locale_set(std::uint16_t lang_id);
// Primary language of an id (low 10 bits).
inline int locale_primary(std::uint16_t lang_id) { return lang_id & 0x3ff; }
// Language id named by a POSIX locale text such as "fr_FR.UTF-8"; 0 if unknown.
std::uint16_t locale_from_posix(const char* text);
// Language id the environment names now (the first non-empty of LC_ALL,
// LC_MESSAGES, LANG); English (0x0409) when that names no known language.
// locale_get() starts from this value.
std::uint16_t locale_from_environment();

}  // namespace platform
