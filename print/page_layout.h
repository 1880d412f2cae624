// Where a printed image goes on the sheet: at its own resolution, centred on
// the physical sheet, or scaled down to fit the printable area when it is too
// large and scale-to-fit is on. All lengths in the job's device dots.
#pragma once

namespace print {

struct Sheet {
  int width = 0, height = 0;                 // the physical sheet
  int printable_x = 0, printable_y = 0;      // the printable area's offset from the sheet's top left
  int printable_width = 0, printable_height = 0;
  double dpi_x = 600, dpi_y = 600;
};

struct Placement {
  int x = 0, y = 0;  // top left, from the printable area's top left (may be negative)
  int w = 0, h = 0;
  bool overhang = false;  // larger than the printable area at its own size
  bool scaled = false;
  double scale = 1;
};

// The image of `width` x `height` pixels at `dpi_x` x `dpi_y` (0: 72 dpi).
Placement place_image(const Sheet& sheet, int width, int height, double dpi_x, double dpi_y, bool scale_to_fit);

}  // namespace print
