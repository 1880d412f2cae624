#include "sources/virtual/device.h"

#include <algorithm>
#include <cmath>

namespace vscan {
namespace {

constexpr TW_UINT16 kUnits[] = {TWUN_INCHES, TWUN_CENTIMETERS, TWUN_PICAS,      TWUN_POINTS,
                                TWUN_TWIPS,  TWUN_PIXELS,      TWUN_MILLIMETERS};

// A frame edge within this distance of the area's edge is on it: frames
// arrive as FIX32 in any unit.
constexpr double kEdgeTolerance = 0.001;

// Pixels never reach here: they are counted at a resolution.
double per_inch(TW_UINT16 units) { return twsource::units_per_inch(units, 1); }

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
  return twsource::paper_sizes_fitting(device.width, device.height);
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
