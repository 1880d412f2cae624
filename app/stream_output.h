// Writing the run's one file to a stream instead of a named file: "-" for
// standard output, or a name that is one (/dev/stdout, /dev/fd/3, a named
// pipe, a terminal). The writers need a file they can seek in and finish
// with a rename, so the run writes into a private folder of its own and the
// finished file is copied to the stream at the end; the folder goes with
// the run. Nothing is ever written under such a name with an extension
// added ("/dev/stdout.tif").
#pragma once
#include <string>

#include "app/request.h"

// Whether `name` (the command line's output name) is a stream.
bool IsStreamTarget(const std::string& name);

// Whether the stream `target` is the program's standard output.
bool StreamIsStandardOutput(const std::string& target);

// Whether the request's pages all go into one file, as a stream takes
// (one page, or one multipage file).
bool WritesOneFile(const ScanRequest& request);

// Before the first page: the private folder, and the request's output name
// moved into it. False (with the failure noted) when it cannot be made.
bool StreamBegin(ScanRequest& request);

// After the run: when `deliver`, the finished file is copied to the stream.
// The private folder is removed either way. 0, or -4 when the stream did
// not take the whole file (a closed pipe, a full disk).
int StreamEnd(const ScanRequest& request, bool deliver);

// The name the report gives for a file written at `path`: the stream's
// name for the file written in its stead, else `path`.
std::string ReportedFileName(const std::string& path);
