// OrvJpeg's entry points: argument checks, the quality setting, the last
// error, and the hand-over of blocks to the library. The JPEG work is in
// jpeg_read.cpp and jpeg_write.cpp.
#include <cstring>
#include <string>
#include <vector>

#include "codecs/codec_abi.h"
#include "codecs/common/file_io.h"
#include "codecs/jpeg/jpeg_codec.h"
#include "codecs/common/module_host.h"

namespace {

constexpr int kDefaultQuality = 75;
using codec::kWriteFailed;

struct JpegState {
  int quality = kDefaultQuality;
  int last_code = 0;
  std::string last_text;
};

JpegState& state() {
  static JpegState s;
  return s;
}

void succeed() {
  state().last_code = 0;
  state().last_text.clear();
}

// Keeps the failure for LastErrorCode/Text and records it with the library.
void fail(int code, const std::string& text, const char* where) {
  state().last_code = code;
  state().last_text = text;
  std::string detail = text;
  if (where && *where) detail += std::string(", in ") + where;
  codec::host_record_error(code, detail);
}

OrvHandle decode_bytes(const std::uint8_t* data, std::size_t size, const char* where) {
  codec::NewDib dib;
  const orvjpeg::Status s = orvjpeg::jpeg_decode(data, size, &dib);
  if (!s) {
    fail(s.code, s.text, where);
    return 0;
  }
  succeed();
  return dib.release();
}

// Encodes the caller's DIB; false after recording the failure.
bool encode(const void* bmi, std::vector<std::uint8_t>* out, const char* where) {
  const auto dib = codec::dib_from_bmi(bmi);
  if (!dib) {
    fail(ERR_BAD_DIB, "not a DIB", where);
    return false;
  }
  const orvjpeg::Status s = orvjpeg::jpeg_encode(*dib, state().quality, out);
  if (!s) {
    fail(s.code, s.text, where);
    return false;
  }
  return true;
}

}  // namespace

extern "C" {

ORV_CODEC_EXPORT int32_t ORVJPEG_SetHost(const OrvHost* host) { return codec::host_set(host); }

ORV_CODEC_EXPORT int32_t ORVJPEG_Version(void) { return ORVJPEG_VERSION; }

ORV_CODEC_EXPORT void ORVJPEG_SetQuality(int32_t quality) {
  state().quality = quality < 1 ? 1 : quality > 100 ? 100 : quality;
}

ORV_CODEC_EXPORT int32_t ORVJPEG_GetQuality(void) { return state().quality; }

ORV_CODEC_EXPORT int32_t ORVJPEG_LastErrorCode(void) { return state().last_code; }

ORV_CODEC_EXPORT const char* ORVJPEG_LastErrorText(void) { return state().last_text.c_str(); }

ORV_CODEC_EXPORT OrvHandle ORVJPEG_DibFromFile(const char* path) {
  std::vector<std::uint8_t> bytes;
  if (const int code = codec::file_read_all(path, &bytes)) {
    fail(code, "cannot read file", path);
    return 0;
  }
  return decode_bytes(bytes.data(), bytes.size(), path);
}

ORV_CODEC_EXPORT OrvHandle ORVJPEG_DibFromBuffer(const void* bytes, int32_t length) {
  if (!bytes || length <= 0) {
    fail(ERR_BAD_PARAMETER, "empty buffer", "memory");
    return 0;
  }
  return decode_bytes(static_cast<const std::uint8_t*>(bytes), std::size_t(length), "memory");
}

ORV_CODEC_EXPORT int32_t ORVJPEG_BmiWriteToFile(const void* bmi, const char* path) {
  std::vector<std::uint8_t> out;
  if (!encode(bmi, &out, path)) return kWriteFailed;
  if (const int code = codec::file_write_all(path, out.data(), out.size())) {
    fail(code, "cannot write file", path);
    return kWriteFailed;
  }
  succeed();
  return 0;
}

ORV_CODEC_EXPORT int32_t ORVJPEG_DibForwardDCT(const void* src_bmi, void* dst_bmi) {
  const auto src = codec::dib_from_bmi(src_bmi);
  const auto dst = codec::dib_from_bmi(dst_bmi);
  if (!src || !dst) {
    fail(ERR_BAD_DIB, "not a DIB", "forward DCT");
    return kWriteFailed;
  }
  const orvjpeg::Status s = orvjpeg::jpeg_forward_dct(*src, *dst);
  if (!s) {
    fail(s.code, s.text, "forward DCT");
    return kWriteFailed;
  }
  succeed();
  return 0;
}

ORV_CODEC_EXPORT int32_t ORVJPEG_BmiWriteToMemory(const void* bmi, OrvHandle* out_block) {
  if (out_block) *out_block = 0;
  std::vector<std::uint8_t> out;
  if (!out_block) {
    fail(ERR_BAD_PARAMETER, "no block", "memory");
    return -1;
  }
  if (!encode(bmi, &out, "memory")) return -1;
  if (out.size() > 0x7FFFFFFF) {
    fail(ERR_MEMORY, "stream too large", "memory");
    return -1;
  }
  const OrvHandle block = codec::host()->mem_alloc(out.size());
  void* p = block ? codec::host()->mem_lock(block) : nullptr;
  if (!p) {
    if (block) codec::host()->mem_free(block);
    fail(ERR_MEMORY, "out of memory", "memory");
    return -1;
  }
  std::memcpy(p, out.data(), out.size());
  codec::host()->mem_unlock(block);
  *out_block = block;
  succeed();
  return int32_t(out.size());
}

}  // extern "C"
