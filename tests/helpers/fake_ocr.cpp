// An OCR module that answers without an engine, built as OrvOcr.so in a
// folder of its own for the tests of the library's loader and of its fault
// guard. It exports every entry point of engines/ocr/ocr_abi.h.
//
// QUILLET_TEST_OCR_VERSION sets the version it claims (default: the
// contract's). QUILLET_TEST_CRASH=RecognizeDib makes recognition touch a page
// mapped without access, a real SIGSEGV. Otherwise every page reads as the
// one word "fake" in a box at the top left, turned as
// QUILLET_TEST_OCR_ORIENTATION says (default 0).
#include <sys/mman.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>

#include "engines/ocr/ocr_abi.h"

namespace {

const char* g_text = "";
int g_selected = 0;

int env_int(const char* name, int fallback) {
  const char* v = std::getenv(name);
  return v ? std::atoi(v) : fallback;
}

void crash_if_asked(const char* entry) {
  const char* asked = std::getenv("QUILLET_TEST_CRASH");
  if (!asked || std::strcmp(asked, entry) != 0) return;
  const long page = ::sysconf(_SC_PAGESIZE);
  void* target = ::mmap(nullptr, static_cast<std::size_t>(page), PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (target != MAP_FAILED) *static_cast<volatile int*>(target) = 0;
  std::raise(SIGSEGV);
}

}  // namespace

extern "C" {

ORVOCR_EXPORT int32_t ORVOCR_Version(void) { return env_int("QUILLET_TEST_OCR_VERSION", ORVOCR_VERSION); }
ORVOCR_EXPORT int32_t ORVOCR_RecognizeDib(const void*, uint64_t) {
  crash_if_asked("RecognizeDib");
  g_text = "fake";
  return 4;
}
ORVOCR_EXPORT int32_t ORVOCR_IsEngineAvailable(int32_t engine) { return engine == 1; }
ORVOCR_EXPORT const char* ORVOCR_Text(void) { return g_text; }
ORVOCR_EXPORT void ORVOCR_ClearText(void) { g_text = ""; }
ORVOCR_EXPORT int32_t ORVOCR_SelectEngine(int32_t engine) {
  if (engine != 1) return 0;
  g_selected = 1;
  return 1;
}
ORVOCR_EXPORT int32_t ORVOCR_SelectedEngine(void) { return g_selected; }
ORVOCR_EXPORT const char* ORVOCR_EngineName(int32_t engine) { return engine == 1 ? "Fake" : ""; }
// The word runs left to right as the text reads: on a page lying upside
// down, from right to left on the page as it lies.
ORVOCR_EXPORT int32_t ORVOCR_GetCharPositions(int32_t* x, int32_t* y, int32_t capacity) {
  const int n = capacity < 4 ? capacity : 4;
  const bool reversed = env_int("QUILLET_TEST_OCR_ORIENTATION", 0) == 180;
  for (int i = 0; i < n; ++i) x[i] = reversed ? 40 - 10 * i : 10 + 10 * i, y[i] = 20;
  return n;
}
ORVOCR_EXPORT int32_t ORVOCR_GetCharSizes(int32_t* w, int32_t* h, int32_t capacity) {
  const int n = capacity < 4 ? capacity : 4;
  for (int i = 0; i < n; ++i) w[i] = 10, h[i] = 30;
  return n;
}
ORVOCR_EXPORT int32_t ORVOCR_SelectDefaultEngine(void) { return ORVOCR_SelectEngine(1); }
ORVOCR_EXPORT int32_t ORVOCR_TextOrientation(void) { return env_int("QUILLET_TEST_OCR_ORIENTATION", 0); }
ORVOCR_EXPORT void ORVOCR_SetLogHandler(OrvOcrLogFn) {}
ORVOCR_EXPORT void ORVOCR_SetLineBreak(const char*) {}

}  // extern "C"
