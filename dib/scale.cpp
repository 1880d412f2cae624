// Scaling by area averaging.
//
// Gray thumbnails (scale_to_gray) average each f-pixel group of a row as an
// integer, add the averages up over f rows and divide by the rows added.
//
// Scaled copies treat both images as covering the same area. Horizontally a
// source pixel is w units wide and a target pixel W units (W, w = source and
// target widths), so each target pixel is the sum of the source pixels it
// overlaps weighted by the overlap, divided by W and rounded, in integers.
// Vertically the same is done with h and H, and the result is rounded to the
// nearest level. Reductions by whole
// factors and enlargements come out of the same arithmetic; the result is
// exact for a source of one colour.
#include "dib/scale.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>
#include <limits>
#include <system_error>
#include <thread>
#include <vector>

#include "dib/allocate.h"
#include "dib/live_count.h"
#include "dib/row_readers.h"
#include "orivane/errors.h"

namespace dib {
namespace {

// Which source pixels make up each target pixel of a row, and their weights.
struct Spans {
  std::vector<std::uint32_t> first, count;  // per target pixel
  std::vector<std::uint32_t> weight;        // flat, in target order
  std::uint64_t total = 0;                  // the weights of one target pixel add up to this
};

Spans spans_for(int source, int target) {
  Spans s;
  s.first.resize(static_cast<std::size_t>(target));
  s.count.resize(static_cast<std::size_t>(target));
  s.weight.reserve(static_cast<std::size_t>(source) + static_cast<std::size_t>(target));
  s.total = static_cast<std::uint64_t>(source);
  const std::uint64_t W = static_cast<std::uint64_t>(source), w = static_cast<std::uint64_t>(target);
  for (std::uint64_t j = 0; j < w; ++j) {
    const std::uint64_t lo = j * W, hi = (j + 1) * W;
    const std::uint64_t i0 = lo / w, i1 = (hi - 1) / w;
    s.first[j] = static_cast<std::uint32_t>(i0);
    s.count[j] = static_cast<std::uint32_t>(i1 - i0 + 1);
    for (std::uint64_t i = i0; i <= i1; ++i) {
      s.weight.push_back(static_cast<std::uint32_t>(std::min((i + 1) * w, hi) - std::max(i * w, lo)));
    }
  }
  return s;
}

// Rounded-down division by a divisor fixed for a whole image, without a
// hardware division per value: the quotient from the reciprocal, then put
// right by at most one step each way, so that it is exactly n / d for any
// n below 2^52.
class Divider {
 public:
  explicit Divider(std::uint64_t d) : d_(d), inverse_(1.0 / static_cast<double>(d)) {}
  std::uint64_t operator()(std::uint64_t n) const {
    // Through signed integers: below 2^52 they convert exactly, and without
    // the extra steps an unsigned conversion takes.
    std::uint64_t q = static_cast<std::uint64_t>(
        static_cast<std::int64_t>(static_cast<double>(static_cast<std::int64_t>(n)) * inverse_));
    if (q * d_ > n) --q;
    if ((q + 1) * d_ <= n) ++q;
    return q;
  }

 private:
  std::uint64_t d_;
  double inverse_;
};

// Rounded-down division of a 32-bit number by a fixed 32-bit divisor above 1
// as one multiplication (exact for every such pair: Lemire, Kaser and Kurz, "Faster
// remainder by direct computation", 2019).
class Divider32 {
 public:
  explicit Divider32(std::uint32_t d) : magic_(~std::uint64_t{0} / d + 1) {}
  std::uint32_t operator()(std::uint32_t n) const {
    return static_cast<std::uint32_t>((static_cast<unsigned __int128>(magic_) * n) >> 64);
  }

 private:
  std::uint64_t magic_;
};

// One source row of C bytes per pixel scaled horizontally: each target value
// is the weighted sum over its span, divided by the span's total, rounded.
// Sum is wide enough for 255 times the total plus half of it.
template <int C, typename Sum, typename Divide>
void scale_row(const std::uint8_t* in, const Spans& s, const Divide& divide, std::uint32_t* out) {
  const std::uint32_t* wt = s.weight.data();
  const Sum half = static_cast<Sum>(s.total / 2);
  const std::size_t n = s.first.size();
  for (std::size_t j = 0; j < n; ++j) {
    const std::uint8_t* p = in + static_cast<std::size_t>(s.first[j]) * C;
    const std::uint32_t k = s.count[j];
    Sum sum[C] = {};
    for (std::uint32_t i = 0; i < k; ++i, p += C) {
      const Sum weight = wt[i];
      for (int c = 0; c < C; ++c) sum[c] += weight * p[c];
    }
    for (int c = 0; c < C; ++c) out[j * C + static_cast<std::size_t>(c)] = static_cast<std::uint32_t>(divide(sum[c] + half));
    wt += k;
  }
}

// Rows scaled across with the narrowest arithmetic the image's sums fit in,
// chosen once per image.
class Across {
 public:
  explicit Across(const Spans& spans)
      : spans_(spans),
        // The one-multiplication division needs a divisor above 1.
        narrow_(spans.total >= 2 &&
                spans.total <= (std::uint64_t{0xFFFFFFFF} - spans.total / 2) / 255),
        narrow_divide_(narrow_ ? static_cast<std::uint32_t>(spans.total) : 1),
        wide_divide_(spans.total) {}

