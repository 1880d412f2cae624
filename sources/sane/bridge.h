// The bridge's model of one SANE device as a TWAIN source: what the device
// offers (read from its options when it is opened), what the application
// negotiated, and the page on its way. Lengths are kept in inches and
// resolutions in dots per inch; the application sees them in its ICAP_UNITS.
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "orivane/twain.h"
#include "sources/common/containers.h"
#include "sources/sane/sane_options.h"

namespace sanebridge {

using twsource::CapValue;
using twsource::DsmMemory;
using twsource::Frame;
using twsource::Shape;

struct Reply {
  TW_UINT16 rc;
  TW_UINT16 cc;
};
constexpr Reply kDone{TWRC_SUCCESS, TWCC_SUCCESS};
constexpr Reply kNearest{TWRC_CHECKSTATUS, TWCC_SUCCESS};
constexpr Reply refuse(TW_UINT16 cc) { return Reply{TWRC_FAILURE, cc}; }

// A number option's constraint, kept past the option reloads that
// invalidate SANE's descriptors.
struct NumberOption {
  bool present = false;
  NumberChoices choices;
  double initial = 0;  // the device's value at the open
};

// What the device has, read from its options at the open.
struct DeviceModel {
  NumberOption resolution;  // dpi
  // The SANE mode of each TWAIN pixel type ("" none). Black and white is
  // Gray at depth 1 on devices without a line-art mode.
  std::map<TW_UINT16, std::string> modes;
  bool bw_through_depth = false;
  std::vector<int> depths;  // the "depth" option's values (bits per sample)
  TW_UINT16 initial_pixel_type = TWPT_GRAY;
  // Scan area options, in mm or pixels (geometry_mm false: pixels at the
  // current resolution).
  bool has_geometry = false;
  bool geometry_mm = true;
  NumberOption tl_x, tl_y, br_x, br_y;
  // The "source" option's entries for the flatbed, the feeder and the
  // two-sided feeder ("" none).
  std::string source_flatbed, source_feeder, source_duplex;
  bool initial_feeder = false;
  NumberOption brightness, contrast, threshold;
};
DeviceModel model_read(SANE_Handle handle);

// The scan area of the whole bed, inches.
Frame model_full_frame(const DeviceModel& model);
// A scan area snapped to the steps of the device's geometry options; null
// when it lies outside the bed or is empty.
std::optional<Frame> model_snap_frame(const DeviceModel& model, const Frame& frame, double dpi);

// Everything the application can negotiate.
struct Settings {
  double dpi = 100;
  TW_UINT16 pixel_type = TWPT_GRAY;
  std::map<TW_UINT16, int> bit_depth;  // per pixel type, bits per pixel
  Frame frame;                         // inches
  bool feeder = false;
  bool duplex = false;
  int xfer_count = -1;
  TW_UINT16 xfer_mech = TWSX_NATIVE;
  TW_UINT16 units = TWUN_INCHES;
  // TWAIN values; unset: the device's own.
  std::optional<double> brightness, contrast, threshold;
};
Settings settings_default(const DeviceModel& model);
// The depths (bits per pixel) the device offers for a pixel type.
std::vector<int> model_depths(const DeviceModel& model, TW_UINT16 pixel_type);
// Programs the device with the settings; TWCC_SUCCESS or the refusal.
TW_UINT16 settings_apply(SANE_Handle handle, const DeviceModel& model, const Settings& settings);

// Unit conversions: a length in inches to the application's units and back
// (pixels at `dpi`), resolutions per inch to per unit.
double units_per_inch(TW_UINT16 units, double dpi);

// A page as the bridge hands it on: rows top first, no padding, samples in
// TWAIN order (R G B, 16-bit little-endian), black and white with 0 = black
// and the bits past the width cleared.
struct Page {
  int width = 0, height = 0;
  TW_UINT16 pixel_type = TWPT_GRAY;
  int bits = 8;  // per pixel
  std::size_t bytes_per_row = 0;
  std::vector<std::uint8_t> pixels;
  double dpi = 0;
};

// The TWAIN answer to a SANE status of a scan (SANE_STATUS_GOOD: kDone).
Reply status_reply(SANE_Status status);
// Reads the scan sane_start began, every frame of it (three-pass devices
// start each colour); `out` holds the page on kDone.
Reply page_read(SANE_Handle handle, double dpi, Page& out);

// The page as a DIB (header, colour table or masks, rows bottom-up padded
// to 4 bytes).
std::size_t dib_bytes(const Page& page);
void dib_write(const Page& page, std::uint8_t* out);

}  // namespace sanebridge
