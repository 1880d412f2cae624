#include "sources/virtual/cap_table.h"

#include <algorithm>
#include <iterator>

namespace vscan {
namespace {

// Ranges of the image controls, in their own units.
constexpr double kLevelMin = -1000, kLevelMax = 1000;  // brightness, contrast
constexpr double kGammaMin = 0.5, kGammaMax = 4.0, kGammaStep = 0.1;
constexpr double kToneMax = 255;  // threshold, shadow, highlight
constexpr double kJpegQualityMax = 100;
constexpr TW_INT16 kXferCountMax = 32767;

// Description builders.
CapValue one_value(TW_UINT16 type, double current, double default_value,
                   std::vector<double> allowed = {}) {
  CapValue v;
  v.item_type = type;
  v.shape = Shape::OneValue;
  v.current = current;
  v.default_value = default_value;
  v.items = std::move(allowed);
  return v;
}

CapValue fixed(TW_UINT16 type, double value) { return one_value(type, value, value); }

CapValue flag(bool current, bool default_value, std::vector<double> allowed = {0, 1}) {
  return one_value(TWTY_BOOL, current, default_value, std::move(allowed));
}

CapValue enumeration(TW_UINT16 type, std::vector<double> items, double current,
                     double default_value) {
  CapValue v;
  v.item_type = type;
  v.shape = Shape::Enumeration;
  v.items = std::move(items);
  v.current = current;
  v.default_value = default_value;
  return v;
}

CapValue range(TW_UINT16 type, double min, double max, double step, double current,
               double default_value) {
  CapValue v;
  v.item_type = type;
  v.shape = Shape::Range;
  v.min = min;
  v.max = max;
  v.step = step;
  v.current = current;
  v.default_value = default_value;
  return v;
}

CapValue array(std::vector<double> items, std::vector<double> default_items) {
  CapValue v;
  v.item_type = TWTY_UINT16;
  v.shape = Shape::Array;
  v.items = std::move(items);
  v.default_items = std::move(default_items);
  return v;
}

template <typename T>
std::vector<double> numbers(const T& list) {
  return std::vector<double>(std::begin(list), std::end(list));
}

// Capabilities that store one flag of the settings.
template <bool Settings::*Field>
CapValue describe_flag(const Session& s, const DeviceConfig&) {
  return flag(s.settings.*Field, s.defaults.*Field);
}

template <bool Settings::*Field>
void store_flag(Session& s, const DeviceConfig&, double value) {
  s.settings.*Field = value != 0;
}

// Capabilities that store one TWAIN code of the settings.
template <TW_UINT16 Settings::*Field>
void store_code(Session& s, const DeviceConfig&, double value) {
  s.settings.*Field = static_cast<TW_UINT16>(value);
}

template <double Settings::*Field>
void store_level(Session& s, const DeviceConfig&, double value) {
  s.settings.*Field = value;
}

bool has_feeder(const DeviceConfig& d) { return d.feeder; }
bool has_duplex(const DeviceConfig& d) { return d.duplex != TWDX_NONE; }

// Resolutions: offered in the current units, stored per inch.
template <double Settings::*Field>
CapValue describe_resolution(const Session& s, const DeviceConfig& d) {
  const TW_UINT16 units = s.settings.units;
  const double current = resolution_to_units(s.settings.*Field, units);
  const double default_value = resolution_to_units(s.defaults.*Field, units);
  const ResolutionConfig& r = d.resolution;
  if (r.list.empty()) {
    return range(TWTY_FIX32, resolution_to_units(r.min, units), resolution_to_units(r.max, units),
                 resolution_to_units(r.step, units), current, default_value);
  }
  std::vector<double> items;
  for (double dpi : r.list) items.push_back(resolution_to_units(dpi, units));
  return enumeration(TWTY_FIX32, items, current, default_value);
}

template <double Settings::*Field>
void store_resolution(Session& s, const DeviceConfig&, double value) {
  s.settings.*Field = resolution_from_units(value, s.settings.units);
}

Frame frame_to_units(const Frame& f, const Settings& s) {
  return Frame{length_to_units(f.left, s.units, s.x_dpi), length_to_units(f.top, s.units, s.y_dpi),
               length_to_units(f.right, s.units, s.x_dpi),
               length_to_units(f.bottom, s.units, s.y_dpi)};
}

Frame frame_from_units(const Frame& f, const Settings& s) {
  return Frame{
      length_from_units(f.left, s.units, s.x_dpi), length_from_units(f.top, s.units, s.y_dpi),
      length_from_units(f.right, s.units, s.x_dpi), length_from_units(f.bottom, s.units, s.y_dpi)};
}

CapValue describe_frames(const Session& s, const DeviceConfig& d) {
  CapValue v;
  v.item_type = TWTY_FRAME;
  v.shape = Shape::Enumeration;
  v.current_frame = frame_to_units(s.settings.frame, s.settings);
  v.default_frame = frame_to_units(frame_full(d), s.settings);
  v.frames = {v.current_frame};
  return v;
}

// One frame (the device has no multiple frames): a one value, or the current
// item of an enumeration or the first of an array; a frame reaching outside
// the scan area is cut to it.
Reply set_frames(Session& s, const DeviceConfig& d, const AppContainer& c) {
  if (c.item_type != TWTY_FRAME || c.frames.empty() || c.kind == TWON_RANGE)
    return refuse(TWCC_BADVALUE);
  const std::size_t index =
      c.kind == TWON_ENUMERATION && c.current_index < c.frames.size() ? c.current_index : 0;
  Frame frame = frame_from_units(c.frames[index], s.settings);
  const FrameFit fit = frame_fit(d, frame);
  if (fit == FrameFit::Invalid) return refuse(TWCC_BADVALUE);
  s.settings.frame = frame;
  s.settings.paper_size = TWSS_NONE;
  const bool exact = fit == FrameFit::Exact && c.frames.size() == 1;
  return exact ? kDone : Reply{TWRC_CHECKSTATUS, TWCC_SUCCESS};
}

void reset_frames(Session& s, const DeviceConfig& d) {
  s.settings.frame = frame_full(d);
  s.settings.paper_size = TWSS_NONE;
}

void store_paper_size(Session& s, const DeviceConfig&, double value) {
  const auto code = static_cast<TW_UINT16>(value);
  s.settings.paper_size = code;
  if (const auto size = paper_size(code)) s.settings.frame = Frame{0, 0, size->width, size->height};
}

CapValue describe_bit_depth(const Session& s, const DeviceConfig& d) {
  const TW_UINT16 type = s.settings.pixel_type;
  return enumeration(TWTY_UINT16, numbers(d.bit_depths.at(type)), s.settings.bit_depth.at(type),
                     s.defaults.bit_depth.at(type));
}

void store_pixel_type(Session& s, const DeviceConfig&, double value) {
  s.settings.pixel_type = static_cast<TW_UINT16>(value);
  // The depths on offer are the new type's; a narrowing of the old ones no
  // longer applies.
  s.settings.constraints.erase(ICAP_BITDEPTH);
}

// The application may negotiate these after enabling only if the device
// allows it.
Reply set_extended_caps(Session& s, const DeviceConfig& d, const AppContainer& c) {
  if (c.kind == TWON_RANGE) return refuse(TWCC_BADVALUE);
  std::vector<TW_UINT16> caps;
  for (double item : c.items) {
    const auto cap = static_cast<TW_UINT16>(item);
    if (std::find(d.extended_caps.begin(), d.extended_caps.end(), cap) == d.extended_caps.end() ||
        !cap_offered(d, cap))
      return refuse(TWCC_BADVALUE);
    caps.push_back(cap);
  }
  s.settings.extended_caps = caps;
  return kDone;
}

const CapDef kCaps[] = {
    {.cap = CAP_XFERCOUNT,
     .describe =
         [](const Session& s, const DeviceConfig&) {
           return one_value(TWTY_INT16, s.settings.xfer_count, s.defaults.xfer_count);
         },
     .store = [](Session& s, const DeviceConfig&,
                 double v) { s.settings.xfer_count = static_cast<TW_INT16>(v); },
     .check = [](const Session&, const DeviceConfig&, double v) -> TW_UINT16 {
       return v == -1 || (v >= 1 && v <= kXferCountMax) ? TWCC_SUCCESS : TWCC_BADVALUE;
     }},
    {.cap = ICAP_COMPRESSION,
     .describe =
         [](const Session& s, const DeviceConfig& d) {
           return enumeration(TWTY_UINT16, numbers(d.compressions), s.settings.compression,
                              s.defaults.compression);
         },
     .store = store_code<&Settings::compression>},
    {.cap = ICAP_PIXELTYPE,
     .describe =
         [](const Session& s, const DeviceConfig& d) {
           return enumeration(TWTY_UINT16, numbers(d.pixel_types), s.settings.pixel_type,
                              s.defaults.pixel_type);
         },
     .store = store_pixel_type},
    {.cap = ICAP_UNITS,
     .describe =
         [](const Session& s, const DeviceConfig&) {
           return enumeration(TWTY_UINT16, numbers(units_offered()), s.settings.units,
                              s.defaults.units);
         },
     .store = store_code<&Settings::units>},
    {.cap = ICAP_XFERMECH,
     .describe =
         [](const Session& s, const DeviceConfig& d) {
           return enumeration(TWTY_UINT16, numbers(d.xfer_mechs), s.settings.xfer_mech,
                              s.defaults.xfer_mech);
         },
     .store = store_code<&Settings::xfer_mech>},
    {.cap = CAP_FEEDERENABLED,
     .present = has_feeder,
     .describe =
         [](const Session& s, const DeviceConfig& d) {
           // Without a flatbed the feeder cannot be switched off.
           return flag(s.settings.feeder_enabled, s.defaults.feeder_enabled,
                       d.flatbed ? std::vector<double>{0, 1} : std::vector<double>{1});
         },
     .store = store_flag<&Settings::feeder_enabled>},
    {.cap = CAP_FEEDERLOADED,
     .read_only = true,
     .present = has_feeder,
     .describe = [](const Session& s,
                    const DeviceConfig&) { return fixed(TWTY_BOOL, s.feeder_sheets > 0); }},
    {.cap = CAP_SUPPORTEDCAPS,
     .read_only = true,
     .describe =
         [](const Session&, const DeviceConfig& d) {
           const std::vector<double> caps = numbers(caps_offered(d));
           return array(caps, caps);
         }},
    {.cap = CAP_EXTENDEDCAPS,
     .describe = [](const Session& s,
                    const DeviceConfig&) { return array(numbers(s.settings.extended_caps), {}); },
     .set_container = set_extended_caps,
     .reset = [](Session& s, const DeviceConfig&) { s.settings.extended_caps.clear(); }},
    {.cap = CAP_AUTOFEED,
     .present = has_feeder,
     .describe = describe_flag<&Settings::auto_feed>,
     .store = store_flag<&Settings::auto_feed>},
    {.cap = CAP_INDICATORS,
     .describe = describe_flag<&Settings::indicators>,
     .store = store_flag<&Settings::indicators>},
    {.cap = CAP_PAPERDETECTABLE,
     .read_only = true,
     .present = has_feeder,
     .describe = [](const Session&, const DeviceConfig&) { return fixed(TWTY_BOOL, 1); }},
    {.cap = CAP_DEVICEONLINE,
     .read_only = true,
     // A device that answers at all is on line; its off-line moments are
     // failed transfers (the `offline` page event).
     .describe = [](const Session&, const DeviceConfig&) { return fixed(TWTY_BOOL, 1); }},
    {.cap = CAP_UICONTROLLABLE,
     .read_only = true,
     .describe = [](const Session&, const DeviceConfig&) { return fixed(TWTY_BOOL, 1); }},
    {.cap = CAP_AUTOSCAN,
     .present = has_feeder,
     .describe = describe_flag<&Settings::auto_scan>,
     .store = store_flag<&Settings::auto_scan>},
    {.cap = CAP_DUPLEX,
     .read_only = true,
     .describe =
         [](const Session& s, const DeviceConfig& d) {
           const bool asleep = d.duplex_late && s.duplex_reads <= 1;
           return fixed(TWTY_UINT16, asleep ? TW_UINT16{TWDX_NONE} : d.duplex);
         }},
    {.cap = CAP_DUPLEXENABLED,
     .present = has_duplex,
     .describe = describe_flag<&Settings::duplex_enabled>,
     .store = store_flag<&Settings::duplex_enabled>},
    {.cap = ICAP_AUTOBRIGHT,
     .describe = describe_flag<&Settings::auto_bright>,
     .store = store_flag<&Settings::auto_bright>},
    {.cap = ICAP_BRIGHTNESS,
     .describe =
         [](const Session& s, const DeviceConfig&) {
           return range(TWTY_FIX32, kLevelMin, kLevelMax, 1, s.settings.brightness,
                        s.defaults.brightness);
         },
     .store = store_level<&Settings::brightness>},
    {.cap = ICAP_CONTRAST,
     .describe =
         [](const Session& s, const DeviceConfig&) {
           return range(TWTY_FIX32, kLevelMin, kLevelMax, 1, s.settings.contrast,
                        s.defaults.contrast);
         },
     .store = store_level<&Settings::contrast>},
    {.cap = ICAP_GAMMA,
     .describe =
         [](const Session& s, const DeviceConfig&) {
           return range(TWTY_FIX32, kGammaMin, kGammaMax, kGammaStep, s.settings.gamma,
                        s.defaults.gamma);
         },
     .store = store_level<&Settings::gamma>},
    {.cap = ICAP_HIGHLIGHT,
     .describe =
         [](const Session& s, const DeviceConfig&) {
           return range(TWTY_FIX32, 0, kToneMax, 1, s.settings.highlight, s.defaults.highlight);
         },
     .store = store_level<&Settings::highlight>},
    {.cap = ICAP_PHYSICALWIDTH,
     .read_only = true,
     .describe =
         [](const Session& s, const DeviceConfig& d) {
           return fixed(TWTY_FIX32, length_to_units(d.width, s.settings.units, s.settings.x_dpi));
         }},
    {.cap = ICAP_PHYSICALHEIGHT,
     .read_only = true,
     .describe =
         [](const Session& s, const DeviceConfig& d) {
           return fixed(TWTY_FIX32, length_to_units(d.height, s.settings.units, s.settings.y_dpi));
         }},
    {.cap = ICAP_SHADOW,
     .describe =
         [](const Session& s, const DeviceConfig&) {
           return range(TWTY_FIX32, 0, kToneMax, 1, s.settings.shadow, s.defaults.shadow);
         },
     .store = store_level<&Settings::shadow>},
    {.cap = ICAP_FRAMES,
     .describe = describe_frames,
     .set_container = set_frames,
     .reset = reset_frames},
    {.cap = ICAP_XRESOLUTION,
     .nearest = true,
     .describe = describe_resolution<&Settings::x_dpi>,
     .store = store_resolution<&Settings::x_dpi>},
    {.cap = ICAP_YRESOLUTION,
     .nearest = true,
     .describe = describe_resolution<&Settings::y_dpi>,
     .store = store_resolution<&Settings::y_dpi>},
    {.cap = ICAP_TILES,
     .describe =
         [](const Session& s, const DeviceConfig& d) {
           // Tiled memory transfers only where the device is configured for
           // them.
           return flag(s.settings.tiles, s.defaults.tiles,
                       d.tiles ? std::vector<double>{0, 1} : std::vector<double>{0});
         },
     .store = store_flag<&Settings::tiles>},
    {.cap = ICAP_LIGHTPATH,
     .describe =
         [](const Session& s, const DeviceConfig& d) {
           std::vector<double> paths{TWLP_REFLECTIVE};
           if (d.transmissive) paths.push_back(TWLP_TRANSMISSIVE);
           return enumeration(TWTY_UINT16, paths, s.settings.light_path, s.defaults.light_path);
         },
     .store = store_code<&Settings::light_path>},
    {.cap = ICAP_BITORDER,
     // Black-and-white rows always leave the device most significant bit
     // first; that is the one order offered.
     .describe =
         [](const Session&, const DeviceConfig&) {
           return enumeration(TWTY_UINT16, {TWBO_MSBFIRST}, TWBO_MSBFIRST, TWBO_MSBFIRST);
         },
     .store = [](Session&, const DeviceConfig&, double) {}},
    {.cap = ICAP_PIXELFLAVOR,
     .describe =
         [](const Session& s, const DeviceConfig&) {
           return enumeration(TWTY_UINT16, {TWPF_CHOCOLATE, TWPF_VANILLA}, s.settings.pixel_flavor,
                              s.defaults.pixel_flavor);
         },
     .store = store_code<&Settings::pixel_flavor>},
    {.cap = ICAP_PLANARCHUNKY,
     .describe =
         [](const Session& s, const DeviceConfig&) {
           return enumeration(TWTY_UINT16, {TWPC_CHUNKY, TWPC_PLANAR}, s.settings.planar_chunky,
                              s.defaults.planar_chunky);
         },
     .store = store_code<&Settings::planar_chunky>},
    {.cap = ICAP_SUPPORTEDSIZES,
     .describe =
         [](const Session& s, const DeviceConfig& d) {
           return enumeration(TWTY_UINT16, numbers(paper_sizes_for(d)), s.settings.paper_size,
                              s.defaults.paper_size);
         },
     .store = store_paper_size},
    {.cap = ICAP_THRESHOLD,
     .describe =
         [](const Session& s, const DeviceConfig&) {
           return range(TWTY_FIX32, 0, kToneMax, 1, s.settings.threshold, s.defaults.threshold);
         },
     .store = store_level<&Settings::threshold>},
    {.cap = ICAP_BITDEPTH,
     .describe = describe_bit_depth,
     .store =
         [](Session& s, const DeviceConfig&, double v) {
           s.settings.bit_depth[s.settings.pixel_type] = static_cast<TW_UINT16>(v);
         }},
    {.cap = ICAP_UNDEFINEDIMAGESIZE,
     .describe = describe_flag<&Settings::undefined_image_size>,
     .store = store_flag<&Settings::undefined_image_size>},
    {.cap = ICAP_EXTIMAGEINFO,
     .describe = describe_flag<&Settings::ext_image_info>,
     .store = store_flag<&Settings::ext_image_info>},
    {.cap = ICAP_AUTOMATICDESKEW,
     .describe = describe_flag<&Settings::automatic_deskew>,
     .store = store_flag<&Settings::automatic_deskew>},
    {.cap = ICAP_IMAGEFILEFORMAT,
     .present =
         [](const DeviceConfig& d) {
           return std::find(d.xfer_mechs.begin(), d.xfer_mechs.end(), TWSX_FILE) !=
                  d.xfer_mechs.end();
         },
     .describe =
         [](const Session& s, const DeviceConfig& d) {
           return enumeration(TWTY_UINT16, numbers(d.file_formats), s.settings.file_format,
                              s.defaults.file_format);
         },
     .store = store_code<&Settings::file_format>},
    {.cap = ICAP_JPEGQUALITY,
     .describe =
         [](const Session& s, const DeviceConfig&) {
           return range(TWTY_INT16, 0, kJpegQualityMax, 1, s.settings.jpeg_quality,
                        s.defaults.jpeg_quality);
         },
     .store = store_level<&Settings::jpeg_quality>},
};

}  // namespace

const CapDef* cap_find(TW_UINT16 cap) {
  for (const CapDef& def : kCaps) {
    if (def.cap == cap) return &def;
  }
  return nullptr;
}

bool cap_offered(const DeviceConfig& device, TW_UINT16 cap) {
  const CapDef* def = cap_find(cap);
  return def != nullptr && (def->present == nullptr || def->present(device)) &&
         !device_refuses_cap(device, cap);
}

std::vector<TW_UINT16> caps_offered(const DeviceConfig& device) {
  std::vector<TW_UINT16> caps;
  for (const CapDef& def : kCaps) {
    if (cap_offered(device, def.cap)) caps.push_back(def.cap);
  }
  return caps;
}

}  // namespace vscan
