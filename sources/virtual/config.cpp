#include "sources/virtual/config.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <optional>

#include "platform/input_file.h"
#include "sources/virtual/ini.h"
#include "sources/virtual/names.h"

namespace vscan {
namespace {

constexpr const char* kConfigVariable = "QUILLET_VSCAN";
constexpr double kMaxSideInches = 100;
constexpr double kMaxDpi = 19200;
constexpr int kMaxPages = 1000000;
constexpr std::size_t kMaxTextLength = 255;
constexpr int kMaxDelayMs = 600000;
constexpr int kMaxBufferBytes = 256 * 1024 * 1024;

template <typename T>
bool contains(const std::vector<T>& list, T value) {
  return std::find(list.begin(), list.end(), value) != list.end();
}

// An error message for the value, or nothing when it was taken.
using Problem = std::optional<std::string>;

std::vector<std::string> split_list(const std::string& value) {
  std::vector<std::string> items;
  std::string item;
  for (char c : value + ",") {
    if (c == ',' || c == ' ' || c == '\t') {
      if (!item.empty()) items.push_back(item);
      item.clear();
    } else {
      item += c;
    }
  }
  return items;
}

std::optional<bool> parse_bool(std::string value) {
  for (char& c : value) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const char* yes : {"yes", "true", "on", "1"})
    if (value == yes) return true;
  for (const char* no : {"no", "false", "off", "0"})
    if (value == no) return false;
  return std::nullopt;
}

std::optional<double> parse_number(const std::string& value) {
  double number = 0;
  const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
  if (error != std::errc() || end != value.data() + value.size() || !std::isfinite(number))
    return std::nullopt;
  return number;
}

Problem set_bool(bool& out, const std::string& value) {
  const auto flag = parse_bool(value);
  if (!flag) return "expected yes or no";
  out = *flag;
  return std::nullopt;
}

Problem set_count(int& out, const std::string& value) {
  const auto number = parse_number(value);
  if (!number || *number < 0 || *number > kMaxPages || *number != std::floor(*number))
    return "expected a whole number from 0";
  out = static_cast<int>(*number);
  return std::nullopt;
}

Problem set_positive(double& out, const std::string& value, double max) {
  const auto number = parse_number(value);
  if (!number || *number <= 0 || *number > max) return "expected a positive number";
  out = *number;
  return std::nullopt;
}

Problem set_text(std::string& out, const std::string& value) {
  if (value.empty()) return "expected a text";
  out = value.substr(0, kMaxTextLength);
  return std::nullopt;
}

Problem set_name(TW_UINT16& out, NameKind kind, const std::string& value) {
  const auto named = name_lookup(kind, value);
  if (!named) return "unknown name '" + value + "'";
  out = *named;
  return std::nullopt;
}

Problem set_names(std::vector<TW_UINT16>& out, NameKind kind, const std::string& value) {
  std::vector<TW_UINT16> names;
  for (const std::string& item : split_list(value)) {
    const auto named = name_lookup(kind, item);
    if (!named) return "unknown name '" + item + "'";
    if (std::find(names.begin(), names.end(), *named) == names.end()) names.push_back(*named);
  }
  out = names;
  return std::nullopt;
}

Problem set_numbers(std::vector<double>& out, const std::string& value, double max) {
  std::vector<double> numbers;
  for (const std::string& item : split_list(value)) {
    const auto number = parse_number(item);
    if (!number || *number <= 0 || *number > max) return "bad number '" + item + "'";
    numbers.push_back(*number);
  }
  if (numbers.empty()) return "expected a list of numbers";
  std::sort(numbers.begin(), numbers.end());
  numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
  out = numbers;
  return std::nullopt;
}

Problem set_version(DeviceConfig& d, const std::string& value) {
  unsigned major = 0, minor = 0;
  char extra = 0;
  const int fields = std::sscanf(value.c_str(), "%u.%u%c", &major, &minor, &extra);
  if (fields < 1 || fields > 2 || major > 0xffff || minor > 0xffff) return "expected major.minor";
  d.version_major = static_cast<TW_UINT16>(major);
  d.version_minor = static_cast<TW_UINT16>(minor);
  return std::nullopt;
}

// "CAP:word" pairs.
template <typename Fn>
Problem for_each_pair(const std::string& value, Fn fn) {
  for (const std::string& item : split_list(value)) {
    const std::size_t colon = item.find(':');
    if (colon == std::string::npos) return "expected CAPABILITY:value in '" + item + "'";
    const auto cap = name_lookup(NameKind::Capability, item.substr(0, colon));
    if (!cap) return "unknown capability in '" + item + "'";
    if (Problem problem = fn(*cap, item.substr(colon + 1))) return problem;
  }
  return std::nullopt;
}

Problem set_refused_values(DeviceConfig& d, const std::string& value) {
  std::vector<std::pair<TW_UINT16, double>> refused;
  Problem problem = for_each_pair(value, [&](TW_UINT16 cap, const std::string& text) -> Problem {
    const auto number = parse_number(text);
    if (!number) return "bad value '" + text + "'";
    refused.emplace_back(cap, *number);
    return std::nullopt;
  });
  if (!problem) d.refused_values = refused;
  return problem;
}

Problem set_odd_containers(DeviceConfig& d, const std::string& value) {
  std::map<TW_UINT16, TW_UINT16> odd;
  Problem problem = for_each_pair(value, [&](TW_UINT16 cap, const std::string& text) -> Problem {
    const auto kind = name_lookup(NameKind::Container, text);
    if (!kind) return "unknown container '" + text + "'";
    odd[cap] = *kind;
    return std::nullopt;
  });
  if (!problem) d.odd_containers = odd;
  return problem;
}

Problem set_crash_calls(DeviceConfig& d, const std::string& value) {
  std::vector<TW_UINT16> calls;
  if (Problem problem = set_names(calls, NameKind::Call, value)) return problem;
  d.crash_calls.clear();
  for (TW_UINT16 call : calls) d.crash_calls.push_back(static_cast<DsCall>(call));
  return std::nullopt;
}

Problem set_bit_depths(DeviceConfig& d, const std::string& key, const std::string& value) {
  const auto type = name_lookup(NameKind::PixelType, key.substr(std::string("bitdepths_").size()));
  if (!type) return "unknown pixel type in '" + key + "'";
  std::vector<double> depths;
  if (Problem problem = set_numbers(depths, value, 64)) return problem;
  // The list comes back sorted; the depth named first is the default.
  const double first = *parse_number(split_list(value).front());
  const auto named_first = std::find(depths.begin(), depths.end(), first);
  std::rotate(depths.begin(), named_first, named_first + 1);
  std::vector<TW_UINT16>& out = d.bit_depths[*type];
  out.clear();
  for (double depth : depths) out.push_back(static_cast<TW_UINT16>(depth));
  return std::nullopt;
}

Problem set_int(int& out, const std::string& value, int min, int max) {
  const auto number = parse_number(value);
  if (!number || *number < min || *number > max || *number != std::floor(*number))
    return "expected a whole number from " + std::to_string(min) + " to " + std::to_string(max);
  out = static_cast<int>(*number);
  return std::nullopt;
}

Problem set_bytes(std::uint32_t& out, const std::string& value) {
  int bytes = 0;
  if (Problem problem = set_int(bytes, value, 1, kMaxBufferBytes)) return problem;
  out = static_cast<std::uint32_t>(bytes);
  return std::nullopt;
}

Problem set_mem_rows(DeviceConfig& d, const std::string& value) {
  std::vector<int> rows;
  for (const std::string& item : split_list(value)) {
    int n = 0;
    if (Problem problem = set_int(n, item, 1, kMaxPages)) return problem;
    rows.push_back(n);
  }
  if (rows.empty()) return "expected a list of row counts";
  d.mem_rows = rows;
  return std::nullopt;
}

Problem set_tile_size(DeviceConfig& d, const std::string& value) {
  unsigned width = 0, height = 0;
  char extra = 0;
  if (std::sscanf(value.c_str(), "%ux%u%c", &width, &height, &extra) != 2 || width == 0 ||
      height == 0 || width % 8 != 0 || width > 65536 || height > 65536)
    return "expected WIDTHxHEIGHT in pixels, the width a multiple of 8";
  d.tile_width = static_cast<int>(width);
  d.tile_height = static_cast<int>(height);
  return std::nullopt;
}

Problem set_mem_quirk(DeviceConfig& d, const std::string& value) {
  static const std::pair<const char*, MemoryQuirk> kQuirks[] = {
      {"none", MemoryQuirk::None},
      {"wide_columns", MemoryQuirk::WideColumns},
      {"xoffset_unset", MemoryQuirk::XOffsetUnset}};
  for (const auto& [name, quirk] : kQuirks) {
    if (::strcasecmp(value.c_str(), name) == 0) {
      d.mem_quirk = quirk;
      return std::nullopt;
    }
  }
  return "unknown quirk '" + value + "'";
}

Problem set_file_formats(DeviceConfig& d, const std::string& value) {
  static const std::pair<const char*, TW_UINT16> kFormats[] = {
      {"bmp", TWFF_BMP},   {"tiff", TWFF_TIFF}, {"jfif", TWFF_JFIF},
      {"jpeg", TWFF_JFIF}, {"png", TWFF_PNG},   {"pdf", TWFF_PDF}};
  std::vector<TW_UINT16> formats;
  for (const std::string& item : split_list(value)) {
    const auto* found = std::find_if(std::begin(kFormats), std::end(kFormats), [&](const auto& f) {
      return ::strcasecmp(f.first, item.c_str()) == 0;
    });
    if (found == std::end(kFormats)) return "unknown file format '" + item + "'";
    if (!contains(formats, found->second)) formats.push_back(found->second);
  }
  if (formats.empty()) return "expected a list of file formats";
  d.file_formats = formats;
  return std::nullopt;
}

// A TWDE_ device event by its name without the prefix ("paperjam").
std::optional<TW_UINT16> device_event_code(const std::string& name) {
  static const char* const kNames[] = {
      "checkautomaticcapture", "checkbattery",    "checkdeviceonline", "checkflash",
      "checkpowersupply",      "checkresolution", "deviceadded",       "deviceoffline",
      "deviceready",           "deviceremoved",   "imagecaptured",     "imagedeleted",
      "paperdoublefeed",       "paperjam",        "lampfailure",       "powersave",
      "powersavenotify"};
  for (std::size_t i = 0; i < std::size(kNames); ++i) {
    if (::strcasecmp(kNames[i], name.c_str()) == 0) return static_cast<TW_UINT16>(i);
  }
  return std::nullopt;
}

// "PAGE:event" items; slow takes its milliseconds: "2:slow=500".
Problem set_events(DeviceConfig& d, const std::string& value) {
  static const std::pair<const char*, PageEventKind> kKinds[] = {
      {"jam", PageEventKind::Jam},
      {"double_feed", PageEventKind::DoubleFeed},
      {"cover_open", PageEventKind::CoverOpen},
      {"offline", PageEventKind::Offline},
      {"cancel", PageEventKind::Cancel},
      {"close_request", PageEventKind::CloseRequest},
      {"crash", PageEventKind::Crash},
      {"slow", PageEventKind::Slow},
      {"blank", PageEventKind::Blank},
      {"skew", PageEventKind::Skew},
      {"platen", PageEventKind::Platen},
      {"device_event", PageEventKind::DeviceEvent},
      {"upside_down", PageEventKind::UpsideDown}};
  std::vector<PageEvent> events;
  for (const std::string& item : split_list(value)) {
    const std::size_t colon = item.find(':');
    if (colon == std::string::npos) return "expected PAGE:event in '" + item + "'";
    PageEvent event;
    if (Problem problem = set_int(event.page, item.substr(0, colon), 1, kMaxPages))
      return "bad page in '" + item + "'";
    std::string name = item.substr(colon + 1);
    const std::size_t equals = name.find('=');
    std::string argument;
    if (equals != std::string::npos) {
      argument = name.substr(equals + 1);
      name.resize(equals);
    }
    const auto* found = std::find_if(std::begin(kKinds), std::end(kKinds), [&](const auto& k) {
      return ::strcasecmp(k.first, name.c_str()) == 0;
    });
    if (found == std::end(kKinds)) return "unknown event '" + name + "'";
    event.kind = found->second;
    if (event.kind == PageEventKind::Slow) {
      if (argument.empty()) return "slow needs its milliseconds (slow=500)";
      if (set_int(event.ms, argument, 0, kMaxDelayMs)) return "bad milliseconds in '" + item + "'";
    } else if (event.kind == PageEventKind::Skew) {
      // The page renderer turns sheets by at most 45 degrees either way.
      const auto degrees = parse_number(argument);
      if (!degrees || *degrees < -45 || *degrees > 45) return "skew needs its degrees, -45 to 45 (skew=2.5)";
      event.degrees = *degrees;
    } else if (event.kind == PageEventKind::Platen) {
      const auto inches = parse_number(argument);
      if (!inches || !(*inches > 0) || *inches > 1)
        return "platen needs its inches, above 0 and at most 1 (platen=0.3)";
      event.inches = *inches;
    } else if (event.kind == PageEventKind::DeviceEvent) {
      const auto code = device_event_code(argument);
      if (!code) return "device_event needs a TWDE_ name (device_event=deviceready)";
      event.device_event = *code;
    } else if (!argument.empty()) {
      return "event '" + name + "' takes no value";
    }
    events.push_back(event);
  }
  d.events = events;
  return std::nullopt;
}

using Setter = Problem (*)(DeviceConfig&, const std::string&);

struct Key {
  const char* name;
  Setter set;
};

// Every key of a [device] section (bitdepths_<type> is handled apart).
const Key kKeys[] = {
    {"product", [](DeviceConfig& d, const std::string& v) { return set_text(d.product, v); }},
    {"family", [](DeviceConfig& d, const std::string& v) { return set_text(d.family, v); }},
    {"manufacturer",
     [](DeviceConfig& d, const std::string& v) { return set_text(d.manufacturer, v); }},
    {"version", set_version},
    {"version_info",
     [](DeviceConfig& d, const std::string& v) { return set_text(d.version_info, v); }},
    {"name_overrun",
     [](DeviceConfig& d, const std::string& v) { return set_bool(d.name_overrun, v); }},
    {"flatbed", [](DeviceConfig& d, const std::string& v) { return set_bool(d.flatbed, v); }},
    {"flatbed_pages",
     [](DeviceConfig& d, const std::string& v) { return set_count(d.flatbed_pages, v); }},
    {"feeder", [](DeviceConfig& d, const std::string& v) { return set_bool(d.feeder, v); }},
    {"feeder_sheets",
     [](DeviceConfig& d, const std::string& v) { return set_count(d.feeder_sheets, v); }},
    {"feeder_enabled",
     [](DeviceConfig& d, const std::string& v) { return set_bool(d.feeder_enabled, v); }},
    {"two_sided", [](DeviceConfig& d, const std::string& v) { return set_bool(d.two_sided, v); }},
    {"duplex",
     [](DeviceConfig& d, const std::string& v) { return set_name(d.duplex, NameKind::Duplex, v); }},
    {"duplex_late",
     [](DeviceConfig& d, const std::string& v) { return set_bool(d.duplex_late, v); }},
    {"feeder_locked",
     [](DeviceConfig& d, const std::string& v) { return set_bool(d.feeder_locked, v); }},
    {"width", [](DeviceConfig& d,
                 const std::string& v) { return set_positive(d.width, v, kMaxSideInches); }},
    {"height", [](DeviceConfig& d,
                  const std::string& v) { return set_positive(d.height, v, kMaxSideInches); }},
    {"transmissive",
     [](DeviceConfig& d, const std::string& v) { return set_bool(d.transmissive, v); }},
    {"dpi_min", [](DeviceConfig& d,
                   const std::string& v) { return set_positive(d.resolution.min, v, kMaxDpi); }},
    {"dpi_max", [](DeviceConfig& d,
                   const std::string& v) { return set_positive(d.resolution.max, v, kMaxDpi); }},
    {"dpi_step", [](DeviceConfig& d,
                    const std::string& v) { return set_positive(d.resolution.step, v, kMaxDpi); }},
    {"dpi_default",
     [](DeviceConfig& d, const std::string& v) {
       return set_positive(d.resolution.preferred, v, kMaxDpi);
     }},
    {"resolutions",
     [](DeviceConfig& d, const std::string& v) {
       return set_numbers(d.resolution.list, v, kMaxDpi);
     }},
    {"pixel_types",
     [](DeviceConfig& d, const std::string& v) {
       return set_names(d.pixel_types, NameKind::PixelType, v);
     }},
    {"pixel_type",
     [](DeviceConfig& d, const std::string& v) {
       return set_name(d.pixel_type, NameKind::PixelType, v);
     }},
    {"xfer_mechs",
     [](DeviceConfig& d, const std::string& v) {
       return set_names(d.xfer_mechs, NameKind::XferMech, v);
     }},
    {"compressions",
     [](DeviceConfig& d, const std::string& v) {
       return set_names(d.compressions, NameKind::Compression, v);
     }},
    {"extended_caps",
     [](DeviceConfig& d, const std::string& v) {
       return set_names(d.extended_caps, NameKind::Capability, v);
     }},
    {"refuse_caps",
     [](DeviceConfig& d, const std::string& v) {
       return set_names(d.refused_caps, NameKind::Capability, v);
     }},
    {"refuse_values", set_refused_values},
    {"odd_containers", set_odd_containers},
    {"unsupported_cc",
     [](DeviceConfig& d, const std::string& v) {
       return set_name(d.unsupported_cc, NameKind::Condition, v);
     }},
    {"fault", set_crash_calls},
    {"open_delay_ms",
     [](DeviceConfig& d, const std::string& v) {
       return set_int(d.open_delay_ms, v, 0, kMaxDelayMs);
     }},
    {"xfer_delay_ms",
     [](DeviceConfig& d, const std::string& v) {
       return set_int(d.xfer_delay_ms, v, 0, kMaxDelayMs);
     }},
    {"settings_dialog",
     [](DeviceConfig& d, const std::string& v) -> Problem {
       if (::strcasecmp(v.c_str(), "ok") == 0) {
         d.settings_dialog_ok = true;
       } else if (::strcasecmp(v.c_str(), "cancel") == 0) {
         d.settings_dialog_ok = false;
       } else {
         return "expected ok or cancel";
       }
       return std::nullopt;
     }},
    {"dialog",
     [](DeviceConfig& d, const std::string& v) -> Problem {
       if (::strcasecmp(v.c_str(), "window") == 0) {
         d.dialog_window = true;
       } else if (::strcasecmp(v.c_str(), "none") == 0) {
         d.dialog_window = false;
       } else {
         return "expected window or none";
       }
       return std::nullopt;
     }},
    {"file_formats", set_file_formats},
    {"mem_min", [](DeviceConfig& d, const std::string& v) { return set_bytes(d.mem_min, v); }},
    {"mem_preferred",
     [](DeviceConfig& d, const std::string& v) { return set_bytes(d.mem_preferred, v); }},
    {"mem_max", [](DeviceConfig& d, const std::string& v) { return set_bytes(d.mem_max, v); }},
    {"mem_rows", set_mem_rows},
    {"mem_row_align",
     [](DeviceConfig& d, const std::string& v) { return set_int(d.mem_row_align, v, 1, 4096); }},
    {"tiles", [](DeviceConfig& d, const std::string& v) { return set_bool(d.tiles, v); }},
    {"tile_size", set_tile_size},
    {"mem_quirk", set_mem_quirk},
    {"mem_fail_block",
     [](DeviceConfig& d, const std::string& v) {
       return set_int(d.mem_fail_block, v, 0, kMaxPages);
     }},
    {"events", set_events},
    {"barcode_text",
     [](DeviceConfig& d, const std::string& v) -> Problem {
       if (::strcasecmp(v.c_str(), "str255") == 0) {
         d.barcode_text_handle = false;
       } else if (::strcasecmp(v.c_str(), "handle") == 0) {
         d.barcode_text_handle = true;
       } else {
         return "expected str255 or handle";
       }
       return std::nullopt;
     }},
    {"native_memory",
     [](DeviceConfig& d, const std::string& v) -> Problem {
       if (::strcasecmp(v.c_str(), "dsm") == 0) {
         d.native_calloc = false;
       } else if (::strcasecmp(v.c_str(), "calloc") == 0) {
         d.native_calloc = true;
       } else {
         return "expected dsm or calloc";
       }
       return std::nullopt;
     }},
    {"crash_signal",
     [](DeviceConfig& d, const std::string& v) {
       TW_UINT16 signal = 0;
       Problem problem = set_name(signal, NameKind::Signal, v);
       if (!problem) d.crash_signal = signal;
       return problem;
     }},
};

Problem apply_key(DeviceConfig& device, const std::string& key, const std::string& value) {
  if (key.rfind("bitdepths_", 0) == 0) return set_bit_depths(device, key, value);
  for (const Key& entry : kKeys) {
    if (key == entry.name) return entry.set(device, value);
  }
  return "unknown key '" + key + "'";
}

// Makes the settings of one section agree with each other.
void device_finish(DeviceConfig& d, int line, std::vector<std::string>& problems) {
  auto note = [&](const std::string& message) {
    problems.push_back("line " + std::to_string(line) + ": " + message);
  };
  if (!d.flatbed && !d.feeder) {
    note("a device needs a flatbed or a feeder; giving it a flatbed");
    d.flatbed = true;
  }
  if (!d.feeder) {
    d.feeder_enabled = false;
    d.duplex = TWDX_NONE;
  } else if (!d.flatbed) {
    d.feeder_enabled = true;
  }
  ResolutionConfig& r = d.resolution;
  if (r.min > r.max) {
    note("dpi_min above dpi_max; swapped");
    std::swap(r.min, r.max);
  }
  r.preferred = std::clamp(r.preferred, r.min, r.max);
  // The default must be a value the range offers.
  r.preferred = std::min(r.max, r.min + std::round((r.preferred - r.min) / r.step) * r.step);
  if (d.pixel_types.empty()) {
    note("no pixel types; using bw");
    d.pixel_types = {TWPT_BW};
  }
  if (!contains(d.pixel_types, d.pixel_type)) d.pixel_type = d.pixel_types.front();
  for (TW_UINT16 type : d.pixel_types) {
    if (d.bit_depths[type].empty()) d.bit_depths[type] = default_bit_depths(type);
  }
  if (d.xfer_mechs.empty()) d.xfer_mechs = {TWSX_NATIVE};
  if (d.compressions.empty()) d.compressions = {TWCP_NONE};
  if (d.mem_min > d.mem_max) {
    note("mem_min above mem_max; swapped");
    std::swap(d.mem_min, d.mem_max);
  }
  d.mem_preferred = std::clamp(d.mem_preferred, d.mem_min, d.mem_max);
}

}  // namespace

