// Automatic contrast: stretch a page's gray levels so that its paper becomes
// white and its ink black.
//
// Method: the gray histogram is smoothed (medians, which remove isolated
// spikes without moving edges, and a filling of one-level valleys), then
// searched from dark to light for peaks of enough volume. On a printed page
// the dominant peak below the isodata threshold is the ink and the dominant
// one above it the paper; minor peaks are discarded by height and volume
// relative to those. The stretch maps the ink peak's centre (and below) to
// black and, for the paper, the level by which as many pixels have been seen
// from midway up as the ink holds, to white. When the histogram shows no such
// pair (a photograph, a page of one gray), the darkest and lightest 1 % of
// each side of the threshold are clipped instead.
//
// The analysis costs nothing next to the page: one histogram pass, then work
// on 256 counters; applying the table is the second pass.
#include "dib/contrast.h"

#include <algorithm>
#include <vector>

#include "core/error_record.h"
#include "dib/page_analysis.h"
#include "dib/row_readers.h"
#include "log/trace.h"
#include "orivane/errors.h"

namespace dib {
namespace {

// Smoothed counts: wider than the histogram's, since sums of three counters
// are formed on the way.
using Counts = std::array<std::uint64_t, 256>;

constexpr int kMaxPeaks = 8;
constexpr std::uint64_t kMinVolumeDivisor = 600;  // a peak holds at least 1/600 of the page
constexpr std::uint64_t kTailRatio = 10;          // a peak ends where it falls to 1/10 of its height
constexpr std::uint64_t kFootRatio = 20;          // ... and starts no lower than 1/20 of it
constexpr std::uint64_t kSlopeRatio = 30;         // a rising flank climbs 1/30 of its value per level
constexpr std::uint64_t kClipDivisor = 100;       // the fallback clips 1 % of each side
// Peaks kept beside the dominant ones: at least 1/8 of the dark peak's height
// and 1/4 of the volume of the dominant peak on their side.
constexpr std::uint64_t kMinorHeightRatio = 8;
constexpr std::uint64_t kMinorVolumeRatio = 4;

struct Peak {
  int from = 0, centre = 0, to = 0;
  std::uint64_t height = 0, volume = 0;
  int index = 0;  // order of discovery, as traced
};

// Each entry from `radius` to 255 - radius becomes the median of the
// 2 x radius + 1 entries around it; the outer entries are copied.
Counts median_pass(const Counts& in, int radius) {
  Counts out = in;
  std::array<std::uint64_t, 7> window{};
  const int n = 2 * radius + 1;
  for (int i = radius; i < 256 - radius; ++i) {
    std::copy_n(in.begin() + (i - radius), n, window.begin());
    std::nth_element(window.begin(), window.begin() + radius, window.begin() + n);
    out[i] = window[radius];
  }
  return out;
}

// A one-level dip becomes the mean of its neighbours; every other inner
// entry the mean of itself and its neighbours.
Counts valley_fill(const Counts& m) {
  Counts out = m;
  for (int i = 1; i < 255; ++i) {
    const std::uint64_t l = m[i - 1], c = m[i], r = m[i + 1];
    out[i] = (c < l && c < r) ? (l + r) / 2 : (l + c + r) / 3;
  }
  return out;
}

Counts smooth(const Histogram& h) {
  Counts s;
  std::copy(h.begin(), h.end(), s.begin());
  s = valley_fill(median_pass(s, 1));
  for (const int radius : {2, 3, 2, 2}) s = median_pass(s, radius);
  return s;
}

// The first peak of at least `min_volume` at or after level `a`.
std::optional<Peak> find_peak(const Counts& s, int a, std::uint64_t min_volume) {
  int i = a;
  for (;;) {
    // The flat top a..i: over equal neighbours, and up every rise met.
    for (;;) {
      while (i < 255 && s[i] == s[i + 1]) ++i;
      if (i == 255 || s[i] > s[i + 1]) break;
      while (i < 255 && s[i] < s[i + 1]) ++i;
      a = i;
    }
    Peak p;
    p.centre = (a + i) / 2;
    p.height = s[p.centre];
    p.to = i;
    while (p.to < 255 && s[p.to + 1] <= s[p.to] && p.height < kTailRatio * s[p.to]) ++p.to;
    p.from = p.centre;
    while (p.from > 0 && s[p.from] >= p.height / kFootRatio && s[p.from - 1] < s[p.from] &&
           s[p.from] - s[p.from - 1] >= s[p.from] / kSlopeRatio) {
      --p.from;
    }
    for (int k = p.from; k <= p.to; ++k) p.volume += s[k];
    if (p.volume >= min_volume) return p;
    if (p.to == 255) return std::nullopt;
    // Too small: on to the next rise.
    i = p.to;
    while (i < 255 && s[i + 1] <= s[i]) ++i;
    if (i == 255) return std::nullopt;
    while (i < 255 && s[i] < s[i + 1]) ++i;
    a = i;
  }
}

std::vector<Peak> find_peaks(const Counts& s) {
  std::uint64_t total = 0;
  for (const std::uint64_t c : s) total += c;
  std::vector<Peak> peaks;
  for (int a = 0; a <= 255 && static_cast<int>(peaks.size()) < kMaxPeaks;) {
    std::optional<Peak> p = find_peak(s, a, total / kMinVolumeDivisor);
    if (!p) break;
    p->index = static_cast<int>(peaks.size());
    LogPrint("peak[%d]: from %d to %d center %d height %lld vol=%lld\n", p->index, p->from, p->to, p->centre,
             static_cast<long long>(p->height), static_cast<long long>(p->volume));
    peaks.push_back(*p);
    a = p->to + 1;
  }
  return peaks;
}

// The peak of largest volume (the first on ties) among those `side` accepts.
template <typename Side>
const Peak* dominant(const std::vector<Peak>& peaks, Side&& side) {
  const Peak* best = nullptr;
  for (const Peak& p : peaks) {
    if (side(p) && (best == nullptr || p.volume > best->volume)) best = &p;
  }
  return best;
}

template <typename Drop>
void discard(std::vector<Peak>& peaks, Drop&& drop) {
  std::erase_if(peaks, [&](const Peak& p) {
    if (!drop(p)) return false;
    LogPrint("discard peak %d\n", p.index);
    return true;
  });
}

struct PeakPair {
  Peak dark, light;
};

// The ink and paper peaks of the smoothed histogram `s`, `t` being the
// isodata threshold; nothing when they cannot be told.
std::optional<PeakPair> choose_peaks(const Counts& s, int t) {
  std::vector<Peak> peaks = find_peaks(s);
  const auto is_dark = [t](const Peak& p) { return p.centre < t; };
  const auto is_light = [t](const Peak& p) { return p.centre > t; };

  if (const Peak* d = dominant(peaks, is_dark)) {
    LogPrint("dominant dark peak vol=%lld\n", static_cast<long long>(d->volume));
    const Peak dark = *d;
    discard(peaks, [&](const Peak& p) {
      return p.height * kMinorHeightRatio < dark.height || p.volume * kMinorVolumeRatio < dark.volume;
    });
  } else {
    LogPrint("no dominant dark peak\n");
  }
  if (const Peak* l = dominant(peaks, is_light)) {
    LogPrint("dominant lite peak vol=%lld\n", static_cast<long long>(l->volume));
    const Peak light = *l;
    discard(peaks, [&](const Peak& p) { return is_light(p) && p.volume * kMinorVolumeRatio < light.volume; });
  } else {
    LogPrint("no dominant lite peak\n");
  }
  LogPrint("net peaks: %d\n", static_cast<int>(peaks.size()));

  switch (peaks.size()) {
    case 1: {
      if (!is_light(peaks[0])) return std::nullopt;
      // Paper only: the ink is whatever falls away from black.
      Peak dark;
      dark.height = s[0];
      while (dark.to < 255 && s[dark.to + 1] < s[dark.to]) ++dark.to;
      return PeakPair{dark, peaks[0]};
    }
    case 2: return PeakPair{peaks[0], peaks[1]};
    case 3: {
      const Peak &a = peaks[0], &b = peaks[1], &c = peaks[2];
      if (!is_dark(a)) return std::nullopt;
      if (is_dark(b)) return PeakPair{b.volume <= 2 * a.volume ? a : b, c};
      if (is_light(b)) return PeakPair{a, (b.height <= 4 * c.height && b.volume <= 4 * c.volume) ? c : b};
      return std::nullopt;
    }
    default: return std::nullopt;
  }
}

LevelTable stretch_between(const Histogram& h, int t, const PeakPair& pair) {
  const int b = pair.dark.centre;
  std::uint64_t ink = 0;
  for (int j = 0; j <= pair.dark.to; ++j) ink += h[j];
  // White from where as many pixels as the ink holds have been seen going up
  // from midway to the paper, at the latest the paper's centre.
  int e = (t + pair.light.from) / 2;
  std::uint64_t seen = 0;
  while (e < pair.light.centre) {
    seen += h[e];
    if (seen >= ink) break;
    ++e;
  }
  LevelTable table;
  for (int j = 0; j < 256; ++j) {
    table[j] = j <= b ? 0 : j >= e ? 255 : static_cast<std::uint8_t>(255 * (j - b) / (e - b));
  }
  return table;
}

// The fallback: clip 1 % of the pixels on each side of the threshold.
// Nothing when that would not change the page.
std::optional<LevelTable> stretch_clipped(const Histogram& h, int t) {
  std::uint64_t dark = 0, light = 0;
  int occupied = 0;
  for (int k = 0; k < 256; ++k) {
    (k < t ? dark : light) += h[k];
    occupied += h[k] != 0;
  }
  // A page of one gray has no contrast to stretch; clipping one side of it
  // would turn the whole page black or white.
  if (occupied < 2) return std::nullopt;
  int k = 0;
  for (std::uint64_t below = 0; k < 256 && below < dark / kClipDivisor; ++k) below += h[k];
  const int lo = std::max(0, k - 1);
  k = 255;
  for (std::uint64_t above = 0; k >= 0 && above < light / kClipDivisor; --k) above += h[k];
  const int hi = std::min(255, k + 1);
  if (lo >= hi || (lo == 0 && hi == 255)) return std::nullopt;
  LevelTable table;
  for (int j = 0; j < 256; ++j) table[j] = static_cast<std::uint8_t>(std::clamp(255 * (j - lo) / (hi - lo), 0, 255));
  return table;
}

LevelTable identity_table() {
  LevelTable table;
  for (int j = 0; j < 256; ++j) table[j] = static_cast<std::uint8_t>(j);
  return table;
}

}  // namespace

std::optional<LevelTable> auto_contrast_table(const Histogram& h, bool* changes) {
  std::uint64_t total = 0;
  for (const std::uint32_t c : h) total += c;
  if (total == 0) return std::nullopt;
  const int t = isodata_threshold(h);
  std::optional<LevelTable> table;
  if (const std::optional<PeakPair> pair = choose_peaks(smooth(h), t)) {
    table = stretch_between(h, t, *pair);
  } else {
    table = stretch_clipped(h, t);
  }
  if (!table) table = identity_table();
  if (changes != nullptr) {
    // Only levels the page holds matter: a white page keeps its white even
    // when the table is a stretch, and is then not rewritten.
    *changes = false;
    for (int j = 0; j < 256; ++j) *changes |= h[j] != 0 && (*table)[j] != j;
  }
  return table;
}

bool auto_contrast_page(const DibView& v) {
  if (!v.rows_ok() || !RowReader(v).supported()) return false;
  bool changes = false;
  const std::optional<LevelTable> table = auto_contrast_table(gray_histogram(v), &changes);
  if (!table) return false;
  if (changes) apply_gray_table(v, *table);
  return true;
}

void auto_contrast(const DibView& v) {
  if (!auto_contrast_page(v)) RecordError(ERR_FAILURE, "DIB_AutoContrast");
}

}  // namespace dib
