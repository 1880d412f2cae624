// The image model's pixel work on a 300-DPI letter page (2550 x 3300): each
// operation done by this library, and the same operation done in this binary
// by ImageMagick (Magick++) and by libvips on the same pixels in memory, so
// that the ratios say what our implementation costs. Every run makes its
// result image (as ours does); nothing touches a file.
//
// Peers, where their libraries were found at build time:
//   gray      Magick++ type(Grayscale)          vips recomb(luminance) + cast
//   bw        threshold(128)                    (gray >= 128)
//   dither    quantize 2 gray colours, F-S      (no in-memory equivalent)
//   palette   quantize 256 colours, F-S         (no in-memory equivalent)
//   rotate    rotate(90)                        rot(d90)
//   thumb     scale to 1/4, then Grayscale      recomb + cast + shrink(4, 4)
//   resample  scale to 850 x 1100               shrink(3, 3)
// vips runs with its default thread pool and ImageMagick with OpenMP; ours
// runs on one thread.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "log/trace.h"
#include "orivane/dib_api.h"
#include "platform/device_context.h"
#include "ui/image_window.h"

#ifdef ORV_BENCH_MAGICK
#include <Magick++.h>
#endif
#ifdef ORV_BENCH_VIPS
#include <vips/vips8>
#endif

