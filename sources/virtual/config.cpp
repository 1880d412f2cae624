#include "sources/virtual/config.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>

#include "sources/virtual/ini.h"
#include "sources/virtual/names.h"

namespace vscan {
namespace {

constexpr const char* kConfigVariable = "QUILLET_VSCAN";
constexpr double kMaxSideInches = 100;
constexpr double kMaxDpi = 19200;
constexpr int kMaxPages = 1000000;
constexpr std::size_t kMaxTextLength = 255;

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

template <typename T>
bool contains(const std::vector<T>& list, T value) {
  return std::find(list.begin(), list.end(), value) != list.end();
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
  std::ifstream in(path, std::ios::binary);
  Config config;
  if (!in) {
    config.problems.push_back("cannot read the file; no devices");
  } else {
    std::ostringstream text;
    text << in.rdbuf();
    config = config_parse(text.str());
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

}  // namespace vscan
