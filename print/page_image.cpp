#include "print/page_image.h"

#include <utility>
#include <vector>

namespace print {
namespace {

// A converted copy the reader owns, or the caller's image.
class Working {
 public:
  explicit Working(DIB_HANDLE h) : h_(h) {}
  ~Working() {
    if (owned_) DIB_Free(h_);
  }
  Working(const Working&) = delete;
  Working& operator=(const Working&) = delete;
  DIB_HANDLE get() const { return h_; }
  bool replace(DIB_HANDLE copy) {
    if (!copy) return false;
    if (owned_) DIB_Free(h_);
    h_ = copy;
    owned_ = true;
    return true;
  }

 private:
  DIB_HANDLE h_;
  bool owned_ = false;
};

bool is_gray(DIB_HANDLE h) {
  const int t = DIB_PixelType(h);
  return t == DIB_PT_BW || t == DIB_PT_GRAY;
}

// Deep samples, CMY, CMYK and compressed images are read through a plain
// 8-bit gray or RGB copy.
bool needs_conversion(DIB_HANDLE h) {
  const int t = DIB_PixelType(h);
  return DIB_BitsPerSample(h) > 8 || t == DIB_PT_CMY || t == DIB_PT_CMYK || DIB_IsCompressed(h);
}

bool read_rows(DIB_HANDLE h, PageImage& out) {
  const int w = DIB_Width(h), rows = DIB_Height(h);
  out.width = w;
  out.height = rows;
  out.gray = is_gray(h);
  const std::size_t bytes_per_row = static_cast<std::size_t>(w) * (out.gray ? 1 : 3);
  out.pixels.resize(bytes_per_row * static_cast<std::size_t>(rows));
  std::vector<std::uint8_t> row(bytes_per_row + 4);
  for (int y = 0; y < rows; ++y) {
    const bool ok = out.gray ? DIB_ReadRowComponent(h, y, row.data(), DIB_COMP_GRAY) : DIB_ReadRowRGB(h, y, row.data());
    if (!ok) return false;
    std::uint8_t* dst = out.pixels.data() + bytes_per_row * static_cast<std::size_t>(y);
    if (out.gray) {
      std::copy(row.begin(), row.begin() + static_cast<std::ptrdiff_t>(bytes_per_row), dst);
      continue;
    }
    for (int x = 0; x < w; ++x) {  // blue, green, red -> red, green, blue
      dst[3 * x] = row[3 * x + 2];
      dst[3 * x + 1] = row[3 * x + 1];
      dst[3 * x + 2] = row[3 * x];
    }
  }
  return true;
}

}  // namespace

bool page_image(DIB_HANDLE dib, int width, int height, PageImage& out) {
  Working w(dib);
  if (needs_conversion(dib)) {
    const bool gray = is_gray(dib);
    if (!w.replace(DIB_ConvertToFormat(dib, gray ? DIB_PT_GRAY : DIB_PT_RGB, gray ? 8 : 24, nullptr))) return false;
  }
  if (width > 0 && height > 0 && (width < DIB_Width(w.get()) || height < DIB_Height(w.get()))) {
    if (!w.replace(DIB_ScaledCopy(w.get(), width, height))) return false;
  }
  return read_rows(w.get(), out);
}

}  // namespace print
