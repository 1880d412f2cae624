// Fuzz target: any bytes given to OrvGif's reader are decoded or refused
// without a crash, a leak of images or an unbounded allocation. The module is
// loaded as the library loads it: from QUILLET_MODULE_PATH, else the
// program's folder or its parent (where the build puts the modules).
#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "codecs/codec_abi.h"
#include "fileio/codec_modules.h"
#include "orivane/dib_api.h"

namespace {

void* module_load(const char* file) {
  std::string dirs[3];
  if (const char* env = std::getenv("QUILLET_MODULE_PATH")) dirs[0] = env;
  char exe[PATH_MAX] = {};
  if (::readlink("/proc/self/exe", exe, sizeof exe - 1) > 0) {
    dirs[1] = exe;
    dirs[1].resize(dirs[1].rfind('/'));
    dirs[2] = dirs[1].substr(0, dirs[1].rfind('/'));
  }
  for (const std::string& d : dirs) {
    if (d.empty()) continue;
    if (void* h = ::dlopen((d + "/" + file).c_str(), RTLD_NOW | RTLD_LOCAL)) return h;
  }
  return nullptr;
}

struct Gif {
  ORVGIF_DibFromFileFn from_file = nullptr;
  std::string path;
  Gif() {
    void* m = module_load("OrvGif.so");
    if (!m) __builtin_trap();  // a fuzz run without its module proves nothing
    auto set_host = reinterpret_cast<OrvSetHostFn>(::dlsym(m, "ORVGIF_SetHost"));
    from_file = reinterpret_cast<ORVGIF_DibFromFileFn>(::dlsym(m, "ORVGIF_DibFromFile"));
    if (!set_host || !from_file || set_host(fileio::codec_host()) != 0) __builtin_trap();
    path = "/tmp/fuzz_load_gif." + std::to_string(::getpid());
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Gif gif;
  // The module reads files only: each input goes through one scratch file.
  std::FILE* f = std::fopen(gif.path.c_str(), "wb");
  if (!f) return 0;
  if (size) std::fwrite(data, 1, size, f);
  std::fclose(f);
  const int live = DIB_LiveImageCount();
  const OrvHandle dib = gif.from_file(gif.path.c_str());
  if (dib && (DIB_Width(dib) < 1 || DIB_Height(dib) < 1)) __builtin_trap();
  DIB_Free(dib);
  if (DIB_LiveImageCount() != live) __builtin_trap();
  return 0;
}
