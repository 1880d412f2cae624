// Fuzz target: any bytes given to OrvJpeg's reader are decoded or refused
// without a crash, a leak of images or an unbounded allocation.
#include "fuzz_module.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static auto from_buffer = fuzz::entry<ORVJPEG_DibFromBufferFn>(
      fuzz::load_module("OrvJpeg.so", "ORVJPEG"), "ORVJPEG_DibFromBuffer");
  fuzz::LeakCheck leaks;
  fuzz::check_and_free(from_buffer(data, static_cast<int32_t>(size)));
  return 0;
}
