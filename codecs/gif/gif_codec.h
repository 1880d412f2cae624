// GIF reading and writing on giflib for the OrvGif module.
//
// Writing takes 1-, 4- and 8-bit images with their colour table (the library
// reduces deeper images to a palette first). Reading takes the first image of
// the file, placed on its logical screen: frames of zero size or reaching
// outside the screen are refused, as are screens over the DIB size limit,
// before any pixel memory is taken. The result is 1-, 4- or 8-bit, after the
// size of the colour table.
#pragma once
#include <string>

#include "codecs/common/dib_block.h"
#include "codecs/common/module_host.h"

namespace orvgif {

struct Status {
  int code = 0;
  std::string text;
  explicit operator bool() const { return code == 0; }
};

Status gif_write_file(const codec::DibLayout& dib, const char* path);
Status gif_read_file(const char* path, codec::NewDib* out);

}  // namespace orvgif
