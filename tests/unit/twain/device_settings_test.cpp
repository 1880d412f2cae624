// Device settings against the Source Manager and the virtual scanner: what is
// deferred until a source opens and how NegotiateSettings applies it, the
// pruning of pixel types, the cross-effects and device quirks, the scan area
// and paper sizes, and the settings file's device keys.
#include "orivane/twain_settings.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "app/device.h"
#include "core/paper_sizes.h"
#include "dsm_fixture.h"
#include "orivane/dib_api.h"
#include "orivane/errors.h"
#include "orivane/file_options.h"
#include "orivane/twain_acquire.h"
#include "orivane/twain_capability.h"
#include "orivane/twain_container.h"
#include "orivane/twain_sources.h"
#include "orivane/twain_switches.h"
#include "twain/capabilities/capability.h"
#include "twain/capabilities/deferred.h"
#include "twain/capabilities/switches.h"
#include "twain/session/session.h"

namespace {

using twain::deferred;
using twain_test::DsmTest;

std::string error_text() {
  char text[512];
  TWAIN_GetLastErrorText(text);
  return text;
}

// Whether `parts` occur in `text` in this order.
testing::AssertionResult in_order(const std::string& text, const std::vector<std::string>& parts) {
  std::size_t at = 0;
  for (const std::string& part : parts) {
    const std::size_t found = text.find(part, at);
    if (found == std::string::npos)
      return testing::AssertionFailure() << "'" << part << "' missing (or out of order) in\n" << text;
    at = found + part.size();
  }
  return testing::AssertionSuccess();
}

// The values the device's MSG_GET of `cap` offers.
std::vector<int> offered(unsigned cap) {
  std::vector<int> out;
  CONTAINER c = twain::cap_get(cap, MSG_GET);
  if (!c) return out;
  for (int i = 0; i < CONTAINER_ItemCount(c); ++i) out.push_back(CONTAINER_IntItem(c, i));
  CONTAINER_Free(c);
  return out;
}

int device_value(unsigned cap) { return TWAIN_GetCurrentUint16(cap, -1); }

class DeviceSettings : public DsmTest {
 protected:
  // Presents one device, "Model A", with `keys` added, and opens it.
  void open_model_a(const std::string& keys = "") {
    use_devices("[device]\nproduct = Model A\n" + keys);
    ASSERT_EQ(TWAIN_OpenSource("Model A"), 1) << error_text();
  }
  // Closes the device and the Source Manager: the next open lists the devices
  // of the config anew.
  void close_all() { TWAIN_CloseDSM(0); }
  // The trace from the point this is called on.
  void mark_trace() { mark_ = trace().size(); }
  std::string trace_since_mark() { return trace().substr(mark_); }

 private:
  std::size_t mark_ = 0;
};

// ---- pixel types ---------------------------------------------------------------

TEST_F(DeviceSettings, APixelTypeAskedBeforeOpeningPrunesTheDevicesList) {
  EXPECT_EQ(TWAIN_SetPixelType(TWPT_RGB), 1);
  EXPECT_EQ(deferred().pixel_mask, 1 << TWPT_RGB);
  open_model_a("pixel_types = bw, gray, rgb\n");
  EXPECT_TRUE(in_order(trace(), {"NegotiatePixelTypes(4)", "MSG_SET/ICAP_PIXELTYPE)(ENUM(uint16: *2",
                                 "MSG_SET/ICAP_PIXELTYPE)(ONEVALUE(uint16: 2))"}));
  EXPECT_EQ(offered(ICAP_PIXELTYPE), std::vector<int>{TWPT_RGB});
  EXPECT_EQ(device_value(ICAP_PIXELTYPE), TWPT_RGB);
  EXPECT_EQ(deferred().pixel_mask, 0);
  EXPECT_EQ(TWAIN_GetPixelType(), TWPT_RGB);
  // A type set on the open device replaces the one asked for before.
  ASSERT_EQ(TWAIN_Reset(ICAP_PIXELTYPE), 1);
  EXPECT_EQ(TWAIN_GetPixelType(), TWPT_RGB) << "still the type asked for";
  ASSERT_EQ(TWAIN_SetPixelType(TWPT_GRAY), 1);
  EXPECT_EQ(TWAIN_GetPixelType(), TWPT_GRAY);
  EXPECT_EQ(deferred().pixel_type, -1);
}

TEST_F(DeviceSettings, PruningKeepsTheRequestedTypesAndChoosesTheCurrentOne) {
  struct Case {
    const char* keys;
    int mask;
    int result;
    std::vector<int> left;  // what the device offers afterwards
    int current;
    int error;
  };
  const int bw = 1 << TWPT_BW, gray = 1 << TWPT_GRAY, rgb = 1 << TWPT_RGB, cmyk = 1 << TWPT_CMYK;
  const Case cases[] = {
      // The old current type survives.
      {"pixel_type = gray\n", bw | gray, 1, {0, 1}, TWPT_GRAY, 0},
      // It did not: RGB, then gray, then black-and-white.
      {"pixel_type = bw\n", gray | rgb, 1, {1, 2}, TWPT_RGB, 0},
      // The old default (RGB, index 2) is pruned too: the list sent must
      // still have its default inside it, or the device refuses it.
      {"pixel_type = rgb\n", bw | gray, 1, {0, 1}, TWPT_GRAY, 0},
      {"pixel_type = gray\npixel_types = bw, gray, cmyk\n", bw | cmyk, 1, {0, 5}, TWPT_BW, 0},
      {"", cmyk, 0, {0, 1, 2}, TWPT_BW, ERR_NONE_SUPPORTED},
      // A device that answers one value is only checked.
      {"pixel_type = rgb\nodd_containers = ICAP_PIXELTYPE:onevalue\n", rgb | gray, 1, {2}, TWPT_RGB, 0},
      {"pixel_type = rgb\nodd_containers = ICAP_PIXELTYPE:onevalue\n", gray, 0, {2}, TWPT_RGB,
       ERR_NONE_SUPPORTED},
      {"odd_containers = ICAP_PIXELTYPE:range\n", gray, 0, {}, -1, ERR_BAD_CONTAINER_TYPE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.keys) + " mask " + std::to_string(c.mask));
    open_model_a(c.keys);
    TWAIN_ClearError();
    EXPECT_EQ(TWAIN_NegotiatePixelTypes(c.mask), c.result);
    EXPECT_EQ(TWAIN_LastErrorCode(), c.error) << error_text();
    if (c.current >= 0) {
      EXPECT_EQ(offered(ICAP_PIXELTYPE), c.left);
      EXPECT_EQ(device_value(ICAP_PIXELTYPE), c.current);
    }
    close_all();
  }
}

