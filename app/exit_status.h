// The process's exit status, and why a run failed.
//
// The report's "Exit=" line keeps the run's exit code as the system has
// always written it, negative values included. A process can only return 0
// to 255, and a negative code wrapped there reads as something else (-1 as
// 255, "device could not be opened"), so the process returns a status of
// its own for every code that does not fit: each failure gets a number of
// its own, apart from the positive codes and from the 126-165 a shell uses
// for programs it could not run or that a signal ended. Where one exit code
// covers several failures (-1 "an error during acquisition", or 2 for a
// failure on the first page), the device's reason picks the status.
#pragma once
#include <span>
#include <string>
#include <string_view>

#include "app/report.h"

// One row of the documented table of process statuses.
struct ExitStatusRow {
  int status;
  const char* exit_values;  // the "Exit=" values it stands for, as text
  const char* meaning;
};

// Every status the program can end with, in increasing order.
std::span<const ExitStatusRow> exit_status_table();

// The process status for `exit_code` (the report's "Exit=" value) of a run
// that failed for the reason `error_code` (an ERR_ code of orivane/errors.h,
// 0 when none is known) with the device's condition code `condition_code`
// (TWCC_, 0 when none).
int ProcessStatus(int exit_code, int error_code = 0, int condition_code = 0);

// Why the run failed (FrontEnd::failure): the first failure the front end
// showed. Showing a library error clears the library's record, so the
// report takes the reason from here.
// Notes `message` as the run's failure unless one is noted already, with
// the library's error as it stands.
void note_failure(std::string_view message);
const FailureNote& failure_note();
// A new request starts with no failure noted.
void clear_failure_note();

// Shows `message` with the library's recorded error (TWAIN_ReportLastError)
// and notes it as the run's failure.
void show_library_failure(const char* message);
// Shows `message` in a message box (TWAIN_ErrorBox) and notes it as the
// run's failure.
void show_failure_box(const char* message);

// The reason the report gives for a run that ended with `exit_code` when no
// failure was noted.
const char* default_failure_text(int exit_code);
