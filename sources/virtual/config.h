// The devices the virtual scanner presents, read from the config file named
// by QUILLET_VSCAN (format: sources/virtual/README.md). Without that variable
// it presents one device, the built-in "Virtual Scanner"; every [device]
// section starts from the built-in device's settings and changes what it
// names.
#pragma once
#include <csignal>
#include <cstdint>
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

// Something that happens to one page of a session (pages count from 1).
enum class PageEventKind {
  Jam,           // the transfer fails: TWCC_PAPERJAM
  DoubleFeed,    // TWCC_PAPERDOUBLEFEED
  CoverOpen,     // TWCC_INTERLOCK
  Offline,       // TWCC_CHECKDEVICEONLINE
  Cancel,        // the user cancels the transfer: TWRC_CANCEL
  CloseRequest,  // MSG_CLOSEDSREQ instead of the page's announcement
  Crash,         // the driver crashes inside the transfer call
  Slow,          // the transfer takes `ms` milliseconds longer
  Blank,         // the sheet is an empty side: paper with specks of dust
  Skew,          // the sheet lies turned by `degrees` (counter-clockwise)
  Platen,        // the sheet is `inches` smaller than the scan area on every side
  DeviceEvent,   // MSG_DEVICEEVENT (TW_DEVICEEVENT.Event = `device_event`) before the page
  UpsideDown,    // the sheet is fed upside down: the page comes turned by 180 degrees
};
struct PageEvent {
  int page = 1;
  PageEventKind kind = PageEventKind::Jam;
  int ms = 0;           // Slow only
  double degrees = 0;   // Skew only
  double inches = 0;    // Platen only
  TW_UINT16 device_event = 0;  // DeviceEvent only: a TWDE_ code
};

// Deliberate oddities of memory transfers, as some drivers have them.
enum class MemoryQuirk {
  None,
  WideColumns,   // Columns larger than the image width, XOffset 0
  XOffsetUnset,  // XOffset TWON_DONTCARE32
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

  // Opening: a real scanner takes seconds to warm up and answer
  int open_delay_ms = 0;  // MSG_OPENDS answers after this long

  // Transfers
  int xfer_delay_ms = 0;  // from enabling to MSG_XFERREADY
  // The settings dialog (MSG_ENABLEDSUIONLY) closes with MSG_CLOSEDSOK, or
  // with MSG_CLOSEDSREQ when cancelled.
  bool settings_dialog_ok = true;
  // With ShowUI the dialogs are shown in the application's windows when it
  // lends them; false: never (the device acts as the person at it would).
  bool dialog_window = true;
  std::vector<TW_UINT16> file_formats{TWFF_BMP, TWFF_TIFF, TWFF_JFIF, TWFF_PNG, TWFF_PDF};
  // DAT_SETUPMEMXFER, bytes (the preferred size grows to hold one row).
  std::uint32_t mem_min = 4096;
  std::uint32_t mem_preferred = 65536;
  std::uint32_t mem_max = 1048576;
  std::vector<int> mem_rows;  // rows per strip, cycled; empty: as many as fit
  int mem_row_align = 1;      // BytesPerRow is a multiple of this
  bool tiles = false;         // ICAP_TILES may be set TRUE
  int tile_width = 256;       // pixels (a multiple of 8)
  int tile_height = 256;
  MemoryQuirk mem_quirk = MemoryQuirk::None;
  int mem_fail_block = 0;  // this block of every image fails (0: none)
  std::vector<PageEvent> events;
  // TWEI_BARCODETEXT as TWTY_HANDLE blocks of text instead of TWTY_STR255.
  bool barcode_text_handle = false;
  // Native transfers hand over memory from calloc instead of a block made
  // with the Source Manager's memory functions, as a careless driver does.
  bool native_calloc = false;

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
// The events of page `page` (counted from 1 in the session), in config order.
std::vector<PageEvent> device_page_events(const DeviceConfig& device, int page);

}  // namespace vscan
