// Blank-page judgement. A page is blank when few of its pixels are dark. The
// outer 5 % of each side is left out, since a scanned sheet carries the
// shadow of its edges and the feeder's background there. "Dark" is decided
// per page by the isodata threshold of the measured gray histogram, so a
// light page with faint specks and a page of dark print on gray paper are
// judged alike; 1-bit pages need no threshold: their black pixels are dark.
//
// The measure reads the page once, through the gray histogram. It is a pixel
// count, not a content detector: at 300 dpi a letter page holding one line of
// text measures about 0.25 %, a blank side with dust a thousandth of that.
#include "dib/blank.h"

#include "dib/histogram.h"
#include "dib/page_analysis.h"
#include "dib/row_readers.h"
#include "log/trace.h"

namespace dib {
namespace {

// The part of each side left out: one twentieth.
constexpr int kMarginDivisor = 20;

std::uint64_t dark_count(const Histogram& h, int depth) {
  if (depth == 1) return h[0];
  const int t = isodata_threshold(h);
  std::uint64_t n = 0;
  for (int i = 0; i < t; ++i) n += h[i];
  return n;
}

}  // namespace

std::optional<double> dark_fraction(const DibView& v) {
  const int w = v.width(), h = v.height();
  Region r{w / kMarginDivisor, h / kMarginDivisor, w - w / kMarginDivisor, h - h / kMarginDivisor};
  if (v.depth() < 8) {
    // Whole bytes of packed pixels. The area below keeps these columns even
    // where they run past the width.
    r.left = (r.left / 8) * 8;
    r.right = ((r.right + 7) / 8) * 8;
  }
  const double area = static_cast<double>(r.bottom - r.top) * static_cast<double>(r.right - r.left);
  if (area <= 0) return std::nullopt;
  // A page whose pixels cannot be read is not known to be blank: discarding
  // it would lose a page.
  if (!v.rows_ok() || !RowReader(v).supported()) return std::nullopt;
  return static_cast<double>(dark_count(gray_histogram(v, &r), v.depth())) / area;
}

bool is_blank(const DibView& v, double threshold) {
  const std::optional<double> fraction = dark_fraction(v);
  const bool blank = fraction.has_value() && *fraction < threshold;
  LogDibCall("IsBlank(%0.3f : %0.3f) => %d\n", fraction.value_or(0.0), threshold, blank ? 1 : 0);
  return blank;
}

}  // namespace dib
