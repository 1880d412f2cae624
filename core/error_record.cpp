// The error record: code and text of the first failure since the last clear,
// with the TWAIN result folded into the text for device failures.
#include "core/error_record.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>

#include "core/app_identity.h"
#include "core/state_registry.h"
#include "orivane/errors.h"
#include "orivane/twain.h"
#include "platform/ui.h"

namespace core {

namespace {

constexpr std::size_t kErrorTextMax = 511;   // characters, plus terminator
constexpr std::size_t kDetailMax = 299;      // RecordErrorF's area

const std::map<int, const char*>& formats() {
  static const std::map<int, const char*> table = {
      {0, "[no details available]"},
      {1, ""},
      {2, "DAT_CAPABILITY/MSG_GET failed"},
      {3, "Device rejected setting. Note: %s"},
      {4, "TWAIN Source Manager operation failed"},
      {5, "TWAIN operation failed - %s"},
      {6, "Image Transfer failed from %s"},
      {7, ""},
      {8, "Failed to initialize TWAIN Manager."},
      {9, "Unable to open default TWAIN device: '%s'"},
      {10, "Invalid outside State 4: %s"},
      {11, "MSG_GET returned a NULL container handle."},
      {12, "MSG_GET returned an invalid container handle."},
      {13, "Returned container is not valid type."},
      {14, "Returned container has invalid ItemType."},
      {15, "Returned container is empty."},
      {16, "TWAIN device supports none of the requested %s"},
      {17, "ORIVANE function called with invalid window handle. %s"},
      {18, "ORIVANE proxy window create failed."},
      {19, "Operation cancelled by user."},
      {20, "Resolution (DPI) rejected by TWAIN device."},
      {22, "OrvJpeg.DLL not found or failed to load."},
      {23, "Fatal error in TWAIN device driver. %s"},
      {24, "Could not load System TWAIN Manager: '%s'"},
      {25, "No TWAIN device named '%s'"},
      {26, "Unable to open TWAIN device: '%s' (check power and connections.)"},
      {27, "TWAIN device not responding. Check power and connections."},
      {28, "TWAIN image transfer failed (%s)"},
      {29, "Only grayscale and RGB color images can be saved as JPEG files."},
      {30, "JPEG Quality level is outside the 1..100 range."},
      {31, "Internal problem: Bad Dib detected %s"},
      {32, "Not a valid filename: '%s'"},
      {33, "File or folder not found: %s"},
      {34, "Unable to access file '%s'"},
      {35, "Not enough memory or internal error while processing: %s"},
      {36, "JPEG error:%s"},
      {37, "JPEG error:%s"},
      {38, "No pages were written to file."},
      {39, "Cannot write file - '%s' format is not supported"},
      {40, "TIFF I/O failure: Could not load OrvTiff.dll."},
      {41, "TIFF error: %s"},
      {42, "%s"},
      {43, "OrvPdf.dll: %s"},
      {44, "Error converting image for output to GIF: %s."},
      {45, "Error reading file: %s"},
      {46, "Invalid scan region (%s)"},
      {47, "Error writing to file: %s"},
      {48, "No TWAIN device is currently open (%s)"},
      {49, "Error converting image to 1-bit DCX: %s."},
      {50, "Barcode recognition error (%s)"},
      {51, "Cannot read %s - unknown or unsupported format."},
      {52, "Image of wrong type given to %s"},
      {53, "Error while printing"},
      {54, "DCX I/O failure: Could not load OrvDcx.dll."},
      {55, "Invalid container from application. %s"},
      {57, "Invalid Orivane parameter value: %s"},
      {58, "Failure: %s"},
      {59, "DLL not found or could not load: %s"},
      {60, "File Transfer Error: %s"},
      {61, "Multipage output file still open: %s"},
      {62, "Improper shutdown: %s"},
      {63, "This DLL is the wrong version: %s"},
      {64, "OCR: %s"},
      {65, "%s only supported to PDF"},
      {66, "App Title set to two different values: %s"},
      {67, "Can't create folder: %s"},
      {69, "PDF Password not supplied or incorrect (%s)"},
      {70, "Cannot read PDF: Unsupported feature (%s)"},
      {71, "This PDF format is not supported. %s"},
      {72, "Cannot read PDF, looks invalid. (%s)"},
      {73, "Error (de)compressing PDF data. %s"},
      {74, "Not enough pages in last file: %s"},
      {75, "Too many images to handle (%s)"},
      {76, "Paper jam reported by %s"},
      {77, "Double-feed reported by %s"},
      {78, "Communication error with %s"},
      {79, "Cover or door open: %s"},
      {80, "Invalid document handle (HDOC) %s"},
      {81, "Other TWAIN device already open: '%s'"},
      {82, "File in use by another process: %s"},
  };
  return table;
}

// Fills the format's one "%s" with the detail. The formats hold no other
// conversions, so no printf-style formatting of caller text happens here.
std::string fill_format(const char* format, const char* detail) {
  std::string out = format;
  if (std::size_t at = out.find("%s"); at != std::string::npos)
    out.replace(at, 2, detail ? detail : "");
  return out;
}

void cut(std::string& s, std::size_t max) {
  if (s.size() > max) s.resize(max);
}

bool is_twain_related(int code) { return (code >= 2 && code <= 9) || code == 26; }

void show_box(const std::string& text) {
  platform::ui().message_box(app_identity().title, text, platform::UiIcon::Information);
}

DeviceErrorHooks& device_hooks() {
  static DeviceErrorHooks hooks;
  return hooks;
}

}  // namespace

void error_set_device_hooks(const DeviceErrorHooks& hooks) { device_hooks() = hooks; }

const DeviceErrorHooks& error_device_hooks() { return device_hooks(); }

ErrorRecord& error_record() {
  static ErrorRecord record;
  return record;
}

void error_clear() {
  ErrorRecord& r = error_record();
  r.code = 0;
  r.text = "Success - No error.";
}

void error_record_again(const ErrorRecord& earlier) {
  ErrorRecord& r = error_record();
  if (earlier.code == 0 || r.code != 0) return;
  LogPrint("** RecordError again: %s\n", earlier.text.c_str());
  r.code = earlier.code;
  ++r.serial;
  r.text = earlier.text;
}

const char* error_format(int code) {
  auto it = formats().find(code);
  return it == formats().end() ? "" : it->second;
}

void error_reset_for_tests() { error_record() = ErrorRecord{}; }

void error_reset_for_reset_all() {
  error_clear();
  ErrorRecord& r = error_record();
  r.saved_return_code = 0;
  r.saved_condition_code = 0;
  r.suppress_messages = false;
}

void transfer_error_forget() { error_record().transfer_serial = 0; }

void transfer_error_note(std::uint64_t serial_before) {
  ErrorRecord& r = error_record();
  r.transfer_serial = r.serial != serial_before ? r.serial : 0;
}

void transfer_error_clear() {
  const ErrorRecord& r = error_record();
  if (r.code != 0 && r.transfer_serial != 0 && r.serial == r.transfer_serial) error_clear();
}

}  // namespace core

