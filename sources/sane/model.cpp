// Reading a SANE device's options into the bridge's model, and writing the
// negotiated settings back to them.
#include <sane/saneopts.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <initializer_list>
#include <tuple>
#include <utility>

#include "sources/sane/bridge.h"

namespace sanebridge {
namespace {

constexpr double kMmPerInch = 25.4;

NumberOption number_option(SANE_Handle handle, const char* name) {
  NumberOption out;
  const Option option = option_find(handle, name);
  const auto value = option_get_number(handle, option);
  if (!value) return out;
  out.present = true;
  out.choices = option_number_choices(option);
  out.initial = *value;
  return out;
}

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool contains(const std::string& haystack, const char* needle) {
  return haystack.find(needle) != std::string::npos;
}

// Backends name their paper paths freely ("ADF Duplex", "Automatic Document
// Feeder", "ADF Front", "Flatbed", "Platen"...): sorted by the words in them.
void read_sources(SANE_Handle handle, DeviceModel& model) {
  const Option option = option_find(handle, SANE_NAME_SCAN_SOURCE);
  if (!option) return;
  for (const std::string& name : option_string_choices(option)) {
    const std::string l = lower(name);
    const bool feeder = contains(l, "adf") || contains(l, "feeder") || contains(l, "automatic");
    if (feeder && contains(l, "duplex")) {
      if (model.source_duplex.empty()) model.source_duplex = name;
    } else if (feeder) {
      if (model.source_feeder.empty()) model.source_feeder = name;
    } else if (contains(l, "flatbed") || contains(l, "platen") || contains(l, "normal")) {
      if (model.source_flatbed.empty()) model.source_flatbed = name;
    }
  }
  const auto current = option_get_string(handle, option);
  model.initial_feeder = current && !current->empty() &&
                         (*current == model.source_feeder || *current == model.source_duplex);
}

void read_modes(SANE_Handle handle, DeviceModel& model) {
  const Option depth = option_find(handle, SANE_NAME_BIT_DEPTH);
  if (depth) {
    for (double d : option_number_choices(depth).list) model.depths.push_back(static_cast<int>(d));
  }
  const Option mode = option_find(handle, SANE_NAME_SCAN_MODE);
  if (!mode) {
    // A device of one kind of image: the kind it says it will deliver.
    SANE_Parameters p{};
    if (sane_get_parameters(handle, &p) != SANE_STATUS_GOOD) return;
    const TW_UINT16 type = p.format != SANE_FRAME_GRAY ? TWPT_RGB : p.depth == 1 ? TWPT_BW : TWPT_GRAY;
    model.modes[type] = "";
    model.initial_pixel_type = type;
    return;
  }
  for (const std::string& name : option_string_choices(mode)) {
    const std::string l = lower(name);
    if (contains(l, "color") || contains(l, "colour")) {
      if (!contains(l, "lineart") && !contains(l, "halftone")) model.modes.emplace(TWPT_RGB, name);
    } else if (contains(l, "gray") || contains(l, "grey")) {
      model.modes.emplace(TWPT_GRAY, name);
    } else if (contains(l, "lineart") || contains(l, "halftone") || contains(l, "binary")) {
      model.modes.emplace(TWPT_BW, name);
    }
  }
  const bool depth_one = std::find(model.depths.begin(), model.depths.end(), 1) != model.depths.end();
  if (!model.modes.contains(TWPT_BW) && model.modes.contains(TWPT_GRAY) && depth_one) {
    model.modes[TWPT_BW] = model.modes[TWPT_GRAY];
    model.bw_through_depth = true;
  }
  const auto current = option_get_string(handle, mode);
  const auto current_depth = option_get_number(handle, depth);
  for (const auto& [type, name] : model.modes) {
    if (current && *current == name) model.initial_pixel_type = type;
  }
  if (model.initial_pixel_type == TWPT_GRAY && model.bw_through_depth && current_depth == 1.0)
    model.initial_pixel_type = TWPT_BW;
}

// A length option in inches (pixels at `dpi`).
double to_inches(const DeviceModel& model, double value, double dpi) {
  return model.geometry_mm ? value / kMmPerInch : value / dpi;
}
double from_inches(const DeviceModel& model, double inches, double dpi) {
  return model.geometry_mm ? inches * kMmPerInch : inches * dpi;
}

double snap(const NumberChoices& c, double value) {
  if (c.is_list || c.quant <= 0) return value;
  return c.min + std::round((value - c.min) / c.quant) * c.quant;
}

// The option of the first of `names` the device has.
std::pair<NumberOption, std::string> first_number_option(SANE_Handle handle,
                                                         std::initializer_list<const char*> names) {
  for (const char* name : names) {
    NumberOption o = number_option(handle, name);
    if (o.present) return {o, name};
  }
  return {};
}

}  // namespace

DeviceModel model_read(SANE_Handle handle) {
  DeviceModel model;
  // Devices that take the two axes apart name the one across "x-resolution"
  // (or keep "resolution" for it) beside "y-resolution".
  std::tie(model.resolution, model.resolution_name) = first_number_option(
      handle, {SANE_NAME_SCAN_X_RESOLUTION, SANE_NAME_SCAN_RESOLUTION});
  model.y_resolution = number_option(handle, SANE_NAME_SCAN_Y_RESOLUTION);
  read_modes(handle, model);
  model.tl_x = number_option(handle, SANE_NAME_SCAN_TL_X);
  model.tl_y = number_option(handle, SANE_NAME_SCAN_TL_Y);
  model.br_x = number_option(handle, SANE_NAME_SCAN_BR_X);
  model.br_y = number_option(handle, SANE_NAME_SCAN_BR_Y);
  model.has_geometry = model.tl_x.present && model.tl_y.present && model.br_x.present &&
                       model.br_y.present && !model.br_x.choices.is_list &&
                       !model.br_y.choices.is_list;
  if (model.has_geometry) {
    const Option br_x = option_find(handle, SANE_NAME_SCAN_BR_X);
    model.geometry_mm = br_x.desc->unit != SANE_UNIT_PIXEL;
  }
  read_sources(handle, model);
  model.brightness = number_option(handle, SANE_NAME_BRIGHTNESS);
  model.contrast = number_option(handle, SANE_NAME_CONTRAST);
  model.threshold = number_option(handle, SANE_NAME_THRESHOLD);
  std::tie(model.gamma, model.gamma_name) =
      first_number_option(handle, {SANE_NAME_ANALOG_GAMMA, "gamma"});
  model.has_page_sensor = option_get_flag(handle, option_find_readable(handle, SANE_NAME_PAGE_LOADED))
                              .has_value();
  return model;
}

std::optional<bool> model_paper_loaded(SANE_Handle handle, const DeviceModel& model) {
  if (!model.has_page_sensor) return std::nullopt;
  return option_get_flag(handle, option_find_readable(handle, SANE_NAME_PAGE_LOADED));
}

Frame model_full_frame(const DeviceModel& model) {
  if (!model.has_geometry) return Frame{};
  const double dpi = model.resolution.present ? model.resolution.initial : 100;
  return Frame{0, 0, to_inches(model, model.br_x.choices.max, dpi),
               to_inches(model, model.br_y.choices.max, dpi)};
}

std::optional<Frame> model_snap_frame(const DeviceModel& model, const Frame& frame, double dpi) {
  const Frame bed = model_full_frame(model);
  const double slack = 1e-6;
  if (frame.left < -slack || frame.top < -slack || frame.right > bed.right + slack ||
      frame.bottom > bed.bottom + slack || frame.right <= frame.left || frame.bottom <= frame.top)
    return std::nullopt;
  const auto edge = [&](const NumberOption& o, double inches) {
    const double v = std::clamp(snap(o.choices, from_inches(model, inches, dpi)), o.choices.min,
                                o.choices.max);
    return to_inches(model, v, dpi);
  };
  Frame out{edge(model.tl_x, frame.left), edge(model.tl_y, frame.top),
            edge(model.br_x, frame.right), edge(model.br_y, frame.bottom)};
  if (out.right <= out.left || out.bottom <= out.top) return std::nullopt;
  return out;
}

std::vector<int> model_depths(const DeviceModel& model, TW_UINT16 pixel_type) {
  if (!model.modes.contains(pixel_type)) return {};
  if (pixel_type == TWPT_BW) return {1};
  const int samples = pixel_type == TWPT_RGB ? 3 : 1;
  std::vector<int> out;
  for (int d : model.depths) {
    if (d == 8 || d == 16) out.push_back(d * samples);
  }
  if (out.empty()) out.push_back(8 * samples);
  std::sort(out.begin(), out.end());
  return out;
}

Settings settings_default(const DeviceModel& model) {
  Settings s;
  if (model.resolution.present) s.dpi = model.resolution.initial;
  if (model.y_resolution.present) s.dpi_y = model.y_resolution.initial;
  s.pixel_type = model.initial_pixel_type;
  for (const auto& [type, name] : model.modes) s.bit_depth[type] = model_depths(model, type).front();
  s.frame = model_full_frame(model);
  if (model.has_geometry) {
    s.frame = Frame{to_inches(model, model.tl_x.initial, s.dpi),
                    to_inches(model, model.tl_y.initial, s.dpi),
                    to_inches(model, model.br_x.initial, s.dpi),
                    to_inches(model, model.br_y.initial, s.dpi)};
  }
  s.feeder = model.initial_feeder;
  return s;
}

namespace {

// Each step re-finds its option: setting one may reload the others.
TW_UINT16 set_number(SANE_Handle handle, const char* name, double value) {
  const Option option = option_find(handle, name);
  if (!option) return TWCC_BADVALUE;
  return option_set_number(handle, option, value) == SANE_STATUS_GOOD ? TWCC_SUCCESS
                                                                       : TWCC_BADVALUE;
}

TW_UINT16 set_string(SANE_Handle handle, const char* name, const std::string& value) {
  const Option option = option_find(handle, name);
  if (!option) return TWCC_BADVALUE;
  return option_set_string(handle, option, value) == SANE_STATUS_GOOD ? TWCC_SUCCESS
                                                                       : TWCC_BADVALUE;
}

// A TWAIN value of [twain_min, twain_max] to the same place of the option's
// range.
double scale_to(const NumberOption& o, double value, double twain_min, double twain_max) {
  const double t = (value - twain_min) / (twain_max - twain_min);
  return snap(o.choices, o.choices.min + t * (o.choices.max - o.choices.min));
}

TW_UINT16 apply_mode(SANE_Handle handle, const DeviceModel& model, const Settings& s) {
  const auto mode = model.modes.find(s.pixel_type);
  if (mode == model.modes.end()) return TWCC_BADVALUE;
  if (!mode->second.empty()) {
    if (TW_UINT16 cc = set_string(handle, SANE_NAME_SCAN_MODE, mode->second)) return cc;
  }
  const auto depth = s.bit_depth.find(s.pixel_type);
  const int bits = depth != s.bit_depth.end() ? depth->second : 8;
  const int per_sample = s.pixel_type == TWPT_RGB ? bits / 3 : bits;
  // Line-art modes have their depth fixed (the option is then inactive).
  if (model.depths.empty() || (s.pixel_type == TWPT_BW && !model.bw_through_depth))
    return TWCC_SUCCESS;
  return set_number(handle, SANE_NAME_BIT_DEPTH, per_sample);
}

TW_UINT16 apply_geometry(SANE_Handle handle, const DeviceModel& model, const Settings& s) {
  if (!model.has_geometry) return TWCC_SUCCESS;
  const std::pair<const char*, double> edges[] = {
      {SANE_NAME_SCAN_TL_X, s.frame.left}, {SANE_NAME_SCAN_TL_Y, s.frame.top},
      {SANE_NAME_SCAN_BR_X, s.frame.right}, {SANE_NAME_SCAN_BR_Y, s.frame.bottom}};
  for (const auto& [name, inches] : edges) {
    if (TW_UINT16 cc = set_number(handle, name, from_inches(model, inches, s.dpi))) return cc;
  }
  return TWCC_SUCCESS;
}

}  // namespace

TW_UINT16 settings_apply(SANE_Handle handle, const DeviceModel& model, const Settings& s) {
  if (!model.source_feeder.empty() || !model.source_duplex.empty()) {
    const std::string& source = !s.feeder ? model.source_flatbed
                                : s.duplex && !model.source_duplex.empty() ? model.source_duplex
                                : !model.source_feeder.empty()            ? model.source_feeder
                                                                          : model.source_duplex;
    if (!source.empty()) {
      if (TW_UINT16 cc = set_string(handle, SANE_NAME_SCAN_SOURCE, source)) return cc;
    }
  }
  if (TW_UINT16 cc = apply_mode(handle, model, s)) return cc;
  if (model.resolution.present) {
    if (TW_UINT16 cc = set_number(handle, model.resolution_name.c_str(), s.dpi)) return cc;
  }
  if (model.y_resolution.present) {
    if (TW_UINT16 cc = set_number(handle, SANE_NAME_SCAN_Y_RESOLUTION, s.y_dpi())) return cc;
  }
  if (TW_UINT16 cc = apply_geometry(handle, model, s)) return cc;
  const std::tuple<const NumberOption*, const std::optional<double>*, const char*, double, double>
      levels[] = {{&model.brightness, &s.brightness, SANE_NAME_BRIGHTNESS, -1000, 1000},
                  {&model.contrast, &s.contrast, SANE_NAME_CONTRAST, -1000, 1000},
                  {&model.threshold, &s.threshold, SANE_NAME_THRESHOLD, 0, 255}};
  for (const auto& [option, value, name, low, high] : levels) {
    if (!option->present || !value->has_value()) continue;
    if (TW_UINT16 cc = set_number(handle, name, scale_to(*option, **value, low, high))) return cc;
  }
  // Gamma is the same number on both sides.
  if (model.gamma.present && s.gamma) {
    if (TW_UINT16 cc = set_number(handle, model.gamma_name.c_str(), snap(model.gamma.choices, *s.gamma)))
      return cc;
  }
  return TWCC_SUCCESS;
}

}  // namespace sanebridge
