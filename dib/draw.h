// Drawing an image into a device context: what the screen and the printer
// show of a page. Shrinking averages areas (a scanned page shown small keeps
// its thin lines as gray instead of dropping them), and only the visible part
// of a large page is scaled, so that zooming into a corner stays fast.
#pragma once
#include "dib/dib.h"
#include "platform/device_context.h"

namespace dib {

// Draws `h` into the rectangle (x, y, w, h) of `dc`, the source starting at
// column sx and row sy. Throws Error for an image that cannot be read.
void draw_to_dc(Handle h, platform::DeviceContext& dc, int x, int y, int w, int height, int sx,
                int sy);

}  // namespace dib
