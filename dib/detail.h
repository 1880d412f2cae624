// Helpers shared by the image operations in dib/ only.
#pragma once
#include <cstdint>

namespace dib::detail {

// Luminance weights of red, green and blue; they add up to 1 << 15.
constexpr std::uint32_t kLumRed = 6882, kLumGreen = 23593, kLumBlue = 2293;
constexpr int kLumShift = 15;

inline std::uint8_t luminance(std::uint32_t r, std::uint32_t g, std::uint32_t b) {
  return static_cast<std::uint8_t>((r * kLumRed + g * kLumGreen + b * kLumBlue) >> kLumShift);
}
// The same for 16-bit samples.
inline std::uint16_t luminance16(std::uint32_t r, std::uint32_t g, std::uint32_t b) {
  return static_cast<std::uint16_t>(
      (std::uint64_t{r} * kLumRed + std::uint64_t{g} * kLumGreen + std::uint64_t{b} * kLumBlue) >> kLumShift);
}
// A 16-bit sample scaled to 0..255.
inline std::uint8_t sample16_to_8(std::uint32_t v) { return static_cast<std::uint8_t>(v * 255 / 65535); }
inline std::uint16_t sample8_to_16(std::uint32_t v) { return static_cast<std::uint16_t>(v * 257); }

inline std::uint16_t load16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline void store16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

// Clears the bits of the last used byte of a packed row that lie beyond the
// width (depths below 8).
inline void clear_tail_bits(std::uint8_t* row, int depth, int width) {
  if (depth >= 8 || width <= 0) return;
  const long bits = static_cast<long>(depth) * width;
  const int spare = static_cast<int>((8 - bits % 8) % 8);
  if (spare != 0) row[(bits - 1) / 8] &= static_cast<std::uint8_t>(0xFF << spare);
}

}  // namespace dib::detail
