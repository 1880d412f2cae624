// Edge search of auto-crop.
//
// The page is sampled in 25 horizontal bands; in each band the gray level of
// every column is averaged over 4 rows, and that profile is scored from the
// left and, mirrored, from the right wherever the level steps: the end of a
// dark background scores highest, light paper falling to a darker background
// less, a sharp line between similar levels least. A band's map row is its
// scores (times 24) plus a little of the strongest neighbour of the band
// before, so an edge that runs down the page builds up. Averaged over the
// bands the map gives a column profile whose first and last strong peaks are
// the document's left and right edges. The same is done with the page turned
// a quarter anticlockwise for its top and bottom; the turned page's bands are
// read directly from the untouched page (column groups taken from the right,
// rows in order), so the page is never copied.
//
// Assumes a document lying roughly straight. A dark background against white
// paper gives the edge to within a few pixels, on the background side (the
// climb to a peak may stop on a shoulder of it); edges found only through
// weak evidence are placed 0.3 inch outside the place where it added up, so
// the rectangle errs towards keeping the document whole. One pass over the
// page's rows; the scoring works on about 50 short profiles.
#include "dib/crop_edges.h"

#include <algorithm>
#include <cstdlib>

#include "core/error_record.h"
#include "dib/detail.h"
#include "dib/row_readers.h"
#include "log/trace.h"
#include "orivane/errors.h"

namespace dib {
namespace {

constexpr int kBandsPerPage = 25;
constexpr int kMinBandRows = 4;
constexpr int kRowsAveraged = 4;     // rows of a band in its profile
constexpr int kMeanSpan = 9;         // values in each trimmed mean
constexpr int kScoreScale = 24;      // map level per score point
constexpr int kCarryDivisor = 48;    // share of the band before carried on
constexpr int kStrongPeak = 17;      // profile level of a sure edge
constexpr int kLeftPairPeak = 28;    // two neighbours adding up to a sure edge
constexpr int kRightPairPeak = 23;
constexpr int kWeakSum = 23;         // weak evidence that adds up to an edge
constexpr double kBackOffInches = 0.3;

// The edge map of one direction, kept as its last row and its column sums:
// the profile is all that edge finding reads.
class EdgeMap {
 public:
  EdgeMap(int n, int options)
      : n_(n), options_(options), sum_(n), prev_(n), row_(n), reversed_(n), forward_(n), backward_(n) {}

  void add_band(const std::uint8_t* p) {
    const std::span<const std::uint8_t> band(p, static_cast<std::size_t>(n_));
    crop_score_row(band, options_, forward_);
    std::reverse_copy(band.begin(), band.end(), reversed_.begin());
    crop_score_row(reversed_, options_, backward_);
    for (int j = 0; j < n_; ++j) {
      const int e = std::max({prev_[std::max(j - 1, 0)], prev_[j], prev_[std::min(j + 1, n_ - 1)]});
      const int v = (backward_[n_ - 1 - j] + forward_[j] + e / kCarryDivisor) * kScoreScale;
      row_[j] = static_cast<std::uint8_t>(std::min(v, 255));
      sum_[j] += row_[j];
    }
    std::swap(prev_, row_);
    ++bands_;
  }

  int bands() const { return bands_; }
  int width() const { return n_; }

  // The integer average of each map column over the bands.
  std::vector<std::uint8_t> profile() const {
    std::vector<std::uint8_t> p(static_cast<std::size_t>(n_));
    for (int j = 0; j < n_; ++j) p[j] = static_cast<std::uint8_t>(sum_[j] / static_cast<std::uint32_t>(bands_));
    return p;
  }

