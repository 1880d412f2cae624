// A request from outside the program to stop what it is doing (Ctrl-C,
// SIGTERM): the console's cancel. The program's signal thread raises it; the
// library's waits for the device and the front end's page loop watch it and
// end as the waiting window's Cancel button would.
#pragma once

namespace platform {

// Raised by `signal_number` (kept for the report); the first one stays.
void interrupt_raise(int signal_number);
bool interrupt_raised();
// The signal that raised it, 0 when none.
int interrupt_signal();
// Tests only: lowers it again.
void interrupt_clear();

}  // namespace platform
