// PNG reading: the header is checked against the loading limit and against
// what the file's image data can inflate to, before anything is allocated;
// libpng's transforms then bring every layout to one the DIB model holds, and
// the rows are read straight into the new DIB (2-bit images go through a
// byte-per-pixel buffer and are widened to 4 bits).
#include "codecs/png/png_codec.h"

#include <png.h>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "codecs/common/file_io.h"
#include "orivane/errors.h"

namespace orvpng {
namespace {

struct Plan {
  int pixel_type = ORV_PT_RGB;
  int depth = 24;
  bool widen2 = false;  // 2-bit samples, read one per byte, stored as 4-bit
  bool gray = false;
};

void on_warning(png_structp, png_const_charp) {}
void on_error(png_structp png, png_const_charp text) {
  auto* out = static_cast<char*>(png_get_error_ptr(png));
  std::snprintf(out, 200, "%s", text ? text : "libpng error");
  png_longjmp(png, 1);
}

// Sets libpng's transforms for the file's layout and says what DIB it makes.
Plan plan_transforms(png_structp png, int color_type, int bit_depth) {
  Plan p;
  const bool palette = color_type == PNG_COLOR_TYPE_PALETTE;
  if (color_type == PNG_COLOR_TYPE_GRAY || color_type == PNG_COLOR_TYPE_GRAY_ALPHA || palette) {
    if (color_type == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_strip_alpha(png);
    p.gray = !palette;
    p.depth = bit_depth == 2 ? 4 : bit_depth;
    p.widen2 = bit_depth == 2;
    if (p.widen2) png_set_packing(png);
    if (bit_depth == 16) png_set_swap(png);
    p.pixel_type = p.depth == 1 ? ORV_PT_BW : palette ? ORV_PT_PALETTE : ORV_PT_GRAY;
    return p;
  }
  png_set_bgr(png);
  if (bit_depth == 16) {
    png_set_swap(png);
    if (color_type == PNG_COLOR_TYPE_RGB_ALPHA) png_set_strip_alpha(png);
    p.depth = 48;
  } else {
    p.depth = color_type == PNG_COLOR_TYPE_RGB_ALPHA ? 32 : 24;
  }
  return p;
}

void apply_palette(png_structp png, png_infop info, codec::NewDib* out) {
  png_colorp colours = nullptr;
  int count = 0;
  if (!png_get_PLTE(png, info, &colours, &count)) count = 0;
  for (std::uint32_t i = 0; i < out->layout().entries; ++i) {
    if (int(i) < count)
      out->set_entry(i, colours[i].red, colours[i].green, colours[i].blue);
    else
      out->set_entry(i, 0, 0, 0);
  }
}

// The bytes of image data (IDAT chunks) the file holds: chunk headers are
// walked from the signature on, and a chunk's declared length counts only as
// far as the file goes. The file is left at its start.
std::uint64_t image_data_bytes(std::FILE* file) {
  std::uint64_t total = 0;
  struct stat st {};
  const std::uint64_t file_size = fstat(fileno(file), &st) == 0 ? std::uint64_t(st.st_size) : 0;
  std::uint64_t at = 8;
  std::uint8_t head[8];
  while (at + 8 <= file_size && std::fseek(file, long(at), SEEK_SET) == 0 && std::fread(head, 1, 8, file) == 8) {
    const std::uint64_t length = std::uint64_t(head[0]) << 24 | head[1] << 16 | head[2] << 8 | head[3];
    if (std::memcmp(head + 4, "IDAT", 4) == 0) total += std::min(length, file_size - at - 8);
    if (std::memcmp(head + 4, "IEND", 4) == 0) break;
    at += 12 + length;  // header, data, CRC
  }
  std::rewind(file);
  return total;
}

// Header checks made before the image's memory is taken: the loading limit,
// and whether the image data present can inflate to the rows at all.
// 0 or an error code, with the text in `error_text`.
int check_header(png_uint_32 width, png_uint_32 height, int bits_per_pixel, std::uint64_t data_bytes,
                 char* error_text) {
  std::string refusal;
  if (!codec::image_size_allowed(width, height))
    refusal = codec::image_size_refusal(width, height);
  else if (codec::saturating_mul(std::uint64_t(width) * height, std::uint64_t(bits_per_pixel)) / 8 >
           codec::saturating_mul(data_bytes, codec::kDeflateBytesPerByte))
    refusal = codec::image_data_refusal(width, height, data_bytes, "Deflate");
  if (refusal.empty()) return 0;
  std::snprintf(error_text, 200, "%s", refusal.c_str());
  return ERR_FILE_READ;
}

// Runs libpng; no C++ objects with destructors live in this frame. Returns 0
// or an error code, with the text in `error_text`.
int read_png(std::FILE* file, std::uint64_t data_bytes, codec::NewDib* out, std::vector<png_bytep>* rows,
             std::vector<std::uint8_t>* bytes, bool* out_gray, char* error_text) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, error_text, on_error, on_warning);
  if (!png) return ERR_MEMORY;
  png_infop info = png_create_info_struct(png);
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    out->discard();
    return ERR_FILE_READ;
  }
  png_init_io(png, file);
  png_set_user_limits(png, kMaxSide, kMaxSide);
  png_set_chunk_cache_max(png, kMaxChunks);
  png_set_chunk_malloc_max(png, kMaxChunkBytes);
  png_read_info(png, info);
  png_uint_32 width = 0, height = 0;
  int bit_depth = 0, color_type = 0;
  png_get_IHDR(png, info, &width, &height, &bit_depth, &color_type, nullptr, nullptr, nullptr);
  if (const int refused = check_header(width, height, bit_depth * png_get_channels(png, info), data_bytes,
                                       error_text)) {
    png_destroy_read_struct(&png, &info, nullptr);
    return refused;
  }
  const Plan plan = plan_transforms(png, color_type, bit_depth);
  *out_gray = plan.gray;
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const std::uint64_t expected =
      plan.widen2 ? width : (std::uint64_t(plan.depth) * width + 7) / 8;
  if (png_get_rowbytes(png, info) != expected) png_error(png, "unexpected row layout");
  bool too_large = false;
  if (!out->make(plan.pixel_type, width, height, plan.depth, &too_large)) {
    std::snprintf(error_text, 200, "%s (%u x %u)", too_large ? "image too large" : "out of memory",
                  unsigned(width), unsigned(height));
    png_destroy_read_struct(&png, &info, nullptr);
    return too_large ? ERR_FILE_READ : ERR_MEMORY;
  }
  if (color_type == PNG_COLOR_TYPE_PALETTE) apply_palette(png, info, out);
  rows->resize(height);
  if (plan.widen2) bytes->resize(std::size_t(width) * height);
  for (png_uint_32 y = 0; y < height; ++y)
    (*rows)[y] = plan.widen2 ? bytes->data() + std::size_t(y) * width : out->layout().row(int(y));
  png_read_image(png, rows->data());
  png_read_end(png, nullptr);
  png_uint_32 x_res = 0, y_res = 0;
  int unit = 0;
  if (png_get_pHYs(png, info, &x_res, &y_res, &unit) && unit == PNG_RESOLUTION_METER &&
      x_res <= 0x7FFFFFFF && y_res <= 0x7FFFFFFF)
    out->set_resolution(std::int32_t(x_res), std::int32_t(y_res));
  png_destroy_read_struct(&png, &info, nullptr);
  return 0;
}

