#include "sources/common/measures.h"

namespace twsource {
namespace {

constexpr double kMmPerInch = 25.4;

// The standard's paper sizes a desktop scanner meets, in inches (metric ones
// converted at 25.4 mm per inch).
constexpr PaperSize kPaperSizes[] = {
    {TWSS_A4, 8.2677, 11.6929},   {TWSS_JISB5, 7.1654, 10.1181}, {TWSS_USLETTER, 8.5, 11.0},
    {TWSS_USLEGAL, 8.5, 14.0},    {TWSS_A5, 5.8268, 8.2677},     {TWSS_ISOB4, 9.8425, 13.8976},
    {TWSS_ISOB6, 4.9213, 6.9291}, {TWSS_USLEDGER, 11.0, 17.0},   {TWSS_USEXECUTIVE, 7.25, 10.5},
    {TWSS_A3, 11.6929, 16.5354},  {TWSS_A6, 4.1339, 5.8268},     {TWSS_ISOB5, 6.9291, 9.8425},
    {TWSS_USSTATEMENT, 5.5, 8.5}, {TWSS_BUSINESSCARD, 2.0, 3.5},
};

// A paper edge within this distance of the area's edge still fits: areas
// arrive as FIX32 in any unit, or as a device's steps.
constexpr double kEdgeTolerance = 0.001;

}  // namespace

double units_per_inch(TW_UINT16 units, double dpi) {
  switch (units) {
    case TWUN_CENTIMETERS: return 2.54;
    case TWUN_PICAS: return 6;
    case TWUN_POINTS: return 72;
    case TWUN_TWIPS: return 1440;
    case TWUN_PIXELS: return dpi;
    case TWUN_MILLIMETERS: return kMmPerInch;
    default: return 1;
  }
}

std::vector<TW_UINT16> paper_sizes_fitting(double width, double height) {
  std::vector<TW_UINT16> codes{TWSS_NONE};
  for (const PaperSize& size : kPaperSizes) {
    if (size.width <= width + kEdgeTolerance && size.height <= height + kEdgeTolerance)
      codes.push_back(size.code);
  }
  return codes;
}

std::optional<PaperSize> paper_size(TW_UINT16 code) {
  for (const PaperSize& size : kPaperSizes) {
    if (size.code == code) return size;
  }
  return std::nullopt;
}

}  // namespace twsource
