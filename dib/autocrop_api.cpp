// The C surface of automatic crop, its size range, bright rectangles and the
// region statistics.
#include <cstdint>

#include "dib/api_guard.h"
#include "dib/autocrop.h"
#include "dib/bright_rects.h"
#include "dib/page_analysis.h"
#include "dib/region_stats.h"
#include "log/trace.h"
#include "orivane/dib_analysis.h"

using dib::api::guard;

namespace {

void put(int32_t* out, int value) {
  if (out != nullptr) *out = value;
}

void store_range(double min_w, double max_w, double min_h, double max_h, int unit) {
  dib::CropSizeRange& r = dib::crop_size_range();
  r.min_w = min_w, r.max_w = max_w, r.min_h = min_h, r.max_h = max_h;
  r.unit = unit;
}

void clear_sizes() {
  dib::CropSizeRange& r = dib::crop_size_range();
  r.min_w = r.max_w = r.min_h = r.max_h = 0;
}

}  // namespace

int32_t DIB_GetCropRect(DIB_HANDLE h, int32_t options, int32_t* x, int32_t* y, int32_t* w, int32_t* ht) {
  dib::crop_trace_call(h, options);
  for (int32_t* out : {x, y, w, ht}) put(out, 0);
  return guard("DIB_GetCropRect", 0, [&] {
    const dib::Locked lock(h);
    dib::CropRect r;
    const bool found = dib::get_crop_rect(lock.view(), options, r);
    put(x, r.x), put(y, r.y), put(w, r.w), put(ht, r.h);
    return found ? 1 : 0;
  });
}

DIB_HANDLE DIB_AutoCrop(DIB_HANDLE h, int32_t options) {
  return guard("DIB_AutoCrop", DIB_HANDLE{0}, [&] { return dib::auto_crop(h, options); });
}

void TWAIN_SetAutoCropSizeRange(double min_w, double max_w, double min_h, double max_h, int32_t unit) {
  LogApiCall("SetAutoCropSizeRange(%1.2f, %1.2f, %1.2f, %1.2f, %d)\n", min_w, max_w, min_h, max_h, unit);
  store_range(min_w, max_w, min_h, max_h, unit);
}

void TWAIN_SetAutoCropSize(double w, double h, int32_t unit) {
  LogApiCall("SetAutoCropSize(%1.2f, %1.2f, %d)\n", w, h, unit);
  store_range(w, w, h, h, unit);
}

void TWAIN_ClearAutoCropSizeRange(void) {
  LogApiCall("ClearAutoCropSizeRange\n");
  clear_sizes();
}

void TWAIN_ClearAutoCropSize(void) {
  LogApiCall("ClearAutoCropSize()\n");
  clear_sizes();
}

int32_t DIB_GetBrightRects(DIB_HANDLE h, int32_t min_w, int32_t min_h, int32_t brightness, int32_t* xs,
                           int32_t* ys, int32_t* ws, int32_t* hs, int32_t capacity) {
  LogDibCall("GetBrightRects(0x%08lx, %d, %d, %d, ..., %d)\n", static_cast<unsigned long>(h), min_w, min_h, brightness,
             capacity);
  return guard("DIB_GetBrightRects", 0, [&] {
    const dib::Locked lock(h);
    const auto rects = dib::bright_rects(lock.view(), min_w, min_h, brightness, capacity);
    for (std::size_t i = 0; i < rects.size(); ++i) {
      put(xs ? xs + i : nullptr, rects[i].x), put(ys ? ys + i : nullptr, rects[i].y);
      put(ws ? ws + i : nullptr, rects[i].w), put(hs ? hs + i : nullptr, rects[i].h);
    }
    return static_cast<int32_t>(rects.size());
  });
}

double DIB_AvgRegion(DIB_HANDLE h, int32_t component, int32_t x, int32_t y, int32_t w, int32_t ht) {
  return guard("DIB_AvgRegion", -1.0, [&] {
    const dib::Locked lock(h);
    return dib::avg_region(lock.view(), component, x, y, w, ht);
  });
}

DIB_HANDLE DIB_ProjectColumns(DIB_HANDLE h, int32_t x, int32_t y, int32_t w, int32_t ht, int32_t component) {
  return guard("DIB_ProjectColumns", DIB_HANDLE{0}, [&] {
    const dib::Locked lock(h);
    return dib::project_columns(lock.view(), x, y, w, ht, component).release();
  });
}

DIB_HANDLE DIB_ProjectRows(DIB_HANDLE h, int32_t component) {
  // The row projection reports under the column projection's name.
  return guard("DIB_ProjectColumns", DIB_HANDLE{0}, [&] {
    const dib::Locked lock(h);
    return dib::project_rows(lock.view(), component).release();
  });
}
