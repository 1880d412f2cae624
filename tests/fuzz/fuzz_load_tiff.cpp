// Fuzz target: any bytes given to OrvTiff's readers (page count, the first
// pages) are decoded or refused without a crash, a leak or an unbounded
// allocation.
#include "fuzz_module.h"

namespace {
constexpr int kPagesRead = 4;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static void* m = fuzz::load_module("OrvTiff.so", "ORVTIFF");
  static auto count = fuzz::entry<ORVTIFF_CountPagesInMemoryFn>(m, "ORVTIFF_CountPagesInMemory");
  static auto from_buffer = fuzz::entry<ORVTIFF_DibFromBufferFn>(m, "ORVTIFF_DibFromBuffer");
  fuzz::LeakCheck leaks;
  const int pages = count(data, static_cast<int32_t>(size));
  for (int page = 0; page < (pages < 1 ? 1 : pages > kPagesRead ? kPagesRead : pages); ++page)
    fuzz::check_and_free(from_buffer(data, static_cast<int32_t>(size), page));
  return 0;
}
