// The front end's report and the trace log against the plain operations they
// are built on: the ratio says what the key rule and the line formatting cost.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "app/report.h"
#include "log/trace.h"
#include "orivane/trace_log.h"

namespace {

constexpr int kPages = 20000;

// A long feeder run: one File line per page through the key rule.
void BM_ReportFileLines(benchmark::State& state) {
  for (auto _ : state) {
    front_end_reset_for_tests();
    for (int i = 1; i <= kPages; ++i) ReportLine("File%d=/scans/batch/page%05d.tif\n", i, i);
    benchmark::DoNotOptimize(front_end().report.text());
  }
  state.SetItemsProcessed(state.iterations() * kPages);
}
BENCHMARK(BM_ReportFileLines)->Unit(benchmark::kMillisecond);

// The bound: formatting the same lines into one string with no key rule.
void BM_ReportBoundPlainAppend(benchmark::State& state) {
  for (auto _ : state) {
    std::string text;
    char line[1024];
    for (int i = 1; i <= kPages; ++i) {
      std::snprintf(line, sizeof line, "File%d=/scans/batch/page%05d.tif\n", i, i);
      text += line;
    }
    benchmark::DoNotOptimize(text);
  }
  state.SetItemsProcessed(state.iterations() * kPages);
}
BENCHMARK(BM_ReportBoundPlainAppend)->Unit(benchmark::kMillisecond);

// Trace lines into an open log file at level 1.
void BM_TraceToFile(benchmark::State& state) {
  LogResetForTests();
  LogAttach();
  TWAIN_SetLogFolder("/tmp");
  TWAIN_SetLogName("quillet-bench.log");
  TWAIN_LogFile(1);
  int i = 0;
  for (auto _ : state) LogPrint("Acquire page %d: %dx%d, %d bits\n", ++i, 2480, 3508, 8);
  TWAIN_LogFile(0);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TraceToFile);

// The peer: the same lines through stdio with its own buffering.
void BM_TracePeerFprintf(benchmark::State& state) {
  std::FILE* f = std::fopen("/tmp/quillet-bench-peer.log", "w");
  int i = 0;
  for (auto _ : state) std::fprintf(f, "Acquire page %d: %dx%d, %d bits\n", ++i, 2480, 3508, 8);
  std::fclose(f);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TracePeerFprintf);

}  // namespace
