// Skew estimation by sheared line profiles.
//
// For a trial angle every sampled column is slid up or down by its shear
// offset and the gray levels are summed along the image rows; the average
// per row is the line profile. When the trial angle matches the slope of
// the text lines, each line falls into a few rows and the gaps between lines
// into others, so the profile swings hard between dark and light; at other
// angles the lines smear over many rows. The energy of the profile's row-
// to-row differences therefore peaks at the skew. A coarse search over
// +-4 degrees finds the peak; a search over 3.7..13.7 degrees follows pages
// turned further, on the side where the peak sat on the grid's end, or on
// both sides when the coarse search found none; and a fine search of +-0.29
// degrees around the peak refines it to 0.001 radian steps (0.057 degrees).
// A peak that does not stand out from the mean energy by the search's ratio
// is no skew (blank pages, photographs).
//
// The search works in shear angles a (offset sin(a) per column); a line
// turned by t has the slope tan(t), so the search peaks at sin(a) = tan(t)
// and the reported angle is t = atan(sin(a)) (see skew_detail.h); reporting
// a itself would overstate a 10 degree skew by 0.15 degrees. On 300 dpi text
// pages the result is within about 0.03 degrees (half a fine step) of the
// true skew for skews up to 12 degrees either way.
//
// Speed: only about 800 columns (90 % of the width, 5 % in from the left)
// enter the profiles. The image is read once per search in bands of rows;
// the sampled columns of a band are stored transposed as running sums over
// the columns, so the columns that share one offset at a trial angle add to
// the profile as one contiguous difference of two running sums.
#include "dib/skew.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <span>
#include <vector>

#include "dib/row_readers.h"
#include "dib/skew_detail.h"
#include "log/trace.h"

namespace dib {
namespace {

using skew_detail::shear_offset;

// Search ranges in shear angles (radians).
constexpr double kCoarseLimit = 0.06981317007977318;  // 4 degrees either way
constexpr double kCoarseStep = 0.005;
constexpr double kCoarseRatio = 1.8;
constexpr double kWideInner = 0.06481317007977318;  // about 3.71 degrees
constexpr double kWideOuter = 0.23934609527920614;  // about 13.71 degrees
constexpr double kWideStep = 0.005;
constexpr double kWideRatio = 2.0;
constexpr double kFineHalfSpan = 0.005;
constexpr double kFineStep = 0.001;
constexpr double kFineRatio = 1.2;
// How close (radians) the coarse peak must lie to a grid end to look further.
constexpr double kGridEndTolerance = 0.001;
// A fine result below this (radians) is not trusted; the coarse one stands.
constexpr double kFineFloor = -7.0;

// Columns entering a profile: about this many samples across the width.
constexpr int kSampleTarget = 800;
// Energy unit: the square of the largest gray step.
constexpr double kEnergyUnit = 255.0 * 255.0;
// A mean energy at or below this is a page without lines.
constexpr double kMinMeanEnergy = 0.00001;

// Rows of the image transposed at a time, and rows per transposition step.
constexpr int kBandRows = 256;
constexpr int kBlockRows = 16;

// The sampled columns: x = first + k x step for k = 0..count-1.
struct Sampling {
  int first = 0, step = 1, count = 0;

  explicit Sampling(int width) {
    step = std::max(1, width / kSampleTarget);
    const int columns = width / step;
    count = columns - columns / 10;
    first = width / 20;
  }
  int x(int k) const { return first + k * step; }
};

// Neighbouring sampled columns [first, last) that share one shear offset.
struct Run {
  int first, last, offset;
};

// The trial angles of one search: angle i = from + i x step.
struct Grid {
  double from, to, step;

  int size() const { return static_cast<int>((to - from) / step) + 1; }
  double angle(int i) const { return from + i * step; }
};

// The runs of equal offsets of the sampled columns for shear angle `angle`.
std::vector<Run> runs_for(double angle, const Sampling& cols, int width) {
  const double factor = std::sin(angle);
  std::vector<Run> runs;
  for (int k = 0; k < cols.count;) {
    const int s = shear_offset(factor, cols.x(k), width);
    int end = k + 1;
    while (end < cols.count && shear_offset(factor, cols.x(end), width) == s) ++end;
    runs.push_back({k, end, s});
    k = end;
  }
  return runs;
}

// Gray levels of the sampled columns, `kBlockRows` rows at a time. 8-bit gray
// images are read where they lie. Every other layout is converted once, when
// first asked for, into a compact image of just the sampled columns, so the
// two to four searches of one estimate do not convert whole rows again each
// time (a colour page is three times the bytes of the columns it samples).
class GrayRows {
 public:
  GrayRows(const DibView& v, const Sampling& cols)
      : v_(v), cols_(cols), reader_(v), direct_(v.depth() == 8 && v.pixel_type() == kGray) {}
  bool supported() const { return reader_.supported(); }
  // Where sampled column k lies in a row that block() gives.
  int index(int k) const { return direct_ ? cols_.x(k) : k; }
  // Pointers to rows y0..y0 + n - 1 (n <= kBlockRows) in out[0..n).
  void block(int y0, int n, const std::uint8_t** out) {
    if (!direct_ && compact_.empty()) convert();
    for (int i = 0; i < n; ++i) {
      out[i] = direct_ ? v_.row_unchecked(y0 + i)
                       : compact_.data() + static_cast<std::size_t>(y0 + i) * static_cast<std::size_t>(cols_.count);
    }
  }

