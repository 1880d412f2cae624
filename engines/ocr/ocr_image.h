// The page as the recognition engine reads it: 8-bit gray, rows top first,
// made from the library's DIB block. Any depth and layout the library keeps
// is read through its colour table or samples into one luminance value
// (0.299 R + 0.587 G + 0.114 B). A page too large to recognise whole within
// bounded memory is reduced by a whole factor (the mean of each factor x
// factor block), which costs nothing in accuracy above about 300 dots per
// inch: the text's boxes are scaled back by the same factor.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace ocr {

struct GrayPage {
  int width = 0;    // pixels of the gray page
  int height = 0;
  int factor = 1;   // page pixels per gray pixel, each way
  int page_width = 0;   // the DIB's own size
  int page_height = 0;
  double x_dpi = 0;  // the DIB's resolution (0 when it has none)
  double y_dpi = 0;
  std::vector<std::uint8_t> pixels;  // width x height
};

// The most pixels a gray page holds, and the longest side the engine takes
// (its coordinates are 16-bit inside).
constexpr std::uint64_t kMaxGrayPixels = 40'000'000;
constexpr int kMaxGraySide = 30'000;

enum class ImageProblem { None, NotDib, Compressed, Memory };

// Reads the DIB block `block` of `bytes` bytes into `out`: None, or why not.
// Every offset is checked against `bytes`, so any block may be handed in.
ImageProblem gray_page_read(const void* block, std::uint64_t bytes, GrayPage* out);

// The page turned clockwise by `degrees` (0, 90, 180 or 270).
GrayPage gray_page_turned(const GrayPage& page, int degrees);

// The text of an ImageProblem for the log.
const char* image_problem_text(ImageProblem p);

}  // namespace ocr
