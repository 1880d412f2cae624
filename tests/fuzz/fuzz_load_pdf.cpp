// Fuzz target: PDF files through OrvPdf's readers (page count, the first
// pages read from memory) are decoded or refused without a crash, a leak or
// an unbounded allocation.
#include "fuzz_module.h"

namespace {
constexpr int kPagesRead = 3;
constexpr std::size_t kMaxInput = 1u << 24;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static void* m = fuzz::load_module("OrvPdf.so", "ORVPDF");
  static auto count = fuzz::entry<ORVPDF_CountPagesInBufferFn>(m, "ORVPDF_CountPagesInBuffer");
  static auto from_buffer = fuzz::entry<ORVPDF_DibFromBufferFn>(m, "ORVPDF_DibFromBuffer");
  if (size == 0 || size > kMaxInput) return 0;
  fuzz::LeakCheck leaks;
  const int pages = count(data, static_cast<int32_t>(size), "");
  for (int page = 0; page < pages && page < kPagesRead; ++page)
    fuzz::check_and_free(from_buffer(data, static_cast<int32_t>(size), page, ""));
  return 0;
}