using core::error_record;

void RecordError(int code, const char* detail) {
  std::string text = core::fill_format(core::error_format(code), detail);
  core::cut(text, core::kErrorTextMax);
  LogNewLine();
  LogPrint("** RecordError: %s\n", text.c_str());
  LogFlush();

  core::ErrorRecord& r = error_record();
  if (r.code != 0) return;
  r.code = code;
  ++r.serial;
  if (core::is_twain_related(code)) {
    const core::DeviceErrorHooks& hooks = core::device_hooks();
    const core::DeviceResult result = hooks.last_result ? hooks.last_result() : core::DeviceResult{};
    r.saved_return_code = result.return_code;
    r.saved_condition_code = result.condition_code;
    if (hooks.note) text += hooks.note(result);
    core::cut(text, core::kErrorTextMax);
  }
  r.text = text;
}

void RecordErrorF(int code, const char* format, ...) {
  char detail[core::kDetailMax + 1];
  va_list args;
  va_start(args, format);
  std::vsnprintf(detail, sizeof detail, format, args);
  va_end(args);
  RecordError(code, detail);
}

void ReportUrgentError(int code, const char* detail) {
  LogPrint("ReportUrgentError\n");
  LogNest nest;
  error_record().code = 0;
  RecordError(code, detail);
  ReportErrorUnconditionally();
  core::error_clear();
}

void ReportErrorUnconditionally() {
  LogPrint("ReportErrorUnconditionally\n");
  const core::ErrorRecord& r = error_record();
  if (r.code != 0 && !r.no_message_boxes) core::show_box(r.text);
}

void ErrorBox(const char* message) {
  const core::ErrorRecord& r = error_record();
  const char* text = message ? message : "";
  if (r.suppress_messages || r.no_message_boxes) {
    LogPrint("ErrorBox ** SUPPRESSED **\nMsg: %s\n", text);
    return;
  }
  LogPrint("ErrorBox\nMsg: %s\n", text);
  core::show_box(text);
}

void ReportNullString(const char* operation) {
  char text[512];
  std::snprintf(text, sizeof text, "TWAIN_%s called with null or uninitialized string",
                operation ? operation : "");
  ReportUrgentError(ERR_BAD_PARAMETER, text);
}

namespace {

// The error record: TWAIN_ResetAll clears the error and keeps the no-message-boxes choice.
const bool kErrorRecordRegistered = core::register_state(
    {"core.error_record", [] { core::error_reset_for_tests(); }, [] { core::error_reset_for_reset_all(); },
     core::ResetStage::Last});
// How TWAIN-related errors learn the device's last answer: installed once by
// the TWAIN layer when the program starts.
const bool kDeviceHooksRegistered =
    core::register_state({"core.device_error_hooks", nullptr, nullptr, core::ResetStage::Resource});

}  // namespace
