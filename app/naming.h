// Output file names: the format and extension a name implies, date, time and
// user fields, and the page number inside the name.
#pragma once
#include <string>

#include "app/request.h"

// Replaces each "{...}" group of time fields ({D} date, {T} time, {u} user,
// other letters as the C time formatter's) by its value. True if at least one
// group was replaced.
bool ExpandNameTemplate(std::string& name);

// Derives the file format, output extension and number position from the
// request's output file name (appending the format's extension when the name
// has none).
void DeriveOutputName(ScanRequest& request);

// Advances the number before the extension: scan007.tif -> scan008.tif,
// scan.tif -> scan1.tif.
void IncrementFileName(ScanRequest& request);

// The full path of a page: the output name resolved against the start folder
// (an absolute name stays as it is). Traced.
std::string PageFullPath(const std::string& output_name, const std::string& start_folder);

// With auto-increment on, advances the name past every file that exists.
void SkipExistingNames(ScanRequest& request);

// The carbon copy's path for an output name: the copy's folder, base name
// ("*" or empty: the output's) and its own extension.
std::string CarbonCopyPath(const std::string& copy_path, const std::string& output_name);
