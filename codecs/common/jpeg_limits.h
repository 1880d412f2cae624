// Whether a JPEG stream's data can fill the image its header declares, judged
// from libjpeg's view right after jpeg_read_header (shared by OrvJpeg and the
// DCT images of OrvPdf, both on libjpeg-turbo). Header-only.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include <jpeglib.h>

#include "codecs/common/image_limits.h"

namespace codec {

// Empty when the data can fill the image, else the refusal's text. `stream`
// is the size of the whole JPEG stream. Huffman-coded scans spend at least one
// bit per block of each component they hold, so the first scan's blocks must
// fit in the data that follows its header; a progressive image must start
// with a DC scan (an AC scan first codes nothing per block). Arithmetic-coded
// data has no such floor and is held to a fixed ratio against the whole
// stream (kJpegArithmeticPixelsPerByte).
inline std::string jpeg_data_refusal(const jpeg_decompress_struct& c, std::size_t stream) {
  const std::uint64_t width = c.image_width, height = c.image_height;
  if (c.progressive_mode && c.Ss != 0) return "progressive image does not start with a DC scan";
  if (c.arith_code) {
    if (saturating_mul(width, height) > saturating_mul(stream, kJpegArithmeticPixelsPerByte))
      return image_data_refusal(width, height, stream, "arithmetic-coded JPEG");
    return {};
  }
  std::uint64_t blocks = 0;
  for (int i = 0; i < c.comps_in_scan; ++i)
    blocks += std::uint64_t(c.cur_comp_info[i]->width_in_blocks) * c.cur_comp_info[i]->height_in_blocks;
  const std::uint64_t entropy = c.src->bytes_in_buffer;
  if (blocks > saturating_mul(entropy, kJpegHuffmanBlocksPerByte))
    return image_data_refusal(width, height, entropy, "Huffman-coded JPEG");
  return {};
}

}  // namespace codec
