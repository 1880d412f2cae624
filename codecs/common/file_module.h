// The file entry points a codec module has in the same form as the others:
// reading a file into a new DIB and writing the caller's DIB to a file, with
// their arguments checked and a failure recorded with the library as
// "<FORMAT>: <why>, in <path>". Each module keeps its exports in its own
// <name>_module.cpp, each one a call of these, so its exported names and
// signatures stay where codecs/codec_abi.h promises them.
#pragma once
#include <cstdint>
#include <string>

#include "codecs/codec_abi.h"
#include "codecs/common/dib_block.h"
#include "codecs/common/module_host.h"
#include "codecs/common/status.h"
#include "orivane/errors.h"

namespace codec {

// Records `s` with the library, naming the format and the file.
inline void record_file_failure(const char* format, const Status& s, const char* path) {
  host_record_error(s.code, std::string(format) + ": " + s.text + ", in " + (path ? path : ""));
}

// <PREFIX>_DibFromFile: `read(path, &dib)` fills a new DIB. The DIB, owned
// by the caller, or 0 with the failure recorded.
template <typename Read>
OrvHandle read_file_entry(const char* format, const char* path, Read read) {
  if (!path || !*path) {
    record_file_failure(format, {ERR_BAD_FILENAME, "no file name"}, path);
    return 0;
  }
  NewDib dib;
  const Status s = read(path, &dib);
  if (!s) {
    record_file_failure(format, s, path);
    return 0;
  }
  return dib.release();
}

// <PREFIX>_BmiWriteToFile: `write(layout, path)` writes the caller's locked
// DIB. 0, or kWriteFailed with the failure recorded.
template <typename Write>
std::int32_t write_file_entry(const char* format, const void* bmi, const char* path, Write write) {
  const auto dib = dib_from_bmi(bmi);
  Status s;
  if (!path || !*path)
    s = {ERR_BAD_FILENAME, "no file name"};
  else if (!dib)
    s = {ERR_BAD_DIB, "not a DIB"};
  else
    s = write(*dib, path);
  if (!s) {
    record_file_failure(format, s, path);
    return kWriteFailed;
  }
  return 0;
}

}  // namespace codec