namespace {

constexpr int kWidth = 2550, kHeight = 3300;

// Cheap deterministic noise.
struct Lcg {
  std::uint32_t s = 12345;
  int next(int range) {
    s = s * 1664525u + 1013904223u;
    return static_cast<int>((s >> 16) % static_cast<std::uint32_t>(range));
  }
};

// A scanned letter page: white paper with a little scanner noise, 60 lines
// of black "text" with soft edges, a colour photograph and a colour logo.
std::vector<std::uint8_t> page_bgr() {
  std::vector<std::uint8_t> px(static_cast<std::size_t>(kWidth) * kHeight * 3);
  Lcg rng;
  for (int y = 0; y < kHeight; ++y) {
    std::uint8_t* row = &px[static_cast<std::size_t>(y) * kWidth * 3];
    const int line = (y - 300) / 45, in_line = (y - 300) % 45;
    const bool text_row = y >= 300 && line < 60 && in_line >= 8 && in_line < 36;
    for (int x = 0; x < kWidth; ++x) {
      int r = 250, g = 249, b = 246;  // paper
      if (text_row && x >= 225 && x < 2325) {
        // Glyphs: strokes of varying width every 14..30 pixels.
        const int cell = (x * 7 + line * 131) % 23;
        if (cell < 5 || (in_line > 20 && in_line < 24 && cell < 12)) r = g = b = cell == 0 || cell == 4 ? 90 : 20;
      }
      if (y >= 1900 && y < 2800 && x >= 300 && x < 1500) {
        const double u = (x - 300) / 1200.0, v = (y - 1900) / 900.0;
        r = static_cast<int>(128 + 110 * std::sin(6.0 * u + 2.0 * v));
        g = static_cast<int>(120 + 100 * std::cos(4.0 * v - 3.0 * u));
        b = static_cast<int>(110 + 90 * std::sin(9.0 * u * v + 1.0));
      }
      if (y >= 120 && y < 260 && x >= 2000 && x < 2400) {
        const int band = (x - 2000) / 100;
        const int logo[4][3] = {{200, 20, 30}, {20, 120, 200}, {250, 190, 0}, {0, 150, 70}};
        r = logo[band][0], g = logo[band][1], b = logo[band][2];
      }
      const int n = rng.next(5) - 2;
      row[3 * x] = static_cast<std::uint8_t>(std::clamp(b + n, 0, 255));
      row[3 * x + 1] = static_cast<std::uint8_t>(std::clamp(g + n, 0, 255));
      row[3 * x + 2] = static_cast<std::uint8_t>(std::clamp(r + n, 0, 255));
    }
  }
  return px;
}

// The page in each form the operations start from: our images, and the same
// pixels packed (no row padding, top row first) for the peers.
struct Page {
  DIB_HANDLE rgb = 0, gray = 0, bw = 0;
  std::vector<std::uint8_t> bgr, luma, bilevel;  // packed
};

std::vector<std::uint8_t> packed(DIB_HANDLE h, int bytes_per_pixel) {
  const std::size_t row_bytes = static_cast<std::size_t>(kWidth) * bytes_per_pixel;
  std::vector<std::uint8_t> out(row_bytes * kHeight);
  for (int y = 0; y < kHeight; ++y) DIB_ReadRow(h, y, &out[row_bytes * y], static_cast<int32_t>(row_bytes));
  return out;
}

const Page& page() {
  static const Page p = [] {
    if (!LogAttached()) LogAttach();
    Page pg;
    pg.bgr = page_bgr();
    pg.rgb = DIB_Allocate(24, kWidth, kHeight);
    for (int y = 0; y < kHeight; ++y) {
      DIB_WriteRow(pg.rgb, y, &pg.bgr[static_cast<std::size_t>(y) * kWidth * 3], kWidth * 3);
    }
    DIB_SetResolution(pg.rgb, 300, 300);
    pg.gray = DIB_ConvertToFormat(pg.rgb, DIB_PT_GRAY, 8, nullptr);
    pg.bw = DIB_ConvertToBW(pg.gray, 128);
    pg.luma = packed(pg.gray, 1);
    // The peers keep black and white as one byte per pixel, 0 or 255.
    const DIB_HANDLE bw8 = DIB_ConvertToFormat(pg.bw, DIB_PT_GRAY, 8, nullptr);
    pg.bilevel = packed(bw8, 1);
    DIB_Free(bw8);
    return pg;
  }();
  return p;
}

// Runs one of our operations that returns a new image.
template <typename F>
void run_ours(benchmark::State& state, F op) {
  const Page& p = page();
  for (auto _ : state) {
    const DIB_HANDLE out = op(p);
    if (out == 0) state.SkipWithError("operation failed");
    DIB_Free(out);
  }
}

void BM_Gray_Orivane(benchmark::State& s) {
  run_ours(s, [](const Page& p) { return DIB_ConvertToFormat(p.rgb, DIB_PT_GRAY, 8, nullptr); });
}
void BM_Threshold_Orivane(benchmark::State& s) {
  run_ours(s, [](const Page& p) { return DIB_ConvertToBW(p.gray, 128); });
}
void BM_Dither_Orivane(benchmark::State& s) {
  const DIB_CONVERT_OPTIONS o{DIB_CONVERT_DIFFUSE, 0, 0};
  run_ours(s, [&](const Page& p) { return DIB_ConvertToFormat(p.gray, DIB_PT_BW, 1, &o); });
}
void BM_Palette_Orivane(benchmark::State& s) {
  run_ours(s, [](const Page& p) { return DIB_ConvertToFormat(p.rgb, DIB_PT_PALETTE, 8, nullptr); });
}
void BM_RotateRgb_Orivane(benchmark::State& s) {
  run_ours(s, [](const Page& p) { return DIB_Rotate90(p.rgb, 1); });
}
void BM_RotateBw_Orivane(benchmark::State& s) {
  run_ours(s, [](const Page& p) { return DIB_Rotate90(p.bw, 1); });
}
void BM_Thumb_Orivane(benchmark::State& s) {
  run_ours(s, [](const Page& p) { return DIB_ScaleToGray(p.rgb, 4); });
}
void BM_Resample_Orivane(benchmark::State& s) {
  run_ours(s, [](const Page& p) { return DIB_Resample(p.rgb, 100, 100); });
}

// The screen's drawing of a 300-dpi letter page into an 800 x 1035 area (a
// page fitted to a 1035-pixel-high view): area averaging to the area's size,
// then the 1:1 copy into the context. The context here is memory, so that the
// figure is the library's work, not the X server's.
class MemoryScreen final : public platform::DeviceContext {
 public:
  MemoryScreen() : pixels_(800u * 1035u * 3u) {}
  platform::DrawRect clip_box() const override { return {0, 0, 800, 1035}; }
  void draw_pixels(int x, int y, int w, int h, const std::uint8_t* p, int channels,
                   int stride) override {
    for (int j = 0; j < h; ++j)
      std::memcpy(&pixels_[(static_cast<std::size_t>(y + j) * 800 + x) * 3],
                  p + static_cast<std::size_t>(j) * stride,
                  static_cast<std::size_t>(w) * channels);
  }

