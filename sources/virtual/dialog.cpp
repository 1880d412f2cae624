// The device's dialogs as forms: the choices are built from what the device
// offers and what is set now, and an accepted form becomes the settings, as
// if the application had negotiated them.
#include "sources/virtual/dialog.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <string>
#include <vector>

namespace vscan {
namespace {

std::atomic<DS_HOSTFORMPROC> host_form{nullptr};

// One row as it is built: its texts are kept alive here while the form is up.
struct Row {
  std::string label;
  std::vector<std::string> texts;
  std::vector<double> values;  // what each choice sets
  std::size_t chosen = 0;
};

const char* pixel_type_text(TW_UINT16 type) {
  switch (type) {
    case TWPT_BW: return "&Black/white";
    case TWPT_GRAY: return "&Gray";
    case TWPT_RGB: return "&Color";
    case TWPT_PALETTE: return "Palette";
    case TWPT_CMY: return "CMY";
    case TWPT_CMYK: return "CMYK";
    default: return "Other";
  }
}

std::size_t index_of(const std::vector<double>& values, double wanted) {
  const auto at = std::find_if(values.begin(), values.end(),
                               [&](double v) { return std::fabs(v - wanted) < 0.5; });
  return at == values.end() ? 0 : static_cast<std::size_t>(at - values.begin());
}

Row pixel_type_row(const DeviceConfig& device, const Settings& settings) {
  Row row{"Pixel type", {}, {}, 0};
  for (TW_UINT16 type : device.pixel_types) {
    row.texts.push_back(pixel_type_text(type));
    row.values.push_back(type);
  }
  row.chosen = index_of(row.values, settings.pixel_type);
  return row;
}

// The usual resolutions the device can do (its own list when it has one),
// with the one set now among them.
Row resolution_row(const DeviceConfig& device, const Settings& settings) {
  Row row{"Resolution", {}, {}, 0};
  std::vector<double> values = device.resolution.list;
  if (values.empty()) {
    for (double dpi : {75.0, 100.0, 150.0, 200.0, 300.0, 400.0, 600.0, 1200.0}) {
      if (dpi >= device.resolution.min && dpi <= device.resolution.max) values.push_back(dpi);
    }
  }
  if (std::none_of(values.begin(), values.end(),
                   [&](double v) { return std::fabs(v - settings.x_dpi) < 0.5; }))
    values.push_back(settings.x_dpi);
  std::sort(values.begin(), values.end());
  for (double dpi : values) {
    row.texts.push_back(std::to_string(static_cast<long>(std::lround(dpi))) + " dpi");
    row.values.push_back(dpi);
  }
  row.chosen = index_of(row.values, settings.x_dpi);
  return row;
}

std::vector<Row> rows_for(const DeviceConfig& device, const Settings& settings) {
  std::vector<Row> rows{pixel_type_row(device, settings), resolution_row(device, settings)};
  if (device.flatbed && device.feeder && !device.feeder_locked)
    rows.push_back(Row{"Paper source", {"&Flatbed", "Document fee&der"}, {0, 1},
                       settings.feeder_enabled ? 1u : 0u});
  if (device.feeder && device.duplex != TWDX_NONE)
    rows.push_back(Row{"Sides", {"&One side", "&Two sides"}, {0, 1},
                       settings.duplex_enabled ? 1u : 0u});
  return rows;
}

void apply(const Row& row, Settings& settings) {
  const double value = row.values[row.chosen];
  if (row.label == "Pixel type") {
    settings.pixel_type = static_cast<TW_UINT16>(value);
  } else if (row.label == "Resolution") {
    settings.x_dpi = settings.y_dpi = value;
  } else if (row.label == "Paper source") {
    settings.feeder_enabled = value != 0;
  } else if (row.label == "Sides") {
    settings.duplex_enabled = value != 0;
  }
}

std::string dialog_text(const Session& session, const DeviceConfig& device, bool settings_only) {
  if (settings_only) return "Settings for the next scan.";
  std::string text = "Place the paper and press Scan.";
  if (device.feeder)
    text += " Sheets in the feeder: " + std::to_string(session.feeder_sheets) + ".";
  return text;
}

}  // namespace

void dialog_set_host_form(DS_HOSTFORMPROC form) { host_form.store(form); }

DialogAnswer device_dialog(SourceState& state, Session& session, bool settings_only) {
  const DS_HOSTFORMPROC show = host_form.load();
  const DeviceConfig& device = session_device(state, session);
  if (show == nullptr || !device.dialog_window) return DialogAnswer::NoOneToAsk;
  std::vector<Row> rows = rows_for(device, session.settings);
  std::vector<std::vector<const char*>> choice_pointers(rows.size());
  std::vector<DS_FORM_FIELD> fields(rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    for (const std::string& text : rows[i].texts) choice_pointers[i].push_back(text.c_str());
    fields[i] = DS_FORM_FIELD{rows[i].label.c_str(), choice_pointers[i].data(),
                              static_cast<TW_UINT32>(choice_pointers[i].size()),
                              static_cast<TW_UINT32>(rows[i].chosen)};
  }
  const std::string text = dialog_text(session, device, settings_only);
  DS_FORM form{device.product.c_str(), text.c_str(), settings_only ? "OK" : "&Scan",
               fields.data(), static_cast<TW_UINT32>(fields.size())};
  const int answer = show(&form);
  if (answer == DS_FORM_NO_ONE_TO_ASK) return DialogAnswer::NoOneToAsk;
  if (answer != DS_FORM_ACCEPTED) return DialogAnswer::Cancelled;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (fields[i].chosen < rows[i].values.size()) rows[i].chosen = fields[i].chosen;
    apply(rows[i], session.settings);
  }
  return DialogAnswer::Accepted;
}

}  // namespace vscan
