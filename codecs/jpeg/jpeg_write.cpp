// JPEG encoding through libjpeg-turbo. 8-bit gray goes in as one component
// (mapped through its table when that is not the plain ramp); palette, 24-,
// 32- and 48-bit colour as RGB (48-bit keeps the high byte of each sample);
// 16-bit gray as its high byte; 32-bit CMYK as four components. DIBs that
// already hold a JPEG stream are copied without decoding.
#include "codecs/jpeg/jpeg_codec.h"

#include <cstdlib>

#include "codecs/jpeg/jpeg_error.h"
#include "orivane/errors.h"

namespace orvjpeg {
namespace {

struct MemoryOut {
  unsigned char* bytes = nullptr;
  unsigned long size = 0;
};

// How the rows of one DIB become libjpeg input rows.
struct RowSource {
  const codec::DibLayout* dib;
  J_COLOR_SPACE space;
  int components;
  bool direct;                 // rows go in as stored
  std::uint8_t* scratch;       // one converted row otherwise
};

JSAMPROW source_row(const RowSource& src, int y) {
  const codec::DibLayout& d = *src.dib;
  std::uint8_t* row = d.row(y);
  if (src.direct) return row;
  std::uint8_t* out = src.scratch;
  for (int x = 0; x < d.width; ++x) {
    switch (d.depth) {
      case 8:
        if (src.components == 1) {
          out[x] = d.red(row[x] < d.entries ? row[x] : 0);
        } else {
          const std::uint32_t i = row[x] < d.entries ? row[x] : 0;
          out[3 * x] = d.blue(i); out[3 * x + 1] = d.green(i); out[3 * x + 2] = d.red(i);
        }
        break;
      case 16: out[x] = row[2 * x + 1]; break;
      case 32:
        for (int c = 0; c < 3; ++c) out[3 * x + c] = row[4 * x + c];
        break;
      case 48:
        for (int c = 0; c < 3; ++c) out[3 * x + c] = row[6 * x + 2 * c + 1];
        break;
    }
  }
  return out;
}

// Runs libjpeg; no C++ objects with destructors live in this frame.
bool compress_rows(const RowSource& src, int quality, MemoryOut* out, ErrorManager* err) {
  const codec::DibLayout& dib = *src.dib;
  jpeg_compress_struct cinfo;
  cinfo.err = error_manager_install(err);
  if (setjmp(err->jump)) {
    jpeg_destroy_compress(&cinfo);
    return false;
  }
  jpeg_create_compress(&cinfo);
  jpeg_mem_dest(&cinfo, &out->bytes, &out->size);
  cinfo.image_width = JDIMENSION(dib.width);
  cinfo.image_height = JDIMENSION(dib.rows);
  cinfo.input_components = src.components;
  cinfo.in_color_space = src.space;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  const double x_dpi = codec::ppm_to_dpi(dib.x_ppm), y_dpi = codec::ppm_to_dpi(dib.y_ppm);
  if (x_dpi >= 1 && y_dpi >= 1 && x_dpi < 65535.5 && y_dpi < 65535.5) {
    cinfo.density_unit = 1;
    cinfo.X_density = UINT16(x_dpi + 0.5);
    cinfo.Y_density = UINT16(y_dpi + 0.5);
  }
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = source_row(src, int(cinfo.next_scanline));
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return true;
}

Status copy_stream(const codec::DibLayout& dib, std::vector<std::uint8_t>* out) {
  const std::uint8_t* p = dib.pixels;
  if (dib.pixel_bytes < 4 || p[0] != 0xFF || p[1] != 0xD8)
    return {ERR_BAD_DIB, "image holds no JPEG stream"};
  out->insert(out->end(), p, p + dib.pixel_bytes);
  return {};
}

bool gray_ramp(const codec::DibLayout& d) {
  if (d.entries != 256) return false;
  for (std::uint32_t i = 0; i < 256; ++i)
    if (d.red(i) != i || d.green(i) != i || d.blue(i) != i) return false;
  return true;
}

// Chooses the colour space and row conversion; false for images JPEG cannot
// hold (1- and 4-bit, CMY).
bool choose_source(const codec::DibLayout& d, RowSource* src) {
  src->dib = &d;
  src->direct = false;
  if (d.depth == 8 && !d.has_masks) {
    const bool gray = d.table_gray();
    src->space = gray ? JCS_GRAYSCALE : JCS_EXT_BGR;
    src->components = gray ? 1 : 3;
    src->direct = gray && gray_ramp(d);
    return true;
  }
  if (d.depth == 16) {
    src->space = JCS_GRAYSCALE;
    src->components = 1;
    return true;
  }
  if (d.depth == 32 && d.subtractive()) {
    src->space = JCS_CMYK;
    src->components = 4;
    src->direct = true;
    return true;
  }
  if ((d.depth == 24 || d.depth == 32 || d.depth == 48) && !d.subtractive()) {
    src->space = JCS_EXT_BGR;
    src->components = 3;
    src->direct = d.depth == 24;
    return true;
  }
  return false;
}

}  // namespace

Status jpeg_encode(const codec::DibLayout& dib, int quality, std::vector<std::uint8_t>* out) {
  if (dib.compression_code() == int(codec::kCompressionCodeJpeg)) return copy_stream(dib, out);
  if (dib.compression_code() != 0)
    return {ERR_WRONG_IMAGE_TYPE, "Writing to JPEG, image is compressed but not JPEG: not supported."};
  RowSource src{};
  if (!choose_source(dib, &src))
    return {ERR_JPEG_PIXELS, "Only grayscale and RGB color images can be saved as JPEG files."};
  if (dib.width == 0 || dib.rows == 0 || dib.width > JPEG_MAX_DIMENSION ||
      dib.rows > JPEG_MAX_DIMENSION)
    return {ERR_JPEG, "image size not possible in JPEG"};
  std::vector<std::uint8_t> scratch;
  if (!src.direct) scratch.resize(std::size_t(dib.width) * 3);
  src.scratch = scratch.data();
  MemoryOut mem;
  ErrorManager err;
  const bool ok = compress_rows(src, quality < 1 ? 1 : quality > 100 ? 100 : quality, &mem, &err);
  if (ok) out->insert(out->end(), mem.bytes, mem.bytes + mem.size);
  std::free(mem.bytes);
  if (!ok) return {ERR_JPEG, err.text};
  return {};
}

}  // namespace orvjpeg
