// Fuzz target: the OCR engine's entry, ORVOCR_RecognizeDib, given small
// random images: any block is read or refused without a crash, and a page
// it reads gives as many boxes as characters, each on the page.
//
// Input: byte 0 picks the layout (bit 7: the rest of the input is the whole
// block as it is, header included); byte 1 and 2 the width and height (1 to
// 256), byte 3 the depth (1, 4, 8, 16, 24, 32, 48), byte 4 the flags (bit 0
// top-down, bit 1 subtractive samples, bit 2 a compressed stream, bit 3 an
// odd colour-table size); the rest fills the colour table and the rows,
// repeated as needed.
#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engines/ocr/ocr_abi.h"

namespace {

struct Engine {
  ORVOCR_RecognizeDibFn recognize = nullptr;
  ORVOCR_TextFn text = nullptr;
  ORVOCR_GetCharPositionsFn positions = nullptr;
  ORVOCR_GetCharSizesFn sizes = nullptr;
};

// OrvOcr from QUILLET_MODULE_PATH, else the program's folder or its parent
// (where the build puts it). A run without the module proves nothing: trap.
Engine load() {
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
    void* m = ::dlopen((folder + "/OrvOcr.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m) continue;
    auto entry = [m](const char* name) {
      void* f = ::dlsym(m, name);
      if (!f) __builtin_trap();
      return f;
    };
    Engine e;
    e.recognize = reinterpret_cast<ORVOCR_RecognizeDibFn>(entry("ORVOCR_RecognizeDib"));
    e.text = reinterpret_cast<ORVOCR_TextFn>(entry("ORVOCR_Text"));
    e.positions = reinterpret_cast<ORVOCR_GetCharPositionsFn>(entry("ORVOCR_GetCharPositions"));
    e.sizes = reinterpret_cast<ORVOCR_GetCharSizesFn>(entry("ORVOCR_GetCharSizes"));
    if (!reinterpret_cast<ORVOCR_SelectDefaultEngineFn>(entry("ORVOCR_SelectDefaultEngine"))()) __builtin_trap();
    reinterpret_cast<ORVOCR_SetTimeLimitFn>(entry("ORVOCR_SetTimeLimit"))(5000);
    return e;
  }
  std::fprintf(stderr, "fuzz: cannot load OrvOcr.so\n");
  __builtin_trap();
}

void put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = std::uint8_t(v >> (8 * i));
}

// The block the input describes; its width and height in `w`, `h`.
std::vector<std::uint8_t> block_of(const std::uint8_t* data, std::size_t size, int* w, int* h) {
  static const int kDepths[] = {1, 4, 8, 16, 24, 32, 48};
  *w = 1 + data[1], *h = 1 + data[2];
  const int depth = kDepths[data[3] % 7];
  const std::uint8_t flags = data[4];
  const std::uint32_t entries = depth <= 8 ? ((flags & 8) ? 1u + data[3] % 255 : 1u << depth) : 0;
  const std::size_t table = depth == 16 ? 12 : 4 * std::size_t(entries);
  const std::size_t stride = (std::size_t(depth) * std::size_t(*w) + 31) / 32 * 4;
  std::vector<std::uint8_t> b(40 + table + stride * std::size_t(*h));
  put32(b, 0, 40);
  put32(b, 4, std::uint32_t(*w));
  put32(b, 8, (flags & 1) ? std::uint32_t(-*h) : std::uint32_t(*h));
  b[12] = 1;
  b[14] = std::uint8_t(depth);
  put32(b, 16, (flags & 4) ? 0x0600u : (flags & 2) ? 5u : depth == 16 ? 3u : 0u);
  put32(b, 20, std::uint32_t(stride * std::size_t(*h)));
  put32(b, 24, 7874);  // 200 dpi
  put32(b, 28, 7874);
  put32(b, 32, (flags & 8) ? entries : 0);
  const std::uint8_t* fill = data + 5;
  const std::size_t n = size - 5;
  for (std::size_t i = 40; i < b.size(); ++i) b[i] = n ? fill[(i - 40) % n] : 0xFF;
  return b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const Engine engine = load();
  if (size < 5) return 0;
  int w = 0, h = 0;
  std::vector<std::uint8_t> block;
  if (data[0] & 0x80) {
    block.assign(data + 1, data + size);  // any header at all
    w = h = INT_MAX;
  } else {
    block = block_of(data, size, &w, &h);
  }
  const int n = engine.recognize(block.data(), block.size());
  if (n < ORVOCR_E_ENGINE) __builtin_trap();
  if (n < 0) return 0;
  if (std::strlen(engine.text()) != std::size_t(n)) __builtin_trap();
  std::vector<int32_t> x(std::size_t(n) + 1), y(x.size()), bw(x.size()), bh(x.size());
  if (engine.positions(x.data(), y.data(), n + 1) != n || engine.sizes(bw.data(), bh.data(), n + 1) != n)
    __builtin_trap();
  for (int i = 0; i < n; ++i)
    if (x[i] < 0 || y[i] < 0 || bw[i] < 0 || bh[i] < 0 || x[i] + bw[i] > w || y[i] + bh[i] > h) __builtin_trap();
  return 0;
}
