// The scanning part of a run: the page plan, the loop that acquires pages
// one by one, storing each page, and the error recovery between pages.
#pragma once
#include <cstdint>

#include "app/request.h"

// Opens the device, applies the settings and scans; returns the exit code
// and writes the report lines of the pages and "PagesWritten=".
int ScanPages(ScanRequest& request);

// Acquires one page and stores it: 0 stored; 1 discarded (blank or rejected
// in review); 2 cancelled; -1 acquisition failed; -2 file could not be
// opened; -3 could not be encoded; -4 not written completely; -10 the page
// writer's general failure; other negative values as the writers give them.
int AcquireOne(ScanRequest& request, std::uintptr_t window, int page_index);

// The carbon copy of a stored page: its write's result, 0 when nothing is
// written (single-image formats take the first page only).
int WriteCarbonCopy(const ScanRequest& request, std::uintptr_t image, int page_index);
