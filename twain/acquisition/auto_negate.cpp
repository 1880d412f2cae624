// Auto-negate: some devices deliver black-and-white pages inverted (white
// text on black) or with a table that maps 0 to white. A real document page
// is mostly paper, so a page above kNegateBlacknessMin black is taken to be
// inverted and turned back. The share is counted through the colour table,
// so it judges what the page looks like, not how its bits are set.
#include "twain/acquisition/post_process.h"

#include "dib/allocate.h"
#include "dib/histogram.h"
#include "dib/negate.h"
#include "log/trace.h"

namespace twain {

double page_blackness(const dib::DibView& page) {
  const double pixels = static_cast<double>(page.width()) * page.height();
  if (pixels <= 0) return 0;
  return dib::gray_histogram(page)[0] / pixels;
}

void auto_negate(const dib::DibView& page) {
  const double blackness = page_blackness(page);
  LogPrint("Blackness: %1.1f%%\n", blackness * 100);
  if (blackness <= kNegateBlacknessMin) return;
  const std::span<dib::Rgbq> table = page.table();
  if (!table.empty() && table[0].green != 0) {
    LogPrint("  Color table => chocolate\n");
    dib::DibView v = page;
    dib::table_fill_gray(v);
  } else {
    LogPrint("  DIB_Negate\n");
    dib::negate(page);
  }
}

}  // namespace twain
