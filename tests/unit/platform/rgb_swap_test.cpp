// The red/blue exchange of 3-byte pixels: the shuffled path must give what
// the byte-by-byte exchange gives for every row length (the 16-pixel steps,
// the rest after them), in place and into another buffer, and must never
// touch a byte past the row.
#include <gtest/gtest.h>

#include <vector>

#include "platform/rgb_swap.h"

namespace {

std::vector<std::uint8_t> pattern(std::size_t bytes) {
  std::vector<std::uint8_t> v(bytes);
  for (std::size_t i = 0; i < bytes; ++i) v[i] = static_cast<std::uint8_t>(i * 37 + 11);
  return v;
}

TEST(RgbSwapTest, MatchesTheByteExchangeForEveryRowLength) {
  for (std::size_t pixels : {0, 1, 5, 15, 16, 17, 31, 32, 33, 47, 48, 100, 2550}) {
    SCOPED_TRACE(pixels);
    const std::vector<std::uint8_t> in = pattern(3 * pixels + 8);
    std::vector<std::uint8_t> expected = in;
    platform::detail::swap_rb24_bytes(in.data(), expected.data(), 0, pixels);

    std::vector<std::uint8_t> in_place = in;
    platform::swap_rb24(in_place.data(), in_place.data(), pixels);
    EXPECT_EQ(in_place, expected);

    // Into another buffer whose bytes past the row must stay as they were.
    std::vector<std::uint8_t> out(in.size(), 0xA5);
    platform::swap_rb24(in.data(), out.data(), pixels);
    for (std::size_t i = 0; i < out.size(); ++i) {
      ASSERT_EQ(out[i], i < 3 * pixels ? expected[i] : 0xA5) << "byte " << i;
    }
  }
}

TEST(RgbSwapTest, ExchangesRedAndBlueOnly) {
  std::vector<std::uint8_t> px;
  for (int i = 0; i < 20; ++i) px.insert(px.end(), {1, 2, 3});
  platform::swap_rb24(px.data(), px.data(), 20);
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(px[3 * i], 3);
    EXPECT_EQ(px[3 * i + 1], 2);
    EXPECT_EQ(px[3 * i + 2], 1);
  }
}

}  // namespace
