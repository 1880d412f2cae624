// One 300-DPI letter RGB page (2550 x 3300, 25 MB) acquired from the virtual
// scanner by native and by memory transfer, against a plain memcpy of the
// same bytes measured in the same run: "copies" says how many page copies
// the whole transfer path costs (device, Source Manager, library, DIB).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "orivane/dib_api.h"
#include "orivane/errors.h"
#include "orivane/twain.h"
#include "orivane/twain_acquire.h"
#include "orivane/twain_session.h"
#include "orivane/twain_settings.h"
#include "orivane/twain_switches.h"
#include "platform/paths.h"

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kPageBytes = 2550ull * 3 * 3300;

// The virtual scanner of this build, with one letter-size 300-DPI colour
// feeder that never runs dry during a benchmark.
void use_virtual_scanner() {
  static bool done = false;
  if (done) return;
  done = true;
  const std::string build = fs::path(platform::program_path()).parent_path().parent_path().string();
  const std::string config = (fs::temp_directory_path() / "quillet-bench-vscan.ini").string();
  std::ofstream(config) << "[device]\nproduct = Bench Scanner\nfeeder_sheets = 32000\ntwo_sided = no\n"
                           "pixel_types = rgb\npixel_type = rgb\nresolutions = 300\ndpi_default = 300\n"
                           "width = 8.5\nheight = 11\nmem_preferred = 1048576\n";
  setenv("QUILLET_VSCAN", config.c_str(), 1);
  setenv("QUILLET_DSM_PATH", (build + "/libtwaindsm.so").c_str(), 1);
  setenv("QUILLET_TWAIN_PATH", (build + "/twain").c_str(), 1);
  setenv("QUILLET_UI", "none", 1);
  ORIVANE_Attach();
}

// Seconds for one memcpy of a page, the best of several.
double memcpy_seconds() {
  static double best = 0;
  if (best > 0) return best;
  std::vector<char> from(kPageBytes, 1), to(kPageBytes);
  best = 1e9;
  for (int i = 0; i < 10; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    std::memcpy(to.data(), from.data(), kPageBytes);
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
  return best;
}

void acquire_pages(benchmark::State& state, uintptr_t (*acquire)(uintptr_t)) {
  use_virtual_scanner();
  const double copy = memcpy_seconds();
  TWAIN_SetMultiTransfer(1);
  TWAIN_SetHideUI(1);
  // The first page renders the device's page template: not part of a transfer.
  if (uintptr_t first = acquire(0)) DIB_Free(first);
  int failed = 0;
  for (auto _ : state) {
    const uintptr_t dib = acquire(0);
    if (dib == 0) ++failed;
    DIB_Free(dib);
  }
  TWAIN_Shutdown();
  if (failed) state.SkipWithError("a transfer failed");
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kPageBytes));
  state.counters["pages_per_s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["memcpy_ms"] = copy * 1e3;
  // Filled in by the reporter's own time: per-page time over one memcpy.
  state.counters["copies"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * copy, benchmark::Counter::kIsRate |
                                                                             benchmark::Counter::kInvert);
}

uintptr_t native(uintptr_t window) { return TWAIN_AcquireNative(window, 0); }

void BM_AcquireNativeLetterRgb300(benchmark::State& state) { acquire_pages(state, native); }
BENCHMARK(BM_AcquireNativeLetterRgb300)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

void BM_AcquireMemoryLetterRgb300(benchmark::State& state) { acquire_pages(state, TWAIN_AcquireMemory); }
BENCHMARK(BM_AcquireMemoryLetterRgb300)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

// The bound: the same bytes copied once.
void BM_MemcpyLetterRgb300(benchmark::State& state) {
  std::vector<char> from(kPageBytes, 1), to(kPageBytes);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), kPageBytes);
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kPageBytes));
}
BENCHMARK(BM_MemcpyLetterRgb300)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
