// Capability calls: the state rule for setting (with the CAP_EXTENDEDCAPS
// override), deducing the item type, and what a get below state 4 does.
#include "orivane/twain_capability.h"

#include <gtest/gtest.h>

#include <string>

#include "dsm_fixture.h"
#include "orivane/errors.h"
#include "orivane/twain_sources.h"
#include "twain/session/session.h"

namespace {

using twain_test::DsmTest;

std::string error_text() {
  char text[512];
  TWAIN_GetLastErrorText(text);
  return text;
}

// Enters a state without the calls that lead there: the rule is checked
// before anything is sent.
void pretend_state(int state) { twain::session().state = state; }

class StateRule : public testing::Test {
 protected:
  void SetUp() override { ResetForTests(); }
  void TearDown() override { ResetForTests(); }
};

TEST_F(StateRule, SettingNeedsState4UnlessExtendedCapsWasSet) {
  struct Case {
    int state;
    bool override_on;
    int error;
    const char* detail;
  };
  const Case cases[] = {
      {1, false, ERR_NO_DEVICE_OPEN, "No TWAIN device is currently open (Setting capability 0x0001 in State 1.)"},
      {3, true, ERR_NO_DEVICE_OPEN, "No TWAIN device is currently open (Setting capability 0x0001 in State 3.)"},
      {4, false, 0, ""},
      {5, false, ERR_STATE4_ONLY, "Invalid outside State 4: Setting capability 0x0001 in State 5."},
      {7, false, ERR_STATE4_ONLY, "Invalid outside State 4: Setting capability 0x0001 in State 7."},
      {5, true, 0, ""},
      {7, true, 0, ""},
  };
  for (const Case& c : cases) {
    TWAIN_ClearError();
    pretend_state(c.state);
    twain::session().extended_caps_override = c.override_on;
    // Without a Source Manager an allowed set fails only at the gate, silently.
    EXPECT_EQ(TWAIN_SetCapOneValue(CAP_XFERCOUNT, TWTY_INT16, 1), 0);
    EXPECT_EQ(TWAIN_LastErrorCode(), c.error) << "state " << c.state;
    if (c.error) {
      EXPECT_EQ(error_text().substr(0, std::string(c.detail).size()), c.detail);
    }
  }
}

TEST_F(StateRule, ExtendedCapsSwitchesTheOverrideUntilTheSourceCloses) {
  pretend_state(4);
  TWAIN_SetCapOneValue(CAP_EXTENDEDCAPS, TWTY_UINT16, ICAP_XRESOLUTION);  // refused: no source
  EXPECT_TRUE(twain::session().extended_caps_override);
  pretend_state(5);
  TWAIN_ClearError();
  TWAIN_SetCapOneValue(CAP_XFERCOUNT, TWTY_INT16, 1);
  EXPECT_EQ(TWAIN_LastErrorCode(), 0);
  pretend_state(4);
  TWAIN_CloseSource();
  EXPECT_FALSE(twain::session().extended_caps_override);
  pretend_state(5);
  TWAIN_SetCapOneValue(CAP_XFERCOUNT, TWTY_INT16, 1);
  EXPECT_EQ(TWAIN_LastErrorCode(), ERR_STATE4_ONLY);
  // Set in state 5 without the override, CAP_EXTENDEDCAPS does not switch it on.
  TWAIN_ClearError();
  TWAIN_SetCapOneValue(CAP_EXTENDEDCAPS, TWTY_UINT16, 1);
  EXPECT_FALSE(twain::session().extended_caps_override);
}

TEST_F(StateRule, BadContainersAndItemTypesAreRefused) {
  pretend_state(4);
  EXPECT_EQ(TWAIN_Set(ICAP_PIXELTYPE, nullptr), 0);
  EXPECT_EQ(TWAIN_LastErrorCode(), ERR_BAD_APP_CONTAINER);
  EXPECT_EQ(error_text(), "Invalid container from application. Set(0x0101)");
  TWAIN_ClearError();
  // A type above BOOL is a programming error, shown urgently and not kept.
  EXPECT_EQ(TWAIN_SetCapOneValue(ICAP_XRESOLUTION, TWTY_FIX32, 1), 0);
  EXPECT_EQ(TWAIN_LastErrorCode(), 0);
}

TEST_F(DsmTest, CustomDataNeedsState4AndAReadableFile) {
  struct Case {
    bool open;
    int (*call)(const char*);
    std::string file;
    int error;
  };
  const std::string missing = dir_ + "/missing/data.bin";
  const Case cases[] = {
      {false, TWAIN_GetCustomDataToFile, dir_ + "/data.bin", ERR_STATE4_ONLY},
      {false, TWAIN_SetCustomDataFromFile, dir_ + "/data.bin", ERR_STATE4_ONLY},
      {true, TWAIN_SetCustomDataFromFile, missing, ERR_FILE_ACCESS},
  };
  for (const Case& c : cases) {
    if (c.open) ASSERT_EQ(TWAIN_OpenSource(""), 1);
    EXPECT_EQ(c.call(c.file.c_str()), 0);
    EXPECT_EQ(TWAIN_LastErrorCode(), c.error) << c.file;
  }
}

TEST_F(DsmTest, AGetBelowState4IsShownAtOnce) {
  ASSERT_EQ(TWAIN_OpenSourceManager(0), 1);
  EXPECT_EQ(TWAIN_Get(ICAP_PIXELTYPE), nullptr);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_NE(boxes_[0].find("MSG_GET\nNo TWAIN device is currently open (MSG_GET)"),
            std::string::npos)
      << boxes_[0];
  EXPECT_EQ(TWAIN_LastErrorCode(), 0);  // shown, then cleared
  EXPECT_EQ(TWAIN_Reset(ICAP_PIXELTYPE), 0);
  EXPECT_EQ(TWAIN_LastErrorCode(), ERR_NO_DEVICE_OPEN);
}

TEST_F(DsmTest, SetCapabilitySendsTheSourcesItemType) {
  ASSERT_EQ(TWAIN_OpenSource(""), 1);
  TWAIN_SetCapability(ICAP_XRESOLUTION, 150.5);
  TWAIN_SetCapability(ICAP_PIXELTYPE, 1.9);
  const std::string log = trace();
  EXPECT_NE(log.find("DS(1,DAT_CAPABILITY,MSG_SET/ICAP_XRESOLUTION)(ONEVALUE(fix32: 150.5))"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("DS(1,DAT_CAPABILITY,MSG_SET/ICAP_PIXELTYPE)(ONEVALUE(uint16: 1))"),
            std::string::npos);
  EXPECT_EQ(TWAIN_GetCurrentUint16(ICAP_PIXELTYPE, -1), TWPT_GRAY);
  EXPECT_EQ(TWAIN_GetCurrentFix32(ICAP_PIXELTYPE, -7), -7);  // not a FIX32: the default
}

TEST_F(DsmTest, SetCapStringWantsATextCapability) {
  ASSERT_EQ(TWAIN_OpenSource(""), 1);
  EXPECT_EQ(TWAIN_SetCapString(ICAP_PIXELTYPE, "GRAY"), 0);
  EXPECT_EQ(TWAIN_LastErrorCode(), ERR_CAP_REJECTED);
  EXPECT_NE(error_text().find("Cap(0x0101) does not want string value"), std::string::npos)
      << error_text();
  TWAIN_ClearError();
  EXPECT_EQ(TWAIN_SetCapability(0x8765, 1), 0);  // a capability the source does not know
  EXPECT_NE(error_text().find("Can't deduce ItemType of cap(0x8765)"), std::string::npos);
}

TEST_F(DsmTest, CapabilityContainersComeBackReadable) {
  ASSERT_EQ(TWAIN_OpenSource(""), 1);
  CONTAINER types = TWAIN_Get(ICAP_PIXELTYPE);
  ASSERT_NE(types, nullptr);
  EXPECT_TRUE(CONTAINER_IsValid(types));
  EXPECT_TRUE(CONTAINER_ContainsValue(types, TWPT_RGB));
  CONTAINER_Free(types);
  CONTAINER dpi = TWAIN_GetCurrent(ICAP_XRESOLUTION);
  ASSERT_NE(dpi, nullptr);
  EXPECT_GT(CONTAINER_CurrentValue(dpi), 0);
  CONTAINER_Free(dpi);
  EXPECT_NE(TWAIN_QuerySupport(ICAP_PIXELTYPE) & TWQC_SET, 0);
  EXPECT_EQ(TWAIN_IsCapAvailable(ICAP_PIXELTYPE), 1);
  EXPECT_EQ(TWAIN_GetCapBool(CAP_DUPLEXENABLED, 7), 0);
  EXPECT_EQ(TWAIN_GetCapBool(0x8765, 7), 7);
}

TEST_F(DsmTest, ExtendedCapsOverrideReachesTheSource) {
  ASSERT_EQ(TWAIN_OpenSource(""), 1);
  CONTAINER caps = CONTAINER_Array(TWTY_UINT16, 1);
  CONTAINER_SetItem(caps, 0, ICAP_XRESOLUTION);
  TWAIN_Set(CAP_EXTENDEDCAPS, caps);
  CONTAINER_Free(caps);
  EXPECT_TRUE(twain::session().extended_caps_override);
  pretend_state(5);
  TWAIN_ClearError();
  TWAIN_SetCapFix32(ICAP_XRESOLUTION, 300);
  EXPECT_NE(TWAIN_LastErrorCode(), ERR_STATE4_ONLY);
  pretend_state(4);
  ASSERT_EQ(TWAIN_CloseSource(), 1);
  ASSERT_EQ(TWAIN_OpenSource(""), 1);
  pretend_state(5);
  EXPECT_EQ(TWAIN_SetCapFix32(ICAP_XRESOLUTION, 300), 0);
  EXPECT_EQ(TWAIN_LastErrorCode(), ERR_STATE4_ONLY);
  pretend_state(4);
}

}  // namespace
