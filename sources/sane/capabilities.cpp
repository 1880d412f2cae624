// DG_CONTROL / DAT_CAPABILITY and DG_IMAGE / DAT_IMAGELAYOUT over a SANE
// device: each capability exists when the device has the option behind it,
// and offers what that option's constraint allows. A capability the device
// lacks is refused as a TWAIN device refuses it (TWCC_CAPUNSUPPORTED).
//
// Values are taken in state 4 and kept in the session's settings; the device
// is programmed with all of them when it is enabled. A value between those
// offered is taken as the nearest (TWRC_CHECKSTATUS) for resolutions and the
// steps of every range; anything else is refused with TWCC_BADVALUE.
#include <algorithm>
#include <cmath>

#include "sources/sane/session.h"

namespace sanebridge {
namespace {

using twsource::AppContainer;
using twsource::ValueWanted;

struct CapDef {
  TW_UINT16 cap;
  bool read_only;
  bool nearest;
  bool (*present)(const DeviceModel&);
  CapValue (*describe)(const Session&);
  // Stores a value the negotiation accepted; TWCC_SUCCESS or the refusal.
  TW_UINT16 (*store)(Session&, double);
};

bool always(const DeviceModel&) { return true; }
bool has_feeder(const DeviceModel& m) {
  return !m.source_feeder.empty() || !m.source_duplex.empty();
}
bool has_duplex(const DeviceModel& m) { return !m.source_duplex.empty(); }
bool has_resolution(const DeviceModel& m) { return m.resolution.present; }
bool has_geometry(const DeviceModel& m) { return m.has_geometry; }
bool has_brightness(const DeviceModel& m) { return m.brightness.present; }
bool has_contrast(const DeviceModel& m) { return m.contrast.present; }
bool has_threshold(const DeviceModel& m) { return m.threshold.present; }
bool has_gamma(const DeviceModel& m) { return m.gamma.present; }
bool has_feeder_sensor(const DeviceModel& m) { return has_feeder(m) && m.has_page_sensor; }

CapValue list_of(TW_UINT16 type, std::vector<double> items, double current, double def) {
  CapValue v;
  v.item_type = type;
  v.shape = Shape::Enumeration;
  v.items = std::move(items);
  v.current = current;
  v.default_value = def;
  return v;
}

CapValue one(TW_UINT16 type, double current, double def, std::vector<double> allowed = {}) {
  CapValue v;
  v.item_type = type;
  v.current = current;
  v.default_value = def;
  v.items = std::move(allowed);
  return v;
}

CapValue range(double min, double max, double step, double current, double def) {
  CapValue v;
  v.item_type = TWTY_FIX32;
  v.shape = Shape::Range;
  v.min = min;
  v.max = max;
  v.step = step;
  v.current = current;
  v.default_value = def;
  return v;
}

// Resolutions in the current units: per inch with pixels.
double res_factor(const Settings& s) {
  return s.units == TWUN_PIXELS ? 1 : units_per_inch(s.units, s.dpi);
}
double length_factor(const Settings& s) { return units_per_inch(s.units, s.dpi); }

CapValue describe_dpi(const NumberChoices& c, double f, double current, double def) {
  if (c.is_list) {
    std::vector<double> items;
    for (double d : c.list) items.push_back(d / f);
    return list_of(TWTY_FIX32, items, current / f, def / f);
  }
  const double step = c.quant > 0 ? c.quant : 1;
  return range(c.min / f, c.max / f, step / f, current / f, def / f);
}

// Both axes are the one "resolution" option unless the device has a
// "y-resolution" of its own.
bool separate_y(const Session& ss) { return ss.model.y_resolution.present; }

CapValue describe_resolution(const Session& ss) {
  return describe_dpi(ss.model.resolution.choices, res_factor(ss.settings), ss.settings.dpi,
                      ss.defaults.dpi);
}

CapValue describe_y_resolution(const Session& ss) {
  if (!separate_y(ss)) return describe_resolution(ss);
  return describe_dpi(ss.model.y_resolution.choices, res_factor(ss.settings), ss.settings.y_dpi(),
                      ss.defaults.y_dpi());
}

TW_UINT16 store_resolution(Session& ss, double value) {
  const double dpi = value * res_factor(ss.settings);
  if (dpi <= 0) return TWCC_BADVALUE;
  ss.settings.dpi = dpi;
  return TWCC_SUCCESS;
}

TW_UINT16 store_y_resolution(Session& ss, double value) {
  if (!separate_y(ss)) return store_resolution(ss, value);
  const double dpi = value * res_factor(ss.settings);
  if (dpi <= 0) return TWCC_BADVALUE;
  ss.settings.dpi_y = dpi;
  return TWCC_SUCCESS;
}

CapValue describe_gamma(const Session& ss) {
  const NumberChoices& c = ss.model.gamma.choices;
  const double current = ss.settings.gamma.value_or(ss.model.gamma.initial);
  if (c.is_list) return list_of(TWTY_FIX32, c.list, current, ss.model.gamma.initial);
  return range(c.min, c.max, c.quant > 0 ? c.quant : 0.01, current, ss.model.gamma.initial);
}
TW_UINT16 store_gamma(Session& ss, double value) {
  ss.settings.gamma = value;
  return TWCC_SUCCESS;
}

// The standard sizes that fit the bed; a size puts the scan area at the top
// left corner.
CapValue describe_sizes(const Session& ss) {
  const Frame bed = model_full_frame(ss.model);
  std::vector<double> codes;
  for (TW_UINT16 code : twsource::paper_sizes_fitting(bed.right, bed.bottom)) codes.push_back(code);
  return list_of(TWTY_UINT16, codes, ss.settings.paper_size, TWSS_NONE);
}
TW_UINT16 store_size(Session& ss, double value) {
  const auto code = static_cast<TW_UINT16>(value);
  if (const auto size = twsource::paper_size(code)) {
    const auto frame =
        model_snap_frame(ss.model, Frame{0, 0, size->width, size->height}, ss.settings.dpi);
    if (!frame) return TWCC_BADVALUE;
    ss.settings.frame = *frame;
  }
  ss.settings.paper_size = code;
  return TWCC_SUCCESS;
}

// Paper in the feeder, as the device's sensor says when asked.
CapValue describe_feeder_loaded(const Session& ss) {
  const bool loaded = model_paper_loaded(ss.device->handle(), ss.model).value_or(false);
  return one(TWTY_BOOL, loaded, loaded);
}
CapValue describe_paper_detectable(const Session& ss) {
  return one(TWTY_BOOL, ss.model.has_page_sensor, ss.model.has_page_sensor);
}

CapValue describe_pixel_type(const Session& ss) {
  std::vector<double> types;
  for (const auto& [type, name] : ss.model.modes) types.push_back(type);
  return list_of(TWTY_UINT16, types, ss.settings.pixel_type, ss.defaults.pixel_type);
}

TW_UINT16 store_pixel_type(Session& ss, double value) {
  ss.settings.pixel_type = static_cast<TW_UINT16>(value);
  return TWCC_SUCCESS;
}

CapValue describe_bit_depth(const Session& ss) {
  const TW_UINT16 type = ss.settings.pixel_type;
  std::vector<double> depths;
  for (int d : model_depths(ss.model, type)) depths.push_back(d);
  const auto cur = ss.settings.bit_depth.find(type);
  const double current = cur != ss.settings.bit_depth.end() ? cur->second : depths.front();
  return list_of(TWTY_UINT16, depths, current, depths.front());
}

TW_UINT16 store_bit_depth(Session& ss, double value) {
  ss.settings.bit_depth[ss.settings.pixel_type] = static_cast<int>(value);
  return TWCC_SUCCESS;
}

CapValue describe_units(const Session& ss) {
  return list_of(TWTY_UINT16, {0, 1, 2, 3, 4, 5, 6}, ss.settings.units, TWUN_INCHES);
}
TW_UINT16 store_units(Session& ss, double value) {
  ss.settings.units = static_cast<TW_UINT16>(value);
  return TWCC_SUCCESS;
}

CapValue describe_xfer_mech(const Session& ss) {
  return list_of(TWTY_UINT16, {TWSX_NATIVE, TWSX_MEMORY}, ss.settings.xfer_mech, TWSX_NATIVE);
}
TW_UINT16 store_xfer_mech(Session& ss, double value) {
  ss.settings.xfer_mech = static_cast<TW_UINT16>(value);
  return TWCC_SUCCESS;
}

CapValue describe_xfer_count(const Session& ss) {
  return one(TWTY_INT16, ss.settings.xfer_count, -1);
}
TW_UINT16 store_xfer_count(Session& ss, double value) {
  if (value != -1 && (value < 1 || value > 32767)) return TWCC_BADVALUE;
  ss.settings.xfer_count = static_cast<int>(value);
  return TWCC_SUCCESS;
}

CapValue describe_feeder(const Session& ss) {
  std::vector<double> allowed{1};
  if (!ss.model.source_flatbed.empty()) allowed.insert(allowed.begin(), 0);
  return one(TWTY_BOOL, ss.settings.feeder, ss.defaults.feeder, allowed);
}
TW_UINT16 store_feeder(Session& ss, double value) {
  ss.settings.feeder = value != 0;
  return TWCC_SUCCESS;
}

CapValue describe_duplex_enabled(const Session& ss) {
  return one(TWTY_BOOL, ss.settings.duplex, false, {0, 1});
}
TW_UINT16 store_duplex_enabled(Session& ss, double value) {
  ss.settings.duplex = value != 0;
  return TWCC_SUCCESS;
}

CapValue describe_duplex(const Session& ss) {
  const double kind = has_duplex(ss.model) ? TWDX_1PASSDUPLEX : TWDX_NONE;
  return one(TWTY_UINT16, kind, kind);
}

CapValue describe_true(const Session&) { return one(TWTY_BOOL, 1, 1); }

CapValue describe_physical_width(const Session& ss) {
  const double w = model_full_frame(ss.model).right * length_factor(ss.settings);
  return one(TWTY_FIX32, w, w);
}
CapValue describe_physical_height(const Session& ss) {
  const double h = model_full_frame(ss.model).bottom * length_factor(ss.settings);
  return one(TWTY_FIX32, h, h);
}

// The levels the device offers through its own option's range.
template <std::optional<double> Settings::*Field, double Low, double High, double Default>
CapValue describe_level(const Session& ss) {
  return range(Low, High, 1, (ss.settings.*Field).value_or(Default), Default);
}
template <std::optional<double> Settings::*Field>
TW_UINT16 store_level(Session& ss, double value) {
  ss.settings.*Field = value;
  return TWCC_SUCCESS;
}

// Capabilities the device answers with its only way.
template <TW_UINT16 Value>
CapValue describe_fixed(const Session&) {
  return list_of(TWTY_UINT16, {Value}, Value, Value);
}
TW_UINT16 store_nothing(Session&, double) { return TWCC_SUCCESS; }

CapValue describe_supported(const Session& ss);

constexpr CapDef kCaps[] = {
    {CAP_SUPPORTEDCAPS, true, false, always, describe_supported, nullptr},
    {CAP_XFERCOUNT, false, false, always, describe_xfer_count, store_xfer_count},
    {CAP_UICONTROLLABLE, true, false, always, describe_true, nullptr},
    {CAP_DEVICEONLINE, true, false, always, describe_true, nullptr},
    {CAP_FEEDERENABLED, false, false, has_feeder, describe_feeder, store_feeder},
    {CAP_DUPLEX, true, false, has_feeder, describe_duplex, nullptr},
    {CAP_DUPLEXENABLED, false, false, has_duplex, describe_duplex_enabled, store_duplex_enabled},
    {ICAP_XFERMECH, false, false, always, describe_xfer_mech, store_xfer_mech},
    {ICAP_UNITS, false, false, always, describe_units, store_units},
    {ICAP_PIXELTYPE, false, false, always, describe_pixel_type, store_pixel_type},
    {ICAP_BITDEPTH, false, false, always, describe_bit_depth, store_bit_depth},
    {ICAP_XRESOLUTION, false, true, has_resolution, describe_resolution, store_resolution},
    {ICAP_YRESOLUTION, false, true, has_resolution, describe_y_resolution, store_y_resolution},
    {ICAP_SUPPORTEDSIZES, false, false, has_geometry, describe_sizes, store_size},
    {CAP_FEEDERLOADED, true, false, has_feeder_sensor, describe_feeder_loaded, nullptr},
    {CAP_PAPERDETECTABLE, true, false, always, describe_paper_detectable, nullptr},
    {ICAP_GAMMA, false, true, has_gamma, describe_gamma, store_gamma},
    {ICAP_PHYSICALWIDTH, true, false, has_geometry, describe_physical_width, nullptr},
    {ICAP_PHYSICALHEIGHT, true, false, has_geometry, describe_physical_height, nullptr},
    {ICAP_FRAMES, false, false, has_geometry, nullptr, nullptr},
    {ICAP_COMPRESSION, false, false, always, describe_fixed<TWCP_NONE>, store_nothing},
    {ICAP_PLANARCHUNKY, false, false, always, describe_fixed<TWPC_CHUNKY>, store_nothing},
    {ICAP_PIXELFLAVOR, false, false, always, describe_fixed<TWPF_CHOCOLATE>, store_nothing},
    {ICAP_BITORDER, false, false, always, describe_fixed<TWBO_MSBFIRST>, store_nothing},
    {ICAP_BRIGHTNESS, false, true, has_brightness,
     describe_level<&Settings::brightness, -1000.0, 1000.0, 0.0>, store_level<&Settings::brightness>},
    {ICAP_CONTRAST, false, true, has_contrast, describe_level<&Settings::contrast, -1000.0, 1000.0, 0.0>,
     store_level<&Settings::contrast>},
    {ICAP_THRESHOLD, false, true, has_threshold, describe_level<&Settings::threshold, 0.0, 255.0, 128.0>,
     store_level<&Settings::threshold>},
};

const CapDef* cap_find(const DeviceModel& model, TW_UINT16 cap) {
  for (const CapDef& def : kCaps) {
    if (def.cap == cap) return def.present(model) ? &def : nullptr;
  }
  return nullptr;
}

CapValue describe_supported(const Session& ss) {
  CapValue v;
  v.item_type = TWTY_UINT16;
  v.shape = Shape::Array;
  for (const CapDef& def : kCaps) {
    if (def.present(ss.model)) v.items.push_back(def.cap);
  }
  v.default_items = v.items;
  return v;
}

// The scan area in the current units.
Frame frame_out(const Frame& f, const Settings& s) {
  const double k = length_factor(s);
  return Frame{f.left * k, f.top * k, f.right * k, f.bottom * k};
}
Frame frame_in(const Frame& f, const Settings& s) {
  const double k = length_factor(s);
  return Frame{f.left / k, f.top / k, f.right / k, f.bottom / k};
}

CapValue describe_frames(const Session& ss) {
  CapValue v;
  v.item_type = TWTY_FRAME;
  v.shape = Shape::Enumeration;
  v.current_frame = frame_out(ss.settings.frame, ss.settings);
  v.default_frame = frame_out(ss.defaults.frame, ss.settings);
  v.frames = {v.current_frame};
  return v;
}

// A scan area from the application: snapped to the device's steps.
Reply frame_set(Session& ss, const Frame& wanted_units) {
  const Frame wanted = frame_in(wanted_units, ss.settings);
  const auto snapped = model_snap_frame(ss.model, wanted, ss.settings.dpi);
  if (!snapped) return refuse(TWCC_BADVALUE);
  ss.settings.frame = *snapped;
  ss.settings.paper_size = TWSS_NONE;
  const double tol = 1.0 / 65536;
  const Frame back = frame_out(*snapped, ss.settings);
  const bool exact = std::fabs(back.left - wanted_units.left) <= tol &&
                     std::fabs(back.top - wanted_units.top) <= tol &&
                     std::fabs(back.right - wanted_units.right) <= tol &&
                     std::fabs(back.bottom - wanted_units.bottom) <= tol;
  return exact ? kDone : kNearest;
}

CapValue describe(const CapDef& def, const Session& ss) {
  return def.cap == ICAP_FRAMES ? describe_frames(ss) : def.describe(ss);
}

double tolerance(TW_UINT16 type) { return type == TWTY_FIX32 ? 1.0 / 65536 : 1e-9; }

std::optional<double> offered(const std::vector<double>& items, double value, double tol) {
  for (double item : items) {
    if (std::fabs(item - value) <= tol) return item;
  }
  return std::nullopt;
}

Reply set_value(const CapDef& def, Session& ss, double wanted) {
  const CapValue v = describe(def, ss);
  const double tol = tolerance(v.item_type);
  double value = wanted;
  bool exact = true;
  if (v.shape == Shape::Range) {
    if (wanted < v.min - tol || wanted > v.max + tol) return refuse(TWCC_BADVALUE);
    value = std::min(v.max, v.min + std::round((wanted - v.min) / v.step) * v.step);
    exact = std::fabs(value - wanted) <= tol;
  } else if (!v.items.empty()) {
    if (const auto match = offered(v.items, wanted, tol)) {
      value = *match;
    } else {
      const auto [lo, hi] = std::minmax_element(v.items.begin(), v.items.end());
      if (!def.nearest || wanted < *lo || wanted > *hi) return refuse(TWCC_BADVALUE);
      value = *std::min_element(v.items.begin(), v.items.end(), [&](double a, double b) {
        return std::fabs(a - wanted) < std::fabs(b - wanted);
      });
      exact = false;
    }
  }
  if (TW_UINT16 cc = def.store(ss, value)) return refuse(cc);
  return exact ? kDone : kNearest;
}

Reply set_container(const CapDef& def, Session& ss, const AppContainer& c) {
  if (def.cap == ICAP_FRAMES) {
    if (c.frames.empty()) return refuse(TWCC_BADVALUE);
    const std::size_t i = c.kind == TWON_ENUMERATION ? c.current_index : 0;
    return frame_set(ss, c.frames[std::min(i, c.frames.size() - 1)]);
  }
  if (c.items.empty() || c.item_type == TWTY_FRAME) return refuse(TWCC_BADVALUE);
  if (c.kind == TWON_ONEVALUE) return set_value(def, ss, c.items.front());
  if (c.kind != TWON_ENUMERATION && c.kind != TWON_ARRAY) return refuse(TWCC_BADVALUE);
  // A list of values: every one must be on offer; its current one is taken.
  const CapValue v = describe(def, ss);
  for (double item : c.items) {
    if (!offered(v.items, item, tolerance(v.item_type))) return refuse(TWCC_BADVALUE);
  }
  const std::size_t i = c.kind == TWON_ENUMERATION ? c.current_index : 0;
  return set_value(def, ss, c.items[std::min(i, c.items.size() - 1)]);
}

Reply answer_get(const CapDef& def, Session& ss, const DsmMemory& memory, ValueWanted wanted,
                 TW_CAPABILITY& cap) {
  const CapValue v = describe(def, ss);
  const TW_UINT16 kind = wanted == ValueWanted::All || v.shape == Shape::Array
                             ? static_cast<TW_UINT16>(v.shape)
                             : TW_UINT16{TWON_ONEVALUE};
  TW_UINT16 built = kind;
  TW_HANDLE handle = twsource::container_build(memory, v, kind, wanted, built);
  if (handle == nullptr) return refuse(TWCC_LOWMEMORY);
  cap.ConType = built;
  cap.hContainer = handle;
  return kDone;
}

void reset_one(const CapDef& def, Session& ss) {
  if (def.cap == ICAP_FRAMES || def.cap == ICAP_SUPPORTEDSIZES) {
    ss.settings.frame = ss.defaults.frame;
    ss.settings.paper_size = ss.defaults.paper_size;
  } else if (def.cap == ICAP_BITDEPTH) {
    ss.settings.bit_depth = ss.defaults.bit_depth;
  } else if (def.store != nullptr) {
    def.store(ss, describe(def, ss).default_value);
  }
}

}  // namespace

Reply capability_call(Session& ss, const DsmMemory& memory, TW_UINT16 msg, TW_CAPABILITY& cap) {
  if (msg == MSG_RESETALL) {
    if (ss.state != DsState::Open) return refuse(TWCC_SEQERROR);
    ss.settings = ss.defaults;
    return kDone;
  }
  const CapDef* def = cap_find(ss.model, cap.Cap);
  if (def == nullptr) return refuse(TWCC_CAPUNSUPPORTED);
  switch (msg) {
    case MSG_GET: return answer_get(*def, ss, memory, ValueWanted::All, cap);
    case MSG_GETCURRENT: return answer_get(*def, ss, memory, ValueWanted::Current, cap);
    case MSG_GETDEFAULT: return answer_get(*def, ss, memory, ValueWanted::Default, cap);
    case MSG_QUERYSUPPORT: {
      TW_UINT16 flags = TWQC_GET | TWQC_GETCURRENT | TWQC_GETDEFAULT;
      if (!def->read_only) flags |= TWQC_SET | TWQC_RESET;
      TW_HANDLE handle = twsource::container_one_value(memory, TWTY_INT32, flags);
      if (handle == nullptr) return refuse(TWCC_LOWMEMORY);
      cap.ConType = TWON_ONEVALUE;
      cap.hContainer = handle;
      return kDone;
    }
    case MSG_SET:
    case MSG_RESET: {
      if (def->read_only) return refuse(TWCC_CAPBADOPERATION);
      if (ss.state != DsState::Open) return refuse(TWCC_SEQERROR);
      if (msg == MSG_RESET) {
        reset_one(*def, ss);
        return answer_get(*def, ss, memory, ValueWanted::Current, cap);
      }
      if (cap.hContainer == nullptr) return refuse(TWCC_BADVALUE);
      const auto c = twsource::container_read(memory, cap.ConType, cap.hContainer);
      if (!c) return refuse(TWCC_BADVALUE);
      return set_container(*def, ss, *c);
    }
    default: return refuse(TWCC_CAPBADOPERATION);
  }
}

Reply layout_call(Session& ss, TW_UINT16 msg, TW_IMAGELAYOUT& layout) {
  if (!ss.model.has_geometry) return refuse(TWCC_BADPROTOCOL);
  const auto fill = [&](const Frame& inches) {
    const Frame f = frame_out(inches, ss.settings);
    layout.Frame = TW_FRAME{twsource::fix32_from(f.left), twsource::fix32_from(f.top),
                            twsource::fix32_from(f.right), twsource::fix32_from(f.bottom)};
    layout.DocumentNumber = 1;
    layout.PageNumber = 1;
    layout.FrameNumber = 1;
  };
  switch (msg) {
    case MSG_GET: fill(ss.settings.frame); return kDone;
    case MSG_GETDEFAULT: fill(ss.defaults.frame); return kDone;
    case MSG_SET: {
      if (ss.state != DsState::Open) return refuse(TWCC_SEQERROR);
      const TW_FRAME& in = layout.Frame;
      const Reply r = frame_set(ss, Frame{twsource::fix32_to(in.Left), twsource::fix32_to(in.Top),
                                          twsource::fix32_to(in.Right),
                                          twsource::fix32_to(in.Bottom)});
      if (r.rc != TWRC_FAILURE) fill(ss.settings.frame);
      return r;
    }
    case MSG_RESET:
      if (ss.state != DsState::Open) return refuse(TWCC_SEQERROR);
      ss.settings.frame = ss.defaults.frame;
      ss.settings.paper_size = ss.defaults.paper_size;
      fill(ss.settings.frame);
      return kDone;
    default: return refuse(TWCC_BADPROTOCOL);
  }
}

}  // namespace sanebridge
