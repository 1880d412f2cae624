// The process's exit status and the run's failure note.
#include "app/exit_status.h"

#include "app/report.h"
#include "core/error_record.h"
#include "orivane/errors.h"
#include "orivane/twain.h"

namespace {

// Statuses of the failures whose exit code does not fit a process status.
// 201 to 210 are 200 plus the size of the negative code they stand for; the
// device's reasons follow; all of them stay below the server's 221.
constexpr int kOtherFailure = 200;
constexpr int kNegativeBase = 200;
constexpr int kPaperJam = 211;
constexpr int kDoubleFeed = 212;
constexpr int kCoverOpen = 213;
constexpr int kDeviceOffline = 214;
constexpr int kDriverCrashed = 215;
constexpr int kNoPaper = 216;
constexpr int kCodecFailure = 220;
// Below this, an exit code is a codec module's own failure code.
constexpr int kLowestLibraryCode = -10;

constexpr ExitStatusRow kTable[] = {
    {0, "0", "success; also /HELP, /V, /ENUM, /KEEPWARM, scanning suppressed"},
    {1, "1", "start-up failed, or the finished file was discarded in the file review"},
    {2, "2", "the scan was cancelled (in the device, in the review, or a blank only page)"},
    {200, "other", "an exit code not listed here (the report's Exit= line has it)"},
    {201, "-1", "an error during acquisition, or the multipage file could not be completed"},
    {202, "-2", "a page file could not be opened (path, name or access)"},
    {203, "-3", "a page could not be encoded (invalid image or format error)"},
    {204, "-4", "a page file could not be written completely (disk full)"},
    {205, "-5", "a page could not be converted for its format"},
    {206, "-6", "the multipage file was in the wrong state"},
    {210, "-10", "the page writer failed"},
    {211, "-1 or 2", "paper jam"},
    {212, "-1 or 2", "double feed"},
    {213, "-1 or 2", "cover open"},
    {214, "-1 or 2", "the device is off line or does not respond"},
    {215, "-1 or 2", "the device's driver crashed"},
    {216, "-1 or 2", "no paper in the feeder"},
    {220, "-20 and below", "a codec module could not write the file"},
    {221, "221", "the server's socket could not be created"},
    {251, "251", "the command line was rejected"},
    {252, "252", "a requested setting could not be applied"},
    {255, "255", "the device could not be opened, selected or listed"},
};

// The status of an acquisition failure by the device's reason; 0 when the
// reason is none of the device's own.
int device_reason_status(int error_code, int condition_code) {
  switch (error_code) {
    case ERR_PAPER_JAM: return kPaperJam;
    case ERR_DOUBLE_FEED: return kDoubleFeed;
    case ERR_COVER_OPEN: return kCoverOpen;
    case ERR_COMMUNICATION:
    case ERR_NOT_RESPONDING: return kDeviceOffline;
    case ERR_DRIVER_FAULT: return kDriverCrashed;
    default: break;
  }
  // An empty feeder is no transfer failure: the device refuses to start.
  return condition_code == TWCC_NOMEDIA ? kNoPaper : 0;
}

bool is_listed(int exit_code) {
  switch (exit_code) {
    case 0: case 1: case 2: case 221: case 251: case 252: case 255: return true;
    default: return false;
  }
}

FailureNote& note() { return front_end().failure; }

}  // namespace

std::span<const ExitStatusRow> exit_status_table() { return kTable; }

int ProcessStatus(int exit_code, int error_code, int condition_code) {
  if (exit_code == -1 || exit_code == 2) {
    if (const int device = device_reason_status(error_code, condition_code)) return device;
  }
  if (is_listed(exit_code)) return exit_code;
  switch (exit_code) {
    case -1: case -2: case -3: case -4: case -5: case -6: case -10: return kNegativeBase - exit_code;
    default: break;
  }
  return exit_code < kLowestLibraryCode ? kCodecFailure : kOtherFailure;
}

void note_failure(std::string_view message) {
  FailureNote& n = note();
  if (!n.message.empty()) return;
  const core::ErrorRecord& r = core::error_record();
  n.message = std::string(message);
  n.error_code = r.code;
  n.condition_code = r.code != 0 ? r.saved_condition_code : 0;
}

const FailureNote& failure_note() { return note(); }

void clear_failure_note() { note() = FailureNote{}; }

void show_library_failure(const char* message) {
  // What the user is shown: the message, then the library's account; with
  // nothing recorded nothing is shown, and the exit code tells the rest.
  const core::ErrorRecord& r = core::error_record();
  if (r.code != 0) note_failure((message && *message ? std::string(message) + " " : std::string()) + r.text);
  TWAIN_ReportLastError(message);
}

void show_failure_box(const char* message) {
  note_failure(message ? message : "");
  TWAIN_ErrorBox(message);
}

const char* default_failure_text(int exit_code) {
  switch (exit_code) {
    case 1: return "The file was discarded in the file review";
    case 2: return "Scan cancelled";
    case 252: return "A requested setting could not be applied";
    case 255: return "The device could not be opened";
    case -2: return "File open failed (invalid path or name, or access denied)";
    case -3: return "File write failed: invalid image or format error.";
    case -4: return "File write failed, possibly output device is full";
    default: return "Error during Acquire";
  }
}
