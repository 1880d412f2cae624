// OrvPng's entry points: the file entry points every file codec shares
// (codecs/common/file_module.h) over the PNG work in png_read.cpp and
// png_write.cpp.
#include "codecs/codec_abi.h"
#include "codecs/common/file_module.h"
#include "codecs/png/png_codec.h"

extern "C" {

ORV_CODEC_EXPORT int32_t ORVPNG_SetHost(const OrvHost* host) { return codec::host_set(host); }

ORV_CODEC_EXPORT int32_t ORVPNG_Version(void) { return ORVPNG_VERSION; }

ORV_CODEC_EXPORT OrvHandle ORVPNG_DibFromFile(const char* path) {
  return codec::read_file_entry("PNG", path, orvpng::png_read_file);
}

ORV_CODEC_EXPORT int32_t ORVPNG_BmiWriteToFile(const void* bmi, const char* path) {
  return codec::write_file_entry("PNG", bmi, path, orvpng::png_write_file);
}

}  // extern "C"
