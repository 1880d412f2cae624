// The device model: what an open virtual device has negotiated, its paper
// geometry, and the unit conversions every length and resolution goes
// through. Lengths are kept in inches and resolutions in dots per inch; the
// application sees them in its current ICAP_UNITS.
#pragma once
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <vector>

#include "orivane/twain.h"
#include "sources/common/containers.h"
#include "sources/common/measures.h"
#include "sources/virtual/config.h"

namespace vscan {

// The capability containers are shared with the other data sources.
using twsource::AppContainer;
using twsource::CapValue;
using twsource::container_build;
using twsource::container_one_value;
using twsource::container_read;
using twsource::DsmMemory;
using twsource::fix32_from;
using twsource::fix32_to;
using twsource::Frame;
using twsource::Shape;
using twsource::ValueWanted;

// A response curve: for each channel (gray uses the first), the output
// level of each of the 256 input levels.
using ResponseCurve = std::array<std::array<std::uint8_t, 256>, 3>;

// Everything the application can negotiate on an open device.
struct Settings {
  TW_INT16 xfer_count = -1;
  TW_UINT16 xfer_mech = TWSX_NATIVE;
  TW_UINT16 units = TWUN_INCHES;
  TW_UINT16 pixel_type = TWPT_BW;
  std::map<TW_UINT16, TW_UINT16> bit_depth;  // the current depth of each pixel type
  double x_dpi = 200;
  double y_dpi = 200;
  double brightness = 0;
  double contrast = 0;
  double threshold = 128;
  double gamma = 2.2;
  double shadow = 0;
  double highlight = 255;
  bool auto_bright = false;
  TW_UINT16 paper_size = TWSS_NONE;
  Frame frame;  // inches
  bool feeder_enabled = false;
  bool auto_feed = true;
  bool auto_scan = false;
  bool duplex_enabled = false;
  bool indicators = true;
  TW_UINT16 light_path = TWLP_REFLECTIVE;
  TW_UINT16 compression = TWCP_NONE;
  double jpeg_quality = 75;
  TW_UINT16 pixel_flavor = TWPF_CHOCOLATE;
  TW_UINT16 planar_chunky = TWPC_CHUNKY;
  bool tiles = false;
  bool undefined_image_size = false;
  bool automatic_deskew = false;
  bool ext_image_info = false;
  TW_UINT16 file_format = TWFF_BMP;  // ICAP_IMAGEFILEFORMAT, DAT_SETUPFILEXFER
  std::vector<TW_UINT16> extended_caps;
  // Enumerations the application narrowed (MSG_SET with an enumeration or
  // an array): capability -> the values it left.
  std::map<TW_UINT16, std::vector<double>> constraints;
  // DAT_GRAYRESPONSE and DAT_RGBRESPONSE, applied to 8-bit gray and 24-bit
  // RGB images; none: the identity.
  std::optional<ResponseCurve> gray_response;
  std::optional<ResponseCurve> rgb_response;
  TW_UINT32 document_number = 1;
  TW_UINT32 page_number = 1;
  TW_UINT32 frame_number = 1;
};

// The settings of a device that has just been opened (or reset).
Settings settings_default(const DeviceConfig& device);

// The whole scan area: (0, 0, width, height) in inches.
Frame frame_full(const DeviceConfig& device);

enum class FrameFit {
  Exact,    // inside the scan area
  Clipped,  // reached outside; cut to the scan area
  Invalid,  // empty, inverted, negative or wholly outside
};
// Checks a frame (inches) against the scan area, clipping it in place.
FrameFit frame_fit(const DeviceConfig& device, Frame& frame);

using twsource::paper_size;
using twsource::PaperSize;
// The sizes this device can scan (that fit its area), TWSS_NONE first.
std::vector<TW_UINT16> paper_sizes_for(const DeviceConfig& device);

// True for the units this device offers.
bool units_known(TW_UINT16 units);
std::span<const TW_UINT16> units_offered();
// Lengths: inches <-> the given units; `dpi` is the resolution along the
// same axis (used for pixels).
double length_to_units(double inches, TW_UINT16 units, double dpi);
double length_from_units(double value, TW_UINT16 units, double dpi);
// Resolutions: dots per inch <-> dots per unit. Pixels have no length of
// their own, so with pixel units resolutions stay per inch.
double resolution_to_units(double dpi, TW_UINT16 units);
double resolution_from_units(double value, TW_UINT16 units);

}  // namespace vscan
