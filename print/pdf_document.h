// The document a print job sends: one page of the sheet's size per printed
// image, the image placed where the layout puts it. Images are embedded as
// 8-bit gray or RGB, compressed with Flate.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace print {

struct PageImage {
  int width = 0, height = 0;
  bool gray = false;                 // 1 sample per pixel, else RGB
  std::vector<std::uint8_t> pixels;  // rows top to bottom, no padding
};

class PdfDocument {
 public:
  // A page of `sheet_w` x `sheet_h` points with `image` drawn into the
  // rectangle (x, y from the sheet's top left, w x h), all in points.
  // False when the image cannot be compressed (memory).
  bool add_page(double sheet_w, double sheet_h, const PageImage& image, double x, double y, double w, double h);
  int pages() const { return static_cast<int>(pages_.size()); }
  // The whole file.
  std::string bytes() const;

 private:
  struct Page {
    double sheet_w, sheet_h;
    std::string content;   // the page's drawing operators
    std::string image;     // the image XObject's dictionary entries
    std::string data;      // its compressed pixels
  };
  std::vector<Page> pages_;
};

}  // namespace print
