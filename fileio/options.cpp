// Output settings: append flag, multipage format, JPEG quality and the TIFF
// compression table. The codecs read them at each write.
#include "fileio/options.h"

#include "core/state_registry.h"
#include "fileio/multipage.h"

#include "core/error_record.h"
#include "fileio/codec_modules.h"
#include "log/trace.h"
#include "orivane/errors.h"
#include "orivane/file_options.h"
#include "orivane/version.h"

namespace fileio {

OutputSettings& output_settings() {
  static OutputSettings s;
  return s;
}

void output_settings_reset_for_tests() { output_settings() = OutputSettings{}; }

namespace {

constexpr int kCompressionJpeg = 7;
constexpr int kCompressionDefaultBw = 4;     // CCITT Group 4
constexpr int kCompressionDefaultOther = 1;  // none

// BW pages cannot be JPEG-compressed; the CCITT schemes (2, 3, 4) only fit BW.
bool tiff_compression_fits(int pixel_type, int compression) {
  if (pixel_type == 0) return compression != kCompressionJpeg;
  return compression != 2 && compression != 3 && compression != 4;
}

}  // namespace

}  // namespace fileio

using fileio::output_settings;

int IsFormatAvailable(int format) {
  if (format == FF_BMP) return 1;
  fileio::Codec codec;
  if (!fileio::codec_for_format(format, &codec)) return 0;
  return fileio::codec_module(codec) ? 1 : 0;
}

void TWAIN_SetFileAppendFlag(int flag) {
  LogApiCall("SetFileAppendFlag(%d)\n", flag);
  output_settings().append = flag != 0;
}

int TWAIN_GetFileAppendFlag(void) { return output_settings().append; }

void TWAIN_SetReplaceExisting(int flag) {
  LogApiCall("SetReplaceExisting(%d)\n", flag);
  output_settings().replace_existing = flag != 0;
}

int TWAIN_GetReplaceExisting(void) { return output_settings().replace_existing; }

int TWAIN_SetMultipageFormat(int code) {
  LogApiCall("SetMultipageFormat(%d)\n", code);
  int format = -1;
  fileio::Codec codec = fileio::Codec::Tiff;
  bool needs_codec = true;
  switch (code) {
    case 0: format = MPF_TIFF; codec = fileio::Codec::Tiff; break;
    case 5: format = MPF_BMP; needs_codec = false; break;
    case 1: case 10: case 99: format = MPF_PDF; codec = fileio::Codec::Pdf; break;
    case 2: case 97: format = MPF_DCX; codec = fileio::Codec::Dcx; break;
    case 4: format = MPF_JPEG; codec = fileio::Codec::Jpeg; break;
    case 7: format = MPF_PNG; codec = fileio::Codec::Png; break;
    case 98: format = MPF_GIF; codec = fileio::Codec::Gif; break;
    default:
      RecordError(ERR_FORMAT_UNSUPPORTED, "SetMultipageFormat");
      return -1;
  }
  if (needs_codec && !fileio::codec_module(codec)) return -2;
  output_settings().multipage_format = format;
  return 0;
}

int TWAIN_GetMultipageFormat(void) { return output_settings().multipage_format; }

void TWAIN_SetJpegQuality(int quality) {
  LogApiCall("SetJpegQuality(%d)\n", quality);
  if (quality < 1 || quality > 100) RecordError(ERR_JPEG_QUALITY, nullptr);
  output_settings().jpeg_quality = quality;
  if (fileio::codec_if_loaded(fileio::Codec::Jpeg)) fileio::jpeg_api()->SetQuality(quality);
}

int TWAIN_GetJpegQuality(void) { return output_settings().jpeg_quality; }

int TWAIN_SetTiffCompression(int pixel_type, int compression) {
  LogApiCall("SetTiffCompression(%d, %d)\n", pixel_type, compression);
  auto& table = output_settings().tiff_compression;
  if (pixel_type == -1) {
    for (int t = 0; t < 6; ++t) {
      int c = compression != -1 ? compression
              : t == 0          ? fileio::kCompressionDefaultBw
                                : fileio::kCompressionDefaultOther;
      if (fileio::tiff_compression_fits(t, c)) table[t] = c;
    }
    return 1;
  }
  if (pixel_type < 0 || pixel_type > 5) {
    RecordErrorF(ERR_TIFF, "SetTiffCompression, pixel type: %d", pixel_type);
    return 0;
  }
  if (compression == -1)
    compression = pixel_type == 0 ? fileio::kCompressionDefaultBw : fileio::kCompressionDefaultOther;
  if (fileio::tiff_compression_fits(pixel_type, compression)) table[pixel_type] = compression;
  if (table[pixel_type] != compression) {
    RecordErrorF(ERR_TIFF, "TIFF compression %d with pixel type %d.", compression, pixel_type);
    return 0;
  }
  return 1;
}

int TWAIN_GetTiffCompression(int pixel_type) {
  if (pixel_type < 0 || pixel_type > 5) return -1;
  return output_settings().tiff_compression[pixel_type];
}

void TWAIN_SetLazyWriting(int flag) {
  LogApiCall("SetLazyWriting(%d)\n", flag);
  // The writer of an open file is already running (or not): switching now
  // would leave queued pages without their writer.
  if (fileio::multipage().open) {
    RecordError(ERR_FAILURE, "SetLazyWriting: Multipage file open!");
    TWAIN_ReportLastError("");
    return;
  }
  output_settings().lazy_writing = flag != 0;
}

int TWAIN_GetLazyWriting(void) { return output_settings().lazy_writing; }

int FormatVersion(int format) {
  if (format == FF_BMP) return ORIVANE_VERSION;
  fileio::Codec codec;
  if (!fileio::codec_for_format(format, &codec)) {
    RecordError(ERR_BAD_PARAMETER, "FormatVersion");
    return 0;
  }
  const core::LoadedModule* m = fileio::codec_module(codec);
  return m ? m->version : 0;
}

namespace {

// How files are written (quality, append, formats): the program's settings.
const bool kOutputSettingsRegistered = core::register_state({"fileio.output_settings", [] { fileio::output_settings_reset_for_tests(); }, nullptr});

}  // namespace
