// The steps of post-transfer processing (PostProcessDib, twain/acquisition/acquire.h):
// negation of mostly black pages, resolution recovery, soft crop to the scan
// region, and the table of analyses and device queries the steps call.
#pragma once
#include <string_view>

#include "dib/dib.h"

namespace twain {

// What processing calls outside itself: the page analyses and the device's
// current values. Held in one process-wide table so that tests can stand in
// for an analysis or a device; page_steps_reset() restores the library's own.
struct PageSteps {
  bool (*is_blank)(const dib::DibView& page, double threshold);
  dib::Handle (*deskew)(dib::Handle page);              // new image or 0
  dib::Handle (*crop)(dib::Handle page, int options);   // new image or 0
  void (*contrast)(const dib::DibView& page);           // in place
  // Automatic OCR of the page, its text kept for the page's PDF write (run
  // while automatic OCR is on).
  void (*ocr)(dib::Handle page);
  // The device's current ICAP_PIXELTYPE, -1 when unknown.
  int (*device_pixel_type)();
  // The device's current value of ICAP_XRESOLUTION / ICAP_YRESOLUTION, 0
  // when unknown.
  double (*device_resolution)(unsigned cap);
};
PageSteps& page_steps();
void page_steps_reset();

// --- Auto-negate (auto_negate.cpp) ---
// Share of pixels of a 1-bit page whose gray level through the colour table
// is 0 (0..1; 0 for an empty page).
double page_blackness(const dib::DibView& page);
// Above this share of black a 1-bit page is taken to be delivered inverted.
constexpr double kNegateBlacknessMin = 0.82;
// A 1-bit page blacker than kNegateBlacknessMin becomes black on white: a
// table whose entry 0 is not black is replaced by the black-then-white table,
// otherwise the pixels are inverted.
void auto_negate(const dib::DibView& page);

// --- Resolution recovery (resolution_recovery.cpp) ---
// The driver whose resolution fields are never to be trusted.
constexpr std::string_view kUntrustedResolutionProduct = "SHARP TWAIN AR/DM";
// Whether the page's own resolution stands: either field set, and the source
// (`product`) not one whose values are always replaced.
bool resolution_trusted(const dib::InfoHeader& header, std::string_view product);
// Stores the device's resolution (dots per `units`: 1 = centimetre, any
// other code = inch) into both fields; y 0 takes x. Traces the result.
void resolution_store(dib::DibView& page, double x, double y, int units);

// --- Soft crop (soft_crop.cpp) ---
// Cuts the page to the scan region set by TWAIN_SetRegion when the device
// delivered more. Answers the page to use: a new image (the old one is
// freed) or `page` itself.
dib::Handle soft_crop(dib::Handle page);

}  // namespace twain