TEST_F(DeviceSettings, NegotiatingPixelTypesNeedsState4) {
  EXPECT_EQ(TWAIN_NegotiatePixelTypes(1 << TWPT_GRAY), 0);
  EXPECT_EQ(TWAIN_LastErrorCode(), ERR_STATE4_ONLY);
  open_model_a();
  EXPECT_EQ(TWAIN_NegotiatePixelTypes(0), 1);
  EXPECT_NE(trace().find("NegotiatePixelTypes(0): No action.\n"), std::string::npos);
}

// ---- deep pixels and the transfer mechanism --------------------------------------

TEST_F(DeviceSettings, DeepPixelsForceMemoryTransfer) {
  struct Case {
    int pixel_type;
    int depth;
    int mechanism;  // afterwards
  };
  const Case cases[] = {
      {TWPT_GRAY, 16, TWSX_MEMORY}, {TWPT_GRAY, 8, TWSX_NATIVE}, {TWPT_RGB, 48, TWSX_MEMORY},
      {TWPT_RGB, 24, TWSX_NATIVE},  {TWPT_RGB, 16, TWSX_NATIVE}, {TWPT_BW, 1, TWSX_NATIVE},
  };
  open_model_a();
  for (const Case& c : cases) {
    SCOPED_TRACE("type " + std::to_string(c.pixel_type) + " depth " + std::to_string(c.depth));
    ASSERT_EQ(TWAIN_SetXferMech(TWSX_NATIVE), 1);
    ASSERT_EQ(TWAIN_SetPixelType(c.pixel_type), 1);
    TWAIN_SetBitDepth(c.depth);
    EXPECT_EQ(device_value(ICAP_XFERMECH), c.mechanism);
  }
}

TEST_F(DeviceSettings, DeepGrayAskedBeforeOpeningArrivesWithMemoryTransfer) {
  EXPECT_EQ(TWAIN_SetPixelType(TWPT_GRAY), 1);
  EXPECT_EQ(TWAIN_SetBitDepth(16), 1);
  EXPECT_EQ(TWAIN_XferMech(), TWSX_MEMORY);
  EXPECT_NE(trace().find("Deep data, forcing memory transfer.\n"), std::string::npos);
  open_model_a();
  EXPECT_EQ(device_value(ICAP_XFERMECH), TWSX_MEMORY);
  EXPECT_EQ(device_value(ICAP_PIXELTYPE), TWPT_GRAY);
  EXPECT_EQ(TWAIN_GetBitDepth(), 16);
}

