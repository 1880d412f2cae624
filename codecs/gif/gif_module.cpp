// OrvGif's entry points: argument checks and the hand-over of images to the
// library. The GIF work is in gif_read.cpp and gif_write.cpp.
#include <string>

#include "codecs/codec_abi.h"
#include "codecs/common/module_host.h"
#include "codecs/gif/gif_codec.h"
#include "orivane/twain_error.h"

namespace {

// Module failure code returned by the writer (the error record says why).
constexpr std::int32_t kWriteFailed = -20;

void fail(const orvgif::Status& s, const char* path) {
  codec::host_record_error(s.code, "GIF: " + s.text + ", in " + (path ? path : ""));
}

}  // namespace

extern "C" {

ORV_CODEC_EXPORT int32_t ORVGIF_SetHost(const OrvHost* host) { return codec::host_set(host); }

ORV_CODEC_EXPORT int32_t ORVGIF_Version(void) { return ORVGIF_VERSION; }

ORV_CODEC_EXPORT OrvHandle ORVGIF_DibFromFile(const char* path) {
  if (!path || !*path) {
    fail({ERR_BAD_FILENAME, "no file name"}, path);
    return 0;
  }
  codec::NewDib dib;
  const orvgif::Status s = orvgif::gif_read_file(path, &dib);
  if (!s) {
    fail(s, path);
    return 0;
  }
  return dib.release();
}

ORV_CODEC_EXPORT int32_t ORVGIF_BmiWriteToFile(const void* bmi, const char* path) {
  const auto dib = codec::dib_from_bmi(bmi);
  orvgif::Status s;
  if (!path || !*path)
    s = {ERR_BAD_FILENAME, "no file name"};
  else if (!dib)
    s = {ERR_BAD_DIB, "not a DIB"};
  else
    s = orvgif::gif_write_file(*dib, path);
  if (!s) {
    fail(s, path);
    return kWriteFailed;
  }
  return 0;
}

}  // extern "C"
