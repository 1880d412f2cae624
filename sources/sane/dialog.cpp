// The device's own dialog (ShowUI) in the application's windows: pixel type,
// resolution, paper source and sides among what the device's options offer,
// with the settings negotiated so far chosen. An accepted form becomes the
// settings, as if the application had negotiated them.
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "sources/common/device_form.h"
#include "sources/sane/session.h"

namespace sanebridge {
namespace {

using twsource::FormRow;

std::vector<FormRow> rows_for(const DeviceModel& model, const Settings& settings) {
  std::vector<FormRow> rows;
  std::vector<TW_UINT16> types;
  for (const auto& [type, mode] : model.modes) {
    if (!mode.empty()) types.push_back(type);
  }
  if (types.size() > 1) rows.push_back(twsource::form_pixel_type_row(types, settings.pixel_type));
  if (model.resolution.present) {
    const NumberChoices& c = model.resolution.choices;
    if (c.is_list && !c.list.empty()) {
      rows.push_back(twsource::form_resolution_list_row(c.list, settings.dpi));
    } else if (!c.is_list) {
      rows.push_back(twsource::form_resolution_row(c.min, c.max, settings.dpi));
    }
  }
  if (!model.source_flatbed.empty() && !model.source_feeder.empty())
    rows.push_back(twsource::form_paper_source_row(settings.feeder));
  if (!model.source_duplex.empty())
    rows.push_back(twsource::form_sides_row(settings.duplex));
  return rows;
}

void apply(const FormRow& row, Settings& settings) {
  if (row.label == "Pixel type") {
    settings.pixel_type = static_cast<TW_UINT16>(row.value());
  } else if (row.label == "Resolution") {
    settings.dpi = row.value();
    settings.dpi_y.reset();
  } else if (row.label == "Paper source") {
    settings.feeder = row.value() != 0;
  } else if (row.label == "Sides") {
    settings.duplex = row.value() != 0;
    if (settings.duplex) settings.feeder = true;
  }
}

}  // namespace

DialogAnswer device_dialog(Session& ss, bool settings_only) {
  std::vector<FormRow> rows = rows_for(ss.model, ss.settings);
  const std::string caption(ss.identity.ProductName, strnlen(ss.identity.ProductName, sizeof ss.identity.ProductName));
  return twsource::form_run(caption, twsource::form_dialog_text(settings_only), settings_only, rows,
                            [&](const FormRow& row) { apply(row, ss.settings); });
}

}  // namespace sanebridge
