// The DIB family's C surface for pixel conversions, scaling and orientation.
#include "orivane/dib_api.h"

#include <algorithm>

#include "dib/api_guard.h"
#include "dib/convert.h"
#include "dib/dib.h"
#include "dib/edit.h"
#include "dib/histogram.h"
#include "dib/negate.h"
#include "dib/rotate.h"
#include "dib/scale.h"
#include "log/trace.h"
#include "platform/clock.h"

using dib::api::edit;
using dib::api::guard;

namespace {

unsigned long hex(DIB_HANDLE h) { return static_cast<unsigned long>(h); }

// Runs `make` on the locked image and hands the new image to the caller.
template <typename F>
DIB_HANDLE make_from(DIB_HANDLE h, const char* context, F&& make) {
  return guard(context, DIB_HANDLE{0}, [&] {
    dib::Locked lock(h);
    return make(lock.view()).release();
  });
}

}  // namespace

DIB_HANDLE DIB_ConvertToFormat(DIB_HANDLE h, int32_t pixel_type, int32_t depth, const DIB_CONVERT_OPTIONS* options) {
  LogDibCall("ConvertToFormat(0x%lx, %d, %d, 0x%x)\n", hex(h), pixel_type, depth, options ? options->flags : 0u);
  dib::ConvertOptions o;
  if (options != nullptr) o = dib::ConvertOptions{options->flags, options->threshold, options->color_count};
  const DIB_HANDLE out = make_from(h, "DIB_ConvertToFormat", [&](const dib::DibView& v) {
    return dib::convert_format(v, pixel_type, depth, options ? &o : nullptr);
  });
  dib::convert_defaults().next_colour_count = 0;  // also when the image was refused
  return out;
}

DIB_HANDLE DIB_ConvertToPixelType(DIB_HANDLE h, int32_t pixel_type) {
  return DIB_ConvertToFormat(h, pixel_type, 0, nullptr);
}

DIB_HANDLE DIB_ConvertToBW(DIB_HANDLE h, int32_t threshold) {
  const DIB_CONVERT_OPTIONS o{0, static_cast<uint8_t>(std::clamp(threshold, 0, 255)), 0};
  return DIB_ConvertToFormat(h, DIB_PT_BW, 1, &o);
}

DIB_HANDLE DIB_ConvertToBWAuto(DIB_HANDLE h) {
  const DIB_CONVERT_OPTIONS o{DIB_CONVERT_AUTO_THRESHOLD, 0, 0};
  return DIB_ConvertToFormat(h, DIB_PT_BW, 1, &o);
}

int32_t DIB_SetDefaultThreshold(int32_t threshold) {
  const int former = dib::convert_defaults().threshold;
  dib::convert_defaults().threshold = std::clamp(threshold, 0, 255);
  return former;
}

int32_t DIB_SetPaletteDiffusion(int32_t flags) {
  const auto former = static_cast<int32_t>(dib::convert_defaults().palette_flags);
  dib::convert_defaults().palette_flags = static_cast<std::uint32_t>(flags) & dib::kConvertDiffuse2;
  return former;
}

void DIB_SetNextColorCount(int32_t count) { dib::convert_defaults().next_colour_count = std::max(count, 0); }

int32_t DIB_AutoThreshold(DIB_HANDLE h) {
  return guard("DIB_AutoThreshold", 128, [&] {
    dib::Locked lock(h);
    return dib::isodata_threshold(dib::gray_histogram(lock.view()));
  });
}

