// Fuzz target: PDF files through OrvPdf's readers (page count, the first pages
// read from memory). The module is loaded from the program folder (the fuzz program sits
// in <build>/tests) or from the folder in QUILLET_MODULE_PATH.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "codecs/codec_abi.h"
#include "log/trace.h"
#include "orivane/dib_api.h"
#include "platform/memblock.h"
#include "twain/error_record.h"

namespace {

const OrvHost* host() {
  static const OrvHost h = [] {
    OrvHost x{};
    x.abi_version = ORV_CODEC_ABI_VERSION;
    x.size = sizeof(OrvHost);
    x.dib_alloc = [](int32_t t, int32_t w, int32_t h2, int32_t d) -> OrvHandle { return DIB_Create(t, w, h2, d); };
    x.dib_free = [](OrvHandle d) { DibFree(d); };
    x.mem_alloc = [](size_t n) -> OrvHandle { return platform::mem_alloc(n); };
    x.mem_realloc = [](OrvHandle m, size_t n) -> OrvHandle { return platform::mem_realloc(m, n); };
    x.mem_lock = [](OrvHandle m) { return platform::mem_lock(m); };
    x.mem_unlock = [](OrvHandle m) -> int32_t { return platform::mem_unlock(m) ? 1 : 0; };
    x.mem_size = [](OrvHandle m) { return platform::mem_size(m); };
    x.mem_free = [](OrvHandle m) { platform::mem_free(m); };
    x.record_error = [](int32_t code, const char* detail) { RecordError(code, detail); };
    x.log = [](const char*) {};
    x.trace_level = []() -> int32_t { return 0; };
    return x;
  }();
  return &h;
}

void* module() {
  static void* m = [] {
    // The library traces from DIB_Create: attach it as the program does.
    if (!LogAttached()) LogAttach();
    std::string folder;
    if (const char* p = std::getenv("QUILLET_MODULE_PATH")) {
      folder = p;
    } else {
      char buf[4096];
      const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
      std::string exe(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
      folder = exe.substr(0, exe.rfind('/'));
      folder = folder.substr(0, folder.rfind('/'));
    }
    void* h = dlopen((folder + "/OrvPdf.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!h) {
      std::fprintf(stderr, "fuzz_load_pdf: %s\n", dlerror());
      std::abort();
    }
    reinterpret_cast<OrvSetHostFn>(dlsym(h, "ORVPDF_SetHost"))(host());
    return h;
  }();
  return m;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  void* m = module();
  static auto count = reinterpret_cast<ORVPDF_CountPagesInBufferFn>(dlsym(m, "ORVPDF_CountPagesInBuffer"));
  static auto read = reinterpret_cast<ORVPDF_DibFromBufferFn>(dlsym(m, "ORVPDF_DibFromBuffer"));
  if (size == 0 || size > (1u << 24)) return 0;
  const int pages = count(data, static_cast<int32_t>(size), "");
  for (int p = 0; p < pages && p < 3; ++p) DibFree(read(data, static_cast<int32_t>(size), p, ""));
  return 0;
}
