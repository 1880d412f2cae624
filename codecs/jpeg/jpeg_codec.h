// JPEG encoding and decoding on libjpeg-turbo for the OrvJpeg module.
//
// Every libjpeg call runs under a longjmp error manager: the library's own
// handler ends the process. Decoding checks the size named by the header
// before anything is allocated (the loading limit, kMaxDibBytes, and whether
// the stream's data can fill the image at all), caps libjpeg's own memory and
// the number of progressive scans, and treats a stream that ends early as an
// error rather than a picture padded with gray.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "codecs/common/dib_block.h"
#include "codecs/common/module_host.h"
#include "codecs/common/status.h"

namespace orvjpeg {

// Failures name ERR_JPEG, ERR_JPEG_PIXELS, ERR_MEMORY, ...
using Status = codec::Status;

// Largest memory libjpeg may take for its own work (coefficient buffers of
// progressive images), bytes.
constexpr long kMaxLibjpegMemory = 512L << 20;
// Progressive images with more scans than this are refused (a few dozen is
// usual; crafted files use thousands to burn time).
constexpr int kMaxProgressiveScans = 500;

// Encodes a plain 8-bit gray or 24-bit RGB DIB with `quality` (1..100) into
// `out` (appended). A DIB that already holds a JPEG stream is copied as is.
// Other depths and pixel types: ERR_JPEG_PIXELS; other compressed streams:
// ERR_WRONG_IMAGE_TYPE.
Status jpeg_encode(const codec::DibLayout& dib, int quality, std::vector<std::uint8_t>* out);

// Decodes a JPEG stream held in memory into `out`: gray -> 8-bit with the gray
// ramp, colour -> 24-bit, CMYK -> 32-bit marked subtractive. Resolution from
// the JFIF density. On failure `out` holds nothing.
Status jpeg_decode(const std::uint8_t* data, std::size_t size, codec::NewDib* out);

// Fills `dst` (same width, height and depth as `src`) with the forward DCT of
// `src`: per 8x8 block and per stored sample component, the block's JPEG DCT
// coefficients in natural order, each offset by 128 and clamped to 0..255.
// 8-, 24- and 32-bit images only (ERR_JPEG_PIXELS otherwise).
Status jpeg_forward_dct(const codec::DibLayout& src, const codec::DibLayout& dst);

}  // namespace orvjpeg
