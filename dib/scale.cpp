// Scaling by area averaging.
//
// Gray thumbnails (scale_to_gray) average each f-pixel group of a row as an
// integer, add the averages up over f rows and divide by the rows added.
//
// Scaled copies treat both images as covering the same area. Horizontally a
// source pixel is w units wide and a target pixel W units (W, w = source and
// target widths), so each target pixel is the sum of the source pixels it
// overlaps weighted by the overlap, divided by W and rounded, in integers.
// Vertically the same is done with h and H in floating point, and the result
// is rounded to the nearest level and clamped to 0..255. Reductions by whole
// factors and enlargements come out of the same arithmetic; the result is
// exact for a source of one colour.
#include "dib/scale.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
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

// One source row of `channels` bytes per pixel scaled horizontally.
void scale_row(const std::uint8_t* in, int channels, const Spans& s, std::uint32_t* out) {
  const std::uint32_t* wt = s.weight.data();
  const std::uint64_t half = s.total / 2;
  const std::size_t n = s.first.size();
  for (std::size_t j = 0; j < n; ++j) {
    const std::uint8_t* p = in + static_cast<std::size_t>(s.first[j]) * static_cast<std::size_t>(channels);
    const std::uint32_t k = s.count[j];
    for (int c = 0; c < channels; ++c) {
      std::uint64_t sum = 0;
      for (std::uint32_t i = 0; i < k; ++i) sum += std::uint64_t{wt[i]} * p[static_cast<std::size_t>(i) * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)];
      out[j * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)] = static_cast<std::uint32_t>((sum + half) / s.total);
    }
    wt += k;
  }
}

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
  const std::size_t values = static_cast<std::size_t>(width) * static_cast<std::size_t>(channels);
  std::vector<std::uint8_t> in(static_cast<std::size_t>(w) * static_cast<std::size_t>(channels) + 4);
  std::vector<std::uint32_t> scaled(values);
  std::vector<double> acc(values, 0.0);
  // Source row i covers [i * height, (i + 1) * height) and target row k
  // covers [k * h, (k + 1) * h), in the same units.
  const std::int64_t H = h, th = height;
  std::int64_t k = 0;
  for (int i = 0; i < h && k < th; ++i) {
    if (gray) {
      reader.gray(i, in.data());
    } else {
      reader.rgb(i, in.data());
    }
    scale_row(in.data(), channels, spans, scaled.data());
    std::int64_t lo = i * th;
    const std::int64_t hi = (i + 1) * th;
    while (lo < hi && k < th) {
      const std::int64_t end = (k + 1) * H;
      const double part = static_cast<double>(std::min(hi, end) - lo);
      for (std::size_t v = 0; v < values; ++v) acc[v] += part * scaled[v];
      lo = std::min(hi, end);
      if (lo == end) {
        std::uint8_t* row = t->row(static_cast<int>(k++));
        for (std::size_t v = 0; v < values; ++v) {
          row[v] = static_cast<std::uint8_t>(std::clamp(std::floor(acc[v] / static_cast<double>(H) + 0.5), 0.0, 255.0));
          acc[v] = 0.0;
        }
      }
    }
  }
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
