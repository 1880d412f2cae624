// The devices the virtual scanner presents, read from the config file named
// by QUILLET_VSCAN (format: sources/virtual/README.md). Without that variable
// it presents one device, the built-in "Virtual Scanner"; every [device]
// section starts from the built-in device's settings and changes what it
// names.
#pragma once
#include <csignal>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "orivane/twain.h"

namespace vscan {

// The driver calls a config can make crash (see fault.h).
enum class DsCall : TW_UINT16 {
  Other,
  Identity,  // the device's identity is asked for (listing)
  EntryPoint,
  OpenDs,
  CloseDs,
  Status,
  Capability,
  ImageLayout,
  EnableDs,
  EnableDsUiOnly,
  DisableDs,
  ProcessEvent,
  PendingXfers,
  SetupMemXfer,
  SetupFileXfer,
  ImageInfo,
  NativeXfer,
  MemoryXfer,
  FileXfer,
};

struct ResolutionConfig {
  double min = 50;
  double max = 600;
  double step = 1;
  double preferred = 200;    // the default
  std::vector<double> list;  // not empty: an enumeration of these instead of a range
};

struct DeviceConfig {
  // Identity
  std::string product = "Virtual Scanner";
  std::string family = "Virtual";
  std::string manufacturer = "Quillet Project";
  TW_UINT16 version_major = 1;
  TW_UINT16 version_minor = 0;
  std::string version_info = "1.0";
  // Write the whole product name even past its 34-byte field, as a careless
  // driver does (see README).
  bool name_overrun = false;

  // Paper path; sizes in inches
  bool flatbed = true;
  int flatbed_pages = 1;
  bool feeder = true;
  int feeder_sheets = 100;
  bool feeder_enabled = true;  // the feeder is selected when the device opens
  bool two_sided = true;       // the sheets are printed on both sides
  TW_UINT16 duplex = TWDX_1PASSDUPLEX;
  // The duplex unit wakes up late: the first read of CAP_DUPLEX after the
  // device opens answers TWDX_NONE, later reads the configured kind.
  bool duplex_late = false;
  // The feeder selection cannot be changed: every MSG_SET of
  // CAP_FEEDERENABLED fails with TWCC_BADVALUE, even of the value it holds.
  bool feeder_locked = false;
  double width = 8.5;
  double height = 14.0;
  bool transmissive = false;  // has a transparency unit

  // Image
  ResolutionConfig resolution;
  std::vector<TW_UINT16> pixel_types{TWPT_BW, TWPT_GRAY, TWPT_RGB};
  TW_UINT16 pixel_type = TWPT_BW;                          // the default
  std::map<TW_UINT16, std::vector<TW_UINT16>> bit_depths;  // per pixel type, default first
  std::vector<TW_UINT16> xfer_mechs{TWSX_NATIVE, TWSX_FILE, TWSX_MEMORY};
  std::vector<TW_UINT16> compressions{TWCP_NONE, TWCP_GROUP4, TWCP_JPEG};
  std::vector<TW_UINT16> extended_caps;  // capabilities negotiable after enabling

  // Misbehaviour on request
  std::vector<TW_UINT16> refused_caps;
  std::vector<std::pair<TW_UINT16, double>> refused_values;
  std::map<TW_UINT16, TW_UINT16> odd_containers;  // capability -> TWON_ kind of every get
  TW_UINT16 unsupported_cc = TWCC_CAPUNSUPPORTED;
  std::vector<DsCall> crash_calls;
  int crash_signal = SIGSEGV;
};

struct Config {
  std::vector<DeviceConfig> devices;
  std::vector<std::string> problems;  // "<line>: <message>", one per ignored line or value
};

// The bit depths a pixel type offers by default (1 for BW, 8 and 16 for gray,
// 24 and 48 for RGB, ...).
std::vector<TW_UINT16> default_bit_depths(TW_UINT16 pixel_type);
// A device with the built-in settings.
DeviceConfig device_default();
// The devices a config text names.
Config config_parse(std::string_view text);
// The devices to present now: from $QUILLET_VSCAN, else the built-in one.
// Problems are written to standard error, prefixed with the file name.
Config config_load();

bool device_refuses_cap(const DeviceConfig& device, TW_UINT16 cap);
bool device_refuses_value(const DeviceConfig& device, TW_UINT16 cap, double value);
bool device_crashes_on(const DeviceConfig& device, DsCall call);

}  // namespace vscan
