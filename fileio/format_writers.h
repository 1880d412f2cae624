// The single-image writers of the formats a codec module writes (JPEG, TIFF,
// PNG, GIF, DCX, PDF): one table row per format, and one function that runs
// a row. Every writer takes the same steps in the same order (the call traced,
// a converted copy when the format cannot hold the image's depth, the image
// locked, the module loaded, the name and its folder checked, the module
// prepared, the file written all-or-nothing); the row says what differs.
#pragma once
#include <cstdint>

#include "fileio/codec_modules.h"
#include "fileio/write_support.h"
#include "orivane/dib_api.h"

namespace fileio {

// How a format takes an image of a depth it cannot hold: through a converted
// copy, freed after the write.
struct DepthRule {
  enum Kind {
    AsIs,    // every depth is written as it is
    Widen,   // below `depth` bits (uncompressed): to `depth`-bit gray when the
             // table is gray, else 3 x `depth`-bit colour; traced
    Reduce,  // above `depth` bits: to `depth` bits of `pixel_type`
  };
  Kind kind = AsIs;
  int depth = 0;
  int pixel_type = 0;     // Reduce: the copy's pixel type (DIB_PT_*)
  int convert_error = 0;  // recorded when the copy cannot be made
};

// One format's writer. The module steps run only once the module loaded, so
// each reaches its module's entry points directly. What a row leaves out is
// the plain choice: nothing traced, recorded or done.
struct FormatWriter {
  int format;        // FF_*
  Codec codec;       // the module that writes it
  const char* name;  // "Tiff": traced as "WriteToTiff(...)", refused as "(DIB_WriteToTiff)"
  bool dib_call = true;  // the call is traced as a DIB_ call (with its prefix)
  // Traced when the image cannot be locked.
  const char* lock_failed_trace = nullptr;
  DepthRule depth = {};
  // Recorded when the module does not load, with `load_detail` (nullptr: the
  // file name). 0: the module's loader records why itself.
  int load_error = 0;
  const char* load_detail = nullptr;
  // Where the pages of a file already there come from when the append setting
  // is on; Existing::Replace for a format that never appends.
  Existing append_as = Existing::Replace;
  // Hands the settings over before the output is opened: 0 to go on, else
  // the result to give up with (the error recorded).
  int (*prepare)(const BlockLock& image) = nullptr;
  // The module's file writer for the temporary file `temp` of `path`, under
  // the fault guard: 0, or the module's failure result.
  int (*write)(const BlockLock& image, const char* temp, const char* path, bool appending) = nullptr;
  // Records why a write failed, beyond what the module recorded itself.
  void (*write_failed)(int result, const char* path) = nullptr;
  // Shown to the user (TWAIN_ReportLastError) after any failure.
  const char* failure_report = nullptr;
  // After the write and its report, when the module loaded: the module's
  // settings put back for its next use.
  void (*finish)() = nullptr;
};

// `code` when the error table knows it, else ERR_FAILURE: what a module's own
// failure number is recorded as.
int known_code(int code);

// The row of a format code; nullptr for BMP and codes without a writer.
const FormatWriter* format_writer(int format);

// Writes `dib` to `path` as the row says: 0, or the writers' results
// (orivane/file_api.h) with the error recorded.
int32_t run_format_writer(const FormatWriter& writer, DIB_HANDLE dib, const char* path);

// The image a write takes in place of `dib`: `dib` itself, or a copy
// converted by `rule` (traced and freed with the writer's `name`). A copy
// that cannot be made records the rule's error with `context`.
class ConvertedImage {
 public:
  ConvertedImage(const DepthRule& rule, const char* name, DIB_HANDLE dib, const char* context);
  ~ConvertedImage();
  ConvertedImage(const ConvertedImage&) = delete;
  ConvertedImage& operator=(const ConvertedImage&) = delete;

  bool failed() const { return failed_; }
  DIB_HANDLE get() const { return copy_ ? copy_ : dib_; }

 private:
  const char* name_;
  DIB_HANDLE dib_;
  DIB_HANDLE copy_ = 0;
  bool failed_ = false;
};

}  // namespace fileio
