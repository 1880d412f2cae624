#include "dib/histogram.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "dib/row_readers.h"

namespace dib {
namespace {

// The iteration moves the threshold by at least one level each time, so more
// steps than levels means it is cycling.
constexpr int kMaxIsodataSteps = 256;

// Counting runs at page rate (the blank test of every scanned side), so bytes
// go to eight interleaved sub-histograms: consecutive pixels of the same
// level then increment different counters instead of waiting on one. Each
// sub-histogram is padded so that the same level in two of them never shares
// the low 12 address bits, which the processor would mistake for a
// dependency.
constexpr int kSubCount = 8;
constexpr int kSubStride = 256 + 16;
// Paper is mostly one level: a block of that many equal bytes is counted in
// one step.
constexpr std::size_t kRunBlock = 64;

class SubCounts {
 public:
  void add(const std::uint8_t* p, std::size_t n) {
    std::size_t i = 0;
    for (; i + kRunBlock <= n; i += kRunBlock) {
      const std::uint64_t first = load(p + i);
      const std::uint64_t repeated = (first & 0xFF) * 0x0101010101010101ULL;
      std::uint64_t differs = 0;
      for (std::size_t k = 0; k < kRunBlock; k += 8) differs |= load(p + i + k) ^ repeated;
      if (differs == 0) {
        c_[0][first & 0xFF] += kRunBlock;
        continue;
      }
      for (std::size_t k = 0; k < kRunBlock; k += 8) add8(load(p + i + k));
    }
    for (; i + 8 <= n; i += 8) add8(load(p + i));
    for (; i < n; ++i) ++c_[0][p[i]];
  }
  void add_level(int level, std::uint32_t n) { c_[0][level] += n; }
  Histogram total() const {
    Histogram h{};
    for (int s = 0; s < kSubCount; ++s) {
      for (int i = 0; i < 256; ++i) h[i] += c_[s][i];
    }
    return h;
  }

 private:
  static std::uint64_t load(const std::uint8_t* p) {
    std::uint64_t w;
    std::memcpy(&w, p, 8);
    return w;
  }
  // Written out: the compiler keeps a loop here, which costs a third more.
  void add8(std::uint64_t w) {
    ++c_[0][w & 0xFF];
    ++c_[1][(w >> 8) & 0xFF];
    ++c_[2][(w >> 16) & 0xFF];
    ++c_[3][(w >> 24) & 0xFF];
    ++c_[4][(w >> 32) & 0xFF];
    ++c_[5][(w >> 40) & 0xFF];
    ++c_[6][(w >> 48) & 0xFF];
    ++c_[7][w >> 56];
  }
  std::uint32_t c_[kSubCount][kSubStride] = {};
};

// Whether 8-bit pixels are their own gray level (the identity ramp), so the
// stored bytes can be counted without converting the row.
bool identity_gray8(const DibView& v) {
  const std::span<const Rgbq> t = v.table();
  if (v.depth() != 8 || t.size() < 256) return false;
  for (std::size_t i = 0; i < 256; ++i) {
    if (t[i].red != i || t[i].green != i || t[i].blue != i) return false;
  }
  return true;
}

// 1-bit pixels show black or white, so a row needs only a count of its set
// bits in columns x0..x1.
std::uint32_t set_bits(const std::uint8_t* row, int x0, int x1) {
  std::uint32_t n = 0;
  int x = x0;
  for (; x < x1 && (x & 7) != 0; ++x) n += (row[x >> 3] >> (7 - (x & 7))) & 1;
  for (; x + 64 <= x1; x += 64) {
    std::uint64_t w;
    std::memcpy(&w, row + (x >> 3), 8);
    n += static_cast<std::uint32_t>(__builtin_popcountll(w));
  }
  for (; x + 8 <= x1; x += 8) n += static_cast<std::uint32_t>(__builtin_popcount(row[x >> 3]));
  for (; x < x1; ++x) n += (row[x >> 3] >> (7 - (x & 7))) & 1;
  return n;
}

}  // namespace

Histogram gray_histogram(const DibView& v, const Region* region) {
  const RowReader reader(v);
  int x0 = 0, y0 = 0, x1 = v.width(), y1 = v.height();
  if (region != nullptr) {
    x0 = std::max(0, region->left), y0 = std::max(0, region->top);
    x1 = std::min(x1, region->right), y1 = std::min(y1, region->bottom);
  }
  if (x0 >= x1 || y0 >= y1 || !reader.supported()) return {};
  const auto n = static_cast<std::size_t>(x1 - x0);
  SubCounts counts;
  if (v.depth() == 1) {
    // The same reading of the colour table as the row reader's: set bits
    // show white unless entry 0 is not black.
    const std::span<const Rgbq> t = v.table();
    const bool invert = !t.empty() && (t[0].red | t[0].green | t[0].blue) != 0;
    for (int y = y0; y < y1; ++y) {
      const std::uint32_t set = set_bits(v.row_unchecked(y), x0, x1);
      counts.add_level(invert ? 0 : 255, set);
      counts.add_level(invert ? 255 : 0, static_cast<std::uint32_t>(n) - set);
    }
  } else if (identity_gray8(v)) {
    for (int y = y0; y < y1; ++y) counts.add(v.row_unchecked(y) + x0, n);
  } else {
    std::vector<std::uint8_t> row(static_cast<std::size_t>(v.width()) + 4);
    for (int y = y0; y < y1; ++y) {
      if (!reader.gray(y, row.data())) break;
      counts.add(row.data() + x0, n);
    }
  }
  return counts.total();
}

int isodata_threshold(const Histogram& h) {
  int t = 128;
  int lowest_seen = 256;
  for (int step = 0; step < kMaxIsodataSteps; ++step) {
    double low_n = 0, low_sum = 0, high_n = 0, high_sum = 0;
    for (int i = 0; i < 256; ++i) {
      if (i < t) {
        low_n += h[i], low_sum += static_cast<double>(h[i]) * i;
      } else {
        high_n += h[i], high_sum += static_cast<double>(h[i]) * i;
      }
    }
    if (low_n == 0 || high_n == 0) return t;
    const int next = static_cast<int>((low_sum / low_n + high_sum / high_n) * 0.5 + 0.5);
    if (next == t) return t;
    lowest_seen = std::min(lowest_seen, t);
    t = next;
  }
  return std::min(lowest_seen, t);
}

}  // namespace dib
