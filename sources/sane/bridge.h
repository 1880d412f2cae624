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
#include "sources/common/ds_calls.h"
#include "sources/common/measures.h"
#include "sources/sane/sane_options.h"

namespace sanebridge {

using twsource::CapValue;
using twsource::DsmMemory;
using twsource::Frame;
using twsource::Shape;

using twsource::kDone;
using twsource::refuse;
using twsource::Reply;
constexpr Reply kNearest{TWRC_CHECKSTATUS, TWCC_SUCCESS};

// A number option's constraint, kept past the option reloads that
// invalidate SANE's descriptors.
struct NumberOption {
  bool present = false;
  NumberChoices choices;
  double initial = 0;  // the device's value at the open
};

// What the device has, read from its options at the open.
struct DeviceModel {
  // dpi: across ("resolution", or "x-resolution" on devices that take the
  // two apart) and, when the device has "y-resolution", down the page.
  NumberOption resolution, y_resolution;
  std::string resolution_name;
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
  // "analog-gamma" or "gamma" ("" none): a single gamma value.
  NumberOption gamma;
  std::string gamma_name;
  // A sensor that says whether paper waits in the feeder ("page-loaded").
  bool has_page_sensor = false;
};
DeviceModel model_read(SANE_Handle handle);
// What the device's paper sensor says now; nothing when it cannot say.
std::optional<bool> model_paper_loaded(SANE_Handle handle, const DeviceModel& model);

// The scan area of the whole bed, inches.
Frame model_full_frame(const DeviceModel& model);
// A scan area snapped to the steps of the device's geometry options; null
// when it lies outside the bed or is empty.
std::optional<Frame> model_snap_frame(const DeviceModel& model, const Frame& frame, double dpi);

// Everything the application can negotiate.
struct Settings {
  double dpi = 100;
  std::optional<double> dpi_y;  // unset: the same as across
  TW_UINT16 pixel_type = TWPT_GRAY;
  std::map<TW_UINT16, int> bit_depth;  // per pixel type, bits per pixel
  Frame frame;                         // inches
  TW_UINT16 paper_size = TWSS_NONE;    // the size the frame was set from
  bool feeder = false;
  bool duplex = false;
  int xfer_count = -1;
  TW_UINT16 xfer_mech = TWSX_NATIVE;
  TW_UINT16 units = TWUN_INCHES;
  // TWAIN values; unset: the device's own.
  std::optional<double> brightness, contrast, threshold;
  std::optional<double> gamma;
  double y_dpi() const { return dpi_y.value_or(dpi); }
};
Settings settings_default(const DeviceModel& model);
// The depths (bits per pixel) the device offers for a pixel type.
std::vector<int> model_depths(const DeviceModel& model, TW_UINT16 pixel_type);
// Programs the device with the settings; TWCC_SUCCESS or the refusal.
TW_UINT16 settings_apply(SANE_Handle handle, const DeviceModel& model, const Settings& settings);

using twsource::units_per_inch;

// A page as the bridge hands it on: rows top first, no padding, samples in
// TWAIN order (R G B, 16-bit little-endian), black and white with 0 = black
// and the bits past the width cleared.
struct Page {
  int width = 0, height = 0;
  TW_UINT16 pixel_type = TWPT_GRAY;
  int bits = 8;  // per pixel
  std::size_t bytes_per_row = 0;
  std::vector<std::uint8_t> pixels;
  double dpi = 0, dpi_y = 0;
};

// The TWAIN answer to a SANE status of a scan (SANE_STATUS_GOOD: kDone).
Reply status_reply(SANE_Status status);
// Reads the scan sane_start began, every frame of it (three-pass devices
// start each colour); `out` holds the page on kDone.
Reply page_read(SaneDevice& device, double dpi, double dpi_y, Page& out);

// The page as a DIB (header, colour table or masks, rows bottom-up padded
// to 4 bytes).
std::size_t dib_bytes(const Page& page);
void dib_write(const Page& page, std::uint8_t* out);

}  // namespace sanebridge
