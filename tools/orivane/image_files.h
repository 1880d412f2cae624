// Reading and writing the image files the tool works on, with the library's
// own error text when a file cannot be read or written.
#pragma once
#include <string>

#include "orivane/dib_api.h"

namespace orivane_tool {

// A failure the tool reports on standard error before it exits with 1.
struct Failure {
  std::string message;
};

// The library's last error text ("" when none was recorded).
std::string library_error();

// An owned image handle.
class Image {
 public:
  Image() = default;
  explicit Image(DIB_HANDLE h) : h_(h) {}
  Image(Image&& o) noexcept : h_(o.release()) {}
  Image& operator=(Image&& o) noexcept {
    if (this != &o) {
      DIB_Free(h_);
      h_ = o.release();
    }
    return *this;
  }
  Image(const Image&) = delete;
  Image& operator=(const Image&) = delete;
  ~Image() { DIB_Free(h_); }
  DIB_HANDLE get() const { return h_; }
  DIB_HANDLE release() {
    const DIB_HANDLE h = h_;
    h_ = 0;
    return h;
  }

 private:
  DIB_HANDLE h_ = 0;
};

// The first page of `path`. Throws Failure when it cannot be read.
Image load_image(const std::string& path);
// Writes `image` in the format of `path`'s extension. Throws Failure.
void save_image(const Image& image, const std::string& path);
// The format's name ("TIFF", "PDF", ...) for a format code.
const char* format_name(int format);
// The pixel type's name ("BW", "GRAY", ...).
const char* pixel_type_name(int type);

}  // namespace orivane_tool
