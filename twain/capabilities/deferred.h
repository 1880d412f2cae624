// Device settings asked for while no source is open, kept in their "not set"
// state until a source opens and NegotiateSettings applies them; and what the
// library remembers of the open source's current values.
#pragma once

namespace twain {

struct DeferredSettings {
  static constexpr double kContrastNotSet = -32768;

  int xfer_mech = 0;            // TWSX_; -1 after it was applied
  int xfer_count = 0;
  int pixel_mask = 0;           // bit n = TWPT_ n
  int bit_depth = -1;
  int units = -1;
  double x_resolution = -1;
  double y_resolution = -1;
  double contrast = kContrastNotSet;
  int feeder = -1;
  int auto_feed = -1;
  int auto_scan = -1;
  int duplex = -1;
  int indicators = -1;
  int light_path = -1;
  int compression = -1;
  int paper_size = -1;
  // The region and the units it was given in; right 0 = no region.
  double region_left = 0, region_top = 0, region_right = 0, region_bottom = 0;
  int region_units = 0;
  int file_format = 0;          // TWFF_ of file transfers

  // Remembered from the open source (-1 unknown).
  int current_xfer_mech = -1;
  int current_pixel_type = -1;
  // Other switches.
  int pixel_type = -1;          // the deferred single pixel type
  bool feeder_explicitly_selected = false;
  int remembered_xfer_count = 0;
};

DeferredSettings& deferred();
// Back to "not set" (a source closed, the library reset or started).
void deferred_reset();

// Applies every deferred request to the source that has just opened, in the
// fixed order. 0 only when the transfer mechanism cannot be set.
int NegotiateSettings();

}  // namespace twain
