#include "app/progress.h"

#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/clock.h"
#include "platform/ui.h"

namespace {

struct Progress {
  bool shown = false;     // standard error is a terminal
  bool written = false;   // a line is on the screen, not yet ended
  std::uint32_t start_ms = 0;
};

Progress& progress() {
  static Progress p;
  return p;
}

}  // namespace

std::string progress_text(const BatchCounts& counts, double seconds) {
  char line[160];
  const double per_page = counts.delivered > 0 ? seconds / counts.delivered : 0.0;
  if (counts.asked > 0) {
    std::snprintf(line, sizeof line, "page %d of %d, %d blank dropped, %.1f s/page", counts.delivered,
                  counts.asked, counts.blank_dropped, per_page);
  } else {
    std::snprintf(line, sizeof line, "page %d, %d blank dropped, %.1f s/page", counts.delivered,
                  counts.blank_dropped, per_page);
  }
  return line;
}

void progress_begin(int terminal) {
  Progress& p = progress();
  p.shown = terminal < 0 ? ::isatty(STDERR_FILENO) == 1 : terminal != 0;
  p.written = false;
  p.start_ms = platform::tick_count_ms();
}

void progress_page(const BatchCounts& counts) {
  Progress& p = progress();
  if (!p.shown) return;
  const double seconds = (platform::tick_count_ms() - p.start_ms) / 1000.0;
  // Back to the start of the line, the new text, and the rest of the old
  // line erased.
  const std::string line = "\r" + progress_text(counts, seconds) + "\033[K";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
  p.written = true;
  platform::ui_mark_open_line(true);
}

void progress_end() {
  Progress& p = progress();
  if (p.written) platform::ui_end_open_line();
  p.written = false;
}
