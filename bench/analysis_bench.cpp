// The page analyses on a 300-DPI letter gray page (2550 x 3300) as the
// virtual scanner prints it (paragraphs of text, a heading, a barcode, a
// gradient strip) with light scanner noise, turned by 2.3 degrees: each
// analysis done by this library and the nearest operation of leptonica and
// ImageMagick (Magick++) on the same pixels in memory, so the ratios say what
// our implementation costs.
//
//   skew      DIB_DeskewAngle          pixConvertTo1(130) + pixFindSkew
//   deskew    DIB_AutoDeskew           pixDeskew(pix, 0)      Magick++ deskew(40 %)
//   blank     DIB_IsBlank(0.02)        (no peer)
//   crop      DIB_GetCropRect          Magick++ trim with fuzz 20 %   (page on a dark canvas)
//   contrast  copy + DIB_AutoContrast  Magick++ copy + autoLevel
//
// ImageMagick runs with OpenMP; ours and leptonica run on one thread.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "orivane/dib_analysis.h"
#include "orivane/dib_api.h"
#include "orivane/twain_session.h"
#include "sources/virtual/pages.h"

#ifdef ORV_BENCH_LEPT
#include <leptonica/allheaders.h>
#endif
#ifdef ORV_BENCH_MAGICK
#include <Magick++.h>
#endif

namespace {

constexpr int kWidth = 2550, kHeight = 3300;
// The canvas the crop works on: the page lying on a dark platen, a third of
// an inch of it showing on each side.
constexpr int kBorder = 100;

struct Page {
  std::vector<std::uint8_t> gray;    // kWidth x kHeight, rows top first
  std::vector<std::uint8_t> canvas;  // (kWidth + 2 kBorder) x (kHeight + 2 kBorder)
  DIB_HANDLE dib = 0, canvas_dib = 0;
};

DIB_HANDLE dib_from(const std::vector<std::uint8_t>& px, int w, int h) {
  const DIB_HANDLE d = DIB_Create(DIB_PT_GRAY, w, h, 8);
  for (int y = 0; y < h; ++y) DIB_WritePackedRow(d, y, &px[static_cast<std::size_t>(y) * w]);
  DIB_SetResolution(d, 300, 300);
  return d;
}

const Page& page() {
  static const Page p = [] {
    ORIVANE_Attach();
    Page pg;
    vscan::PageFormat f;
    f.pixel_type = TWPT_GRAY;
    f.bit_depth = 8;
    f.width = kWidth, f.height = kHeight, f.x_dpi = f.y_dpi = 300;
    vscan::PageFacts facts;
    facts.skew_degrees = 2.3;
    const auto raster = vscan::render_page(f, facts);
    pg.gray = raster->pixels;
    std::uint32_t s = 12345;
    for (std::uint8_t& v : pg.gray) {
      s = s * 1664525u + 1013904223u;
      v = static_cast<std::uint8_t>(std::clamp(v + static_cast<int>((s >> 16) % 7) - 3, 0, 255));
    }
    const int cw = kWidth + 2 * kBorder, ch = kHeight + 2 * kBorder;
    pg.canvas.assign(static_cast<std::size_t>(cw) * ch, 40);
    for (int y = 0; y < kHeight; ++y)
      std::memcpy(&pg.canvas[static_cast<std::size_t>(y + kBorder) * cw + kBorder],
                  &pg.gray[static_cast<std::size_t>(y) * kWidth], kWidth);
    pg.dib = dib_from(pg.gray, kWidth, kHeight);
    pg.canvas_dib = dib_from(pg.canvas, cw, ch);
    return pg;
  }();
  return p;
}

void BM_Skew_Orivane(benchmark::State& s) {
  const Page& p = page();
  for (auto _ : s) benchmark::DoNotOptimize(DIB_DeskewAngle(p.dib));
}

void BM_Deskew_Orivane(benchmark::State& s) {
  const Page& p = page();
  for (auto _ : s) DIB_Free(DIB_AutoDeskew(p.dib));
}

void BM_Blank_Orivane(benchmark::State& s) {
  const Page& p = page();
  for (auto _ : s) benchmark::DoNotOptimize(DIB_IsBlank(p.dib, 0.02));
}

void BM_Crop_Orivane(benchmark::State& s) {
  const Page& p = page();
  int32_t x, y, w, h;
  for (auto _ : s) benchmark::DoNotOptimize(DIB_GetCropRect(p.canvas_dib, 0, &x, &y, &w, &h));
}

void BM_Contrast_Orivane(benchmark::State& s) {
  const Page& p = page();
  for (auto _ : s) {
    const DIB_HANDLE copy = DibCopy(p.dib);
    DIB_AutoContrast(copy);
    DIB_Free(copy);
  }
}

BENCHMARK(BM_Skew_Orivane)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Deskew_Orivane)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Blank_Orivane)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Crop_Orivane)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Contrast_Orivane)->Unit(benchmark::kMillisecond);

