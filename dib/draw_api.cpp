// DIB_DrawToDC: the C face of dib/draw.
#include "dib/api_guard.h"
#include "dib/draw.h"
#include "orivane/dib_api.h"
#include "platform/device_context.h"

void DIB_DrawToDC(DIB_HANDLE h, uintptr_t dc, int32_t x, int32_t y, int32_t width,
                  int32_t height, int32_t sx, int32_t sy) {
  platform::DeviceContext* context = platform::dc_from_handle(dc);
  if (context == nullptr || h == 0) return;
  dib::api::guard_void("DIB_DrawToDC",
                       [&] { dib::draw_to_dc(h, *context, x, y, width, height, sx, sy); });
}
