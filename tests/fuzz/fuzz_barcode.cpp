// Fuzz target: the barcode engines read any small image without a crash, a
// hang or a leak of images, and the module refuses any malformed DIB block.
//
// The first byte chooses the way in: odd, the rest is handed to the module's
// OrvSymbol_DibAnalyze as a DIB block as it is (any header, any size); even,
// the next bytes choose the engine, depth, width and height of an image made
// by the library, whose rows are filled from the rest, and the image is read
// through BARCODE_Recognize with every type asked for.
#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "engines/symbol_abi.h"
#include "log/trace.h"
#include "orivane/barcode_api.h"
#include "orivane/dib_api.h"
#include "orivane/twain_error.h"

namespace {

// Points QUILLET_MODULE_PATH at the folder holding OrvSymbol.so (the
// program's folder or its parent, where the build puts the modules) unless
// it is set; a run without the module proves nothing: trap.
void find_module() {
  if (!LogAttached()) LogAttach();
  TWAIN_SuppressErrorMessages(1);
  if (const char* env = std::getenv("QUILLET_MODULE_PATH"); env && *env) return;
  char exe[PATH_MAX] = {};
  if (::readlink("/proc/self/exe", exe, sizeof exe - 1) <= 0) __builtin_trap();
  std::string folder = exe;
  for (int up = 0; up < 2; ++up) {
    folder.resize(folder.rfind('/'));
    if (::access((folder + "/OrvSymbol.so").c_str(), R_OK) == 0) {
      ::setenv("QUILLET_MODULE_PATH", folder.c_str(), 1);
      return;
    }
  }
  __builtin_trap();
}

OrvSymbol_DibAnalyzeFn module_analyze() {
  void* m = ::dlopen((std::string(std::getenv("QUILLET_MODULE_PATH")) + "/OrvSymbol.so").c_str(),
                     RTLD_NOW | RTLD_LOCAL);
  if (!m) __builtin_trap();
  auto fn = reinterpret_cast<OrvSymbol_DibAnalyzeFn>(::dlsym(m, "OrvSymbol_DibAnalyze"));
  if (!fn) __builtin_trap();
  return fn;
}

constexpr int kDepths[] = {1, 4, 8, 16, 24, 32, 48};
constexpr int kMaxSide = 96;

void read_made_image(const std::uint8_t* data, std::size_t size) {
  if (size < 5) return;
  const int engine = 1 + (data[0] & 1);
  const int depth = kDepths[data[1] % 7];
  const int width = 1 + data[2] % kMaxSide, height = 1 + data[3] % kMaxSide;
  const int type = depth == 1 ? DIB_PT_BW : depth <= 16 ? DIB_PT_GRAY : DIB_PT_RGB;
  const DIB_HANDLE dib = DIB_Create(type, width, height, depth);
  if (!dib) __builtin_trap();
  std::vector<std::uint8_t> row(static_cast<std::size_t>(DIB_RowBytes(dib)));
  std::size_t at = 4;
  for (int y = 0; y < height; ++y) {
    for (std::uint8_t& b : row) b = data[at++ % size];
    DIB_WriteRow(dib, y, row.data(), static_cast<int>(row.size()));
  }
  BARCODE_SelectEngine(engine);
  const int n = BARCODE_Recognize(dib, -1, -1);
  for (int i = 0; i < n; ++i) {
    char text[BARCODE_TEXT_MAX + 1];
    int32_t x, y, w, h;
    BARCODE_GetText(i, text);
    if (!BARCODE_GetRect(i, &x, &y, &w, &h) || w < 0 || h < 0) __builtin_trap();
  }
  DIB_Free(dib);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const OrvSymbol_DibAnalyzeFn analyze = [] {
    find_module();
    return module_analyze();
  }();
  if (size < 1) return 0;
  const int live = DIB_LiveImageCount();
  if (data[0] & 1) {
    // A block the module must check before it reads: copied, so that a read
    // past its end is a finding.
    std::vector<std::uint8_t> block(data + 1, data + size);
    analyze(block.data(), block.size(), -1, -1, 15);
  } else {
    read_made_image(data + 1, size - 1);
  }
  TWAIN_ClearError();
  if (DIB_LiveImageCount() != live) __builtin_trap();
  return 0;
}
