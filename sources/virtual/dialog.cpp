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

// The device's own list of resolutions when it has one, else the usual ones
// in its range; the one set now among them.
FormRow resolution_row(const DeviceConfig& device, const Settings& settings) {
  const ResolutionConfig& r = device.resolution;
  if (r.list.empty()) return twsource::form_resolution_row(r.min, r.max, settings.x_dpi);
  return twsource::form_resolution_list_row(r.list, settings.x_dpi);
}

std::vector<FormRow> rows_for(const DeviceConfig& device, const Settings& settings) {
  std::vector<FormRow> rows{twsource::form_pixel_type_row(device.pixel_types, settings.pixel_type),
                            resolution_row(device, settings)};
  if (device.flatbed && device.feeder && !device.feeder_locked)
    rows.push_back(twsource::form_paper_source_row(settings.feeder_enabled));
  if (device.feeder && device.duplex != TWDX_NONE)
    rows.push_back(twsource::form_sides_row(settings.duplex_enabled));
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
  std::string text = twsource::form_dialog_text(settings_only);
  if (settings_only) return text;
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
  return twsource::form_run(device.product, dialog_text(session, device, settings_only), settings_only,
                            rows, [&](const FormRow& row) { apply(row, session.settings); });
}

}  // namespace vscan
