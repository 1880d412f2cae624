// The device's dialogs as forms: the choices are built from what the device
// offers and what is set now, and an accepted form becomes the settings, as
// if the application had negotiated them.
#include "sources/virtual/dialog.h"

#include <cmath>
#include <string>
#include <vector>

#include "sources/common/device_form.h"

namespace vscan {
namespace {

using twsource::FormRow;

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

FormRow pixel_type_row(const DeviceConfig& device, const Settings& settings) {
  FormRow row{"Pixel type", {}, {}, 0};
  for (TW_UINT16 type : device.pixel_types) {
    row.texts.push_back(pixel_type_text(type));
    row.values.push_back(type);
  }
  row.chosen = twsource::form_nearest(row.values, settings.pixel_type);
  return row;
}

// The device's own list of resolutions when it has one, else the usual ones
// in its range; the one set now among them.
FormRow resolution_row(const DeviceConfig& device, const Settings& settings) {
  const ResolutionConfig& r = device.resolution;
  if (r.list.empty()) return twsource::form_resolution_row(r.min, r.max, settings.x_dpi);
  FormRow row{"Resolution", {}, r.list, 0};
  for (double dpi : r.list) row.texts.push_back(std::to_string(std::lround(dpi)) + " dpi");
  row.chosen = twsource::form_nearest(row.values, settings.x_dpi);
  return row;
}

std::vector<FormRow> rows_for(const DeviceConfig& device, const Settings& settings) {
  std::vector<FormRow> rows{pixel_type_row(device, settings), resolution_row(device, settings)};
  if (device.flatbed && device.feeder && !device.feeder_locked)
    rows.push_back(FormRow{"Paper source", {"&Flatbed", "Document fee&der"}, {0, 1},
                           settings.feeder_enabled ? 1u : 0u});
  if (device.feeder && device.duplex != TWDX_NONE)
    rows.push_back(FormRow{"Sides", {"&One side", "&Two sides"}, {0, 1},
                           settings.duplex_enabled ? 1u : 0u});
  return rows;
}

void apply(const FormRow& row, Settings& settings) {
  if (row.label == "Pixel type") {
    settings.pixel_type = static_cast<TW_UINT16>(row.value());
  } else if (row.label == "Resolution") {
    settings.x_dpi = settings.y_dpi = row.value();
  } else if (row.label == "Paper source") {
    settings.feeder_enabled = row.value() != 0;
  } else if (row.label == "Sides") {
    settings.duplex_enabled = row.value() != 0;
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

void dialog_set_host_form(DS_HOSTFORMPROC form) { twsource::form_set_host(form); }

DialogAnswer device_dialog(SourceState& state, Session& session, bool settings_only) {
  const DeviceConfig& device = session_device(state, session);
  if (!device.dialog_window) return DialogAnswer::NoOneToAsk;
  std::vector<FormRow> rows = rows_for(device, session.settings);
  switch (twsource::form_show(device.product, dialog_text(session, device, settings_only),
                              settings_only ? "OK" : "&Scan", rows)) {
    case twsource::FormAnswer::NoOneToAsk: return DialogAnswer::NoOneToAsk;
    case twsource::FormAnswer::Cancelled: return DialogAnswer::Cancelled;
    case twsource::FormAnswer::Accepted: break;
  }
  for (const FormRow& row : rows) apply(row, session.settings);
  return DialogAnswer::Accepted;
}

}  // namespace vscan
