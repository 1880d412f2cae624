// Fuzz target: any bytes given to OrvGif's reader are decoded or refused
// without a crash, a leak of images or an unbounded allocation.
#include "fuzz_module.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static auto from_file = fuzz::entry<ORVGIF_DibFromFileFn>(
      fuzz::load_module("OrvGif.so", "ORVGIF"), "ORVGIF_DibFromFile");
  fuzz::LeakCheck leaks;
  fuzz::check_and_free(from_file(fuzz::write_scratch("gif", data, size).c_str()));
  return 0;
}
