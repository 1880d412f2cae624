// The review window (CReviewDlg): a page, or the pages of a file, shown
// before it is kept, with buttons to accept, reject or cancel the job, to
// turn, flip, invert and print the page, and to zoom and page through it.
#pragma once
#include <cstdint>

#include "platform/ui.h"

namespace ui {

// Runs the window modally; the caller holds the display lock. Page mode
// (`request.file` empty): works on `*page`, which may come back replaced by
// its turned copy (the old handle freed) or flipped or inverted in place.
// File mode: loads, shows and frees the file's pages itself. Escape and the
// window's close button end it as "Cancel Scan Job" does. `*lost` says the
// display went away before an answer (the result is then Other).
platform::UiReviewEnd run_review_window(const platform::UiReviewRequest& request,
                                        std::uintptr_t* page, bool* lost);

}  // namespace ui