TEST_F(DeviceSettings, SomeScannersAlwaysGetMemoryTransfer) {
  struct Case {
    const char* product;
    int asked;  // -1: nothing asked
    int mechanism;
  };
  const Case cases[] = {
      {"Strobe 500", -1, TWSX_MEMORY},       {"Documate 152", TWSX_NATIVE, TWSX_MEMORY},
      {"Strobe 500", TWSX_FILE, TWSX_FILE},  {"Strobed", -1, TWSX_NATIVE},
      {"Model A", TWSX_NATIVE, TWSX_NATIVE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.product);
    use_devices(std::string("[device]\nproduct = ") + c.product + "\n");
    if (c.asked >= 0) TWAIN_SetXferMech(c.asked);
    ASSERT_EQ(TWAIN_OpenSource(c.product), 1) << error_text();
    EXPECT_EQ(device_value(ICAP_XFERMECH), c.mechanism);
    EXPECT_EQ(TWAIN_XferMech(), c.mechanism);
    close_all();
  }
  EXPECT_NE(trace().find("#Hack[Visioneer] forcing native => memory xfer\n"), std::string::npos);
}

TEST_F(DeviceSettings, ARefusedTransferMechanismKeepsTheSourceFromNegotiating) {
  use_devices("[device]\nproduct = Model A\nxfer_mechs = native, memory\n");
  TWAIN_SetXferMech(TWSX_FILE);
  EXPECT_EQ(TWAIN_OpenSource("Model A"), 0);
  EXPECT_EQ(TWAIN_LastErrorCode(), ERR_CAP_REJECTED);
  EXPECT_NE(error_text().find("Negotiating Transfer Mode."), std::string::npos) << error_text();
}

TEST_F(DeviceSettings, CompressionIsNegotiatedOnlyForMemoryTransfers) {
  struct Case {
    int mechanism;
    int asked;  // -1: nothing asked
    int compression;
    const char* trace;  // expected in the trace, or ""
  };
  const Case cases[] = {
      {TWSX_NATIVE, TWCP_GROUP4, TWCP_NONE, ""},
      {TWSX_MEMORY, TWCP_GROUP4, TWCP_GROUP4, ""},
      {TWSX_MEMORY, TWCP_JPEG, TWCP_JPEG, "MSG_SET/ICAP_JPEGQUALITY)(ONEVALUE(int16: 61))"},
      {TWSX_MEMORY, TWCP_LZW, TWCP_NONE, "* Compression(7) ignored: Not supported by Orivane\n"},
      {TWSX_MEMORY, -1, TWCP_NONE, ""},
  };
  TWAIN_SetJpegQuality(61);
  for (const Case& c : cases) {
    SCOPED_TRACE("mechanism " + std::to_string(c.mechanism) + " asked " + std::to_string(c.asked));
    TWAIN_SetXferMech(c.mechanism);
    if (c.asked >= 0) TWAIN_SetCompression(c.asked);
    mark_trace();
    open_model_a();
    EXPECT_EQ(device_value(ICAP_COMPRESSION), c.compression);
    EXPECT_NE(trace_since_mark().find(c.trace), std::string::npos) << trace_since_mark();
    close_all();
  }
}

TEST_F(DeviceSettings, TheScannerTakesOverDeskewingWhenItCan) {
  for (const char* keys : {"", "refuse_caps = ICAP_AUTOMATICDESKEW\n"}) {
    SCOPED_TRACE(keys);
    const bool device_deskews = *keys == '\0';
    TWAIN_SetAutoDeskew(1);
    open_model_a(keys);
    EXPECT_EQ(TWAIN_GetAutoDeskew(), device_deskews ? 0 : 1);
    EXPECT_EQ(TWAIN_GetCapBool(ICAP_AUTOMATICDESKEW, 0), device_deskews ? 1 : 0);
    close_all();
  }
  EXPECT_NE(trace().find("AutoDeskew delegated to scanner.\n"), std::string::npos);
}

TEST_F(DeviceSettings, DeferredRequestsAreAppliedInTheirFixedOrder) {
  // Asked for in the reverse order.
  TWAIN_SetRegion(0, 0, 4, 5);
  TWAIN_SetIndicators(0);
  TWAIN_SetAutoScan(1);
  TWAIN_SetXferCount(3);
  TWAIN_SetLightPath(0);
  TWAIN_SetPaperSize(TWSS_USLETTER);
  TWAIN_SetContrast(10);
  TWAIN_SetResolution(150);
  TWAIN_SetBitDepth(8);
  TWAIN_SetPixelType(TWPT_GRAY);
  TWAIN_SetUnits(TWUN_INCHES);
  TWAIN_SetAutoFeed(1);
  TWAIN_EnableDuplex(1);
  TWAIN_SelectFeeder(1);
  mark_trace();
  open_model_a();
  EXPECT_TRUE(in_order(trace_since_mark(),
                       {"NegotiateSettings", "SetXferMech(0)", "SelectFeeder(1)", "EnableDuplex(1)",
                        "SetAutoFeed(1)", "SetUnits(0)", "NegotiatePixelTypes(2)", "SetBitDepth(8)",
                        "SetYResolution: 150", "SetXResolution: 150", "SetContrast(10)",
                        "SetPaperSize(3)", "SetLightPath(0)", "SetXferCount(3)", "SetAutoScan(1)",
                        "SetIndicators(0)", "SetRegion(0, 0, 4, 5)"}));
  EXPECT_EQ(TWAIN_LastErrorCode(), 0) << error_text();
  EXPECT_EQ(TWAIN_GetBitDepth(), 8);
  EXPECT_EQ(TWAIN_GetCapBool(CAP_AUTOSCAN, 0), 1);
}

