// The TWAIN side of the error record: the note the session's last result puts
// on TWAIN-related errors, and the account of a failed transfer.
#include "twain/session/error_note.h"

#include <gtest/gtest.h>

#include "../test_support.h"
#include "orivane/errors.h"
#include "orivane/twain.h"
#include "twain/session/gate.h"
#include "twain/session/session.h"

namespace {

class ErrorNoteTest : public testing::Test {
 protected:
  void SetUp() override { ResetForTests(); }
  std::string text() {
    char buf[512];
    TWAIN_GetLastErrorText(buf);
    return buf;
  }
  void last_result(int rc, int cc) {
    twain::session().last_return_code = rc;
    twain::session().last_condition_code = cc;
  }
};

TEST_F(ErrorNoteTest, TwainNotes) {
  struct Case {
    int code;
    int rc, cc;
    const char* expected;
  } cases[] = {
      {ERR_CAP_REJECTED, TWRC_CHECKSTATUS, 0,
       "Device rejected setting. Note: ICAP_GAMMA (Exact value not supported, using nearest value)"},
      {ERR_CAP_REJECTED, TWRC_FAILURE, TWCC_BADVALUE, "Device rejected setting. Note: ICAP_GAMMA (Not a valid value)"},
      {ERR_CAP_REJECTED, TWRC_FAILURE, TWCC_BADCAP, "Device rejected setting. Note: ICAP_GAMMA (Feature not supported)"},
      {ERR_CAP_REJECTED, TWRC_FAILURE, TWCC_OPERATIONERROR, "Device rejected setting. Note: ICAP_GAMMA"},
      {ERR_CAP_REJECTED, TWRC_FAILURE, TWCC_SEQERROR, "Device rejected setting. Note: ICAP_GAMMA (TWCC_SEQERROR)"},
      {ERR_CAP_REJECTED, TWRC_FAILURE, 0, "Device rejected setting. Note: ICAP_GAMMA (TWRC_FAILURE, TWCC_SUCCESS)"},
      {ERR_CAP_REJECTED, 42, 31, "Device rejected setting. Note: ICAP_GAMMA (TWRC_ RC=42??, *****CC:0x001f)"},
      {ERR_NO_DEVICE_OPEN, TWRC_FAILURE, TWCC_BADVALUE, "No TWAIN device is currently open (ICAP_GAMMA)"},
      {ERR_OPEN_DEVICE, TWRC_FAILURE, TWCC_NODS,
       "Unable to open TWAIN device: 'ICAP_GAMMA' (check power and connections.) (TWCC_NODS)"},
  };
  for (const Case& c : cases) {
    core::error_reset_for_tests();
    last_result(c.rc, c.cc);
    RecordError(c.code, "ICAP_GAMMA");
    EXPECT_EQ(text(), c.expected);
  }
}

TEST_F(ErrorNoteTest, TransferFailureNamesTheCause) {
  struct Case {
    int rc, cc, code;
  } cases[] = {{TWRC_CANCEL, 0, ERR_CANCELLED},
               {TWRC_FAILURE, TWCC_PAPERJAM, ERR_PAPER_JAM},
               {TWRC_FAILURE, TWCC_PAPERDOUBLEFEED, ERR_DOUBLE_FEED},
               {TWRC_FAILURE, TWCC_CHECKDEVICEONLINE, ERR_COMMUNICATION},
               {TWRC_FAILURE, TWCC_INTERLOCK, ERR_COVER_OPEN},
               {TWRC_FAILURE, TWCC_BUMMER, ERR_XFER_FAILED}};
  twain::session().source_product = "Virtual Scanner";
  for (const Case& c : cases) {
    core::error_reset_for_tests();
    last_result(c.rc, c.cc);
    ReportTransferFailure();
    EXPECT_EQ(TWAIN_LastErrorCode(), c.code);
  }
  EXPECT_EQ(text(), "Image Transfer failed from Virtual Scanner (TWCC_BUMMER)");
}

TEST_F(ErrorNoteTest, ATransferFailureTakesThePlaceOfItsOwnCallsErrorOnly) {
  // The gate records a failed transfer call as a plain device error; the
  // classified failure replaces that error, and never one recorded earlier.
  struct Case {
    bool earlier_error;
    int code;
    const char* text_start;
  } cases[] = {{false, ERR_PAPER_JAM, "Paper jam reported by Virtual Scanner"},
               {true, ERR_DS_OPERATION, "TWAIN operation failed - SetCustomData"}};
  twain::session().source_product = "Virtual Scanner";
  for (const Case& c : cases) {
    for (unsigned dat : {DAT_IMAGENATIVEXFER, DAT_IMAGEFILEXFER, DAT_IMAGEMEMXFER}) {
      SCOPED_TRACE(std::to_string(dat) + (c.earlier_error ? " with an earlier error" : ""));
      core::error_reset_for_tests();
      if (c.earlier_error) RecordError(ERR_DS_OPERATION, "SetCustomData");
      last_result(TWRC_FAILURE, TWCC_PAPERJAM);
      TW_HANDLE handle = nullptr;
      EXPECT_EQ(twain::ds_apply_rules(DG_IMAGE, dat, MSG_GET, &handle, TWRC_FAILURE), 0);
      ReportTransferFailure();
      EXPECT_EQ(TWAIN_LastErrorCode(), c.code);
      EXPECT_EQ(text().rfind(c.text_start, 0), 0u) << text();
    }
  }
}

}  // namespace
