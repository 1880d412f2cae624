// Reading the command line into a ScanRequest.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/request.h"

constexpr std::size_t kMessageMax = 511;   // characters of a rejection message
constexpr std::size_t kSwitchTextMax = 255;

// Takes the switches that must act before anything else runs: the trace
// level and log name, the report file (/O=) and the application name (/APP=).
void PreScanArguments(int argc, const char* const* argv);

// Parses every argument after the program name into `request` and checks the
// combinations. False with the reason in `out_message` when rejected. Only
// `request` changes: the library settings the switches ask for are recorded
// in it, also those of the switches read before a rejected one.
bool PrepareRequest(ScanRequest& request, int argc, const char* const* argv,
                    std::string& out_message);

// Applies what a prepared request asks of the library before anything runs:
// its library settings in the order of their switches, then the barcode
// engine. False with the reason in `out_message` when the engine cannot
// serve the request.
bool ApplyRequestSettings(const ScanRequest& request, std::string& out_message);

// The library settings a request's switches can change (LibrarySetting), as
// they stand. A server takes them before its own command line is read, and
// puts them back before each request, so every request starts from what a
// fresh process has, whatever the requests before it asked for.
struct RequestLibrarySettings {
  int append = 0;
  int multipage_format = 0;
  int jpeg_quality = 0;
  std::array<int, 6> tiff_compression{};
  std::array<int, 6> pdf_compression{};
  int pdfa_level = 0;
  std::string pdf_user_password;
  double blank_threshold = 0;
  std::uint16_t language = 0;
};
RequestLibrarySettings TakeRequestLibrarySettings();
void RestoreRequestLibrarySettings(const RequestLibrarySettings& settings);

// What a run does with its command line: PrepareRequest, then the library
// settings of every switch read (also when a later switch was rejected, as
// each switch acts when it is read), then the barcode engine of an accepted
// request.
bool ReadRequest(ScanRequest& request, int argc, const char* const* argv, std::string& out_message);

// For a command line that was refused: when an argument read as a switch
// looks like a path (/scan/inbox/x.tif: "scan" is a switch), the advice to
// put it after "--"; "" otherwise.
std::string SwitchPathHint(int argc, const char* const* argv);

// Parses one switch argument (it begins with "/" or "-").
bool ParseSwitch(ScanRequest& request, std::string_view argument, std::string& out_message);

// Parses the attributes and template of a text stamp: the switch text after
// "TEXT", e.g. ":BOLD:12pt:CENTER=Page $page".
bool ParseTextOption(ScanRequest& request, std::string_view text, std::string& out_message);

// One row of the switch vocabulary, in matching order, as the usage text,
// the manual page and the shell's completion show it.
struct SwitchHelp {
  std::vector<std::string> forms;  // as matched: "ADF", "R=%g", "^O=" (a prefix)
  const char* help;                // one line; nullptr: a further form of the row before
};
std::vector<SwitchHelp> SwitchVocabulary();

// True if `text` (a switch without its slash) names a switch of the
// vocabulary. Nothing is applied.
bool IsKnownSwitch(std::string_view text);