TEST_F(DeviceSettings, AutoFeedAndAutoScanNeedTheFeederAskedFor) {
  TWAIN_SetAutoFeed(0);
  TWAIN_SetAutoScan(1);
  mark_trace();
  open_model_a();
  const std::string negotiated = trace_since_mark();
  EXPECT_EQ(negotiated.find("SetAutoFeed"), std::string::npos);
  EXPECT_EQ(negotiated.find("SetAutoScan"), std::string::npos);
  EXPECT_EQ(deferred().auto_feed, -1);
  EXPECT_EQ(deferred().auto_scan, -1);
}

// ---- deferral ------------------------------------------------------------------

TEST_F(DeviceSettings, UnitsAreDeferredInEveryStateButFour) {
  // State 3: kept, and applied at the open.
  use_devices("[device]\nproduct = Model A\n");
  ASSERT_EQ(TWAIN_OpenSourceManager(0), 1);
  EXPECT_EQ(TWAIN_SetUnits(TWUN_CENTIMETERS), 1);
  EXPECT_EQ(deferred().units, TWUN_CENTIMETERS);
  open_model_a();
  EXPECT_EQ(TWAIN_GetCurrentUnits(), TWUN_CENTIMETERS);
  EXPECT_EQ(deferred().units, -1);
  // State 5 (entered here without enabling): kept, not sent.
  twain::session().state = 5;
  EXPECT_EQ(TWAIN_SetUnits(TWUN_POINTS), 1);
  EXPECT_EQ(deferred().units, TWUN_POINTS);
  twain::session().state = 4;
  EXPECT_EQ(TWAIN_GetCurrentUnits(), TWUN_CENTIMETERS);
  // State 4: sent at once.
  EXPECT_EQ(TWAIN_SetUnits(TWUN_INCHES), 1);
  EXPECT_EQ(TWAIN_GetCurrentUnits(), TWUN_INCHES);
  EXPECT_EQ(deferred().units, -1);
}

TEST_F(DeviceSettings, ContrastMinus32768ClearsTheRequestInAnyState) {
  // No Source Manager yet, then the manager open, then a source open.
  use_devices("[device]\nproduct = Model A\n");
  for (int step = 0; step < 3; ++step) {
    SCOPED_TRACE("step " + std::to_string(step));
    if (step == 1) {
      ASSERT_EQ(TWAIN_OpenSourceManager(0), 1);
    }
    if (step == 2) open_model_a();
    if (step < 2) {
      EXPECT_EQ(TWAIN_SetContrast(250), 1);
      EXPECT_EQ(deferred().contrast, 250);
    }
    mark_trace();
    EXPECT_EQ(TWAIN_SetContrast(-32768), 1);
    EXPECT_EQ(deferred().contrast, twain::DeferredSettings::kContrastNotSet);
    EXPECT_EQ(trace_since_mark().find("MSG_SET/ICAP_CONTRAST"), std::string::npos);
  }
  // A cleared request is not applied at the open.
  TWAIN_CloseSource();
  TWAIN_SetContrast(250);
  TWAIN_SetContrast(-32768);
  mark_trace();
  ASSERT_EQ(TWAIN_OpenSource("Model A"), 1);
  EXPECT_EQ(trace_since_mark().find("SetContrast"), std::string::npos);
}

TEST_F(DeviceSettings, DeferredRequestsAreAppliedAtTheOpenAndForgottenAtClose) {
  TWAIN_SetResolution(300);
  TWAIN_SetContrast(100);
  TWAIN_SelectFeeder(0);
  TWAIN_EnableDuplex(1);
  TWAIN_SetIndicators(0);
  open_model_a();
  EXPECT_EQ(TWAIN_GetXResolution(), 300);
  EXPECT_EQ(TWAIN_GetYResolution(), 300);
  EXPECT_EQ(TWAIN_GetCurrentFix32(ICAP_CONTRAST, 0), 100);
  EXPECT_EQ(TWAIN_IsFeederSelected(), 0);
  EXPECT_EQ(TWAIN_IsDuplexEnabled(), 1);
  EXPECT_EQ(TWAIN_GetIndicators(), 0);
  // The next device starts from its own defaults.
  TWAIN_CloseSource();
  ASSERT_EQ(TWAIN_OpenSource("Model A"), 1);
  EXPECT_EQ(TWAIN_GetXResolution(), 200);
  EXPECT_EQ(TWAIN_IsFeederSelected(), 1);
  EXPECT_EQ(TWAIN_IsDuplexEnabled(), 0);
}

