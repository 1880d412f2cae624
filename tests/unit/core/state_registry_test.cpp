// The one inventory of process state: the tests' reset and TWAIN_ResetAll
// walk the same list, each doing its own part.
#include "core/state_registry.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "../test_support.h"
#include "orivane/dib_api.h"
#include "orivane/errors.h"
#include "orivane/file_options.h"
#include "orivane/twain_session.h"
#include "orivane/twain_switches.h"
#include "platform/locale.h"

namespace {

struct Case {
  const char* name;
  void (*change)();
  bool (*changed)();
  bool survives_reset_all;
};

const Case kCases[] = {
    {"JPEG quality", [] { TWAIN_SetJpegQuality(33); }, [] { return TWAIN_GetJpegQuality() == 33; }, true},
    {"append flag", [] { TWAIN_SetFileAppendFlag(1); }, [] { return TWAIN_GetFileAppendFlag() == 1; }, true},
    {"image limit", [] { DIB_SetMaxImagePixels(1000); }, [] { return DIB_GetMaxImagePixels() == 1000; }, true},
    {"language", [] { platform::locale_set(0x040c); }, [] { return platform::locale_get() == 0x040c; }, true},
    {"hide UI", [] { TWAIN_SetHideUI(1); }, [] { return TWAIN_GetHideUI() == 1; }, false},
    {"error", [] { RecordError(ERR_MEMORY, "x"); }, [] { return TWAIN_LastErrorCode() == ERR_MEMORY; }, false},
};

TEST(StateRegistry, EachResetDoesItsPartOfEveryState) {
  for (const Case& c : kCases) {
    ResetForTests();
    ASSERT_FALSE(c.changed()) << c.name;
    c.change();
    ASSERT_TRUE(c.changed()) << c.name;
    TWAIN_ResetAll();
    EXPECT_EQ(c.changed(), c.survives_reset_all) << c.name;
    c.change();
    core::reset_states();
    EXPECT_FALSE(c.changed()) << c.name;
  }
}

// A state registered twice would be reset twice in no defined order; a name
// outside the folders would hide where the state lives.
TEST(StateRegistry, NamesAreUniqueAndSayTheirFolder) {
  const std::set<std::string> folders = {"platform", "log", "core", "dib", "fileio", "upload", "print", "engines", "ui", "twain", "app"};
  std::set<std::string> seen;
  for (const core::StateEntry& e : core::registered_states()) {
    const std::string name = e.name;
    EXPECT_TRUE(seen.insert(name).second) << name;
    EXPECT_TRUE(folders.count(name.substr(0, name.find('.')))) << name;
  }
  EXPECT_GE(seen.size(), 30u);
}

}  // namespace
