// The loop that acquires a whole document from one enabled device and hands
// each page to a consumer, with the device quirks that decide when a
// document has ended.
#pragma once
#include <cstdint>

#include "orivane/twain_multipage_acquire.h"
#include "platform/window.h"

namespace twain {

// A consumer of the loop's pages. begin runs once, before the first page is
// handed over; page takes ownership of the DIB; end runs once at the end when
// begin succeeded and answers the loop's result when nothing failed before.
struct PageConsumer {
  int (*begin)(intptr_t value) = nullptr;
  int (*page)(std::uintptr_t dib, intptr_t value) = nullptr;
  int (*end)(intptr_t value) = nullptr;
  intptr_t value = 0;
};

struct MultipageLoopState {
  int processed = 0;       // pages handed to the page step
  int blank_discards = 0;  // pages dropped as blank
  TWAIN_PAGE_HOOK hook = nullptr;
  intptr_t hook_value = 0;
};

MultipageLoopState& multipage_loop();
// The loop's counts, its page hook and the to-files state back to their
// start values (library reset, tests).
void multipage_loop_reset();

// Acquires one document: 0, -1, -10 or a consumer's failure code.
int AcquireMultipageLoop(platform::WindowHandle window, const PageConsumer& consumer);

// The to-files state of the per-image and per-N-pages acquisitions.
void to_files_reset();

}  // namespace twain
