#include "print/page_layout.h"

#include <algorithm>
#include <cmath>

namespace print {
namespace {

constexpr double kDefaultDpi = 72;

int size_on_paper(int pixels, double printer_dpi, double image_dpi) {
  return static_cast<int>(std::lround(pixels * printer_dpi / (image_dpi > 0 ? image_dpi : kDefaultDpi)));
}

}  // namespace

Placement place_image(const Sheet& sheet, int width, int height, double dpi_x, double dpi_y, bool scale_to_fit) {
  Placement p;
  p.w = size_on_paper(width, sheet.dpi_x, dpi_x);
  p.h = size_on_paper(height, sheet.dpi_y, dpi_y);
  p.overhang = p.w > sheet.printable_width || p.h > sheet.printable_height;
  if (!scale_to_fit || !p.overhang) {
    p.x = (sheet.width - p.w) / 2 - sheet.printable_x;
    p.y = (sheet.height - p.h) / 2 - sheet.printable_y;
    return p;
  }
  p.scaled = true;
  p.scale = std::min(static_cast<double>(sheet.printable_width) / p.w, static_cast<double>(sheet.printable_height) / p.h);
  p.w = static_cast<int>(p.w * p.scale);
  p.h = static_cast<int>(p.h * p.scale);
  p.x = (sheet.printable_width - p.w) / 2;
  p.y = (sheet.printable_height - p.h) / 2;
  return p;
}

}  // namespace print
