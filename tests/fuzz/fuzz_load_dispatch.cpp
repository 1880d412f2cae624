// Fuzz target: any bytes handed to the library's loaders (format detection,
// page counts, single and array loads from memory) are loaded or refused
// without a crash or a leaked image. BMP is read by the library; the codec
// formats go to whichever modules load (QUILLET_MODULE_PATH, else the
// program's parent folder, where the build puts them).
#include <limits.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "fileio/codec_modules.h"
#include "log/trace.h"
#include "orivane/dib_api.h"
#include "orivane/errors.h"
#include "orivane/file_api.h"

namespace {

void point_at_modules() {
  if (std::getenv("QUILLET_MODULE_PATH")) return;
  char exe[PATH_MAX] = {};
  if (::readlink("/proc/self/exe", exe, sizeof exe - 1) <= 0) return;
  std::string dir = exe;
  dir.resize(dir.rfind('/'));
  dir.resize(dir.rfind('/'));
  setenv("QUILLET_MODULE_PATH", dir.c_str(), 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A fault inside a codec must reach the fuzzer, not the library's guard.
  static const bool ready =
      (point_at_modules(), fileio::codec_guard_set(false), LogAttach(), TWAIN_SuppressErrorMessages(1), true);
  (void)ready;
  const int live = DIB_LiveImageCount();
  const auto length = static_cast<uint32_t>(size);
  DIB_FormatOfBuffer(data, length);
  const int pages = BufferPageCount(data, length);
  if (DIB_HANDLE h = DIB_LoadFromBuffer(data, length)) {
    if (DIB_Width(h) < 0 || DIB_Height(h) < 0) __builtin_trap();
    DIB_Free(h);
  }
  if (pages > 1) {
    DIB_HANDLE array[3] = {0, 0, 0};
    const int n = DIB_LoadArrayFromBuffer(array, 3, data, length);
    if (n > 3) __builtin_trap();
    DIB_FreeArray(array, 3);
  }
  if (DIB_LiveImageCount() != live) __builtin_trap();
  return 0;
}
