// Reading the command line into a ScanRequest.
#pragma once
#include <string>
#include <string_view>

#include "app/request.h"

constexpr std::size_t kMessageMax = 511;   // characters of a rejection message
constexpr std::size_t kSwitchTextMax = 255;

// Takes the switches that must act before anything else runs: the trace
// level and log name, the report file (/O=) and the application name (/APP=).
void PreScanArguments(int argc, const char* const* argv);

// Parses every argument after the program name into `request` and checks the
// combinations. False with the reason in `out_message` when rejected.
bool PrepareRequest(ScanRequest& request, int argc, const char* const* argv,
                    std::string& out_message);

// Parses one switch argument (it begins with "/" or "-").
bool ParseSwitch(ScanRequest& request, std::string_view argument, std::string& out_message);

// Parses the attributes and template of a text stamp: the switch text after
// "TEXT", e.g. ":BOLD:12pt:CENTER=Page $page".
bool ParseTextOption(ScanRequest& request, std::string_view text, std::string& out_message);

// True if `text` (a switch without its slash) names a switch of the
// vocabulary. Nothing is applied.
bool IsKnownSwitch(std::string_view text);