 private:
  std::vector<std::uint8_t> pixels_;
};

void BM_DrawToDC_Orivane(benchmark::State& s) {
  const Page& p = page();
  MemoryScreen screen;
  const platform::DcHandle dc = platform::dc_register(&screen);
  for (auto _ : s) DIB_DrawToDC(p.rgb, dc, 0, 0, 800, 1035, 0, 0);
  platform::dc_unregister(dc);
}

// From a window's creation to its first painted frame of that page, on the
// display in $DISPLAY (bench/window_bench.sh starts a virtual one): the wait
// a person sees when a review or viewer window opens.
void BM_FirstFrame_Window(benchmark::State& s) {
  const Page& p = page();
  if (!ui::show_image_window(p.rgb, "bench", 800, 1035)) {
    s.SkipWithError("no display answers ($DISPLAY)");
    return;
  }
  for (auto _ : s) {
    if (!ui::show_image_window(p.rgb, "bench", 800, 1035)) s.SkipWithError("window not painted");
  }
  ui::close_image_window();
}

BENCHMARK(BM_DrawToDC_Orivane)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FirstFrame_Window)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Gray_Orivane)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Threshold_Orivane)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Dither_Orivane)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Palette_Orivane)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RotateRgb_Orivane)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RotateBw_Orivane)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Thumb_Orivane)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Resample_Orivane)->Unit(benchmark::kMillisecond);

#ifdef ORV_BENCH_MAGICK

using MagickCore::Quantum;  // QuantumRange is a cast to it

// ImageMagick works on its own copy-on-write images: each run changes a copy
// of the page, which makes ImageMagick clone the pixels first, as we make a
// new image.
struct MagickPages {
  Magick::Image rgb, gray, bw;
};

const MagickPages& magick_pages() {
  static const MagickPages m = [] {
    Magick::InitializeMagick(nullptr);
    const Page& p = page();
    MagickPages pages;
    pages.rgb = Magick::Image(kWidth, kHeight, "BGR", Magick::CharPixel, p.bgr.data());
    pages.gray = Magick::Image(kWidth, kHeight, "I", Magick::CharPixel, p.luma.data());
    pages.bw = Magick::Image(kWidth, kHeight, "I", Magick::CharPixel, p.bilevel.data());
    return pages;
  }();
  return m;
}

template <typename F>
void run_magick(benchmark::State& state, const Magick::Image& source, F op) {
  for (auto _ : state) {
    Magick::Image img(source);
    op(img);
    benchmark::DoNotOptimize(img.columns());
  }
}

void BM_Gray_Magick(benchmark::State& s) {
  run_magick(s, magick_pages().rgb, [](Magick::Image& i) { i.type(Magick::GrayscaleType); });
}
void BM_Threshold_Magick(benchmark::State& s) {
  run_magick(s, magick_pages().gray, [](Magick::Image& i) { i.threshold(128.0 * QuantumRange / 255.0); });
}
void BM_Dither_Magick(benchmark::State& s) {
  run_magick(s, magick_pages().gray, [](Magick::Image& i) {
    i.quantizeDitherMethod(MagickCore::FloydSteinbergDitherMethod);
    i.quantizeDither(true);
    i.quantizeColorSpace(Magick::GRAYColorspace);
    i.quantizeColors(2);
    i.quantize();
  });
}
void BM_Palette_Magick(benchmark::State& s) {
  run_magick(s, magick_pages().rgb, [](Magick::Image& i) {
    i.quantizeDitherMethod(MagickCore::FloydSteinbergDitherMethod);
    i.quantizeDither(true);
    i.quantizeColors(256);
    i.quantize();
  });
}
void BM_RotateRgb_Magick(benchmark::State& s) {
  run_magick(s, magick_pages().rgb, [](Magick::Image& i) { i.rotate(90); });
}
void BM_RotateBw_Magick(benchmark::State& s) {
  run_magick(s, magick_pages().bw, [](Magick::Image& i) { i.rotate(90); });
}
void BM_Thumb_Magick(benchmark::State& s) {
  run_magick(s, magick_pages().rgb, [](Magick::Image& i) {
    i.scale(Magick::Geometry("638x825!"));
    i.type(Magick::GrayscaleType);
  });
}
void BM_Resample_Magick(benchmark::State& s) {
  run_magick(s, magick_pages().rgb, [](Magick::Image& i) { i.scale(Magick::Geometry("850x1100!")); });
}

