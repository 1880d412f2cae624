// PNG reading and writing on libpng for the OrvPng module.
//
// Every libpng call runs under libpng's setjmp error return, in frames that
// hold no C++ objects. Reading caps the size with png_set_user_limits and the
// DIB size limit before any pixel memory is taken, and caps ancillary chunk
// memory; a file that ends early or fails a critical CRC is refused.
#pragma once
#include <string>

#include "codecs/common/dib_block.h"
#include "codecs/common/module_host.h"
#include "codecs/common/status.h"

namespace orvpng {

using Status = codec::Status;

// Largest width or height accepted from a PNG header, pixels.
constexpr unsigned kMaxSide = 1u << 20;
// Largest ancillary chunk kept in memory, bytes, and the most such chunks.
constexpr unsigned kMaxChunkBytes = 8u << 20;
constexpr unsigned kMaxChunks = 1000;

// Writes a DIB: 1/4/8-bit gray (when the table is the gray ramp) or palette,
// 16-bit gray, 24-bit RGB, 32-bit as RGB (the fourth byte is not part of the
// picture), 48-bit as 16-bit RGB; resolution as pHYs. CMY/CMYK and compressed
// streams: ERR_WRONG_IMAGE_TYPE. A failed write leaves no file.
Status png_write_file(const codec::DibLayout& dib, const char* path);

// Reads a PNG file into `out`: gray 1/4/8 (2-bit widened to 4), 16-bit gray,
// palette 1/4/8 (2-bit widened to 4), RGB -> 24, RGBA -> 32 (alpha in the
// fourth byte), 16-bit colour -> 48 (alpha dropped); pHYs -> resolution.
Status png_read_file(const char* path, codec::NewDib* out);

}  // namespace orvpng
