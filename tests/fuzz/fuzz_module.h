// What the codec fuzz targets share: loading a module as the library does
// (from QUILLET_MODULE_PATH, else the program's folder or its parent, where
// the build puts the modules), handing it the library's host table, a scratch
// file for readers that take file names, and the checks every decoded image
// must pass.
#pragma once
#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "codecs/codec_abi.h"
#include "fileio/codec_modules.h"
#include "log/trace.h"
#include "orivane/dib_api.h"

namespace fuzz {

// Loads `file` (e.g. "OrvPng.so") and installs the host table through
// <prefix>_SetHost. A fuzz run without its module proves nothing: trap.
inline void* load_module(const char* file, const char* prefix) {
  // The library traces from the allocator: attach it as the program does.
  if (!LogAttached()) LogAttach();
  std::string folders[3];
  if (const char* env = std::getenv("QUILLET_MODULE_PATH")) folders[0] = env;
  char exe[PATH_MAX] = {};
  if (::readlink("/proc/self/exe", exe, sizeof exe - 1) > 0) {
    folders[1] = exe;
    folders[1].resize(folders[1].rfind('/'));
    folders[2] = folders[1].substr(0, folders[1].rfind('/'));
  }
  for (const std::string& folder : folders) {
    if (folder.empty()) continue;
    void* m = ::dlopen((folder + "/" + file).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m) continue;
    auto set_host = reinterpret_cast<OrvSetHostFn>(::dlsym(m, (std::string(prefix) + "_SetHost").c_str()));
    if (!set_host || set_host(fileio::codec_host()) != 0) __builtin_trap();
    return m;
  }
  std::fprintf(stderr, "fuzz: cannot load %s\n", file);
  __builtin_trap();
}

// An entry point of the module; a missing one is a broken build: trap.
template <typename Fn>
Fn entry(void* module, const char* name) {
  auto fn = reinterpret_cast<Fn>(::dlsym(module, name));
  if (!fn) __builtin_trap();
  return fn;
}

// A per-process scratch file holding the input, for readers of file names.
inline const std::string& write_scratch(const char* tag, const std::uint8_t* data, std::size_t size) {
  static const std::string path =
      std::string("/tmp/fuzz_") + tag + "." + std::to_string(::getpid());
  if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  return path;
}

// A decoded image has a size; every image is freed again.
inline void check_and_free(OrvHandle dib) {
  if (dib && (DIB_Width(dib) < 1 || DIB_Height(dib) < 1)) __builtin_trap();
  DIB_Free(dib);
}

// No decode may leave an image behind.
class LeakCheck {
 public:
  LeakCheck() : live_(DIB_LiveImageCount()) {}
  ~LeakCheck() {
    if (DIB_LiveImageCount() != live_) __builtin_trap();
  }

 private:
  int live_;
};

}  // namespace fuzz
