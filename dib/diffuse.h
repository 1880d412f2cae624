// Error diffusion and thresholding of single rows: gray to black and white,
// gray to 16 levels, and colour to a palette through an inverse colour map.
// Each keeps its error terms in a caller-owned row state so that rows are
// processed top to bottom one at a time.
#pragma once
#include <cstdint>
#include <vector>

namespace dib {

// Packs gray levels into 1-bit pixels, high bit first: 1 when the level is at
// least `threshold`. The rest of the last byte is cleared.
void gray_to_bw_threshold(const std::uint8_t* gray, int width, int threshold, std::uint8_t* out);

// Error terms carried from one row to the next.
class DiffusionRow {
 public:
  explicit DiffusionRow(int width, int channels = 1)
      : width_(width), err_(static_cast<std::size_t>(width + 1) * static_cast<std::size_t>(channels), 0) {}
  int* channel(int c) { return err_.data() + static_cast<std::size_t>(c) * static_cast<std::size_t>(width_ + 1); }
  int width() const { return width_; }

 private:
  int width_;
  std::vector<int> err_;
};

// Gray to 1 bit by error diffusion: the error of each pixel goes in thirds to
// the next pixel, the pixel below-left and the pixel below.
void gray_to_bw_diffuse(const std::uint8_t* gray, DiffusionRow& state, std::uint8_t* out);

// Gray to 16 levels (level x 17 is the gray shown), packed two pixels a byte,
// high nibble first; with diffusion half the error goes right and half down.
void gray_to_4bit(const std::uint8_t* gray, int width, DiffusionRow* state, std::uint8_t* out);

// Colour (blue, green, red per pixel) to palette indices through the inverse
// map (index of cell (r / 8, g / 4, b / 4)). `entries` holds the palette as
// blue, green, red, 0. With a state the errors are diffused per channel by
// pattern 1 (kConvertDiffuse) or 2 (kConvertDiffuse2).
void rgb_to_index(const std::uint8_t* bgr, int width, const std::uint8_t* inverse_map,
                  const std::uint8_t* entries, DiffusionRow* state, bool pattern2, std::uint8_t* out);

inline std::size_t inverse_map_cell(int r, int g, int b) {
  return (static_cast<std::size_t>(r >> 3) << 12) | (static_cast<std::size_t>(g >> 2) << 6) |
         static_cast<std::size_t>(b >> 2);
}

}  // namespace dib
