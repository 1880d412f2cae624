// barcode_run: the library's barcode reading in process, timed from inside so
// that bench/barcode_bench.sh can set it beside whole-process runs.
//
//   barcode_run FILE RUNS [ENGINE]   reads the first page of FILE RUNS times
//                                    with engine ENGINE (default 1) and
//                                    prints "best_ms=<ms> codes=<n>", then
//                                    one line per code: type, text
//
// Exit status 0 when the page was read; 1 with the reason on standard error.
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "orivane/barcode_api.h"
#include "orivane/dib_api.h"
#include "orivane/file_api.h"
#include "orivane/twain_error.h"
#include "orivane/twain_session.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: barcode_run FILE RUNS [ENGINE]\n");
    return 2;
  }
  ORIVANE_Attach();
  TWAIN_SuppressErrorMessages(1);
  const DIB_HANDLE page = DIB_LoadFromFilename(argv[1]);
  const int runs = std::atoi(argv[2]);
  if (!page || runs < 1 || (argc > 3 && !BARCODE_SelectEngine(std::atoi(argv[3])))) {
    char text[512] = "";
    TWAIN_GetLastErrorText(text);
    std::fprintf(stderr, "barcode_run: %s: %s\n", argv[1], text);
    return 1;
  }
  double best = 1e300;
  int codes = 0;
  for (int i = 0; i < runs; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    codes = BARCODE_Recognize(page, -1, -1);
    const std::chrono::duration<double, std::milli> ms = std::chrono::steady_clock::now() - t0;
    if (ms.count() < best) best = ms.count();
  }
  std::printf("best_ms=%.1f codes=%d\n", best, codes);
  for (int i = 0; i < codes; ++i) {
    char text[BARCODE_TEXT_MAX + 1], type[32];
    BARCODE_GetText(i, text);
    std::printf("%s\t%s\n", BARCODE_TypeName(BARCODE_GetType(i), type), text);
  }
  DIB_Free(page);
  return 0;
}