  template <int C>
  void row(const std::uint8_t* in, std::uint32_t* out) const {
    if (narrow_) {
      scale_row<C, std::uint32_t>(in, spans_, narrow_divide_, out);
    } else {
      scale_row<C, std::uint64_t>(in, spans_, wide_divide_, out);
    }
  }

 private:
  const Spans& spans_;
  bool narrow_;
  Divider32 narrow_divide_;
  Divider wide_divide_;
};

// A byte-for-byte copy of the block behind a view, counted as a live image.
Dib block_copy(const DibView& v) {
  const Handle h = platform::mem_alloc(v.block_size(), false);
  if (h == 0) throw Error(ERR_MEMORY);
  std::memcpy(platform::mem_lock(h), v.block(), v.block_size());
  platform::mem_unlock(h);
  live_count_add(1);
  return Dib(h);
}

void set_resolution(DibView& v, std::int32_t x_ppm, std::int32_t y_ppm) {
  InfoHeader hd = v.header();
  hd.x_ppm = x_ppm;
  hd.y_ppm = y_ppm;
  v.store_header(hd);
}

}  // namespace

Dib scale_to_gray(const DibView& src, int factor) {
  if (factor < 1) throw Error(ERR_BAD_PARAMETER);
  const RowReader reader(src);
  if (!reader.supported()) throw Error(ERR_WRONG_IMAGE_TYPE);
  const int w = src.width(), h = src.height();
  const int tw = std::max(1, static_cast<int>((static_cast<std::int64_t>(w) + factor - 1) / factor));
  const int th = std::max(1, static_cast<int>((static_cast<std::int64_t>(h) + factor - 1) / factor));
  Dib out = allocate(8, tw, th, kGray);
  Locked t(out.get());
  set_resolution(t.view(), src.header().x_ppm / factor, src.header().y_ppm / factor);

  std::vector<std::uint8_t> gray(static_cast<std::size_t>(w) + 4);
  std::vector<std::uint32_t> acc(static_cast<std::size_t>(tw), 0);
  int rows = 0, ty = 0;
  for (int y = 0; y < h; ++y) {
    reader.gray(y, gray.data());
    for (int j = 0, x = 0; x < w; ++j, x += factor) {
      const int end = std::min(x + factor, w);
      std::uint32_t sum = 0;
      for (int i = x; i < end; ++i) sum += gray[static_cast<std::size_t>(i)];
      acc[static_cast<std::size_t>(j)] += sum / static_cast<std::uint32_t>(end - x);
    }
    if (++rows == factor || y == h - 1) {
      std::uint8_t* row = t->row(ty++);
      for (int j = 0; j < tw; ++j) row[j] = static_cast<std::uint8_t>(acc[static_cast<std::size_t>(j)] / static_cast<std::uint32_t>(rows));
      std::fill(acc.begin(), acc.end(), 0);
      rows = 0;
    }
  }
  return out;
}

Dib scaled_copy(const DibView& src, int width, int height) {
  if (width < 1 || height < 1) throw Error(ERR_WRONG_IMAGE_TYPE);
  const RowReader reader(src);
  if (!reader.supported()) throw Error(ERR_WRONG_IMAGE_TYPE);
  if (width == src.width() && height == src.height()) return block_copy(src);
  const bool gray = src.pixel_type() == kBW || src.pixel_type() == kGray;
  const int channels = gray ? 1 : 3;
  Dib out = allocate(gray ? 8 : 24, width, height, gray ? kGray : kRGB);
  Locked t(out.get());
  set_resolution(t.view(), src.header().x_ppm, src.header().y_ppm);
  const int w = src.width(), h = src.height();
  if (w == 0 || h == 0) return out;

  const Spans spans = spans_for(w, width);
  const Across across(spans);
  const std::size_t values = static_cast<std::size_t>(width) * static_cast<std::size_t>(channels);
  std::vector<std::uint8_t> in(static_cast<std::size_t>(w) * static_cast<std::size_t>(channels) + 4);
  std::vector<std::uint32_t> scaled(values);
  // The weighted sums of the target row being made. They are whole numbers
  // (below 2^52 for any image that fits in memory), so the level rounded to
  // nearest, floor(sum / H + 0.5), is (2 * sum + H) / (2 * H) exactly.
  std::vector<std::uint64_t> acc(values, 0);
  // Source row i covers [i * height, (i + 1) * height) and target row k
  // covers [k * h, (k + 1) * h), in the same units.
  const std::int64_t H = h, th = height;
  const Divider down(2 * static_cast<std::uint64_t>(H));
  std::int64_t k = 0;
  for (int i = 0; i < h && k < th; ++i) {
    if (gray) {
      reader.gray(i, in.data());
      across.row<1>(in.data(), scaled.data());
    } else {
      reader.rgb(i, in.data());
      across.row<3>(in.data(), scaled.data());
    }
    std::int64_t lo = i * th;
    const std::int64_t hi = (i + 1) * th;
    while (lo < hi && k < th) {
      const std::int64_t end = (k + 1) * H;
      const std::uint64_t part = static_cast<std::uint64_t>(std::min(hi, end) - lo);
      for (std::size_t v = 0; v < values; ++v) acc[v] += part * scaled[v];
      lo = std::min(hi, end);
      if (lo == end) {
        std::uint8_t* row = t->row(static_cast<int>(k++));
        for (std::size_t v = 0; v < values; ++v) {
          row[v] = static_cast<std::uint8_t>(std::min<std::uint64_t>(down(2 * acc[v] + static_cast<std::uint64_t>(H)), 255));
          acc[v] = 0;
        }
      }
    }
  }
  return out;
}

namespace {

// The source rows under one target row, and how much of each it covers
// (in units where a source row is `height` high and a target row `h`).
struct RowCover {
  int first = 0;
  std::vector<std::uint32_t> parts;
};

RowCover rows_under(std::int64_t k, std::int64_t h, std::int64_t height) {
  const std::int64_t lo = k * h, hi = (k + 1) * h;
  RowCover cover;
  cover.first = static_cast<int>(lo / height);
  for (std::int64_t i = cover.first; i * height < hi; ++i)
    cover.parts.push_back(static_cast<std::uint32_t>(std::min((i + 1) * height, hi) - std::max(i * height, lo)));
  return cover;
}

// Adds each byte of `row` to `sums`, `part` times (the first row of a target
// row sets them instead). Built also for AVX2 (chosen at load where the
// processor has it): eight sums at a time.
__attribute__((target_clones("avx2", "default"))) void add_row(const std::uint8_t* row,
                                                                 std::size_t n,
                                                                 std::uint32_t part, bool first,
                                                                 std::uint32_t* sums) {
  if (first) {
    for (std::size_t v = 0; v < n; ++v) sums[v] = part * row[v];
  } else {
    for (std::size_t v = 0; v < n; ++v) sums[v] += part * row[v];
  }
}

// One target row from the column sums: the weighted sum across each span
// over the whole area it stands for, rounded to nearest. The sums are whole
// numbers below 2^52, so the quotient in double precision is off the exact
// one by far less than what could move a level, except for a value within
// 10^-12 of a half, which may round either way.
template <int C, typename Total>
void finish_row(const std::uint32_t* sums, const Spans& s, double inverse_area, std::uint8_t* out) {
  const std::uint32_t* wt = s.weight.data();
  for (std::size_t j = 0; j < s.first.size(); ++j) {
    const std::uint32_t* p = sums + static_cast<std::size_t>(s.first[j]) * C;
    Total total[C] = {};
    for (std::uint32_t i = 0; i < s.count[j]; ++i, p += C) {
      for (int c = 0; c < C; ++c) total[c] += Total{wt[i]} * p[c];
    }
    for (int c = 0; c < C; ++c) {
      const double level = static_cast<double>(static_cast<std::int64_t>(total[c])) * inverse_area + 0.5;
      out[j * C + static_cast<std::size_t>(c)] = static_cast<std::uint8_t>(std::min(static_cast<std::int32_t>(level), 255));
    }
    wt += s.count[j];
  }
}

// A target row's levels, with 32-bit totals when 255 times the area fits.
template <int C>
void finish_row(const std::uint32_t* sums, const Spans& s, std::uint64_t area, std::uint8_t* out) {
  const double inverse_area = 1.0 / static_cast<double>(area);
  if (area <= 0xFFFFFFFFu / 255u) {
    finish_row<C, std::uint32_t>(sums, s, inverse_area, out);
  } else {
    finish_row<C, std::uint64_t>(sums, s, inverse_area, out);
  }
}

}  // namespace

namespace {

// What one band of target rows needs to be made.
struct ScreenJob {
  const DibView& src;
  const RowReader& reader;
  const Spans& spans;
  DibView& target;
  int channels;
  bool direct;  // 24-bit RGB rows are read where they lie
};

// Makes target rows [first, last): each from the column sums of the source
// rows under it.
void screen_rows(const ScreenJob& job, int first, int last) {
  const int h = job.src.height(), height = job.target.height();
  const std::uint64_t area = job.spans.total * static_cast<std::uint64_t>(h);
  const std::size_t n = static_cast<std::size_t>(job.src.width()) * static_cast<std::size_t>(job.channels);
  std::vector<std::uint8_t> in(n + 4);
  std::vector<std::uint32_t> sums(n);
  for (int k = first; k < last; ++k) {
    const RowCover cover = rows_under(k, h, height);
    for (std::size_t r = 0; r < cover.parts.size(); ++r) {
      const int y = cover.first + static_cast<int>(r);
      const std::uint8_t* row = in.data();
      if (job.direct) {
        row = job.src.row(y);
      } else if (job.channels == 1) {
        job.reader.gray(y, in.data());
      } else {
        job.reader.rgb(y, in.data());
      }
      add_row(row, n, cover.parts[r], r == 0, sums.data());
    }
    if (job.channels == 1) {
      finish_row<1>(sums.data(), job.spans, area, job.target.row(k));
    } else {
      finish_row<3>(sums.data(), job.spans, area, job.target.row(k));
    }
  }
}

// Pages above this many source pixels are made in two bands at once, where
// the processor has a second core: the person waiting for the screen feels
// the time, not the work.
constexpr std::int64_t kTwoBandPixels = 2'000'000;

}  // namespace

Dib screen_copy(const DibView& src, int width, int height) {
  const int w = src.width(), h = src.height();
  if (width < 1 || height < 1 || width > w || height > h) throw Error(ERR_WRONG_IMAGE_TYPE);
  const RowReader reader(src);
  if (!reader.supported()) throw Error(ERR_WRONG_IMAGE_TYPE);
  const bool gray = src.pixel_type() == kBW || src.pixel_type() == kGray;
  // The same size is a copy, as the scaled copy makes it. A column sum is at
  // most 255 times the source's height, a pixel's sum 255 times the source's
  // area: past what the arithmetic below holds, the scaled copy's is used.
  if ((width == w && height == h) || static_cast<std::uint64_t>(h) > 0xFFFFFFFFu / 255u ||
      static_cast<std::uint64_t>(w) * static_cast<std::uint64_t>(h) > (std::uint64_t{1} << 44))
    return scaled_copy(src, width, height);
  Dib out = allocate(gray ? 8 : 24, width, height, gray ? kGray : kRGB);
  Locked t(out.get());
  set_resolution(t.view(), src.header().x_ppm, src.header().y_ppm);
  const Spans spans = spans_for(w, width);
  const ScreenJob job{src, reader, spans, t.view(), gray ? 1 : 3,
                      src.depth() == 24 && src.pixel_type() == kRGB && !src.compressed()};
  const bool two_bands = static_cast<std::int64_t>(w) * h > kTwoBandPixels && height >= 2 &&
                         std::thread::hardware_concurrency() > 1;
  if (!two_bands) {
    screen_rows(job, 0, height);
    return out;
  }
  // The bands share nothing but what they read; each writes its own rows.
  const int middle = height / 2;
  std::exception_ptr failure;
  std::thread lower;
  try {
    lower = std::thread([&] {
      try {
        screen_rows(job, middle, height);
      } catch (...) {
        failure = std::current_exception();
      }
    });
  } catch (const std::system_error&) {
    screen_rows(job, 0, height);  // no thread to be had: one band
    return out;
  }
  try {
    screen_rows(job, 0, middle);
  } catch (...) {
    lower.join();
    throw;
  }
  lower.join();
  if (failure) std::rethrow_exception(failure);
  return out;
}

Dib resample(const DibView& src, double x_dpi, double y_dpi) {
  const InfoHeader& hd = src.header();
  if (hd.x_ppm <= 0 || hd.y_ppm <= 0 || !(x_dpi > 0) || !(y_dpi > 0)) throw Error(ERR_BAD_PARAMETER);
  if (src.depth() != 8 && src.depth() != 24) throw Error(ERR_WRONG_IMAGE_TYPE);
  auto target = [](double dpi, int size, std::int32_t ppm) {
    const double n = std::trunc(dpi * size / ppm_to_dpi(ppm) + 0.5);
    if (n > std::numeric_limits<std::int32_t>::max()) throw Error(ERR_BAD_PARAMETER);
    return (n < 1 && size > 0) ? 1 : static_cast<int>(n);
  };
  const int width = target(x_dpi, src.width(), hd.x_ppm);
  const int height = target(y_dpi, src.height(), hd.y_ppm);
  Dib out = scaled_copy(src, width, height);
  Locked t(out.get());
  set_resolution(t.view(), dpi_to_ppm(x_dpi), dpi_to_ppm(y_dpi));
  return out;
}

}  // namespace dib
