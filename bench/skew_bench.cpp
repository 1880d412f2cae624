// Skew estimation and deskew on a 300-DPI letter page (2550 x 3300, 8-bit
// gray) of text lines turned by 2.3 degrees: the estimate alone, and the
// estimate with the turn back (what the automatic deskew does after its
// copy). One thread.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include "log/trace.h"
#include "orivane/dib_analysis.h"
#include "orivane/dib_api.h"

namespace {

constexpr int kWidth = 2550, kHeight = 3300;
constexpr double kTurnDegrees = 2.3;

// Whether the straight page is ink at (x, y): 60 lines of words, each word
// a run of glyph strokes, between margins of an inch.
bool ink(int x, int y) {
  if (x < 300 || x >= kWidth - 300 || y < 300) return false;
  const int line = (y - 300) / 45, in_line = (y - 300) % 45;
  if (line >= 60 || in_line < 10 || in_line >= 34) return false;
  const int word = (x + line * 37) % 190;
  if (word >= 150) return false;  // the space between words
  return (x * 7 + line * 3) % 17 < 5;  // strokes
}

// The page turned counter-clockwise about its centre (nearest pixel), with
// a little sensor noise.
DIB_HANDLE turned_page() {
  const double a = kTurnDegrees * std::numbers::pi / 180, c = std::cos(a), s = std::sin(a);
  const DIB_HANDLE h = DIB_Allocate(8, kWidth, kHeight);
  DIB_SetResolution(h, 300, 300);
  std::vector<std::uint8_t> row(kWidth);
  std::uint32_t noise = 12345;
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      const double u = x - kWidth / 2.0, v = y - kHeight / 2.0;
      const int sx = static_cast<int>(std::lround(c * u - s * v + kWidth / 2.0));
      const int sy = static_cast<int>(std::lround(s * u + c * v + kHeight / 2.0));
      noise = noise * 1664525u + 1013904223u;
      row[x] = static_cast<std::uint8_t>((ink(sx, sy) ? 20 : 235) + (noise >> 16) % 13);
    }
    DIB_WritePackedRow(h, y, row.data());
  }
  return h;
}

void BM_SkewEstimate(benchmark::State& state) {
  if (!LogAttached()) LogAttach();
  const DIB_HANDLE page = turned_page();
  double angle = 0;
  for (auto _ : state) benchmark::DoNotOptimize(angle = DIB_DeskewAngle(page));
  state.counters["degrees"] = angle * 180 / std::numbers::pi;
  DIB_Free(page);
}
BENCHMARK(BM_SkewEstimate)->Unit(benchmark::kMillisecond);

void BM_SkewEstimateAndTurn(benchmark::State& state) {
  if (!LogAttached()) LogAttach();
  const DIB_HANDLE page = turned_page();
  for (auto _ : state) {
    state.PauseTiming();
    const DIB_HANDLE work = DibCopy(page);
    state.ResumeTiming();
    DIB_SkewByRadians(work, DIB_DeskewAngle(work));
    state.PauseTiming();
    DIB_Free(work);
    state.ResumeTiming();
  }
  DIB_Free(page);
}
BENCHMARK(BM_SkewEstimateAndTurn)->Unit(benchmark::kMillisecond);

}  // namespace