TEST_F(DeviceSettings, TheSettingsFileAsksForDuplexAndTransferUntilASourceOpens) {
  struct Case {
    const char* text;
    int duplex;     // deferred, then on the device (-1: not asked)
    int mechanism;  // deferred (0: not asked), then on the device
  };
  const Case cases[] = {
      {"EnableDuplex=1\r\n", 1, TWSX_NATIVE},
      {"TWAIN_EnableDuplex(1)\n", 1, TWSX_NATIVE},
      {"XferMech=2\n", -1, TWSX_MEMORY},
      {"TWAIN_SetXferMech=1\r\nEnableDuplex=0\r\n", 0, TWSX_FILE},
      {"SetXferMech(2)\nenableduplex=1", 1, TWSX_MEMORY},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    twain::settings_apply_text(c.text);
    EXPECT_EQ(deferred().duplex, c.duplex);
    EXPECT_EQ(TWAIN_XferMech(), c.mechanism);
    open_model_a();
    EXPECT_EQ(TWAIN_IsDuplexEnabled(), c.duplex == 1 ? 1 : 0);
    EXPECT_EQ(device_value(ICAP_XFERMECH), c.mechanism);
    close_all();
  }
}

TEST_F(DeviceSettings, ADeviceOpenedByNameGetsTheDeferredRequestsToo) {
  struct Case {
    const char* product;
    const char* file;  // settings file text
    int mechanism;
    int duplex;
  };
  const Case cases[] = {
      {"Model A", "XferMech=2\nEnableDuplex=1\n", TWSX_MEMORY, 1},
      {"Model A", "", TWSX_NATIVE, 0},
      {"Strobe 500", "", TWSX_MEMORY, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.product) + ": " + c.file);
    use_devices(std::string("[device]\nproduct = WIA-") + c.product + "\n[device]\nproduct = " +
                c.product + "\n");
    twain::settings_apply_text(c.file);
    ScanRequest request;
    request.device_name = c.product;
    ASSERT_TRUE(OpenDevice(request, 0)) << error_text();
    EXPECT_STREQ(TWAIN_SourceName(), c.product);
    EXPECT_EQ(device_value(ICAP_XFERMECH), c.mechanism);
    EXPECT_EQ(TWAIN_IsDuplexEnabled(), c.duplex);
    close_all();
  }
}

TEST_F(DeviceSettings, ADeviceThatRefusesTheDeferredTransferIsNotLeftOpen) {
  use_devices("[device]\nproduct = Model A\nxfer_mechs = native\n");
  twain::settings_apply_text("XferMech=2\n");
  ScanRequest request;
  request.device_name = "model a";
  EXPECT_FALSE(OpenDevice(request, 0));
  EXPECT_EQ(TWAIN_State(), 3);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_NE(boxes_[0].find("Unable to open device 'model a'\n"), std::string::npos) << boxes_[0];
  EXPECT_NE(boxes_[0].find("Negotiating Transfer Mode."), std::string::npos) << boxes_[0];
}

// ---- paper path ------------------------------------------------------------------

TEST_F(DeviceSettings, ALateDuplexUnitIsFoundOnTheRetry) {
  struct Case {
    const char* keys;
    int support;
    bool retried;
  };
  const Case cases[] = {
      {"duplex_late = yes\n", TWDX_1PASSDUPLEX, true},
      {"duplex = 2pass\nduplex_late = yes\n", TWDX_2PASSDUPLEX, true},
      {"duplex = 2pass\n", TWDX_2PASSDUPLEX, false},
      {"duplex = none\n", TWDX_NONE, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.keys);
    open_model_a(c.keys);
    mark_trace();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(TWAIN_GetDuplexSupport(), c.support);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(waited >= std::chrono::milliseconds(200), c.retried);
    EXPECT_EQ(trace_since_mark().find("#HACK: Duplex Retry => " + std::to_string(c.support)) !=
                  std::string::npos,
              c.retried);
    EXPECT_EQ(TWAIN_EnableDuplex(1), c.support != TWDX_NONE ? 1 : 0);
    EXPECT_EQ(TWAIN_IsDuplexEnabled(), c.support != TWDX_NONE ? 1 : 0);
    close_all();
  }
}

TEST_F(DeviceSettings, LateDuplexAskedBeforeOpeningIsStillEnabled) {
  TWAIN_EnableDuplex(1);
  open_model_a("duplex_late = yes\n");
  EXPECT_EQ(TWAIN_IsDuplexEnabled(), 1);
  EXPECT_EQ(TWAIN_CanDoDuplex(), 1);
}