std::vector<TW_UINT16> default_bit_depths(TW_UINT16 pixel_type) {
  switch (pixel_type) {
    case TWPT_BW:
      return {1};
    case TWPT_GRAY:
      return {8, 16};
    case TWPT_RGB:
      return {24, 48};
    case TWPT_PALETTE:
      return {8};
    case TWPT_CMY:
      return {24};
    case TWPT_CMYK:
      return {32};
    default:
      return {8};
  }
}

DeviceConfig device_default() {
  DeviceConfig device;
  std::vector<std::string> ignored;
  device_finish(device, 0, ignored);
  return device;
}

Config config_parse(std::string_view text) {
  Config config;
  const IniDocument doc = ini_parse(text);
  for (const IniProblem& problem : doc.problems)
    config.problems.push_back("line " + std::to_string(problem.line) + ": " + problem.message);
  for (const IniSection& section : doc.sections) {
    if (section.name != "device") {
      config.problems.push_back("line " + std::to_string(section.line) + ": unknown section [" +
                                section.name + "] ignored");
      continue;
    }
    DeviceConfig device;
    for (const IniEntry& entry : section.entries) {
      if (Problem problem = apply_key(device, entry.key, entry.value))
        config.problems.push_back("line " + std::to_string(entry.line) + ": " + entry.key + ": " +
                                  *problem);
    }
    device_finish(device, section.line, config.problems);
    config.devices.push_back(device);
  }
  return config;
}