// ImageMagick's box-filter scaling of the same page to the same size.
void BM_DrawScale_Magick(benchmark::State& s) {
  run_magick(s, magick_pages().rgb, [](Magick::Image& i) { i.scale(Magick::Geometry("800x1035!")); });
}

BENCHMARK(BM_DrawScale_Magick)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Gray_Magick)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Threshold_Magick)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Dither_Magick)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Palette_Magick)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RotateRgb_Magick)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RotateBw_Magick)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Thumb_Magick)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Resample_Magick)->Unit(benchmark::kMillisecond);

#endif  // ORV_BENCH_MAGICK

#ifdef ORV_BENCH_VIPS

// vips builds a pipeline lazily; writing the result to memory runs it. The
// operation cache is off so that every run computes.
struct VipsPages {
  vips::VImage rgb, gray, bw;
};

const VipsPages& vips_pages() {
  static const VipsPages v = [] {
    if (VIPS_INIT("quillet_bench") != 0) vips_error_exit(nullptr);
    vips_cache_set_max(0);
    Page& p = const_cast<Page&>(page());
    VipsPages pages;
    pages.rgb = vips::VImage::new_from_memory(p.bgr.data(), p.bgr.size(), kWidth, kHeight, 3, VIPS_FORMAT_UCHAR);
    pages.gray = vips::VImage::new_from_memory(p.luma.data(), p.luma.size(), kWidth, kHeight, 1, VIPS_FORMAT_UCHAR);
    pages.bw = vips::VImage::new_from_memory(p.bilevel.data(), p.bilevel.size(), kWidth, kHeight, 1, VIPS_FORMAT_UCHAR);
    return pages;
  }();
  return v;
}

// Our luminance weights in the page's band order (blue, green, red).
vips::VImage vips_luminance(const vips::VImage& bgr) {
  return bgr.recomb(vips::VImage::new_matrixv(3, 1, 2293.0 / 32768, 23593.0 / 32768, 6882.0 / 32768))
      .cast(VIPS_FORMAT_UCHAR);
}

template <typename F>
void run_vips(benchmark::State& state, F op) {
  const VipsPages& v = vips_pages();
  for (auto _ : state) {
    const vips::VImage out = op(v);
    std::size_t size = 0;
    void* bytes = out.write_to_memory(&size);
    benchmark::DoNotOptimize(bytes);
    g_free(bytes);
  }
}

void BM_Gray_Vips(benchmark::State& s) {
  run_vips(s, [](const VipsPages& v) { return vips_luminance(v.rgb); });
}
void BM_Threshold_Vips(benchmark::State& s) {
  run_vips(s, [](const VipsPages& v) { return v.gray >= 128; });
}
void BM_RotateRgb_Vips(benchmark::State& s) {
  run_vips(s, [](const VipsPages& v) { return v.rgb.rot(VIPS_ANGLE_D90); });
}
void BM_RotateBw_Vips(benchmark::State& s) {
  run_vips(s, [](const VipsPages& v) { return v.bw.rot(VIPS_ANGLE_D90); });
}
void BM_Thumb_Vips(benchmark::State& s) {
  run_vips(s, [](const VipsPages& v) { return vips_luminance(v.rgb).shrink(4, 4); });
}
void BM_Resample_Vips(benchmark::State& s) {
  run_vips(s, [](const VipsPages& v) { return v.rgb.shrink(3, 3); });
}

BENCHMARK(BM_Gray_Vips)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Threshold_Vips)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RotateRgb_Vips)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RotateBw_Vips)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Thumb_Vips)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Resample_Vips)->Unit(benchmark::kMillisecond);

#endif  // ORV_BENCH_VIPS

}  // namespace