TEST_F(DeviceSettings, SelectingTheFeederSucceedsWhenItIsAlreadyAsWanted) {
  struct Case {
    const char* keys;
    int wanted;
    int result;
  };
  const Case cases[] = {
      {"feeder_locked = yes\nfeeder_enabled = yes\n", 1, 1},
      {"feeder_locked = yes\nfeeder_enabled = yes\n", 0, 0},
      {"feeder_locked = yes\nfeeder_enabled = no\n", 0, 1},
      {"feeder_locked = yes\nfeeder_enabled = no\n", 1, 0},
      {"feeder = no\n", 0, 1},
      {"feeder = no\n", 1, 0},
      {"flatbed = no\n", 0, 0},
      {"", 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.keys) + " wanted " + std::to_string(c.wanted));
    open_model_a(c.keys);
    EXPECT_EQ(TWAIN_SelectFeeder(c.wanted), c.result);
    EXPECT_TRUE(deferred().feeder_explicitly_selected);
    close_all();
  }
}

TEST_F(DeviceSettings, AutoFeedSelectsTheFeederFirst) {
  open_model_a("feeder_enabled = no\n");
  ASSERT_EQ(TWAIN_IsFeederSelected(), 0);
  EXPECT_EQ(TWAIN_SetAutoFeed(1), 1);
  EXPECT_EQ(TWAIN_IsFeederSelected(), 1);
  EXPECT_EQ(TWAIN_IsAutoFeedOn(), 1);
  // Once the feeder was chosen explicitly, switching auto-feed off leaves it.
  ASSERT_EQ(TWAIN_SelectFeeder(0), 1);
  EXPECT_EQ(TWAIN_SetAutoFeed(0), 1);
  EXPECT_EQ(TWAIN_IsFeederSelected(), 0);
}

// ---- scan area -------------------------------------------------------------------

TEST_F(DeviceSettings, ABadRegionIsRefusedAndForgetsTheEarlierOne) {
  struct Bad {
    double l, t, r, b;
    const char* detail;
  };
  const Bad bad[] = {
      {1, 1, 1, 2, "Left 1, Top 1, Right 1, Bottom 2"},
      {2, 0, 1, 1, "Left 2, Top 0, Right 1, Bottom 1"},
      {0, 3, 1, 3, "Left 0, Top 3, Right 1, Bottom 3"},
      {-1, 0, 1, 1, "Left -1, Top 0, Right 1, Bottom 1"},
      {0, -0.5, 1, 1, "Left 0, Top -0.5, Right 1, Bottom 1"},
  };
  for (const Bad& b : bad) {
    SCOPED_TRACE(b.detail);
    TWAIN_ClearError();
    ASSERT_EQ(TWAIN_SetRegion(0.5, 1, 2, 3), 1);
    EXPECT_EQ(deferred().region_right, 2);
    EXPECT_EQ(TWAIN_SetRegion(b.l, b.t, b.r, b.b), 0);
    EXPECT_EQ(TWAIN_LastErrorCode(), ERR_BAD_REGION);
    EXPECT_NE(error_text().find(b.detail), std::string::npos) << error_text();
    EXPECT_EQ(deferred().region_right, 0);
  }
  // Nothing is left to apply at the open.
  mark_trace();
  open_model_a();
  EXPECT_EQ(trace_since_mark().find("SetRegion"), std::string::npos);
}

TEST_F(DeviceSettings, ARegionAskedBeforeOpeningIsApplied) {
  EXPECT_EQ(TWAIN_SetRegion(0.5, 1, 2, 3), 1);
  open_model_a();
  EXPECT_TRUE(in_order(trace(), {"NegotiateSettings", "SetRegion(0.5, 1, 2, 3)",
                                 "SetImageLayout(0.5,1,2,3)", "SetFrame(0.5,1,2,3)"}));
  EXPECT_EQ(TWAIN_LastErrorCode(), 0) << error_text();
}