 private:
  int n_, options_;
  int bands_ = 0;
  std::vector<std::uint32_t> sum_;
  std::vector<std::uint8_t> prev_, row_, reversed_;
  std::vector<int> forward_, backward_;
};

// Edge finding on one map: the pair of edges along its width, traced.
bool find_edges(const EdgeMap& map, double dpi, int& first, int& last) {
  const int n = map.width();
  LogPrint("FindCropEdges(...) image is %d x %d\n", n, map.bands());
  if (map.bands() == 0) {
    RecordError(ERR_FAILURE, "FindCropEdges");
    return false;
  }
  int c = static_cast<int>(dpi * kBackOffInches);
  if (c <= 0) c = n / 16;
  const std::vector<std::uint8_t> profile = map.profile();
  first = crop_left_edge(profile, c);
  LogPrint("Left edge:   %4d\n", first);
  last = crop_right_edge(profile, c, first);
  LogPrint("Right edge:  %4d\n", last);
  return true;
}

double dpi_of(std::int32_t ppm) { return ppm > 0 ? ppm_to_dpi(ppm) : 0.0; }

}  // namespace

int crop_trimmed_mean(std::span<std::uint8_t> values) {
  const std::size_t m = values.size();
  if (m < 3) return m == 1 ? values[0] : std::max(values[0], values[1]);
  int sum = 0, lo = 255, hi = 0;
  for (const std::uint8_t x : values) {
    sum += x;
    lo = std::min<int>(lo, x);
    hi = std::max<int>(hi, x);
  }
  return (sum - lo - hi) / static_cast<int>(m - 2);
}

void crop_score_row(std::span<const std::uint8_t> p, int options, std::span<int> out) {
  std::fill(out.begin(), out.end(), 0);
  const int n = static_cast<int>(p.size());
  std::uint8_t span[kMeanSpan];
  for (int i = 2; i < n - 4; ++i) {
    const int a = std::abs((p[i] + p[i + 1]) / 2 - (p[i - 2] + p[i - 1]) / 2);
    if (a <= 4) continue;
    const int before = std::min(i, kMeanSpan);
    std::copy_n(&p[i - before], before, span);
    const int b = crop_trimmed_mean({span, static_cast<std::size_t>(before)});
    const int after = std::min(n - i, kMeanSpan);
    std::copy_n(&p[i], after, span);
    const int d = crop_trimmed_mean({span, static_cast<std::size_t>(after)});
    // A dark background ending counts whatever kind of background was asked for.
    if (b < 128 && b + 38 < d) {
      out[i] += 4;
      continue;
    }
    const int e = std::abs(b - d);
    if ((options & kCropLight) && b > 240 && d < b - 5) {
      out[i] += e > 20 ? 3 : e > 10 ? 2 : 1;
    } else if (e <= 16 && (options & kCropEdge) && b > 128 && a > 16) {
      out[i] += 1;
    }
  }
}

int crop_left_edge(std::span<const std::uint8_t> profile, int c) {
  const int n = static_cast<int>(profile.size());
  int sum = 0;
  for (int i = 0; i < n - 1; ++i) {
    if (profile[i] >= kStrongPeak || profile[i] + profile[i + 1] >= kLeftPairPeak) {
      int j = i;
      while (j + 1 < n && profile[j + 1] > profile[j]) ++j;
      return j >= n - 1 ? 0 : j;
    }
    sum += profile[i];
    if (sum >= kWeakSum) return std::max(0, i - c);
  }
  return 0;
}

int crop_right_edge(std::span<const std::uint8_t> profile, int c, int left) {
  const int n = static_cast<int>(profile.size());
  // Climbs left from j to the top of the rise; n - 1 when it reaches `left`.
  auto climb = [&](int j) {
    while (j > left && profile[j - 1] > profile[j]) --j;
    return j <= left ? n - 1 : j;
  };
  int sum = 0;
  for (int i = n - 1; i > left; --i) {
    if (profile[i] >= kStrongPeak) return climb(i);
    if (profile[i] + profile[i - 1] >= kRightPairPeak) return climb(i - 1);
    sum += profile[i];
    if (sum >= kWeakSum) return std::min(n - 1, i + c);
  }
  return n - 1;
}

CropEdges crop_find_edges(const DibView& v, int options) {
  CropEdges edges;
  const int W = v.width(), H = v.height();
  edges.right = W - 1;
  edges.bottom = H - 1;
  const RowReader reader(v);
  if (!reader.supported() || W < 1 || H < 1) {
    RecordError(ERR_FAILURE, "CreateEdgeMap");
    return edges;
  }
  // Horizontal bands for the columns map.
  const int band_rows = std::max(kMinBandRows, H / kBandsPerPage);
  const int bands = H / band_rows;
  // Vertical bands for the rows map: the rows of the page turned a quarter
  // anticlockwise are the page's columns taken from the right.
  const int band_cols = std::max(kMinBandRows, W / kBandsPerPage);
  const int turned_bands = W / band_cols;

  EdgeMap columns(W, options);
  std::vector<std::uint8_t> row(static_cast<std::size_t>(W) + 4);
  std::vector<std::uint16_t> band_sum(static_cast<std::size_t>(W));
  std::vector<std::uint8_t> band_profile(static_cast<std::size_t>(W));
  std::vector<std::uint8_t> turned(static_cast<std::size_t>(turned_bands) * H);
  // Colour pages are read whole only on band rows; elsewhere just the
  // turned bands' columns are converted, which saves most of the work.
  const int bytes_pp = v.depth() / 8;
  const bool sparse = (v.depth() == 24 || v.depth() == 32) && v.pixel_type() == kRGB;
  for (int y = 0; y < H; ++y) {
    const int k = y / band_rows, t = y - k * band_rows;
    const bool band_row = k < bands && t < kRowsAveraged;
    if (!sparse || band_row) {
      reader.gray(y, row.data());
    } else {
      const std::uint8_t* src = v.row(y);
      for (int kt = 0; kt < turned_bands; ++kt) {
        for (int x = W - kRowsAveraged - kt * band_cols, end = x + kRowsAveraged; x < end; ++x) {
          const std::uint8_t* px = src + static_cast<std::size_t>(x) * bytes_pp;
          row[x] = detail::luminance(px[2], px[1], px[0]);
        }
      }
    }
    if (band_row) {
      if (t == 0) std::fill(band_sum.begin(), band_sum.end(), 0);
      for (int x = 0; x < W; ++x) band_sum[x] = static_cast<std::uint16_t>(band_sum[x] + row[x]);
      if (t == kRowsAveraged - 1) {
        for (int x = 0; x < W; ++x) band_profile[x] = static_cast<std::uint8_t>(band_sum[x] / kRowsAveraged);
        columns.add_band(band_profile.data());
      }
    }
    for (int kt = 0; kt < turned_bands; ++kt) {
      const std::uint8_t* p = &row[W - kRowsAveraged - kt * band_cols];
      turned[static_cast<std::size_t>(kt) * H + y] = static_cast<std::uint8_t>((p[0] + p[1] + p[2] + p[3]) / kRowsAveraged);
    }
  }
  EdgeMap rows(H, options);
  for (int kt = 0; kt < turned_bands; ++kt) rows.add_band(&turned[static_cast<std::size_t>(kt) * H]);

  edges.found_columns = find_edges(columns, dpi_of(v.header().x_ppm), edges.left, edges.right);
  edges.found_rows = find_edges(rows, dpi_of(v.header().y_ppm), edges.top, edges.bottom);
  return edges;
}

}  // namespace dib
