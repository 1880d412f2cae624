// A codec module that crashes on request, built twice (as OrvPng.so and
// OrvDcx.so, in a folder of their own) for the tests of the library's fault
// guard around codec calls. It exports every entry point of both modules.
//
// QUILLET_TEST_CRASH names the entry that faults (for example
// "BmiWriteToFile" or "DibWritePage"): that entry touches a page that is
// mapped without access, a real SIGSEGV as a buggy codec raises it. Every
// other call behaves as a plain, trivial module: writers write a few bytes,
// readers find no image and say so.
#include <sys/mman.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "codecs/codec_abi.h"
#include "orivane/errors.h"

namespace {

const OrvHost* g_host = nullptr;
std::FILE* g_multipage = nullptr;

void crash_if_asked(const char* entry) {
  const char* asked = std::getenv("QUILLET_TEST_CRASH");
  if (!asked || std::strcmp(asked, entry) != 0) return;
  const long page = ::sysconf(_SC_PAGESIZE);
  void* target = ::mmap(nullptr, static_cast<std::size_t>(page), PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (target != MAP_FAILED) *static_cast<volatile int*>(target) = 0;
  std::raise(SIGSEGV);  // no page to touch: fault all the same
}

int32_t write_bytes(const char* path) {
  std::FILE* f = std::fopen(path, "wb");
  if (!f) return -20;
  const bool ok = std::fputs("crashing codec\n", f) >= 0;
  return std::fclose(f) == 0 && ok ? 0 : -20;
}

OrvHandle no_image(const char* path) {
  if (g_host) g_host->record_error(ERR_FILE_READ, path ? path : "");
  return 0;
}

}  // namespace

#define CRASHING_COMMON(PREFIX)                                                                  \
  ORV_CODEC_EXPORT int32_t PREFIX##_SetHost(const OrvHost* host) {                               \
    g_host = host;                                                                               \
    return 0;                                                                                    \
  }                                                                                              \
  ORV_CODEC_EXPORT int32_t PREFIX##_Version(void) { return 100; }                                \
  ORV_CODEC_EXPORT OrvHandle PREFIX##_DibFromFile(const char* path) {                            \
    crash_if_asked("DibFromFile");                                                               \
    return no_image(path);                                                                       \
  }                                                                                              \
  ORV_CODEC_EXPORT int32_t PREFIX##_BmiWriteToFile(const void*, const char* path) {              \
    crash_if_asked("BmiWriteToFile");                                                            \
    return write_bytes(path);                                                                    \
  }

extern "C" {

CRASHING_COMMON(ORVPNG)
CRASHING_COMMON(ORVDCX)

ORV_CODEC_EXPORT int32_t ORVDCX_BeginMultipageFile(const char* path) {
  crash_if_asked("BeginMultipageFile");
  if (g_multipage) std::fclose(g_multipage);
  g_multipage = std::fopen(path, "wb");
  return g_multipage ? 0 : -20;
}

ORV_CODEC_EXPORT int32_t ORVDCX_DibWritePage(const void*) {
  crash_if_asked("DibWritePage");
  return g_multipage && std::fputs("page\n", g_multipage) >= 0 ? 0 : -20;
}

ORV_CODEC_EXPORT int32_t ORVDCX_EndMultipageFile(void) {
  crash_if_asked("EndMultipageFile");
  if (!g_multipage) return -20;
  const int rc = std::fclose(g_multipage);
  g_multipage = nullptr;
  return rc == 0 ? 0 : -20;
}

ORV_CODEC_EXPORT int32_t ORVDCX_CountPagesInFile(const char*) {
  crash_if_asked("CountPagesInFile");
  return 1;
}

ORV_CODEC_EXPORT int32_t ORVDCX_CountPagesInBuffer(const void*, int32_t) {
  crash_if_asked("CountPagesInBuffer");
  return 1;
}

ORV_CODEC_EXPORT void ORVDCX_SelectPageToRead(int32_t) {}
ORV_CODEC_EXPORT void ORVDCX_SetAppendFlag(int32_t) {}
ORV_CODEC_EXPORT void ORVDCX_SetLogHandler(OrvLogHandler) {}

}  // extern "C"
