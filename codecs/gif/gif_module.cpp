// OrvGif's entry points: the file entry points every file codec shares
// (codecs/common/file_module.h) over the GIF work in gif_read.cpp and
// gif_write.cpp.
#include "codecs/codec_abi.h"
#include "codecs/common/file_module.h"
#include "codecs/gif/gif_codec.h"

extern "C" {

ORV_CODEC_EXPORT int32_t ORVGIF_SetHost(const OrvHost* host) { return codec::host_set(host); }

ORV_CODEC_EXPORT int32_t ORVGIF_Version(void) { return ORVGIF_VERSION; }

ORV_CODEC_EXPORT OrvHandle ORVGIF_DibFromFile(const char* path) {
  return codec::read_file_entry("GIF", path, orvgif::gif_read_file);
}

ORV_CODEC_EXPORT int32_t ORVGIF_BmiWriteToFile(const void* bmi, const char* path) {
  return codec::write_file_entry("GIF", bmi, path, orvgif::gif_write_file);
}

}  // extern "C"