#ifdef ORV_BENCH_LEPT
PIX* lept_page(const std::vector<std::uint8_t>& px, int w, int h) {
  PIX* pix = pixCreate(w, h, 8);
  l_uint32* data = pixGetData(pix);
  const int wpl = pixGetWpl(pix);
  for (int y = 0; y < h; ++y) {
    l_uint32* line = data + static_cast<std::ptrdiff_t>(y) * wpl;
    const std::uint8_t* src = &px[static_cast<std::size_t>(y) * w];
    for (int x = 0; x < w; ++x) SET_DATA_BYTE(line, x, src[x]);
  }
  pixSetResolution(pix, 300, 300);
  return pix;
}

void BM_Skew_Leptonica(benchmark::State& s) {
  PIX* pix = lept_page(page().gray, kWidth, kHeight);
  for (auto _ : s) {
    PIX* bw = pixConvertTo1(pix, 130);
    l_float32 angle = 0, conf = 0;
    pixFindSkew(bw, &angle, &conf);
    benchmark::DoNotOptimize(angle);
    pixDestroy(&bw);
  }
  pixDestroy(&pix);
}

void BM_Deskew_Leptonica(benchmark::State& s) {
  PIX* pix = lept_page(page().gray, kWidth, kHeight);
  for (auto _ : s) {
    PIX* out = pixDeskew(pix, 0);
    pixDestroy(&out);
  }
  pixDestroy(&pix);
}

BENCHMARK(BM_Skew_Leptonica)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Deskew_Leptonica)->Unit(benchmark::kMillisecond);
#endif

#ifdef ORV_BENCH_MAGICK
using MagickCore::Quantum;  // QuantumRange is a cast to it

Magick::Image magick_page(const std::vector<std::uint8_t>& px, int w, int h) {
  Magick::InitializeMagick(nullptr);
  return Magick::Image(static_cast<size_t>(w), static_cast<size_t>(h), "I", Magick::CharPixel, px.data());
}

void BM_Deskew_Magick(benchmark::State& s) {
  const Magick::Image src = magick_page(page().gray, kWidth, kHeight);
  for (auto _ : s) {
    Magick::Image img(src);
    img.deskew(0.4 * QuantumRange);
  }
}

void BM_Crop_Magick(benchmark::State& s) {
  const Magick::Image src = magick_page(page().canvas, kWidth + 2 * kBorder, kHeight + 2 * kBorder);
  for (auto _ : s) {
    Magick::Image img(src);
    img.colorFuzz(0.2 * QuantumRange);
    img.trim();
  }
}

void BM_Contrast_Magick(benchmark::State& s) {
  const Magick::Image src = magick_page(page().gray, kWidth, kHeight);
  for (auto _ : s) {
    Magick::Image img(src);
    img.autoLevel();
  }
}

BENCHMARK(BM_Deskew_Magick)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Crop_Magick)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Contrast_Magick)->Unit(benchmark::kMillisecond);
#endif

}  // namespace
