// The Source Manager's own trace: one line per event worth knowing when a
// source does not show up or misbehaves (a module that will not load, a
// refused open). Written to the file named by QUILLET_DSM_LOG; nothing when
// that is unset.
#pragma once

namespace dsm {

// Appends one line (a line end is added) to the log file.
void dsm_log(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace dsm
