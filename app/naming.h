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