// 2-bit values, one per byte, into 4-bit pixels: gray levels 0..3 become the
// 16-step ramp's 0, 5, 10, 15; palette indices stay as they are.
void widen_rows(const std::vector<std::uint8_t>& bytes, bool gray, codec::DibLayout& d) {
  for (int y = 0; y < d.rows; ++y) {
    const std::uint8_t* src = bytes.data() + std::size_t(y) * std::size_t(d.width);
    std::uint8_t* dst = d.row(y);
    for (int x = 0; x < d.width; ++x) {
      const std::uint8_t v = std::uint8_t(gray ? src[x] * 5 : src[x]);
      if (x % 2 == 0) dst[x / 2] = std::uint8_t(v << 4);
      else dst[x / 2] |= v;
    }
  }
}

}  // namespace

Status png_read_file(const char* path, codec::NewDib* out) {
  int open_code = 0;
  std::FILE* file = codec::file_open_regular(path, &open_code);
  if (!file) return {open_code, "cannot open file"};
  std::uint8_t signature[8] = {};
  if (std::fread(signature, 1, 8, file) != 8 || png_sig_cmp(signature, 0, 8) != 0) {
    std::fclose(file);
    return {ERR_FILE_READ, "not a PNG file"};
  }
  const std::uint64_t data_bytes = image_data_bytes(file);
  std::vector<png_bytep> rows;
  std::vector<std::uint8_t> bytes;
  char error_text[200] = "";
  bool gray = false;
  const int code = read_png(file, data_bytes, out, &rows, &bytes, &gray, error_text);
  std::fclose(file);
  if (code != 0) {
    out->discard();
    return {code, error_text};
  }
  if (!bytes.empty()) widen_rows(bytes, gray, out->layout());
  return {};
}

}  // namespace orvpng
