#include "engines/ocr/ocr_image.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <new>

namespace ocr {
namespace {

constexpr std::uint64_t kHeaderBytes = 40;
constexpr std::uint32_t kBitFields = 3;
constexpr std::uint32_t kSubtractive = 5;
constexpr std::uint32_t kStreamCodeMask = 0xFF00;
constexpr double kInchesPerMetre = 0.0254;

std::uint32_t le32(const std::uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t(p[3]) << 24);
}
std::uint16_t le16(const std::uint8_t* p) { return std::uint16_t(p[0] | (p[1] << 8)); }

std::uint8_t luminance(int r, int g, int b) {
  return std::uint8_t((299 * r + 587 * g + 114 * b + 500) / 1000);
}

// The block's layout, every part of it inside the block.
struct Layout {
  int width = 0, rows = 0, depth = 0;
  bool bottom_up = false, subtractive = false;
  std::array<std::uint8_t, 256> index_gray{};  // gray of each table index
  const std::uint8_t* pixels = nullptr;
  std::uint64_t stride = 0;
  double x_dpi = 0, y_dpi = 0;

  const std::uint8_t* row(int y) const {
    return pixels + stride * std::uint64_t(bottom_up ? rows - 1 - y : y);
  }
};

bool depth_known(int depth) {
  return depth == 1 || depth == 4 || depth == 8 || depth == 16 || depth == 24 || depth == 32 ||
         depth == 48;
}

ImageProblem parse(const std::uint8_t* p, std::uint64_t bytes, Layout* out) {
  if (!p || bytes < kHeaderBytes) return ImageProblem::NotDib;
  const std::uint32_t header = le32(p);
  const std::int32_t width = std::int32_t(le32(p + 4));
  const std::int32_t height = std::int32_t(le32(p + 8));
  const int depth = le16(p + 14);
  const std::uint32_t compression = le32(p + 16);
  const std::uint32_t used = le32(p + 32);
  if (header < kHeaderBytes || header > bytes || width <= 0 || height == 0 || height == INT32_MIN ||
      !depth_known(depth))
    return ImageProblem::NotDib;
  if (compression & kStreamCodeMask) return ImageProblem::Compressed;
  Layout& l = *out;
  l.width = width;
  l.rows = height < 0 ? -height : height;
  l.bottom_up = height > 0;
  l.depth = depth;
  l.subtractive = (compression & 0xFF) == kSubtractive;
  std::uint64_t table_bytes = 0;
  if ((compression & 0xFF) == kBitFields) {
    table_bytes = 12;
  } else if (depth <= 8) {
    const std::uint64_t entries = used ? used : (1u << depth);
    if (entries > 256) return ImageProblem::NotDib;
    table_bytes = 4 * entries;
    if (header + table_bytes > bytes) return ImageProblem::NotDib;
    // An index past the table reads as white paper.
    l.index_gray.fill(255);
    for (std::uint64_t i = 0; i < entries; ++i) {
      const std::uint8_t* e = p + header + 4 * i;
      l.index_gray[i] = luminance(e[2], e[1], e[0]);
    }
  }
  if (header + table_bytes > bytes) return ImageProblem::NotDib;
  l.stride = (std::uint64_t(depth) * std::uint64_t(width) + 31) / 32 * 4;
  const std::uint64_t room = bytes - header - table_bytes;
  if (l.stride > room / std::uint64_t(l.rows)) return ImageProblem::NotDib;
  l.pixels = p + header + table_bytes;
  const auto x_ppm = std::int32_t(le32(p + 24)), y_ppm = std::int32_t(le32(p + 28));
  l.x_dpi = x_ppm > 0 ? x_ppm * kInchesPerMetre : 0;
  l.y_dpi = y_ppm > 0 ? y_ppm * kInchesPerMetre : 0;
  return ImageProblem::None;
}

// One row of the page as gray values.
void row_gray(const Layout& l, int y, std::uint8_t* out) {
  const std::uint8_t* s = l.row(y);
  const int w = l.width;
  switch (l.depth) {
    case 1:
      for (int x = 0; x < w; ++x) out[x] = l.index_gray[(s[x >> 3] >> (7 - (x & 7))) & 1];
      break;
    case 4:
      for (int x = 0; x < w; ++x) out[x] = l.index_gray[(s[x >> 1] >> ((x & 1) ? 0 : 4)) & 15];
      break;
    case 8:
      for (int x = 0; x < w; ++x) out[x] = l.index_gray[s[x]];
      break;
    case 16:  // gray samples, little-endian
      for (int x = 0; x < w; ++x) out[x] = std::uint8_t(le16(s + 2 * x) >> 8);
      break;
    case 24:
      for (int x = 0; x < w; ++x, s += 3)
        out[x] = l.subtractive ? luminance(255 - s[0], 255 - s[1], 255 - s[2]) : luminance(s[2], s[1], s[0]);
      break;
    case 32:
      for (int x = 0; x < w; ++x, s += 4) {
        if (l.subtractive) {
          const int k = 255 - s[3];
          out[x] = luminance((255 - s[0]) * k / 255, (255 - s[1]) * k / 255, (255 - s[2]) * k / 255);
        } else {
          out[x] = luminance(s[2], s[1], s[0]);
        }
      }
      break;
    case 48:
      for (int x = 0; x < w; ++x, s += 6) out[x] = luminance(s[5], s[3], s[1]);
      break;
  }
}

// The smallest whole factor that brings the page within the engine's bounds.
int reduction_factor(std::uint64_t width, std::uint64_t height) {
  int f = 1;
  while ((width / f) * (height / f) > kMaxGrayPixels || width / f > std::uint64_t(kMaxGraySide) ||
         height / f > std::uint64_t(kMaxGraySide))
    ++f;
  return f;
}

// Fills `page` from `l`, reduced by page.factor; one source row at a time,
// so that only the reduced page is held whole.
void fill_reduced(const Layout& l, GrayPage& page) {
  const int f = page.factor;
  std::vector<std::uint8_t> line(std::size_t(l.width));
  std::vector<std::uint32_t> sums(std::size_t(page.width));
  for (int oy = 0; oy < page.height; ++oy) {
    std::fill(sums.begin(), sums.end(), 0);
    for (int dy = 0; dy < f; ++dy) {
      row_gray(l, oy * f + dy, line.data());
      for (int ox = 0; ox < page.width; ++ox)
        for (int dx = 0; dx < f; ++dx) sums[ox] += line[std::size_t(ox * f + dx)];
    }
    std::uint8_t* out = &page.pixels[std::size_t(oy) * std::size_t(page.width)];
    const std::uint32_t n = std::uint32_t(f) * std::uint32_t(f);
    for (int ox = 0; ox < page.width; ++ox) out[ox] = std::uint8_t((sums[ox] + n / 2) / n);
  }
}

}  // namespace

