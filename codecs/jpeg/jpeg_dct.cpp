// The forward DCT of an image as a picture of its frequencies: every 8x8
// block of every component is replaced by its 64 DCT coefficients, laid out
// in the block's own place in natural order (horizontal frequency along the
// block's rows, vertical down its columns; the DC term at the block's top
// left). Coefficients are JPEG's: a flat block of value v has DC = 8 x (v - 128)
// and no AC terms. Each is stored offset by 128 and clamped to 0..255, so a
// smooth block shows as one bright or dark corner in mid gray.
//
// The transform is libjpeg-turbo's own accurate integer DCT, reached by
// compressing with unit quantisation and reading the coefficients back, so
// the values are exactly those a JPEG encoder would quantise. Components are
// the stored samples (B, G, R; or the four bytes of a 32-bit pixel), with no
// colour conversion and no subsampling. Edge blocks are padded by repeating
// the last column and row, as JPEG does; coefficients that fall outside the
// image are dropped.
#include <cstdlib>

#include "codecs/jpeg/jpeg_codec.h"
#include "codecs/jpeg/jpeg_error.h"
#include "orivane/errors.h"

namespace orvjpeg {
namespace {

constexpr int kUnitQuantQuality = 100;  // every quantiser 1
constexpr int kCoefficientOffset = 128;

struct Stream {
  unsigned char* bytes = nullptr;
  unsigned long size = 0;
};

// Compresses the stored samples as they are; no C++ objects live here.
bool compress_raw(const codec::DibLayout& src, int components, Stream* out, ErrorManager* err) {
  jpeg_compress_struct cinfo;
  cinfo.err = error_manager_install(err);
  if (setjmp(err->jump)) {
    jpeg_destroy_compress(&cinfo);
    return false;
  }
  jpeg_create_compress(&cinfo);
  jpeg_mem_dest(&cinfo, &out->bytes, &out->size);
  cinfo.image_width = JDIMENSION(src.width);
  cinfo.image_height = JDIMENSION(src.rows);
  cinfo.input_components = components;
  const J_COLOR_SPACE space = components == 1 ? JCS_GRAYSCALE : components == 3 ? JCS_RGB : JCS_CMYK;
  cinfo.in_color_space = space;
  jpeg_set_defaults(&cinfo);
  jpeg_set_colorspace(&cinfo, space);  // samples go in untouched
  jpeg_set_quality(&cinfo, kUnitQuantQuality, TRUE);
  cinfo.dct_method = JDCT_ISLOW;
  cinfo.write_JFIF_header = FALSE;
  cinfo.write_Adobe_marker = FALSE;
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = src.row(int(cinfo.next_scanline));
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return true;
}

inline std::uint8_t offset_clamped(JCOEF c) {
  const int v = c + kCoefficientOffset;
  return std::uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
}

// Reads the coefficients back into `dst`; no C++ objects live here.
bool coefficients_into(const Stream& in, const codec::DibLayout& dst, int components, ErrorManager* err) {
  jpeg_decompress_struct dinfo;
  dinfo.err = error_manager_install(err);
  if (setjmp(err->jump)) {
    jpeg_destroy_decompress(&dinfo);
    return false;
  }
  jpeg_create_decompress(&dinfo);
  jpeg_mem_src(&dinfo, in.bytes, in.size);
  jpeg_read_header(&dinfo, TRUE);
  jvirt_barray_ptr* arrays = jpeg_read_coefficients(&dinfo);
  for (int c = 0; c < components; ++c) {
    const jpeg_component_info& comp = dinfo.comp_info[c];
    for (JDIMENSION by = 0; by < comp.height_in_blocks; ++by) {
      JBLOCKARRAY blocks =
          (*dinfo.mem->access_virt_barray)(reinterpret_cast<j_common_ptr>(&dinfo), arrays[c], by, 1, FALSE);
      for (int v = 0; v < DCTSIZE; ++v) {
        const int y = int(by) * DCTSIZE + v;
        if (y >= dst.rows) break;
        std::uint8_t* row = dst.row(y);
        for (JDIMENSION bx = 0; bx < comp.width_in_blocks; ++bx) {
          const JCOEF* coef = blocks[0][bx] + v * DCTSIZE;
          for (int u = 0; u < DCTSIZE; ++u) {
            const int x = int(bx) * DCTSIZE + u;
            if (x >= dst.width) break;
            row[x * components + c] = offset_clamped(coef[u]);
          }
        }
      }
    }
  }
  jpeg_finish_decompress(&dinfo);
  jpeg_destroy_decompress(&dinfo);
  return true;
}

}  // namespace

Status jpeg_forward_dct(const codec::DibLayout& src, const codec::DibLayout& dst) {
  if (src.compression_code() != 0) return {ERR_WRONG_IMAGE_TYPE, "forward DCT of a compressed image"};
  if (dst.width != src.width || dst.rows != src.rows || dst.depth != src.depth ||
      dst.compression_code() != 0)
    return {ERR_BAD_PARAMETER, "forward DCT: destination differs from the source"};
  // One byte per sample: 8-bit gray or palette indexes, 24-bit and 32-bit
  // pixels (bit fields would mean 16-bit samples, refused with the rest).
  const int components = src.has_masks ? 0 : src.depth == 8 ? 1 : src.depth == 24 ? 3 : src.depth == 32 ? 4 : 0;
  if (components == 0) return {ERR_JPEG_PIXELS, "forward DCT takes 8-, 24- and 32-bit images only"};
  if (src.width == 0 || src.rows == 0 || src.width > JPEG_MAX_DIMENSION || src.rows > JPEG_MAX_DIMENSION)
    return {ERR_JPEG, "image size not possible in JPEG"};
  Stream stream;
  ErrorManager err;
  bool ok = compress_raw(src, components, &stream, &err);
  if (ok) ok = coefficients_into(stream, dst, components, &err);
  std::free(stream.bytes);
  if (!ok) return {ERR_JPEG, err.text};
  return {};
}

}  // namespace orvjpeg
