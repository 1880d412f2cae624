// How far a codec module trusts the size an image's header declares.
//
// Two checks, both made from the header and the size of the data present,
// before a reader allocates the image:
//   - the loading limit the library sets (pixels, OrvHost.max_image_pixels);
//   - what the coded data present can decode to at most. Every coder has a
//     largest expansion (decoded bytes per coded byte, or rows or blocks per
//     bit); a header that claims more than the data present can fill is a
//     decompression bomb or a truncated file, and either way the image could
//     not be filled. The bounds are the coders' exact maxima, so no real file
//     is refused by them.
// Header-only: each module is its own shared object.
#pragma once
#include <cstdint>
#include <string>

#include "codecs/codec_abi.h"

namespace codec {

// ---- Largest expansions ------------------------------------------------------

// Deflate (zlib, PNG, TIFF, PDF Flate): a match of 258 bytes coded in 2 bits
// (a 1-bit length code and a 1-bit distance code) is the best case.
constexpr std::uint64_t kDeflateBytesPerByte = 1032;
// PackBits (TIFF) and RunLength (PDF): 2 bytes for a run of 128.
constexpr std::uint64_t kPackBitsBytesPerByte = 64;
// LZW (TIFF, PDF, GIF): a code of w bits stands for at most 2^w bytes (the
// table holds 2^w entries, each string one longer than an older one), and
// codes have at most 12 bits: 4096 bytes per 12 bits, the best case.
constexpr std::uint64_t kLzwBytesPerCode = 4096;
constexpr std::uint64_t kLzwCodeBits = 12;
// CCITT Group 3 and 4 (TIFF, PDF): a row costs at least one bit (an all-white
// row of 2-D coding is a single vertical-mode code, whatever its width).
constexpr std::uint64_t kCcittRowsPerByte = 8;
// Huffman-coded JPEG: every 8 x 8 block of every component of a scan costs at
// least one bit (its DC code, even in a progressive DC scan).
constexpr std::uint64_t kJpegHuffmanBlocksPerByte = 8;
// Arithmetic-coded JPEG has no such bound: when its data ends the decoder is
// fed zeros, which decode as the most likely symbols, so a blank page of any
// size codes in a dozen bytes. We allow 2^18 pixels per byte of the whole
// stream: a blank 600-dpi Letter RGB page (211 bytes, 33.7 million pixels)
// still loads, and a header of a few hundred bytes cannot name more than
// 100 MB of image.
constexpr std::uint64_t kJpegArithmeticPixelsPerByte = 1u << 18;

// a x b, or UINT64_MAX when that overflows.
inline std::uint64_t saturating_mul(std::uint64_t a, std::uint64_t b) {
  std::uint64_t product = 0;
  return __builtin_mul_overflow(a, b, &product) ? UINT64_MAX : product;
}

// The most bytes `coded` bytes of LZW data can decode to.
inline std::uint64_t lzw_max_bytes(std::uint64_t coded) {
  return saturating_mul(coded * 8 / kLzwCodeBits + 1, kLzwBytesPerCode);
}

// ---- The loading limit -----------------------------------------------------

// The library's limit in pixels; the default when the host does not say.
inline std::uint64_t max_image_pixels(const OrvHost* host) {
  if (host && ORV_HOST_HAS(host, max_image_pixels) && host->max_image_pixels) {
    const std::int64_t limit = host->max_image_pixels();
    if (limit > 0) return std::uint64_t(limit);
  }
  return std::uint64_t(ORV_DEFAULT_MAX_IMAGE_PIXELS);
}

inline bool image_size_allowed(const OrvHost* host, std::uint64_t width, std::uint64_t height) {
  return saturating_mul(width, height) <= max_image_pixels(host);
}

// "image of W x H pixels is over the limit of N pixels" (the library's text).
inline std::string image_size_refusal(std::uint64_t width, std::uint64_t height, std::uint64_t limit) {
  return "image of " + std::to_string(width) + " x " + std::to_string(height) +
         " pixels is over the limit of " + std::to_string(limit) + " pixels";
}
inline std::string image_size_refusal(const OrvHost* host, std::uint64_t width, std::uint64_t height) {
  return image_size_refusal(width, height, max_image_pixels(host));
}

// "image data missing: N bytes of CODER data cannot fill W x H pixels".
inline std::string image_data_refusal(std::uint64_t width, std::uint64_t height, std::uint64_t bytes,
                                      const char* coder) {
  return "image data missing: " + std::to_string(bytes) + " bytes of " + coder +
         " data cannot fill " + std::to_string(width) + " x " + std::to_string(height) + " pixels";
}

}  // namespace codec
