// Automatic crop: where the document lies on a scanned page.
//
// Rows of pure white or pure black at the bottom are the feeder running on
// after the sheet and are trimmed first; a page with nothing else has nothing
// to crop. Plain pages are then measured by the edge search (crop_edges.cpp)
// along both directions. Cheque mode first cuts away dark bands above and
// below the cheque (the ends of a feeder's dark throat), keeping their
// height as the offset of the rows found later, and hands the rest to the
// cheque search (cheque_search.cpp), which knows the size to look for.
#include "dib/autocrop.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

#include "core/error_record.h"
#include "core/state_registry.h"
#include "dib/cheque_search.h"
#include "dib/crop.h"
#include "dib/crop_edges.h"
#include "dib/page_analysis.h"
#include "dib/row_readers.h"
#include "log/trace.h"
#include "orivane/errors.h"

namespace dib {
namespace {

constexpr int kAllOptions = kCropDark | kCropLight | kCropEdge;
constexpr int kChequeOptions = kCropCheque | kCropChequeBack;
constexpr int kDarkRowLevel = 20;  // a row averaging below this is dark band
constexpr CropSizeInches kChequeSizes{5.71, 9.0, 2.21, 4.5};
constexpr CropSizeInches kAnySize{0.0, 999999.99, 0.0, 999999.99};

// The sum of the gray levels of each row, read when first asked for: the
// trimming steps usually stop after a row or two.
class RowSums {
 public:
  explicit RowSums(const RowReader& reader)
      : reader_(reader), buf_(static_cast<std::size_t>(reader.width()) + 4),
        sums_(static_cast<std::size_t>(reader.height())) {}

  std::uint64_t operator[](int y) {
    std::optional<std::uint64_t>& s = sums_[y];
    if (!s) {
      reader_.gray(y, buf_.data());
      std::uint64_t sum = 0;
      for (int x = 0; x < reader_.width(); ++x) sum += buf_[x];
      s = sum;
    }
    return *s;
  }

