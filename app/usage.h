// What the program says about itself the way Linux programs do: -h and
// --help print the usage text, --version the versions; the manual page and
// the shell's completion words come from the same switch table, so none of
// them can drift from what the parser accepts. /HELP keeps its own meaning
// (the help page).
#pragma once
#include <string>
#include <vector>

// The usage text: synopsis, one line per switch, the exit statuses.
std::string UsageText();
// "quillet (Quillet) <version>" and the library's version.
std::string VersionText();
// The manual page quillet.1, in the man macros.
std::string ManPage();
// The words the shell completes a switch to, one per form a person types:
// "/ADF", "/DUPLEX", "/R=" (a form with a value ends with its "=").
std::vector<std::string> CompletionWords();

// The switch as the usage text shows it: "/R=x", "/ADF, /AUTOFEED".
struct SwitchHelp;
std::string switch_display(const SwitchHelp& row);

// Serves -h, --help, --version and the outputs the build and the shell
// completion read (--man, --list-switches) when one of them comes before
// "--": true with the process status in `out_status`, having printed to
// standard output; false when the command line is for a run.
bool RunInfoOption(int argc, const char* const* argv, int* out_status);
