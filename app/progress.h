// The batch's progress where a person watches: one line on the terminal,
// written over after each page ("page 12 of 40, 3 blank dropped, 1.2 s/page").
// Nothing at all when standard error is not a terminal, so that scripts and
// logs see only what they always saw.
#pragma once

#include "app/report.h"

// A batch begins: the clock starts. `terminal` overrides the check of
// standard error (tests), -1 checks it.
void progress_begin(int terminal = -1);
// Shows the counts after a page the device delivered.
void progress_page(const BatchCounts& counts);
// Ends the line, so what follows starts on a line of its own.
void progress_end();

// The line for `counts` after `seconds` of scanning (without the carriage
// return and erase that put it in place).
std::string progress_text(const BatchCounts& counts, double seconds);
