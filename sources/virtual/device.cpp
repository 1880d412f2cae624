#include "sources/virtual/device.h"

#include <algorithm>
#include <cmath>

namespace vscan {
namespace {

// The standard's paper sizes a desktop scanner meets, in inches (metric ones
// converted at 25.4 mm per inch).
constexpr PaperSize kPaperSizes[] = {
    {TWSS_A4, 8.2677, 11.6929},   {TWSS_JISB5, 7.1654, 10.1181}, {TWSS_USLETTER, 8.5, 11.0},
    {TWSS_USLEGAL, 8.5, 14.0},    {TWSS_A5, 5.8268, 8.2677},     {TWSS_ISOB4, 9.8425, 13.8976},
    {TWSS_ISOB6, 4.9213, 6.9291}, {TWSS_USLEDGER, 11.0, 17.0},   {TWSS_USEXECUTIVE, 7.25, 10.5},
    {TWSS_A3, 11.6929, 16.5354},  {TWSS_A6, 4.1339, 5.8268},     {TWSS_ISOB5, 6.9291, 9.8425},
    {TWSS_USSTATEMENT, 5.5, 8.5}, {TWSS_BUSINESSCARD, 2.0, 3.5},
};

constexpr TW_UINT16 kUnits[] = {TWUN_INCHES, TWUN_CENTIMETERS, TWUN_PICAS,      TWUN_POINTS,
                                TWUN_TWIPS,  TWUN_PIXELS,      TWUN_MILLIMETERS};

// A frame edge within this distance of the area's edge is on it: frames
// arrive as FIX32 in any unit.
constexpr double kEdgeTolerance = 0.001;

double per_inch(TW_UINT16 units) {
  switch (units) {
    case TWUN_CENTIMETERS:
      return 2.54;
    case TWUN_PICAS:
      return 6;
    case TWUN_POINTS:
      return 72;
    case TWUN_TWIPS:
      return 1440;
    case TWUN_MILLIMETERS:
      return 25.4;
    default:
      return 1;
  }
}

}  // namespace

Settings settings_default(const DeviceConfig& device) {
  Settings s;
  s.xfer_mech = device.xfer_mechs.front();
  s.pixel_type = device.pixel_type;
  for (const auto& [type, depths] : device.bit_depths) s.bit_depth[type] = depths.front();
  const double dpi =
      device.resolution.list.empty() ? device.resolution.preferred : device.resolution.list.front();
  s.x_dpi = s.y_dpi = dpi;
  if (!device.resolution.list.empty()) {
    // The listed resolution nearest to the preferred one.
    for (double listed : device.resolution.list) {
      if (std::fabs(listed - device.resolution.preferred) <
          std::fabs(s.x_dpi - device.resolution.preferred))
        s.x_dpi = s.y_dpi = listed;
    }
  }
  s.frame = frame_full(device);
  s.feeder_enabled = device.feeder_enabled;
  s.auto_feed = device.feeder;
  s.compression = device.compressions.front();
  s.file_format = device.file_formats.front();
  return s;
}

Frame frame_full(const DeviceConfig& device) { return Frame{0, 0, device.width, device.height}; }

FrameFit frame_fit(const DeviceConfig& device, Frame& frame) {
  if (frame.left < -kEdgeTolerance || frame.top < -kEdgeTolerance) return FrameFit::Invalid;
  if (frame.left >= frame.right || frame.top >= frame.bottom) return FrameFit::Invalid;
  if (frame.left >= device.width || frame.top >= device.height) return FrameFit::Invalid;
  const bool inside = frame.right <= device.width + kEdgeTolerance &&
                      frame.bottom <= device.height + kEdgeTolerance;
  frame.left = std::max(frame.left, 0.0);
  frame.top = std::max(frame.top, 0.0);
  frame.right = std::min(frame.right, device.width);
  frame.bottom = std::min(frame.bottom, device.height);
  return inside ? FrameFit::Exact : FrameFit::Clipped;
}

std::vector<TW_UINT16> paper_sizes_for(const DeviceConfig& device) {
  std::vector<TW_UINT16> codes{TWSS_NONE};
  for (const PaperSize& size : kPaperSizes) {
    if (size.width <= device.width + kEdgeTolerance &&
        size.height <= device.height + kEdgeTolerance)
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

bool units_known(TW_UINT16 units) {
  return std::find(std::begin(kUnits), std::end(kUnits), units) != std::end(kUnits);
}

std::span<const TW_UINT16> units_offered() { return kUnits; }

double length_to_units(double inches, TW_UINT16 units, double dpi) {
  return inches * (units == TWUN_PIXELS ? dpi : per_inch(units));
}

double length_from_units(double value, TW_UINT16 units, double dpi) {
  return value / (units == TWUN_PIXELS ? dpi : per_inch(units));
}

double resolution_to_units(double dpi, TW_UINT16 units) { return dpi / per_inch(units); }

double resolution_from_units(double value, TW_UINT16 units) { return value * per_inch(units); }

}  // namespace vscan
