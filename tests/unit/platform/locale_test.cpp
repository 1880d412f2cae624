#include "platform/locale.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace platform {
namespace {

TEST(Locale, PosixNamesMapToLanguageIds) {
  const std::pair<const char*, std::uint16_t> cases[] = {
      {"da_DK.UTF-8", 0x0406}, {"nl_NL", 0x0413}, {"nl_BE", 0x0813}, {"en_US.UTF-8", 0x0409},
      {"en_GB", 0x0809}, {"fr_FR@euro", 0x040C}, {"fr_CA", 0x0C0C}, {"de_DE.UTF-8", 0x0407},
      {"de-CH", 0x0807}, {"DE_de", 0x0407}, {"it_IT", 0x0410}, {"nb_NO.UTF-8", 0x0414},
      {"nn_NO", 0x0414}, {"no", 0x0414}, {"pl_PL", 0x0415}, {"pt_BR", 0x0416}, {"pt", 0x0416},
      {"pt_PT.UTF-8", 0x0816}, {"es_ES", 0x0C0A}, {"sv_SE", 0x041D}, {"fi_FI", 0x040B},
      {"ja_JP.eucJP", 0x0411}, {"zh_CN.GB18030", 0x0804}, {"zh_TW", 0x0404}, {"ko_KR", 0x0412},
      {"ru_RU.KOI8-R", 0x0419}, {"cs_CZ", 0x0405}, {"tr_TR", 0x041F},
      {"de_XX", 0x0407},  // unknown country: the language's default
      {"C", 0}, {"POSIX", 0}, {"C.UTF-8", 0}, {"", 0}, {"xx_YY", 0}, {"english", 0}, {"de1", 0},
  };
  for (const auto& [text, id] : cases) EXPECT_EQ(locale_from_posix(text), id) << '"' << text << '"';
  EXPECT_EQ(locale_from_posix(nullptr), 0);
}

TEST(Locale, FirstNonEmptyVariableDecides) {
  const char* names[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
  std::optional<std::string> saved[3];
  for (int i = 0; i < 3; ++i) {
    if (const char* v = std::getenv(names[i])) saved[i] = v;
  }
  struct Case {
    const char* values[3];
    std::uint16_t id;
  };
  const Case cases[] = {
      {{nullptr, nullptr, nullptr}, 0x0409},
      {{nullptr, nullptr, "de_DE.UTF-8"}, 0x0407},
      {{nullptr, "fr_FR", "de_DE"}, 0x040C},
      {{"nl_NL", "fr_FR", "de_DE"}, 0x0413},
      {{"", "", "sv_SE"}, 0x041D},      // empty counts as unset
      {{"C", nullptr, "de_DE"}, 0x0409},  // a set C wins over LANG
      {{nullptr, "xx_XX", "de_DE"}, 0x0409},
  };
  for (const Case& c : cases) {
    for (int i = 0; i < 3; ++i) {
      if (c.values[i]) ::setenv(names[i], c.values[i], 1); else ::unsetenv(names[i]);
    }
    EXPECT_EQ(locale_from_environment(), c.id) << (c.values[2] ? c.values[2] : "-");
  }
  for (int i = 0; i < 3; ++i) {
    if (saved[i]) ::setenv(names[i], saved[i]->c_str(), 1); else ::unsetenv(names[i]);
  }
}

TEST(Locale, SetAcceptsOnlyKnownPrimaryLanguages) {
  const std::uint16_t original = locale_get();
  const std::pair<std::uint16_t, bool> cases[] = {
      {0x0407, true}, {0x0007, true},  {0x0C0A, true},  {0x0816, true},  {0x041D, true},
      {0x0000, false}, {0x0400, false}, {0x0017, false}, {0x03FF, false},
  };
  for (const auto& [id, accepted] : cases) {
    ASSERT_TRUE(locale_set(0x0409));
    EXPECT_EQ(locale_set(id), accepted) << std::hex << id;
    EXPECT_EQ(locale_get(), accepted ? id : 0x0409) << std::hex << id;
  }
  locale_set(original);
}

}  // namespace
}  // namespace platform
