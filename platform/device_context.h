// A device context: a surface that drawing goes to, with the box drawing is
// clipped to. The window back end makes one for a window while it paints it,
// printing makes one for a page, tests make one over a memory buffer. The C
// API passes contexts as handles, valid while registered.
#pragma once
#include <cstdint>

namespace platform {

struct DrawRect {
  int x = 0, y = 0, w = 0, h = 0;
  bool empty() const { return w <= 0 || h <= 0; }
};

// The part two rectangles share (empty when they do not meet).
DrawRect rect_intersection(const DrawRect& a, const DrawRect& b);

class DeviceContext {
 public:
  virtual ~DeviceContext() = default;
  // Where drawing can show, in device units.
  virtual DrawRect clip_box() const = 0;
  // Puts `w` x `h` pixels 1:1 at (x, y): rows top first, `stride` bytes apart,
  // each pixel one gray byte (channels 1) or red, green, blue (channels 3).
  virtual void draw_pixels(int x, int y, int w, int h, const std::uint8_t* pixels,
                           int channels, int stride) = 0;
};

using DcHandle = std::uintptr_t;
// Registers `dc` (not owned) for the C API; 0 when it cannot be.
DcHandle dc_register(DeviceContext* dc);
void dc_unregister(DcHandle handle);
// The registered context, nullptr for 0 or a handle no longer registered.
DeviceContext* dc_from_handle(DcHandle handle);

}  // namespace platform