TEST_F(DeviceSettings, ARefusedPaperSizeBecomesARegion) {
  struct Case {
    int size;
    int units;
    int result;
    double right, bottom;  // of the region, 0: none
  };
  const Case cases[] = {
      {TWSS_A4, TWUN_INCHES, 1, 210 / 25.4, 297 / 25.4},
      {TWSS_A4, TWUN_CENTIMETERS, 1, 21.0, 29.7},
      {TWSS_A5, TWUN_MILLIMETERS, 1, 148, 210},
      {TWSS_USLETTER, TWUN_POINTS, 1, 612, 792},
      {TWSS_USLETTER, TWUN_PIXELS, 1, 8.5 * 200, 11 * 200},  // at the default 200 dpi
      {TWSS_USLEGAL, TWUN_INCHES, 1, 0, 0},                  // taken by the device
      // Larger than the bed: the device cuts the region (a nearest value),
      // which the library counts as a refusal; the region stays asked for.
      {TWSS_A3, TWUN_INCHES, 0, 11.6929, 16.5354},
      {8, TWUN_INCHES, 0, 0, 0},                             // no such size
      {99, TWUN_INCHES, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("size " + std::to_string(c.size) + " units " + std::to_string(c.units));
    open_model_a("refuse_values = ICAP_SUPPORTEDSIZES:1, ICAP_SUPPORTEDSIZES:3, "
                 "ICAP_SUPPORTEDSIZES:5, ICAP_SUPPORTEDSIZES:11\n");
    ASSERT_EQ(TWAIN_SetUnits(c.units), 1);
    TWAIN_ClearError();
    EXPECT_EQ(TWAIN_SetPaperSize(c.size), c.result) << error_text();
    EXPECT_NEAR(deferred().region_right, c.right, 1e-3);
    EXPECT_NEAR(deferred().region_bottom, c.bottom, 1e-3);
    if (c.right > 0) {
      EXPECT_EQ(deferred().region_units, c.units);
    }
    if (c.size == 8 || c.size == 99) {
      EXPECT_EQ(TWAIN_LastErrorCode(), ERR_BAD_PARAMETER);
    }
    if (c.result == 1 && c.right == 0) {
      EXPECT_EQ(device_value(ICAP_SUPPORTEDSIZES), c.size);
    }
    close_all();
  }
}

TEST_F(DeviceSettings, TheImageLayoutAndItsDefaultAreReadBack) {
  double l = -1, t = -1, r = -1, b = -1;
  EXPECT_EQ(TWAIN_GetImageLayout(&l, &t, &r, &b), 0) << "no source open";
  EXPECT_EQ(r, -1) << "outputs untouched on failure";
  open_model_a();
  ASSERT_EQ(TWAIN_SetImageLayout(0.5, 1, 4.25, 6.5), 1);
  ASSERT_EQ(TWAIN_GetImageLayout(&l, &t, &r, &b), 1);
  EXPECT_EQ((std::vector<double>{l, t, r, b}), (std::vector<double>{0.5, 1, 4.25, 6.5}));
  ASSERT_EQ(TWAIN_GetDefaultImageLayout(&l, &t, &r, &b), 1);
  EXPECT_EQ((std::vector<double>{l, t, r, b}), (std::vector<double>{0, 0, 8.5, 14}));
  EXPECT_EQ(TWAIN_GetImageLayout(nullptr, nullptr, &r, nullptr), 1) << "null outputs are skipped";
  EXPECT_EQ(r, 4.25);
}

TEST_F(DeviceSettings, PaperDetectionAndTilesAreAskedOfTheDevice) {
  EXPECT_EQ(TWAIN_IsPaperDetectable(), 0);
  ASSERT_EQ(boxes_.size(), 1u) << "reported at once";
  EXPECT_NE(boxes_[0].find("No TWAIN device is currently open (Orivane.IsPaperDetectable)"),
            std::string::npos)
      << boxes_[0];
  EXPECT_EQ(TWAIN_LastErrorCode(), 0) << "and cleared";
  struct Case {
    const char* keys;
    int paper_detectable;
    int tiled_after_set;
  } cases[] = {{"tiles = yes\n", 1, 1}, {"feeder = no\n", 0, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.keys);
    open_model_a(c.keys);
    EXPECT_EQ(TWAIN_IsPaperDetectable(), c.paper_detectable);
    EXPECT_EQ(TWAIN_Tiled(), 0);
    TWAIN_SetTiled(1);
    EXPECT_EQ(TWAIN_Tiled(), c.tiled_after_set);
    close_all();
  }
}

// The first row of an acquired page (white paper) as red, green, blue.
std::vector<int> first_row_colour(std::uintptr_t dib) {
  std::vector<std::uint8_t> row(static_cast<std::size_t>(DIB_Width(dib)) + 4);
  std::vector<int> rgb;
  for (int component : {DIB_COMP_RED, DIB_COMP_GREEN, DIB_COMP_BLUE}) {
    if (!DIB_ReadRowComponent(dib, 0, row.data(), component)) return {};
    rgb.push_back(row[0]);
  }
  return rgb;
}

TEST_F(DeviceSettings, ResponseCurvesReachThePixels) {
  std::vector<std::int32_t> inverted(256), halved(256), same(256);
  for (int i = 0; i < 256; ++i) {
    // Only the low byte of each entry counts.
    inverted[i] = 0x7f00 | (255 - i);
    halved[i] = i / 2;
    same[i] = i;
  }
  EXPECT_EQ(TWAIN_SetGrayResponse(inverted.data()), 0);
  EXPECT_EQ(TWAIN_LastErrorCode(), ERR_NO_DEVICE_OPEN);
  EXPECT_NE(error_text().find("TWAIN_SetGrayResponse"), std::string::npos) << error_text();
  struct Case {
    int pixel_type;
    bool color;  // SetColorResponse(halved, inverted, same), else SetGrayResponse(inverted)
    int result;
    std::vector<int> first_row;  // white paper after the curve; empty: none acquired
    int error;
    const char* error_text;
  } cases[] = {
      {TWPT_GRAY, false, 1, {0, 0, 0}, 0, ""},
      {TWPT_RGB, false, 1, {0, 0, 0}, 0, ""},
      {TWPT_RGB, true, 1, {127, 0, 255}, 0, ""},
      {TWPT_GRAY, true, 0, {}, ERR_FAILURE, "TWAIN_SetColorResponse: pixeltype != RGB"},
      {TWPT_BW, false, 0, {}, ERR_FAILURE, "TWAIN_SetGrayResponse: pixeltype not Gray or RGB"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.pixel_type) + (c.color ? " colour" : " gray"));
    open_model_a();
    ASSERT_EQ(TWAIN_SetPixelType(c.pixel_type), 1);
    TWAIN_ClearError();
    const int result = c.color ? TWAIN_SetColorResponse(halved.data(), inverted.data(), same.data())
                               : TWAIN_SetGrayResponse(inverted.data());
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(TWAIN_LastErrorCode(), c.error) << error_text();
    if (c.error != 0) {
      EXPECT_NE(error_text().find(c.error_text), std::string::npos) << error_text();
    }
    if (!c.first_row.empty()) {
      const std::uintptr_t dib = TWAIN_Acquire(0);
      ASSERT_NE(dib, 0u) << error_text();
      EXPECT_EQ(first_row_colour(dib), c.first_row);
      TWAIN_FreeNative(dib);
      // Back to the device's own curve: white is white again.
      ASSERT_EQ(TWAIN_OpenSource("Model A"), 1);
      ASSERT_EQ(TWAIN_SetPixelType(c.pixel_type), 1);
      ASSERT_EQ(c.color ? TWAIN_SetColorResponse(halved.data(), inverted.data(), same.data())
                        : TWAIN_SetGrayResponse(inverted.data()),
                1);
      EXPECT_EQ(c.color || c.pixel_type == TWPT_RGB ? TWAIN_ResetColorResponse()
                                                    : TWAIN_ResetGrayResponse(),
                1);
      const std::uintptr_t plain = TWAIN_Acquire(0);
      ASSERT_NE(plain, 0u) << error_text();
      EXPECT_EQ(first_row_colour(plain), (std::vector<int>{255, 255, 255}));
      TWAIN_FreeNative(plain);
    }
    close_all();
  }
  TWAIN_ClearError();
  EXPECT_EQ(TWAIN_ResetGrayResponse(), 0);
  EXPECT_EQ(TWAIN_LastErrorCode(), ERR_NO_DEVICE_OPEN);
}