DIB_HANDLE DIB_ScaleToGray(DIB_HANDLE h, int32_t factor) {
  const std::uint32_t start = platform::tick_count_ms();
  const DIB_HANDLE out = guard("DIB_ScaleToGray", DIB_HANDLE{0}, [&] {
    dib::Locked lock(h);
    if (factor < 1) throw dib::Error(ERR_BAD_PARAMETER);
    try {
      return dib::scale_to_gray(lock.view(), factor).release();
    } catch (const dib::Error& e) {
      if (e.code() == ERR_BAD_DIB || e.code() == ERR_BAD_PARAMETER) throw;
      throw dib::Error(ERR_MEMORY);  // whatever else stopped it is reported as the allocation
    }
  });
  LogDibCall("ScaleToGray(0x%lx,%d) =>0x%lx [%ums]\n", hex(h), factor, hex(out), platform::tick_count_ms() - start);
  return out;
}

DIB_HANDLE DIB_ScaledCopy(DIB_HANDLE h, int32_t width, int32_t height) {
  LogDibCall("ScaledCopy(0x%lx, %d, %d)\n", hex(h), width, height);
  const DIB_HANDLE out = guard("DIB_ScaledCopy", DIB_HANDLE{0}, [&] {
    dib::Locked lock(h);
    try {
      return dib::scaled_copy(lock.view(), width, height).release();
    } catch (const dib::Error& e) {
      LogPrint("*BmiScaleCopy failed\n");
      throw dib::Error(ERR_WRONG_IMAGE_TYPE);
    }
  });
  return out;
}

DIB_HANDLE DIB_Resample(DIB_HANDLE h, double x_dpi, double y_dpi) {
  LogDibCall("Resample(0x%lx, %g, %g)\n", hex(h), x_dpi, y_dpi);
  if (h == 0) {
    RecordError(ERR_BAD_PARAMETER, "DIB_Resample");
    return 0;
  }
  return make_from(h, "DIB_Resample", [&](const dib::DibView& v) { return dib::resample(v, x_dpi, y_dpi); });
}

int32_t DIB_ScaleInPlace(DIB_HANDLE h, int32_t width, int32_t height) {
  LogDibCall("ScaleInPlace(0x%lx, %d, %d)\n", hex(h), width, height);
  return guard("DIB_ScaleInPlace", 0, [&] {
    dib::Dib scaled;
    {
      dib::Locked lock(h);
      if (lock->width() == width && lock->height() == height) return 1;
      scaled = dib::scaled_copy(lock.view(), width, height);
    }
    return dib::replace_contents(h, scaled.release()) ? 1 : 0;
  });
}

int32_t DIB_Negate(DIB_HANDLE h) {
  LogDibCall("Negate(0x%lx)\n", hex(h));
  return edit(h, "DIB_Negate", [](const dib::DibView& v) { dib::negate(v); });
}

DIB_HANDLE DIB_Rotate90(DIB_HANDLE h, int32_t turns) {
  LogDibCall("Rotate90(0x%lx, %d)\n", hex(h), turns);
  return make_from(h, "DIB_Rotate90", [&](const dib::DibView& v) { return dib::rotate_quarter(v, turns); });
}

int32_t DIB_Rotate90InPlace(DIB_HANDLE h, int32_t turns) {
  LogDibCall("Rotate90InPlace(0x%lx, %d)\n", hex(h), turns);
  return guard("DIB_Rotate90InPlace", 0, [&] {
    dib::rotate_in_place(h, turns);
    return 1;
  });
}

int32_t DIB_FlipVertical(DIB_HANDLE h) {
  LogDibCall("FlipVertical(0x%lx)\n", hex(h));
  return edit(h, "DIB_FlipVertical", [](const dib::DibView& v) { dib::flip_vertical(v); });
}

int32_t DIB_FlipHorizontal(DIB_HANDLE h) {
  LogDibCall("FlipHorizontal(0x%lx)\n", hex(h));
  return edit(h, "DIB_FlipHorizontal", [](const dib::DibView& v) { dib::mirror(v); });
}

int32_t DIB_SwapRedBlue(DIB_HANDLE h) {
  LogDibCall("SwapRedBlue(0x%lx)\n", hex(h));
  return edit(h, "DIB_SwapRedBlue", [](const dib::DibView& v) { dib::swap_red_blue(v); });
}
