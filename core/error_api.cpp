// Public operations over the error record.
#include "orivane/errors.h"

#include <cstring>
#include <string>

#include "core/error_record.h"
#include "orivane/twain.h"

using core::error_record;

int TWAIN_LastErrorCode(void) { return error_record().code; }

void TWAIN_GetLastErrorText(char* buffer) {
  if (!buffer) {
    ReportNullString("GetLastErrorText");
    return;
  }
  const std::string& text = error_record().text;
  std::size_t n = std::min<std::size_t>(text.size(), 511);
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
}

void TWAIN_ClearError(void) {
  LogApiCall("ClearError\n");
  core::error_clear();
}

namespace {

// Device failures the user need not see: the device already told them, or
// they cancelled it themselves.
bool is_quiet_device_failure(const core::ErrorRecord& r, const std::string& message) {
  switch (r.code) {
    case 2: case 3: case 4: case 5: case 6: case 9: case 20: case 26: case 27: break;
    default: return false;
  }
  if (r.saved_return_code == TWRC_FAILURE && r.saved_condition_code == TWCC_OPERATIONERROR) {
    LogPrint("TWRC_FAILURE, TWCC_OPERATIONERROR\n");
  } else if (r.saved_return_code == TWRC_CANCEL) {
    LogPrint("TWRC_CANCEL\n");
  } else {
    return false;
  }
  LogPrint("ReportLastError suppressing: %s\n", message.c_str());
  return true;
}

}  // namespace

void TWAIN_ReportLastError(const char* context) {
  LogApiCall("ReportLastError\n");
  LogNest nest;
  const core::ErrorRecord& r = error_record();
  std::string message = context ? std::string(context).substr(0, 256) : std::string();
  if (!message.empty()) message += "\n";
  message += r.text;
  if (message.size() > 511) message.resize(511);
  if (r.code != 0 && !is_quiet_device_failure(r, message)) ErrorBox(message.c_str());
  core::error_clear();
}

void TWAIN_ErrorBox(const char* message) {
  LogApiCall("%s", "");
  ErrorBox(message);
}

void TWAIN_SetNoMessageBoxes(int flag) { error_record().no_message_boxes = flag != 0; }

int TWAIN_SuppressErrorMessages(int flag) {
  int previous = error_record().suppress_messages ? 1 : 0;
  error_record().suppress_messages = flag != 0;
  LogApiCall("SuppressErrorMessages(%d) => %d\n", flag, previous);
  return previous;
}
