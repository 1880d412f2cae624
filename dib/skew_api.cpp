// The DIB family's C surface for skew: the estimated angle, rotation by a
// given angle and the automatic deskew, which post-transfer processing also
// runs on each delivered page.
#include "orivane/dib_analysis.h"

#include <chrono>
#include <numbers>

#include "dib/api_guard.h"
#include "dib/dib.h"
#include "dib/page_analysis.h"
#include "dib/skew.h"
#include "log/trace.h"

using dib::api::guard;

static_assert(DIB_NO_SKEW == dib::kNoSkew);

namespace {

unsigned long hex(DIB_HANDLE h) { return static_cast<unsigned long>(h); }

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Estimates the skew of the page and, when one was found, turns the page
// straight, tracing the time each step took. Whether the page was turned.
bool find_skew_angle(const dib::DibView& v) {
  auto start = std::chrono::steady_clock::now();
  const double angle = dib::deskew_angle(v);
  LogPrint("FindSkewAngle: %0.3fs\n", seconds_since(start));
  if (!(angle > dib::kSkewUnknownLimit)) return false;
  start = std::chrono::steady_clock::now();
  dib::rotate_by_radians(v, angle);
  LogPrint("BmiSkew: %0.3fs\n", seconds_since(start));
  return true;
}

int32_t skew_by_radians(DIB_HANDLE h, double radians, const char* context) {
  if (h == 0) return 0;
  return guard(context, 0, [&] {
    dib::Locked lock(h);
    dib::rotate_by_radians(lock.view(), radians);
    return 1;
  });
}

}  // namespace

namespace dib {

Handle auto_deskew(Handle page) {
  Dib copy(dib_copy(page));
  if (!copy) return 0;
  {
    Locked lock(copy.get());
    if (!find_skew_angle(lock.view())) return 0;
  }
  return copy.release();
}

}  // namespace dib

double DIB_DeskewAngle(DIB_HANDLE h) {
  double angle = DIB_NO_SKEW;
  if (h != 0) {
    angle = guard("DIB_DeskewAngle", DIB_NO_SKEW, [&] {
      dib::Locked lock(h);
      return dib::deskew_angle(lock.view());
    });
  }
  LogDibCall("DeskewAngle(0x%lx) => %0.3f\n", hex(h), angle);
  return angle;
}

int32_t DIB_SkewByDegrees(DIB_HANDLE h, double degrees) {
  LogPrint("SkewByDegrees(0x%lx, %0.3f)\n", hex(h), degrees);
  return skew_by_radians(h, degrees * std::numbers::pi / 180.0, "DIB_SkewByDegrees");
}

int32_t DIB_SkewByRadians(DIB_HANDLE h, double radians) {
  return skew_by_radians(h, radians, "DIB_SkewByRadians");
}

DIB_HANDLE DIB_AutoDeskew(DIB_HANDLE h) {
  if (h == 0) return 0;
  return guard("DIB_AutoDeskew", DIB_HANDLE{0}, [&] {
    { dib::Locked check(h); }  // a stale or foreign handle is reported, not copied
    dib::Dib copy(dib::dib_copy(h));
    if (!copy) return DIB_HANDLE{0};
    {
      dib::Locked lock(copy.get());
      find_skew_angle(lock.view());
    }
    return copy.release();
  });
}