TEST(DevicePaperSizes, TheTableInInches) {
  struct Case {
    int code;
    double width, height;
  };
  const Case cases[] = {
      {1, 8.2677, 11.6929}, {2, 7.1654, 10.1181}, {3, 8.5, 11},        {4, 8.5, 14},
      {5, 5.8268, 8.2677},  {6, 9.8425, 13.8976}, {7, 4.9213, 6.9291}, {8, 0, 0},
      {9, 11, 17},          {10, 7.25, 10.5},     {11, 11.6929, 16.5354},
      {13, 4.1339, 5.8268}, {25, 1.0236, 1.4567}, {29, 6.9291, 9.8425}, {34, 40.5512, 57.3228},
      {43, 1.2598, 1.7717}, {44, 36.1024, 51.0630}, {51, 1.1024, 1.5748}, {52, 5.5, 8.5},
      {53, 2, 3.5},
  };
  for (const Case& c : cases) {
    core::PaperSize size;
    ASSERT_TRUE(core::paper_size_inches(c.code, &size)) << c.code;
    EXPECT_NEAR(size.width, c.width, 1e-4) << c.code;
    EXPECT_NEAR(size.height, c.height, 1e-4) << c.code;
  }
  core::PaperSize none;
  for (int code : {-1, 0, 54, 1000}) EXPECT_FALSE(core::paper_size_inches(code, &none)) << code;
}

TEST(DevicePaperSizes, InchesInEachUnit) {
  struct Case {
    int units;
    double dpi;
    double expected;  // for 2 inches
  };
  const Case cases[] = {
      {TWUN_INCHES, 300, 2},       {TWUN_CENTIMETERS, 300, 5.08}, {TWUN_PICAS, 300, 12},
      {TWUN_POINTS, 300, 144},     {TWUN_TWIPS, 300, 2880},       {TWUN_MILLIMETERS, 300, 50.8},
      {TWUN_PIXELS, 300, 600},     {TWUN_PIXELS, 0, 2},           {77, 300, 2},
  };
  for (const Case& c : cases)
    EXPECT_NEAR(core::inches_to_units(2, c.units, c.dpi), c.expected, 1e-9) << c.units;
}

}  // namespace
