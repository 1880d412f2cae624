// The library's one error record and the rules for showing errors. Every
// subsystem records its failures here; the first error stays until cleared.
#pragma once
#include <cstdint>
#include <string>

#include "log/trace.h"

// Records `code` with `detail` formatted into the code's message. Always
// traced; kept only when no error is recorded yet. TWAIN-related codes (2-9,
// 26) also keep the last TWAIN return and condition codes and get a note.
void RecordError(int code, const char* detail);
// As RecordError with the detail formatted (at most 299 characters).
void RecordErrorF(int code, const char* format, ...) ORV_PRINTF(2, 3);
// Records over any earlier error, shows it even when error messages are
// suppressed (only the no-message-boxes flag stops it), then clears it.
void ReportUrgentError(int code, const char* detail);
// Shows the recorded error if there is one (no-message-boxes flag aside).
void ReportErrorUnconditionally();
// Shows a message box captioned with the application title, or only traces
// it while error messages or message boxes are suppressed.
void ErrorBox(const char* message);
// "TWAIN_<operation> called with null or uninitialized string", urgently.
void ReportNullString(const char* operation);

namespace core {

struct ErrorRecord {
  int code = 0;
  // Counts the errors kept since the library started (each kept error gets
  // the next number), so that an error can be told from an older one with
  // the same code.
  std::uint64_t serial = 0;
  // The serial of the error the gate recorded for the failed transfer call
  // of the transfer under way; 0 when that call recorded none.
  std::uint64_t transfer_serial = 0;
  std::string text;            // at most 511 characters
  int saved_return_code = 0;
  int saved_condition_code = 0;
  bool suppress_messages = false;
  bool no_message_boxes = false;
};

ErrorRecord& error_record();
void error_clear();
// Puts an error taken earlier from the record back, when nothing is recorded
// now (traced): a later step that clears the record (a file write does)
// must not hide the failure of a step it went on past.
void error_record_again(const ErrorRecord& earlier);
// The message format of a code ("" for codes the system does not use).
const char* error_format(int code);
void error_reset_for_tests();
// TWAIN_ResetAll's part: the error, the saved TWAIN codes and the suppression
// of messages go; the no-message-boxes choice stays.
void error_reset_for_reset_all();

// A transfer begins: no error belongs to it yet.
void transfer_error_forget();
// The gate notes that the error kept since `serial_before` (if any) is the
// one a failed transfer call recorded.
void transfer_error_note(std::uint64_t serial_before);
// Clears the record when it still holds the error the failed transfer call
// recorded, so that a more precise account of the failure can take its place.
void transfer_error_clear();

// What a TWAIN device last answered.
struct DeviceResult {
  int return_code = 0;     // TWRC_
  int condition_code = 0;  // TWCC_
};

// The error record lies below the TWAIN layer, yet a TWAIN-related error
// keeps what the device last answered and tells it in a note. The TWAIN layer
// installs these hooks as the library starts; a program without it records
// such errors with a zero result and no note.
struct DeviceErrorHooks {
  DeviceResult (*last_result)() = nullptr;
  // The note appended to the error's text, e.g. " (Not a valid value)"; "" for none.
  std::string (*note)(const DeviceResult& result) = nullptr;
};
// Replaces the hooks; a null member is skipped. The previous ones are
// readable through error_device_hooks (tests put them back).
void error_set_device_hooks(const DeviceErrorHooks& hooks);
const DeviceErrorHooks& error_device_hooks();

}  // namespace core
