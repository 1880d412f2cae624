// Fuzz target: DCX files through OrvDcx's readers (page count, the first
// pages read) are decoded or refused without a crash, a leak or an unbounded
// allocation.
#include "fuzz_module.h"

namespace {
constexpr int kPagesRead = 4;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static void* m = fuzz::load_module("OrvDcx.so", "ORVDCX");
  static auto count = fuzz::entry<ORVDCX_CountPagesInBufferFn>(m, "ORVDCX_CountPagesInBuffer");
  static auto select = fuzz::entry<ORVDCX_SelectPageToReadFn>(m, "ORVDCX_SelectPageToRead");
  static auto from_file = fuzz::entry<ORVDCX_DibFromFileFn>(m, "ORVDCX_DibFromFile");
  fuzz::LeakCheck leaks;
  const std::string& path = fuzz::write_scratch("dcx", data, size);
  const int pages = count(data, static_cast<int32_t>(size));
  for (int page = 0; page < pages && page < kPagesRead; ++page) {
    select(page);
    fuzz::check_and_free(from_file(path.c_str()));
  }
  return 0;
}
