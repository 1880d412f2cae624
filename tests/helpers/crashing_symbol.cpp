// A barcode module that faults on request, for the tests of the library's
// guard around calls into OrvSymbol. Built twice: complete (in
// tests/crashing_engines) and, with ORV_TEST_INCOMPLETE, without
// OrvSymbol_ReadableCodes (in tests/incomplete_engines), as a module of an
// older contract would be.
//
// QUILLET_TEST_CRASH=DibAnalyze makes the next reading touch a page mapped
// without access: a real SIGSEGV, as a buggy engine raises it. Otherwise the
// module finds no code on any page.
#include <sys/mman.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>

#include "engines/symbol_abi.h"

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {

void crash_if_asked(const char* entry) {
  const char* asked = std::getenv("QUILLET_TEST_CRASH");
  if (!asked || std::strcmp(asked, entry) != 0) return;
  const long page = ::sysconf(_SC_PAGESIZE);
  void* target = ::mmap(nullptr, static_cast<std::size_t>(page), PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (target != MAP_FAILED) *static_cast<volatile int*>(target) = 0;
  std::raise(SIGSEGV);
}

}  // namespace

EXPORT int32_t OrvSymbol_Version(void) { return ORVSYMBOL_VERSION; }
EXPORT int32_t OrvSymbol_DibAnalyze(const void*, size_t, int32_t, int32_t, int32_t) {
  crash_if_asked("DibAnalyze");
  return 0;
}
EXPORT const char* OrvSymbol_Text(int32_t) { return ""; }
EXPORT int32_t OrvSymbol_Type(int32_t) { return 0; }
EXPORT int32_t OrvSymbol_GetRect(int32_t, int32_t*, int32_t*, int32_t*, int32_t*) { return 0; }
EXPORT int32_t OrvSymbol_IsEngineAvailable(int32_t engine) { return engine == 1; }
EXPORT int32_t OrvSymbol_SelectEngine(int32_t engine) { return engine == 1; }
EXPORT int32_t OrvSymbol_SelectedEngine(void) { return 1; }
EXPORT int32_t OrvSymbol_AvailableDirectionFlags(void) { return 15; }
EXPORT const char* OrvSymbol_EngineName(int32_t engine) { return engine == 1 ? "Talven" : ""; }
#ifndef ORV_TEST_INCOMPLETE
EXPORT int32_t OrvSymbol_ReadableCodes(int32_t engine) { return engine == 1 ? BARCODE_CODE128 : 0; }
#endif
EXPORT void OrvSymbol_SetLogHandler(OrvSymbolLogFn) {}