Config config_load() {
  const char* path = std::getenv(kConfigVariable);
  if (path == nullptr || *path == '\0') return Config{{device_default()}, {}};
  // A device or FIFO named by mistake would be read for ever or wait for
  // ever; only a regular file up to the config cap is read.
  const platform::InputText file = platform::read_config_file(path);
  Config config;
  if (file.problem != platform::InputProblem::None) {
    config.problems.push_back("cannot read the file (" +
                              platform::input_problem_text(file.problem, file.error) +
                              "); no devices");
  } else {
    config = config_parse(file.text);
  }
  for (const std::string& problem : config.problems)
    std::fprintf(stderr, "VirtualScanner: %s: %s\n", path, problem.c_str());
  return config;
}

bool device_refuses_cap(const DeviceConfig& device, TW_UINT16 cap) {
  return contains(device.refused_caps, cap);
}

bool device_refuses_value(const DeviceConfig& device, TW_UINT16 cap, double value) {
  // Values arrive as FIX32 or integers: half a FIX32 unit tells them apart.
  constexpr double kTolerance = 0.5 / 65536;
  if (cap == CAP_FEEDERENABLED && device.feeder_locked) return true;
  for (const auto& [refused_cap, refused_value] : device.refused_values) {
    if (refused_cap == cap && std::fabs(refused_value - value) <= kTolerance) return true;
  }
  return false;
}

bool device_crashes_on(const DeviceConfig& device, DsCall call) {
  return contains(device.crash_calls, call);
}

std::vector<PageEvent> device_page_events(const DeviceConfig& device, int page) {
  std::vector<PageEvent> events;
  for (const PageEvent& event : device.events) {
    if (event.page == page) events.push_back(event);
  }
  return events;
}

}  // namespace vscan
