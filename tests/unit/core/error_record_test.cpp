// The error record: first error wins, the device's note on TWAIN-related
// codes (through the hooks the TWAIN layer fills in), what is shown.
#include "core/error_record.h"

#include <gtest/gtest.h>

#include <memory>

#include "../test_support.h"
#include "core/app_identity.h"
#include "orivane/errors.h"
#include "orivane/twain.h"
#include "platform/ui.h"

namespace {

// Counts message boxes instead of showing them, and keeps the last caption.
class CountingUi : public platform::UiBackend {
 public:
  explicit CountingUi(int* boxes, std::string* caption) : boxes_(boxes), caption_(caption) {}
  const char* name() const override { return "counting"; }
  void message_box(const std::string& caption, const std::string&, platform::UiIcon) override {
    ++*boxes_;
    *caption_ = caption;
  }
  platform::UiAnswer ask(const std::string&, const std::string&, platform::UiButtons,
                         platform::UiAnswer d) override {
    return d;
  }

 private:
  int* boxes_;
  std::string* caption_;
};

// A stand-in for the TWAIN layer: the device's answer is whatever the test
// set, and the note shows which answer it was given.
core::DeviceResult device_answer;
core::DeviceResult fake_last_result() { return device_answer; }
std::string fake_note(const core::DeviceResult& r) {
  return " [" + std::to_string(r.return_code) + "/" + std::to_string(r.condition_code) + "]";
}

class ErrorRecordTest : public testing::Test {
 protected:
  void SetUp() override {
    ResetForTests();
    platform::ui_install(std::make_unique<CountingUi>(&boxes, &caption));
    installed = core::error_device_hooks();
    core::error_set_device_hooks({fake_last_result, fake_note});
  }
  void TearDown() override {
    core::error_set_device_hooks(installed);
    platform::ui_install(nullptr);
  }
  std::string text() {
    char buf[512];
    TWAIN_GetLastErrorText(buf);
    return buf;
  }
  void last_result(int rc, int cc) { device_answer = {rc, cc}; }
  int boxes = 0;
  std::string caption;
  core::DeviceErrorHooks installed;
};

TEST_F(ErrorRecordTest, FirstErrorWins) {
  RecordError(ERR_FILE_WRITE, "a.tif");
  RecordError(ERR_NOT_FOUND, "b.tif");
  EXPECT_EQ(TWAIN_LastErrorCode(), ERR_FILE_WRITE);
  EXPECT_EQ(text(), "Error writing to file: a.tif");
  TWAIN_ClearError();
  EXPECT_EQ(TWAIN_LastErrorCode(), 0);
  EXPECT_EQ(text(), "Success - No error.");
}

TEST_F(ErrorRecordTest, TwainRelatedCodesKeepTheDevicesAnswer) {
  struct Case {
    int code;
    bool hooked;
    const char* expected;
    int saved_rc;
  } cases[] = {
      {ERR_CAP_GET, true, "DAT_CAPABILITY/MSG_GET failed [7/9]", 7},
      {ERR_DS_OPERATION, true, "TWAIN operation failed - x [7/9]", 7},
      {ERR_OPEN_DEFAULT, true, "Unable to open default TWAIN device: 'x' [7/9]", 7},
      {ERR_OPEN_DEVICE, true, "Unable to open TWAIN device: 'x' (check power and connections.) [7/9]", 7},
      {ERR_STATE4_ONLY, true, "Invalid outside State 4: x", 0},
      {ERR_NO_SUCH_DEVICE, true, "No TWAIN device named 'x'", 0},
      {ERR_NOT_RESPONDING, true, "TWAIN device not responding. Check power and connections.", 0},
      // Without the TWAIN layer: no result to keep, no note.
      {ERR_DS_OPERATION, false, "TWAIN operation failed - x", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    core::error_reset_for_tests();
    core::error_set_device_hooks(c.hooked ? core::DeviceErrorHooks{fake_last_result, fake_note}
                                          : core::DeviceErrorHooks{});
    last_result(7, 9);
    RecordError(c.code, "x");
    EXPECT_EQ(text(), c.expected);
    EXPECT_EQ(core::error_record().saved_return_code, c.saved_rc);
  }
}

TEST_F(ErrorRecordTest, BoxesAreCaptionedWithTheApplicationTitle) {
  ErrorBox("one");
  EXPECT_EQ(caption, "Application");
  core::app_identity().title = "Scanner Front";
  ReportUrgentError(ERR_FILE_WRITE, "a");
  EXPECT_EQ(caption, "Scanner Front");
  EXPECT_EQ(boxes, 2);
}

TEST_F(ErrorRecordTest, LongDetailsAreCut) {
  RecordError(ERR_TEXT, std::string(2000, 'x').c_str());
  EXPECT_EQ(text().size(), 511u);
  core::error_reset_for_tests();
  RecordErrorF(ERR_TEXT, "%s", std::string(2000, 'y').c_str());
  EXPECT_EQ(text().size(), 299u);
}

TEST_F(ErrorRecordTest, ReportLastErrorShowsOrSuppresses) {
  TWAIN_ReportLastError("nothing");
  EXPECT_EQ(boxes, 0);
  EXPECT_EQ(text(), "Success - No error.");

  last_result(TWRC_FAILURE, TWCC_OPERATIONERROR);
  RecordError(ERR_CAP_REJECTED, "x");
  TWAIN_ReportLastError(nullptr);
  EXPECT_EQ(boxes, 0) << "the device already told the user";
  EXPECT_EQ(TWAIN_LastErrorCode(), 0);

  last_result(TWRC_CANCEL, 0);
  RecordError(ERR_OPEN_DEVICE, "x");
  TWAIN_ReportLastError(nullptr);
  EXPECT_EQ(boxes, 0);

  RecordError(ERR_FILE_WRITE, "x");
  TWAIN_ReportLastError("ctx");
  EXPECT_EQ(boxes, 1);

  TWAIN_SuppressErrorMessages(1);
  RecordError(ERR_FILE_WRITE, "x");
  TWAIN_ReportLastError(nullptr);
  EXPECT_EQ(boxes, 1);
  TWAIN_GetLastErrorText(nullptr);  // urgent: shown even while suppressed
  EXPECT_EQ(boxes, 2);
  TWAIN_SetNoMessageBoxes(1);
  TWAIN_GetLastErrorText(nullptr);
  EXPECT_EQ(boxes, 2);
}

TEST_F(ErrorRecordTest, UrgentErrorReplacesThenClears) {
  RecordError(ERR_FILE_WRITE, "a");
  ReportUrgentError(ERR_BAD_PARAMETER, "b");
  EXPECT_EQ(boxes, 1);
  EXPECT_EQ(TWAIN_LastErrorCode(), 0);
}

}  // namespace