 private:
  void convert() {
    const std::size_t count = static_cast<std::size_t>(cols_.count);
    compact_.resize(count * static_cast<std::size_t>(v_.height()));
    std::vector<std::uint8_t> row(static_cast<std::size_t>(v_.width()) + 4);
    for (int y = 0; y < v_.height(); ++y) {
      reader_.gray(y, row.data());
      std::uint8_t* out = compact_.data() + count * static_cast<std::size_t>(y);
      for (int k = 0; k < cols_.count; ++k) out[k] = row[static_cast<std::size_t>(cols_.x(k))];
    }
  }

  const DibView& v_;
  const Sampling& cols_;
  RowReader reader_;
  bool direct_;
  std::vector<std::uint8_t> compact_;
};

// Row sums of the sheared sampled columns for every angle of a search:
// sums[a x H + r] is the sum of the gray levels that shear `a` moves into
// row r. A band of rows at a time is transposed into running sums over the
// sampled columns (prefix[k x kBandRows + i] = sum of columns 0..k-1 at band
// row i), so one run of columns adds as the difference of two of them.
std::vector<std::uint32_t> shear_sums(GrayRows& rows, const Sampling& cols, int height,
                                      std::span<const std::vector<Run>> runs) {
  const std::size_t h = static_cast<std::size_t>(height);
  std::vector<std::uint32_t> sums(runs.size() * h, 0);
  std::vector<std::uint32_t> prefix(static_cast<std::size_t>(cols.count + 1) * kBandRows, 0);
  const std::uint8_t* block[kBlockRows];
  for (int y0 = 0; y0 < height; y0 += kBandRows) {
    const int band = std::min(kBandRows, height - y0);
    for (int b = 0; b < band; b += kBlockRows) {
      const int n = std::min(kBlockRows, band - b);
      rows.block(y0 + b, n, block);
      std::uint32_t acc[kBlockRows] = {};
      for (int k = 0; k < cols.count; ++k) {
        const int x = rows.index(k);
        std::uint32_t* out = &prefix[static_cast<std::size_t>(k + 1) * kBandRows + b];
        for (int i = 0; i < n; ++i) {
          acc[i] += block[i][x];
          out[i] = acc[i];
        }
      }
    }
    for (std::size_t a = 0; a < runs.size(); ++a) {
      std::uint32_t* sum = &sums[a * h];
      for (const Run& run : runs[a]) {
        // Source rows y of this band land on r = y - s, kept when 0 <= r < H.
        const int s = run.offset;
        const int lo = std::max(y0, s), hi = std::min(y0 + band, height + s);
        if (lo >= hi) continue;
        const std::uint32_t* upper = &prefix[static_cast<std::size_t>(run.last) * kBandRows + (lo - y0)];
        const std::uint32_t* lower = &prefix[static_cast<std::size_t>(run.first) * kBandRows + (lo - y0)];
        std::uint32_t* out = sum + (lo - s);
        for (int i = 0; i < hi - lo; ++i) out[i] += upper[i] - lower[i];
      }
    }
  }
  return sums;
}

// The energy of the profile's row-to-row differences, in kEnergyUnit. The
// profile is the row sum over the number of sampled pixels that landed in
// the row, which the runs give without counting pixel by pixel.
double profile_energy(std::span<const std::uint32_t> sum, std::span<const Run> runs,
                      std::vector<std::int32_t>& count_steps) {
  const int height = static_cast<int>(sum.size());
  std::fill(count_steps.begin(), count_steps.end(), 0);
  for (const Run& run : runs) {
    const int lo = std::max(0, -run.offset), hi = std::min(height, height - run.offset);
    if (lo >= hi) continue;
    count_steps[lo] += run.last - run.first;
    count_steps[hi] -= run.last - run.first;
  }
  std::int64_t energy = 0;
  std::int32_t count = 0;
  std::int64_t previous = 0;
  for (int r = 0; r < height; ++r) {
    count += count_steps[r];
    const std::int64_t level = count > 0 ? sum[r] / static_cast<std::uint32_t>(count) : 0;
    if (r > 0) energy += (level - previous) * (level - previous);
    previous = level;
  }
  return static_cast<double>(energy) / kEnergyUnit;
}

double degrees_of(double radians) { return radians * 180.0 / std::numbers::pi; }

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The outcome of one angle search: the shear angle of the sharpest
// profile and its energy, or kNoSkew when no angle stood out.
struct Peak {
  double angle = kNoSkew;
  double energy = 0;
  bool found() const { return angle > kSkewUnknownLimit; }
};

// One angle search: the angle whose profile has the greatest energy, kept
// when it stands out by more than `ratio` over the mean energy.
Peak search(const DibView& v, GrayRows& rows, const Grid& grid, double ratio) {
  const auto start = std::chrono::steady_clock::now();
  const Sampling cols(v.width());
  const int n = std::max(grid.size(), 0);
  std::vector<std::vector<Run>> runs(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) runs[i] = runs_for(grid.angle(i), cols, v.width());
  const std::vector<std::uint32_t> sums = shear_sums(rows, cols, v.height(), runs);

  const std::size_t h = static_cast<std::size_t>(v.height());
  std::vector<std::int32_t> count_steps(h + 1);
  int best = -1;
  double best_energy = 0, total = 0;
  for (int i = 0; i < n; ++i) {
    const double e = profile_energy(std::span(sums).subspan(i * h, h), runs[i], count_steps);
    total += e;
    if (e > best_energy) {
      best = i;
      best_energy = e;
    }
  }
  const double mean = n > 0 ? total / n : 0;
  const double peak_ratio = best >= 0 && mean > 0 ? best_energy / mean : 0;
  Peak peak;
  if (best >= 0 && mean > kMinMeanEnergy && peak_ratio > ratio) {
    peak = {grid.angle(best), best_energy};
    LogPrint("estimated skew angle: %0.3f\npeak ratio: %0.1f\n",
             degrees_of(skew_detail::line_angle_of_shear(peak.angle)), peak_ratio);
  } else {
    LogPrint("No skew found\npeak ratio: %0.1f\ndSigAvg=%0.3f\niMax=%d\n", peak_ratio, mean, best);
  }
  LogPrint("SHS time: %0.3f\n", seconds_since(start));
  return peak;
}

bool near(double angle, double target) { return std::abs(angle - target) < kGridEndTolerance; }

// The coarse peak, or beyond +-4 degrees the peak of the wider search on
// the side where it must lie: the side whose grid end the coarse peak sat
// on, or both sides when the coarse search found nothing, since text lines
// turned more than about half a degree past the grid's end smear into a
// flat profile at every coarse angle.
Peak coarse_peak(const DibView& v, GrayRows& rows) {
  const Grid coarse{-kCoarseLimit, kCoarseLimit, kCoarseStep};
  const Grid low{-kWideOuter, -kWideInner, kWideStep}, high{kWideInner, kWideOuter, kWideStep};
  const Peak peak = search(v, rows, coarse, kCoarseRatio);
  if (peak.found()) {
    if (near(peak.angle, coarse.from)) return search(v, rows, low, kWideRatio);
    if (near(peak.angle, coarse.angle(coarse.size() - 1))) return search(v, rows, high, kWideRatio);
    return peak;
  }
  const Peak below = search(v, rows, low, kWideRatio);
  const Peak above = search(v, rows, high, kWideRatio);
  if (below.found() && above.found()) return below.energy >= above.energy ? below : above;
  return below.found() ? below : above;
}

}  // namespace

double deskew_angle(const DibView& v) {
  v.require_rows();
  const Sampling cols(v.width());
  GrayRows rows(v, cols);
  if (!rows.supported()) return kNoSkew;

  const Peak peak = coarse_peak(v, rows);
  if (!peak.found()) return kNoSkew;
  // A fine result that is no skew leaves the coarse one standing.
  const Peak fine = search(v, rows, {peak.angle - kFineHalfSpan, peak.angle + kFineHalfSpan, kFineStep}, kFineRatio);
  const double shear = fine.angle < kFineFloor ? peak.angle : fine.angle;
  return skew_detail::line_angle_of_shear(shear);
}

}  // namespace dib
