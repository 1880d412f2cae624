// The TWAIN side of the error record. The record itself lives in core/, below
// this layer, and reaches the session's last result and the condition code
// names only through the hooks installed here.
#include "twain/session/error_note.h"

#include "orivane/errors.h"
#include "orivane/twain.h"
#include "twain/session/constant_names.h"
#include "twain/session/session.h"

namespace twain {

namespace {

core::DeviceResult session_last_result() {
  const Session& s = session();
  return {s.last_return_code, s.last_condition_code};
}

}  // namespace

std::string device_error_note(const core::DeviceResult& result) {
  const int rc = result.return_code, cc = result.condition_code;
  if (rc == TWRC_FAILURE) {
    if (cc == TWCC_OPERATIONERROR) return "";
    if (cc == TWCC_BADCAP) return " (Feature not supported)";
    if (cc == TWCC_BADVALUE) return " (Not a valid value)";
    if (cc != 0) return " (" + condition_code_name(cc) + ")";
    return " (" + return_code_name(rc) + ", " + condition_code_name(cc) + ")";
  }
  if (rc == TWRC_CHECKSTATUS) return " (Exact value not supported, using nearest value)";
  return " (" + return_code_name(rc) + ", " + condition_code_name(cc) + ")";
}

core::DeviceErrorHooks device_error_hooks() { return {session_last_result, device_error_note}; }

}  // namespace twain

void ReportTransferFailure() {
  const twain::Session& s = twain::session();
  // The gate may have recorded the failed transfer call as a plain device
  // error; the classified failure (paper jam, double feed, cover open...)
  // says more and is what callers act on, so it takes that error's place.
  // An error recorded before this transfer is not this failure's to replace.
  core::transfer_error_clear();
  if (s.last_return_code == TWRC_CANCEL) {
    RecordError(ERR_CANCELLED, nullptr);
    return;
  }
  int code = ERR_XFER_FAILED;
  switch (s.last_condition_code) {
    case TWCC_PAPERJAM: code = ERR_PAPER_JAM; break;
    case TWCC_PAPERDOUBLEFEED: code = ERR_DOUBLE_FEED; break;
    case TWCC_CHECKDEVICEONLINE: code = ERR_COMMUNICATION; break;
    case TWCC_INTERLOCK: code = ERR_COVER_OPEN; break;
    default: break;
  }
  RecordError(code, s.source_product.c_str());
}
