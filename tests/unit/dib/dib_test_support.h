// Shared helpers of the image-model tests: images of every depth filled with
// a pattern, owned handles, top-down twins and raw block access.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../test_support.h"
#include "orivane/dib_api.h"
#include "orivane/errors.h"
#include "platform/memblock.h"

namespace dib_test {

// Frees the handle at the end of the scope.
class Owned {
 public:
  explicit Owned(DIB_HANDLE h = 0) : h_(h) {}
  ~Owned() { DIB_Free(h_); }
  Owned(Owned&& o) noexcept : h_(o.h_) { o.h_ = 0; }
  Owned& operator=(Owned&& o) noexcept {
    std::swap(h_, o.h_);
    return *this;
  }
  DIB_HANDLE get() const { return h_; }
  DIB_HANDLE release() {
    const DIB_HANDLE h = h_;
    h_ = 0;
    return h;
  }
  explicit operator bool() const { return h_ != 0; }

 private:
  DIB_HANDLE h_;
};

// The depths every table-driven test walks through, with the pixel type the
// allocator gives each.
struct DepthCase {
  int depth;
  int pixel_type;
};
inline const std::vector<DepthCase>& all_depths() {
  static const std::vector<DepthCase> cases = {{1, DIB_PT_BW},   {4, DIB_PT_GRAY}, {8, DIB_PT_GRAY},
                                               {16, DIB_PT_GRAY}, {24, DIB_PT_RGB}, {32, DIB_PT_RGB},
                                               {48, DIB_PT_RGB}};
  return cases;
}
inline const std::vector<int>& odd_widths() {
  static const std::vector<int> widths = {1, 3, 7, 13, 33};
  return widths;
}

inline std::string label(int depth, int width, int height) {
  return std::to_string(depth) + " bits, " + std::to_string(width) + "x" + std::to_string(height);
}

// Byte k of row y of the pattern: different in every row and column.
inline std::uint8_t pattern_byte(int y, int k, int seed = 0) {
  return static_cast<std::uint8_t>((y * 73 + k * 151 + seed * 29 + ((y * k) >> 2)) & 0xFF);
}

// Fills every used byte of every row with the pattern (bits beyond the width
// cleared). 32-bit images keep the ignored fourth byte 0.
inline void fill_pattern(DIB_HANDLE h, int seed = 0) {
  const int rows = DIB_Height(h);
  const int depth = DIB_Depth(h);
  const int used = (depth * DIB_Width(h) + 7) / 8;
  std::vector<std::uint8_t> row(static_cast<std::size_t>(used) + 4);
  for (int y = 0; y < rows; ++y) {
    for (int k = 0; k < used; ++k) row[k] = (depth == 32 && k % 4 == 3) ? 0 : pattern_byte(y, k, seed);
    DIB_WritePackedRow(h, y, row.data());
  }
}

// A new image of `depth` (type from the depth) with the pattern.
inline DIB_HANDLE make_image(int depth, int width, int height, int seed = 0) {
  const DIB_HANDLE h = DIB_Allocate(depth, width, height);
  fill_pattern(h, seed);
  DIB_SetResolution(h, 300, 300);
  return h;
}

// The packed rows of an image, top first.
inline std::vector<std::vector<std::uint8_t>> packed_rows(DIB_HANDLE h) {
  std::vector<std::vector<std::uint8_t>> rows;
  const int used = (DIB_Depth(h) * DIB_Width(h) + 7) / 8;
  for (int y = 0; y < DIB_Height(h); ++y) {
    std::vector<std::uint8_t> row(static_cast<std::size_t>(used));
    DIB_ReadPackedRow(h, y, row.data());
    rows.push_back(row);
  }
  return rows;
}

// The rows read as 24-bit colour, top first.
inline std::vector<std::uint8_t> rgb_pixels(DIB_HANDLE h) {
  const int w = DIB_Width(h);
  std::vector<std::uint8_t> all;
  std::vector<std::uint8_t> row(static_cast<std::size_t>(w) * 3 + 4);
  for (int y = 0; y < DIB_Height(h); ++y) {
    DIB_ReadRowRGB(h, y, row.data());
    all.insert(all.end(), row.begin(), row.begin() + 3 * w);
  }
  return all;
}

// The whole block of a handle.
inline std::vector<std::uint8_t> block_bytes(DIB_HANDLE h) {
  std::vector<std::uint8_t> bytes(platform::mem_size(h));
  std::memcpy(bytes.data(), platform::mem_lock(h), bytes.size());
  platform::mem_unlock(h);
  return bytes;
}

// A handle holding exactly `bytes` (not counted as a live image).
inline DIB_HANDLE raw_block(const std::vector<std::uint8_t>& bytes) {
  const platform::MemHandle h = platform::mem_alloc(bytes.size());
  std::memcpy(platform::mem_lock(h), bytes.data(), bytes.size());
  platform::mem_unlock(h);
  return h;
}

inline std::uint32_t get32(const std::vector<std::uint8_t>& b, std::size_t at) {
  std::uint32_t v;
  std::memcpy(&v, &b[at], 4);
  return v;
}
inline void put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  std::memcpy(&b[at], &v, 4);
}

// Turns a bottom-up image into its top-down twin in place: the stored rows
// are reversed and the height negated, so the picture stays the same.
inline void make_top_down(DIB_HANDLE h) {
  auto* p = static_cast<std::uint8_t*>(platform::mem_lock(h));
  std::int32_t height;
  std::memcpy(&height, p + 8, 4);
  const int stride = DIB_RowBytes(h);
  std::uint32_t header_size, clr_used, compression;
  std::uint16_t depth;
  std::memcpy(&header_size, p, 4);
  std::memcpy(&depth, p + 14, 2);
  std::memcpy(&compression, p + 16, 4);
  std::memcpy(&clr_used, p + 32, 4);
  const std::size_t table = (compression & 0xFF) == 3 ? 12 : (clr_used ? clr_used : (depth <= 8 ? 1u << depth : 0)) * 4;
  std::uint8_t* pixels = p + header_size + table;
  std::vector<std::uint8_t> tmp(static_cast<std::size_t>(stride));
  for (int a = 0, b = height - 1; a < b; ++a, --b) {
    std::memcpy(tmp.data(), pixels + a * stride, stride);
    std::memcpy(pixels + a * stride, pixels + b * stride, stride);
    std::memcpy(pixels + b * stride, tmp.data(), stride);
  }
  height = -height;
  std::memcpy(p + 8, &height, 4);
  platform::mem_unlock(h);
}

inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The error record's text.
inline std::string error_text() {
  char buf[512];
  TWAIN_GetLastErrorText(buf);
  return buf;
}

class DibTest : public testing::Test {
 protected:
  void SetUp() override {
    ResetForTests();
    live_at_start_ = DIB_LiveImageCount();
  }
  void TearDown() override { EXPECT_EQ(DIB_LiveImageCount(), live_at_start_) << "image handles leaked"; }

 private:
  int live_at_start_ = 0;
};

}  // namespace dib_test