 private:
  const RowReader& reader_;
  std::vector<std::uint8_t> buf_;
  std::vector<std::optional<std::uint64_t>> sums_;
};

// The size range in inches for this crop: the stored range where in force,
// else the default of the mode.
CropSizeInches size_in_inches(bool cheque) {
  const CropSizeRange& r = crop_size_range();
  CropSizeInches s = cheque ? kChequeSizes : kAnySize;
  auto inches = [&](double v) { return length_convert(v, r.unit, 0); };
  if (r.min_w <= r.max_w && r.max_w > 0) s.min_w = inches(r.min_w), s.max_w = inches(r.max_w);
  if (r.min_h <= r.max_h && r.max_h > 0) s.min_h = inches(r.min_h), s.max_h = inches(r.max_h);
  return s;
}

// Edges of the document, inclusive; `top_offset` for cheque mode.
struct Box {
  int left, top, right, bottom;
};

// Cheque mode: dark bands at either end are cut away and the cheque search
// runs on the rest. Nothing when the page holds no cheque to look for.
std::optional<Box> cheque_box(const DibView& v, RowSums& sums, int bottom, int min_rows,
                              const CropSizeInches& size) {
  const std::uint64_t dark = std::uint64_t{kDarkRowLevel} * static_cast<std::uint64_t>(v.width());
  int last = bottom;
  while (last >= 0 && sums[last] < dark) --last;
  if (last < 1) return std::nullopt;
  int first = 0;
  while (first < last && sums[first] < dark) ++first;
  if (first >= last) return std::nullopt;
  const bool dark_ends = first > 0 || last < bottom;
  std::optional<ChequeBox> box;
  if (dark_ends && last - first + 1 >= min_rows) {
    const Dib work = cut_rect(v, 0, first, v.width(), last - first + 1, 255);
    const Locked lock(work.get());
    box = cheque_search(lock.view(), size, first);
  } else {
    box = cheque_search(v, size, 0);
  }
  if (!box) return std::nullopt;
  return Box{box->left, box->top, box->right, box->bottom};
}

// The edge search; a direction whose map could not be measured keeps the
// whole width, or the top and the trimmed bottom.
Box edge_box(const DibView& v, int options, int bottom) {
  const CropEdges e = crop_find_edges(v, options);
  Box b{0, 0, v.width() - 1, bottom};
  if (e.found_columns) b.left = e.left, b.right = e.right;
  if (e.found_rows) b.top = e.top, b.bottom = e.bottom;
  return b;
}

std::optional<Box> find_box(const DibView& v, int options) {
  const RowReader reader(v);
  if (!reader.supported()) {
    // No row of it can be averaged, so nothing can be judged.
    RecordError(ERR_FAILURE, "DIB_AvgRegion");
    return std::nullopt;
  }
  const int W = v.width(), H = v.height();
  if (W < 1 || H < 1) return std::nullopt;
  const bool cheque = (options & kChequeOptions) != 0;
  const CropSizeInches size = size_in_inches(cheque);
  const double y_dpi = v.header().y_ppm > 0 ? ppm_to_dpi(v.header().y_ppm) : 0.0;
  const double min_rows_real = std::floor(size.min_h * y_dpi + 0.999999);
  const int min_rows = static_cast<int>(std::clamp(min_rows_real, -1.0, static_cast<double>(H)));

  RowSums sums(reader);
  const std::uint64_t white = 255 * static_cast<std::uint64_t>(W);
  int bottom = H - 1;
  while (bottom >= 0 && (sums[bottom] == 0 || sums[bottom] == white)) --bottom;
  if (bottom <= 0) return std::nullopt;
  // Never shorter than the smallest document; never past the last row.
  if (bottom < min_rows) bottom = std::min(min_rows, H - 1);

  if (cheque) return cheque_box(v, sums, bottom, min_rows, size);
  return edge_box(v, options, bottom);
}

}  // namespace

CropSizeRange& crop_size_range() {
  static CropSizeRange range;
  return range;
}

std::string crop_option_names(int options) {
  static constexpr const char* kNames[] = {" DARK", " LIGHT", " EDGE", " CHECK", " CHECK_BACK"};
  if (options == 0) options = kAllOptions;
  std::string names;
  for (int bit = 0; bit < 5; ++bit) {
    if (options & (1 << bit)) names += kNames[bit];
  }
  return names;
}

void crop_trace_call(Handle h, int options) {
  LogDibCall("GetCropRect(0x%0x,opts=%s, ...)\n", static_cast<unsigned>(h), crop_option_names(options).c_str());
}

bool get_crop_rect(const DibView& v, int options, CropRect& out) {
  if (options == 0) options = kAllOptions;
  const int W = v.width(), H = v.height();
  std::optional<Box> box;
  {
    LogNest nest;
    box = find_box(v, options);
  }
  out = box ? CropRect{box->left, box->top, box->right - box->left + 1, box->bottom - box->top + 1}
            : CropRect{0, 0, W, H};
  LogPrint("GetCropRect => x=%d, y=%d, w=%d, w=%d\n", out.x, out.y, out.w, out.h);
  return !(out.x == 0 && out.y == 0 && out.w == W && out.h == H);
}

Handle auto_crop(Handle page, int options) {
  const Locked lock(page);
  crop_trace_call(page, options);
  CropRect r;
  if (!get_crop_rect(lock.view(), options, r)) return 0;
  return cut_rect(lock.view(), r.x, r.y, r.w, r.h, 0).release();
}

}  // namespace dib

namespace {

// The size range of automatic cropping: a session's choice.
const bool kCropSizeRangeRegistered = core::register_state({"dib.crop_size_range", [] { dib::crop_size_range() = dib::CropSizeRange{}; }, [] { dib::crop_size_range() = dib::CropSizeRange{}; }});

}  // namespace
