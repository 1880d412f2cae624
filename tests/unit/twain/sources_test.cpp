// Listing, selecting and opening sources through the real Source Manager and
// the virtual scanner; the gates' containment of a driver that crashes.
#include "orivane/twain_sources.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dsm_fixture.h"
#include "orivane/errors.h"
#include "twain/session/identity.h"
#include "twain/session/session.h"

namespace {

using twain_test::DsmTest;

std::vector<std::string> listed_names() {
  std::vector<std::string> names;
  char name[64];
  while (TWAIN_GetNextSourceName(name)) names.push_back(name);
  return names;
}

std::string error_text() {
  char text[512];
  TWAIN_GetLastErrorText(text);
  return text;
}

struct ListCase {
  const char* label;
  std::string config;
  std::vector<std::string> names;
  bool overrun;
};

class SourceList : public DsmTest, public testing::WithParamInterface<ListCase> {};

TEST_P(SourceList, ListsTheDevicesAndLeavesState1) {
  const ListCase& c = GetParam();
  use_devices(c.config);
  ASSERT_EQ(TWAIN_State(), 1);
  ASSERT_EQ(TWAIN_GetSourceList(), 1) << error_text();
  EXPECT_EQ(TWAIN_State(), 1);  // the Source Manager opened for the listing is gone again
  EXPECT_EQ(TWAIN_LastErrorCode(), 0);
  EXPECT_EQ(listed_names(), c.names);
  EXPECT_STREQ(TWAIN_NextSourceName(), "");
  EXPECT_EQ(trace().find("*** twid overrun!") != std::string::npos, c.overrun);
}

INSTANTIATE_TEST_SUITE_P(
    Configs, SourceList,
    testing::Values(
        ListCase{"one", "[device]\nproduct = Virtual Scanner\n", {"Virtual Scanner"}, false},
        ListCase{"two", twain_test::two_devices(), {"Scanner A", "Scanner B"}, false},
        ListCase{"none", "# no devices\n", {}, false},
        ListCase{"overrun",
                 "[device]\nproduct = A Scanner Whose Product Name Is Far Too Long\n"
                 "name_overrun = yes\n",
                 {"A Scanner Whose Product Name Is Fa"},
                 true}),
    [](const testing::TestParamInfo<ListCase>& info) { return std::string(info.param.label); });

TEST_F(DsmTest, ACallersIdentityIsNeverWrittenPastItsEnd) {
  // The Source Manager hands on the bytes an overrunning source wrote past the
  // identity; a caller's TW_IDENTITY has no room for them.
  use_devices("[device]\nproduct = The Virtual Scanner With A Very Long Name\nname_overrun = yes\n");
  ASSERT_EQ(TWAIN_OpenSourceManager(0), 1);
  struct {
    TW_IDENTITY id;
    char guard[8];
  } area{};
  ASSERT_EQ(TWAIN_Mgr(DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &area.id), 1);
  EXPECT_EQ(std::string(area.guard, sizeof area.guard), std::string(sizeof area.guard, '\0'));
  EXPECT_STREQ(area.id.ProductName, "The Virtual Scanner With A Very L");  // ends inside the field
  EXPECT_NE(trace().find("*** twid overrun!"), std::string::npos);
}

TEST_F(DsmTest, DefaultNameLeavesTheStateOrKeepsTheManagerOpen) {
  use_devices(twain_test::two_devices());
  char name[64] = "junk";
  ASSERT_EQ(TWAIN_GetDefaultSourceName(name), 1);
  EXPECT_STREQ(name, "Scanner A");
  EXPECT_EQ(TWAIN_State(), 1);
  EXPECT_STREQ(TWAIN_DefaultSourceName(), "Scanner A");
  EXPECT_EQ(TWAIN_State(), 3);  // left open for what follows
  EXPECT_EQ(TWAIN_GetDefaultSourceName(nullptr), 0);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_NE(boxes_[0].find("TWAIN_GetDefaultSourceName called with null"), std::string::npos);
}

TEST_F(DsmTest, SelectionChoosesTheDefaultAndCancelRecordsNothing) {
  use_devices(twain_test::two_devices());
  ASSERT_EQ(TWAIN_OpenSourceManager(0), 1);
  const bool shares_ui = twain::session().dsm_memory_shared;
  TWAIN_DropToState(1);
  if (!shares_ui) GTEST_SKIP() << "the test program does not export its symbols to the Source Manager";
  answers_ = {platform::UiAnswer::Cancel};
  EXPECT_EQ(TWAIN_SelectImageSource(0), 0);
  EXPECT_EQ(TWAIN_LastErrorCode(), 0);
  EXPECT_TRUE(boxes_.empty());
  EXPECT_EQ(TWAIN_State(), 1);
  // Declining the preselected source and taking the next makes it the default.
  answers_ = {platform::UiAnswer::No, platform::UiAnswer::Yes};
  EXPECT_EQ(TWAIN_SelectImageSource(0), 1);
  EXPECT_EQ(TWAIN_State(), 1);
  char name[64];
  ASSERT_EQ(TWAIN_GetDefaultSourceName(name), 1);
  EXPECT_STREQ(name, "Scanner B");
}

TEST_F(DsmTest, OpeningANameClosesTheOtherSourceFirst) {
  use_devices(twain_test::two_devices());
  ASSERT_EQ(TWAIN_OpenSource("Scanner A"), 1) << error_text();
  EXPECT_EQ(TWAIN_State(), 4);
  EXPECT_STREQ(TWAIN_SourceName(), "Scanner A");
  ASSERT_EQ(TWAIN_OpenSource("Scanner B"), 1) << error_text();
  EXPECT_STREQ(TWAIN_SourceName(), "Scanner B");
  const std::string log = trace();
  const auto other = log.find("* other source open.");
  ASSERT_NE(other, std::string::npos) << log;
  const auto closed = log.find("Mgr(1, DAT_IDENTITY, MSG_CLOSEDS)", other);
  const auto opened = log.find("Mgr(1, DAT_IDENTITY, MSG_OPENDS)", other);
  EXPECT_LT(closed, opened);
  // The same name in other letters keeps the open source.
  ASSERT_EQ(TWAIN_OpenSource("SCANNER b"), 1);
  EXPECT_EQ(trace().find("MSG_CLOSEDS", opened), std::string::npos);
  TW_IDENTITY id{};
  EXPECT_EQ(TWAIN_GetSourceIdentity(&id), 156);
  EXPECT_STREQ(id.ProductName, "Scanner B");
  EXPECT_NE(id.Id, 0u);
}

TEST_F(DsmTest, OpeningFailuresAreRecorded) {
  use_devices(twain_test::two_devices());
  EXPECT_EQ(TWAIN_OpenSource("Scanner C"), 0);
  EXPECT_EQ(TWAIN_LastErrorCode(), ERR_NO_SUCH_DEVICE);
  EXPECT_EQ(error_text(), "No TWAIN device named 'Scanner C'");
  EXPECT_EQ(TWAIN_State(), 3);
  // The default opens from the all-zero identity.
  ASSERT_EQ(TWAIN_OpenSource(""), 1);
  EXPECT_STREQ(TWAIN_SourceName(), "Scanner A");
  ASSERT_EQ(TWAIN_OpenDefaultSource(), 1);
  // Another open source is not the default.
  ASSERT_EQ(TWAIN_OpenSource("Scanner B"), 1);
  EXPECT_EQ(TWAIN_OpenDefaultSource(), 0);
  EXPECT_EQ(TWAIN_LastErrorCode(), ERR_OTHER_DEVICE_OPEN);
}

TEST_F(DsmTest, ACrashInsideOpenLeavesState2AndIsReported) {
  use_devices("[device]\nproduct = Fragile\nfault = opends\n");
  {
    // What the crashed calls had allocated is lost with their frames.
    twain_test::LeaksIgnored lost_with_the_crash;
    EXPECT_EQ(TWAIN_OpenSource("Fragile"), 0);
  }
  EXPECT_EQ(TWAIN_State(), 2);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_NE(boxes_[0].find("A fatal error has occurred inside the TWAIN Manager.\n"
                           "[Exception Code: 0x0000000b]\nTWAIN functions are disabled."),
            std::string::npos)
      << boxes_[0];
  const std::string log = trace();
  EXPECT_NE(log.find("Mgr(1, DAT_IDENTITY, MSG_OPENDS) **oops"), std::string::npos) << log;
  EXPECT_NE(log.find("State: DSM_OPEN -> DSM_LOADED"), std::string::npos);
  EXPECT_EQ(twain::session().nesting, 0);  // the gate is usable again
}

TEST_F(DsmTest, NestedCallsAreRefusedWithoutAnError) {
  ASSERT_EQ(TWAIN_OpenSourceManager(0), 1);
  twain::session().nesting = 1;  // as if a call were in progress
  twain::IdentityArea area;
  EXPECT_EQ(TWAIN_Mgr(DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, area.identity()), 0);
  EXPECT_EQ(twain::session().last_return_code, TWRC_FAILURE);
  twain::session().nesting = 0;
  EXPECT_EQ(TWAIN_LastErrorCode(), 0);
  EXPECT_NE(trace().find("Mgr(1, DAT_IDENTITY, MSG_GETFIRST) nested==1! => FALSE"),
            std::string::npos);
}

TEST_F(DsmTest, StatesGoDownOneStepAtATime) {
  ASSERT_EQ(TWAIN_OpenSource(""), 1);
  struct Step {
    int target, expect_state, result;
  };
  for (const Step& s : {Step{5, 4, 1}, Step{4, 4, 1}, Step{3, 3, 1}, Step{2, 2, 1}, Step{1, 1, 1}}) {
    EXPECT_EQ(TWAIN_DropToState(s.target), s.result) << s.target;
    EXPECT_EQ(TWAIN_State(), s.expect_state) << s.target;
  }
  const std::string log = trace();
  for (const char* change : {"State: PRESESSION -> DSM_LOADED", "State: DSM_LOADED -> DSM_OPEN",
                             "State: DSM_OPEN -> SOURCE_OPEN", "State: SOURCE_OPEN -> DSM_OPEN",
                             "State: DSM_OPEN -> DSM_LOADED", "State: DSM_LOADED -> PRESESSION"})
    EXPECT_NE(log.find(change), std::string::npos) << change;
  EXPECT_EQ(TWAIN_IsDone(), 1);
}

TEST_F(DsmTest, AManagerWithoutEntryPointIsNotTriedTwice) {
  // The virtual scanner is a loadable module without DSM_Entry.
  twain_test::ScopedEnv dsm("QUILLET_DSM_PATH", build_folder() + "/twain/VirtualScanner.ds");
  EXPECT_EQ(TWAIN_IsAvailable(), 0);
  EXPECT_EQ(TWAIN_IsAvailable(), 0);
  EXPECT_EQ(TWAIN_State(), 1);
  EXPECT_EQ(TWAIN_LastErrorCode(), 0);
  const std::string log = trace();
  EXPECT_NE(log.find("** GetProcAddress failed!"), std::string::npos);
  EXPECT_EQ(log.find("First call to TWAIN_IsAvailable()"), log.rfind("First call to TWAIN_IsAvailable()"));
}

}  // namespace
