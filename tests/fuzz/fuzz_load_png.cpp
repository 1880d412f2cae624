// Fuzz target: any bytes given to OrvPng's reader are decoded or refused
// without a crash, a leak of images or an unbounded allocation.
#include "fuzz_module.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static auto from_file = fuzz::entry<ORVPNG_DibFromFileFn>(
      fuzz::load_module("OrvPng.so", "ORVPNG"), "ORVPNG_DibFromFile");
  fuzz::LeakCheck leaks;
  fuzz::check_and_free(from_file(fuzz::write_scratch("png", data, size).c_str()));
  return 0;
}