ImageProblem gray_page_read(const void* block, std::uint64_t bytes, GrayPage* out) {
  Layout l;
  if (ImageProblem p = parse(static_cast<const std::uint8_t*>(block), bytes, &l); p != ImageProblem::None)
    return p;
  GrayPage page;
  page.page_width = l.width;
  page.page_height = l.rows;
  page.x_dpi = l.x_dpi;
  page.y_dpi = l.y_dpi;
  page.factor = reduction_factor(std::uint64_t(l.width), std::uint64_t(l.rows));
  // The last partial block of a reduced page is left out: a sliver of at
  // most factor - 1 pixels at the right and bottom edges.
  page.width = l.width / page.factor;
  page.height = l.rows / page.factor;
  if (page.width == 0 || page.height == 0) {
    // A sliver narrower than the factor: nothing is left to read.
    page.width = page.height = 0;
    *out = std::move(page);
    return ImageProblem::None;
  }
  try {
    page.pixels.resize(std::size_t(page.width) * std::size_t(page.height));
    if (page.factor == 1) {
      for (int y = 0; y < page.height; ++y) row_gray(l, y, &page.pixels[std::size_t(y) * std::size_t(page.width)]);
    } else {
      fill_reduced(l, page);
    }
  } catch (const std::bad_alloc&) {
    return ImageProblem::Memory;
  }
  *out = std::move(page);
  return ImageProblem::None;
}

GrayPage gray_page_turned(const GrayPage& page, int degrees) {
  GrayPage t = page;
  const int w = page.width, h = page.height;
  if (degrees == 180) {
    std::reverse(t.pixels.begin(), t.pixels.end());
    return t;
  }
  if (degrees != 90 && degrees != 270) return t;
  std::swap(t.width, t.height);
  std::swap(t.page_width, t.page_height);
  std::swap(t.x_dpi, t.y_dpi);
  // Clockwise: the source's bottom row becomes the left column.
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* s = &page.pixels[std::size_t(y) * std::size_t(w)];
    for (int x = 0; x < w; ++x) {
      const int tx = degrees == 90 ? h - 1 - y : y;
      const int ty = degrees == 90 ? x : w - 1 - x;
      t.pixels[std::size_t(ty) * std::size_t(t.width) + std::size_t(tx)] = s[x];
    }
  }
  return t;
}

const char* image_problem_text(ImageProblem p) {
  switch (p) {
    case ImageProblem::None: return "";
    case ImageProblem::NotDib: return "not a readable DIB";
    case ImageProblem::Compressed: return "a compressed image stream, not pixel rows";
    case ImageProblem::Memory: return "not enough memory for the page";
  }
  return "";
}

}  // namespace ocr
