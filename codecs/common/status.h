// The outcome of a codec module's own operations, as its format code
// returns it to the module's entry points.
#pragma once
#include <cstdint>
#include <string>

namespace codec {

// Code 0 = success, else a library error code (ERR_*, orivane/twain_error.h)
// and a text that says why.
struct Status {
  int code = 0;
  std::string text;
  explicit operator bool() const { return code == 0; }
};

// What a module's writer returns when it failed (never -1..-5, which mean
// other things to the library); the error record says why.
constexpr std::int32_t kWriteFailed = -20;

}  // namespace codec
