// The application object and the program's start-up and shut-down order.
#pragma once
#include <string>

class CQuilletApp {
 public:
  // Registers the program with TWAIN, creates the hidden main window that owns
  // the TWAIN dialogs and notes the start folder. Non-zero on success.
  int InitInstance();
  // Releases what InitInstance made.
  void ExitInstance();
};

// Runs the whole program over its argument vector; returns the exit code.
int QuilletMain(int argc, const char* const* argv);

// The command line as one text: the arguments joined by blanks, quoted
// (command_line_quote) so that SplitCommandLine gives back `argv` exactly;
// the program name only in plain double quotes when it holds a blank.
std::string raw_command_line(int argc, const char* const* argv);

// Installs the handler that unloads the Source Manager when the process is
// interrupted or terminated, then lets the signal end the process.
void install_console_control_handler();
