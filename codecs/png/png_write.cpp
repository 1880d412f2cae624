// PNG writing: DIB rows go to libpng as stored, with libpng's transforms for
// the byte order (blue first, little-endian 16-bit samples) and the filler.
#include "codecs/png/png_codec.h"

#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "orivane/errors.h"

namespace orvpng {
namespace {

struct Format {
  int color_type;
  int bit_depth;
  bool bgr = false;
  bool swap = false;     // 16-bit samples stored little-endian
  bool filler = false;   // 32-bit: drop the fourth byte
};

// Whether a 1/4/8-bit table is the plain gray ramp of its depth.
bool table_is_ramp(const codec::DibLayout& d) {
  const std::uint32_t n = 1u << d.depth;
  if (d.entries != n) return false;
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::uint32_t v = i * 255 / (n - 1);
    if (d.red(i) != v || d.green(i) != v || d.blue(i) != v) return false;
  }
  return true;
}

bool choose_format(const codec::DibLayout& d, Format* f) {
  if (d.subtractive() || d.compression_code() != 0) return false;
  switch (d.depth) {
    case 1: case 4: case 8:
      if (d.has_masks) return false;
      *f = {table_is_ramp(d) ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_PALETTE, d.depth};
      return true;
    case 16: *f = {PNG_COLOR_TYPE_GRAY, 16, false, true}; return true;
    case 24: *f = {PNG_COLOR_TYPE_RGB, 8, true}; return true;
    case 32: *f = {PNG_COLOR_TYPE_RGB, 8, true, false, true}; return true;
    case 48: *f = {PNG_COLOR_TYPE_RGB, 16, true, true}; return true;
    default: return false;
  }
}

void on_warning(png_structp, png_const_charp) {}
void on_error(png_structp png, png_const_charp text) {
  auto* out = static_cast<char*>(png_get_error_ptr(png));
  std::snprintf(out, 200, "%s", text ? text : "libpng error");
  png_longjmp(png, 1);
}

// Runs libpng; no C++ objects with destructors live in this frame.
bool write_png(const codec::DibLayout& d, const Format& f, std::FILE* file,
               png_color* palette, int palette_size, char* error_text) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, error_text, on_error, on_warning);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, png_uint_32(d.width), png_uint_32(d.rows), f.bit_depth, f.color_type,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (f.color_type == PNG_COLOR_TYPE_PALETTE) png_set_PLTE(png, info, palette, palette_size);
  if (d.x_ppm > 0 && d.y_ppm > 0)
    png_set_pHYs(png, info, png_uint_32(d.x_ppm), png_uint_32(d.y_ppm), PNG_RESOLUTION_METER);
  png_write_info(png, info);
  if (f.bgr) png_set_bgr(png);
  if (f.swap) png_set_swap(png);
  if (f.filler) png_set_filler(png, 0, PNG_FILLER_AFTER);
  for (int y = 0; y < d.rows; ++y) png_write_row(png, d.row(y));
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

Status png_write_file(const codec::DibLayout& d, const char* path) {
  Format f{};
  if (!choose_format(d, &f))
    return {ERR_WRONG_IMAGE_TYPE, "PNG holds gray, palette and RGB images only"};
  if (d.width == 0 || d.rows == 0) return {ERR_BAD_DIB, "empty image"};
  std::vector<png_color> palette(d.entries);
  for (std::uint32_t i = 0; i < d.entries; ++i) palette[i] = {d.red(i), d.green(i), d.blue(i)};
  if (f.color_type == PNG_COLOR_TYPE_PALETTE && palette.empty()) palette.push_back({0, 0, 0});
  std::FILE* file = std::fopen(path, "wb");
  if (!file) return {errno == EACCES ? ERR_FILE_ACCESS : ERR_FILE_WRITE, "cannot create file"};
  char error_text[200] = "write failed";
  bool ok = write_png(d, f, file, palette.data(), int(palette.size()), error_text);
  ok = std::fflush(file) == 0 && ok;
  ok = fsync(fileno(file)) == 0 && ok;
  ok = std::fclose(file) == 0 && ok;
  if (!ok) {
    struct stat st {};
    if (::stat(path, &st) == 0 && S_ISREG(st.st_mode)) std::remove(path);
    return {ERR_FILE_WRITE, error_text};
  }
  return {};
}

}  // namespace orvpng
