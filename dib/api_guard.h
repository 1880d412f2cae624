// The one boundary guard of the C API: the internal work may throw; the guard
// records the failure in the error record and turns it into the function's
// failure value, so that nothing thrown crosses the C boundary.
#pragma once
#include <cstdint>
#include <exception>
#include <new>
#include <string>

#include "core/error_record.h"
#include "dib/dib.h"
#include "orivane/errors.h"

namespace dib::api {

// Records an internal error; an error without its own detail names the
// operation ("(DIB_Negate)" for a bad image, "DIB_Negate" otherwise).
inline void record(int code, const std::string& detail, const char* context) {
  if (!detail.empty()) {
    RecordError(code, detail.c_str());
  } else if (code == ERR_BAD_DIB) {
    RecordError(code, ("(" + std::string(context) + ")").c_str());
  } else {
    RecordError(code, context);
  }
}

template <typename R, typename F>
R guard(const char* context, R on_failure, F&& body) noexcept {
  try {
    return body();
  } catch (const Error& e) {
    record(e.code(), e.detail(), context);
  } catch (const std::bad_alloc&) {
    record(ERR_MEMORY, {}, context);
  } catch (...) {
    record(ERR_FAILURE, {}, context);
  }
  return on_failure;
}

template <typename F>
void guard_void(const char* context, F&& body) noexcept {
  guard(context, 0, [&] {
    body();
    return 0;
  });
}

// Runs `body` on the locked image of `h`; 1 on success, 0 with the failure
// recorded under `context`.
template <typename F>
int32_t edit(Handle h, const char* context, F&& body) noexcept {
  return guard(context, 0, [&] {
    Locked lock(h);
    body(lock.view());
    return 1;
  });
}

}  // namespace dib::api
