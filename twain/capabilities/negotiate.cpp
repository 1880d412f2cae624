// Applying the deferred device settings to a source that has just opened, in
// a fixed order: the transfer mechanism first (without it nothing can be
// transferred), then the paper path, the image format and the scan area.
#include "twain/capabilities/deferred.h"

#include <string>

#include "core/error_record.h"
#include "core/state_registry.h"
#include "log/trace.h"
#include "orivane/errors.h"
#include "orivane/file_options.h"
#include "orivane/twain.h"
#include "orivane/twain_capability.h"
#include "orivane/twain_settings.h"
#include "orivane/twain_sources.h"
#include "orivane/twain_switches.h"
#include "twain/capabilities/capability.h"
#include "twain/capabilities/item_values.h"
#include "twain/capabilities/switches.h"

namespace twain {

DeferredSettings& deferred() {
  static DeferredSettings d;
  return d;
}

void deferred_reset() { deferred() = DeferredSettings{}; }

namespace {

// Compressed memory transfers the library can decode.
bool compression_decodable(int c) {
  return c == TWCP_NONE || c == TWCP_GROUP31D || c == TWCP_GROUP31DEOL || c == TWCP_GROUP32D ||
         c == TWCP_GROUP4 || c == TWCP_JPEG;
}

// Some document scanners deliver nothing useful by native transfer.
bool needs_memory_transfer(const std::string& product) {
  return product.find("Strobe ") != std::string::npos ||
         product.find("Documate ") != std::string::npos;
}

bool negotiate_xfer_mech() {
  DeferredSettings& d = deferred();
  const char* product = TWAIN_SourceName();
  if ((d.xfer_mech == TWSX_NATIVE || d.current_xfer_mech == TWSX_NATIVE) &&
      needs_memory_transfer(product ? product : "")) {
    LogPrint("#Hack[Visioneer] forcing native => memory xfer\n");
    d.xfer_mech = TWSX_MEMORY;
  }
  if (d.xfer_mech < 0) return true;
  if (TWAIN_SetXferMech(d.xfer_mech)) return true;
  RecordError(ERR_CAP_REJECTED, "Negotiating Transfer Mode.");
  return false;
}

void set_jpeg_quality() {
  cap_set_one(ICAP_JPEGQUALITY, kTyInt16, TWAIN_GetJpegQuality());
}

void negotiate_compression() {
  DeferredSettings& d = deferred();
  if (TWAIN_XferMech() != TWSX_MEMORY) return;
  if (d.compression < 0) {
    const int current = TWAIN_GetCurrentUint16(ICAP_COMPRESSION, TWCP_NONE);
    if (!compression_decodable(current)) {
      LogPrint("* Unsupported compression, forcing it off.\n");
      cap_set_one(ICAP_COMPRESSION, kTyUint16, TWCP_NONE);
    } else if (current == TWCP_JPEG) {
      set_jpeg_quality();
    }
    return;
  }
  int wanted = d.compression;
  if (!compression_decodable(wanted)) {
    LogPrint("* Compression(%d) ignored: Not supported by Orivane\n", wanted);
    wanted = TWCP_NONE;
  }
  cap_set_one(ICAP_COMPRESSION, kTyUint16, wanted);
  if (wanted == TWCP_JPEG) set_jpeg_quality();
  d.compression = -1;
}

void negotiate_resolution() {
  DeferredSettings& d = deferred();
  if (d.x_resolution < 0 && d.y_resolution < 0) return;
  const int y = TWAIN_SetYResolution(d.y_resolution);
  const int x = TWAIN_SetXResolution(d.x_resolution);
  if (!x || !y) RecordError(ERR_CAP_REJECTED, "Negotiating resolution(DPI)");
}

// The scanner straightens pages itself when it can; the library then leaves
// them alone.
void delegate_deskew() {
  if (!switches().auto_deskew) return;
  if (!TWAIN_SetCapability(ICAP_AUTOMATICDESKEW, 1)) return;
  LogPrint("AutoDeskew delegated to scanner.\n");
  switches().auto_deskew = 0;
}

}  // namespace

int NegotiateSettings() {
  LogPrint("NegotiateSettings\n");
  LogNest nest;
  DeferredSettings& d = deferred();
  if (!negotiate_xfer_mech()) return 0;
  const int feeder = d.feeder;
  if (feeder >= 0) TWAIN_SelectFeeder(feeder > 0);
  if (d.duplex >= 0) TWAIN_EnableDuplex(d.duplex > 0);
  if (d.auto_feed >= 0 && feeder > 0) TWAIN_SetAutoFeed(d.auto_feed);
  d.auto_feed = -1;
  if (d.units >= 0) TWAIN_SetUnits(d.units);
  if (d.pixel_mask != 0) TWAIN_NegotiatePixelTypes(d.pixel_mask);
  d.pixel_mask = 0;
  if (d.bit_depth > 0) TWAIN_SetBitDepth(d.bit_depth);
  negotiate_compression();
  negotiate_resolution();
  if (d.contrast != DeferredSettings::kContrastNotSet && !TWAIN_SetContrast(d.contrast))
    RecordError(ERR_CAP_REJECTED, "Negotiating Contrast.");
  delegate_deskew();
  if (d.paper_size >= 0) TWAIN_SetPaperSize(d.paper_size);
  if (d.light_path >= 0 && !TWAIN_SetLightPath(d.light_path > 0))
    RecordError(ERR_CAP_REJECTED, "Negotiating LightPath.");
  if (d.xfer_count != 0) TWAIN_SetXferCount(d.xfer_count);
  if (d.auto_scan >= 0 && feeder > 0) TWAIN_SetAutoScan(d.auto_scan);
  d.auto_scan = -1;
  if (d.indicators >= 0) TWAIN_SetIndicators(d.indicators);
  if (d.region_right > 0)
    TWAIN_SetRegion(d.region_left, d.region_top, d.region_right, d.region_bottom);
  return 1;
}

}  // namespace twain

namespace {

// Settings waiting for the device to open.
const bool kDeferredRegistered = core::register_state({"twain.deferred", [] { twain::deferred_reset(); }, [] { twain::deferred_reset(); }});

}  // namespace
