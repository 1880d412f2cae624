// GIF reading and writing on giflib for the OrvGif module.
//
// Writing takes 1-, 4- and 8-bit images with their colour table (the library
// reduces deeper images to a palette first). Reading takes the first frame of
// the file, cut to its logical screen (the screen's background around the
// frame is not part of the image, so a tiny file naming a huge screen costs
// nothing). Frames of zero size or wholly off the screen are refused, as are
// frames over the loading limit or larger than the LZW data left in the file
// can fill, before any pixel memory is taken. The result is 1-, 4- or 8-bit,
// after the size of the colour table.
#pragma once
#include <string>

#include "codecs/common/dib_block.h"
#include "codecs/common/module_host.h"
#include "codecs/common/status.h"

namespace orvgif {

using Status = codec::Status;

Status gif_write_file(const codec::DibLayout& dib, const char* path);
Status gif_read_file(const char* path, codec::NewDib* out);

}  // namespace orvgif
