// The process status of each exit code and reason, the documented table,
// and the help made from the switch table.
#include "app/exit_status.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>

#include "app/options.h"
#include "app/usage.h"
#include "orivane/errors.h"
#include "orivane/twain.h"

namespace {

TEST(ExitStatus, EachCodeAndReasonGetsItsStatus) {
  struct Case {
    int exit_code, error_code, condition_code, status;
  } cases[] = {
      {0, 0, 0, 0},
      {0, ERR_PAPER_JAM, 0, 0},  // a success stays one
      {2, 0, 0, 2},
      {2, ERR_CANCELLED, 0, 2},
      {2, ERR_PAPER_JAM, 0, 211},  // a jam on the first page
      {2, ERR_DS_OPERATION, TWCC_NOMEDIA, 216},
      {-1, 0, 0, 201},
      {-1, ERR_DOUBLE_FEED, 0, 212},
      {-1, ERR_COVER_OPEN, 0, 213},
      {-1, ERR_COMMUNICATION, 0, 214},
      {-1, ERR_DRIVER_FAULT, 0, 215},
      {-2, ERR_PAPER_JAM, 0, 202},  // not an acquisition failure: the code decides
      {-4, 0, 0, 204},
      {-10, 0, 0, 210},
      {-20, 0, 0, 220},
      {-25, 0, 0, 220},
      {-7, 0, 0, 200},
      {3, 0, 0, 200},
      {256, 0, 0, 200},  // would wrap to 0, a success
      {252, ERR_PAPER_JAM, 0, 252},
      {255, 0, 0, 255},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ProcessStatus(c.exit_code, c.error_code, c.condition_code), c.status)
        << c.exit_code << " / " << c.error_code;
}

// Whatever a run ends with, the status is a documented one, and none of them
// is a status a shell gives itself (126 to 165) or wraps.
TEST(ExitStatus, EveryStatusIsDocumentedAndApartFromTheShells) {
  std::set<int> documented;
  int previous = -1;
  for (const ExitStatusRow& row : exit_status_table()) {
    EXPECT_GT(row.status, previous) << "in increasing order, each once";
    EXPECT_TRUE(row.status >= 0 && row.status <= 255) << row.status;
    EXPECT_FALSE(row.status >= 126 && row.status <= 165) << row.status;
    documented.insert(row.status);
    previous = row.status;
  }
  for (int exit_code = -300; exit_code <= 300; ++exit_code)
    for (int error : {0, int{ERR_PAPER_JAM}, int{ERR_CANCELLED}, int{ERR_DRIVER_FAULT}})
      EXPECT_TRUE(documented.count(ProcessStatus(exit_code, error, 0))) << exit_code << " / " << error;
}

TEST(ExitStatus, TheReadmeDocumentsEveryStatus) {
  std::ifstream in(std::string(QUILLET_SOURCE_DIR) + "/README.md");
  std::stringstream readme;
  readme << in.rdbuf();
  ASSERT_FALSE(readme.str().empty());
  for (const ExitStatusRow& row : exit_status_table())
    EXPECT_NE(readme.str().find("| " + std::to_string(row.status) + " | "), std::string::npos) << row.status;
}

// The help is made from the switch table: every switch is in the usage text
// and the manual page, and every word the shell completes is one the parser
// takes.
TEST(Usage, ListsEverySwitchTheParserKnows) {
  const std::string usage = UsageText();
  const std::string man = ManPage();
  for (const SwitchHelp& row : SwitchVocabulary()) {
    if (!row.help) continue;
    const std::string shown = switch_display(row);
    EXPECT_NE(usage.find("  " + shown), std::string::npos) << shown;
    const std::string first = "\\fB" + shown.substr(0, shown.find(','));
    EXPECT_NE(man.find(first), std::string::npos) << first;
  }
  for (std::string word : CompletionWords()) {
    ASSERT_EQ(word[0], '/');
    word.erase(0, 1);
    // A value form is offered up to its "="; the parser needs the value.
    if (word.back() == '=') word += "1";
    if (word == "TEXT") word += ":BOLD";
    EXPECT_TRUE(IsKnownSwitch(word)) << word;
  }
}

}  // namespace
