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

const char* pixel_type_text(TW_UINT16 type) {
  switch (type) {
    case TWPT_BW: return "&Black/white";
    case TWPT_GRAY: return "&Gray";
    case TWPT_RGB: return "&Color";
    default: return "Other";
  }
}

std::vector<FormRow> rows_for(const DeviceModel& model, const Settings& settings) {
  std::vector<FormRow> rows;
  FormRow types{"Pixel type", {}, {}, 0};
  for (const auto& [type, mode] : model.modes) {
    if (mode.empty()) continue;
    types.texts.push_back(pixel_type_text(type));
    types.values.push_back(type);
  }
  if (types.values.size() > 1) {
    types.chosen = twsource::form_nearest(types.values, settings.pixel_type);
    rows.push_back(types);
  }
  if (model.resolution.present) {
    const NumberChoices& c = model.resolution.choices;
    if (c.is_list && !c.list.empty()) {
      FormRow row{"Resolution", {}, c.list, 0};
      for (double dpi : c.list) row.texts.push_back(std::to_string(std::lround(dpi)) + " dpi");
      row.chosen = twsource::form_nearest(row.values, settings.dpi);
      rows.push_back(row);
    } else if (!c.is_list) {
      rows.push_back(twsource::form_resolution_row(c.min, c.max, settings.dpi));
    }
  }
  if (!model.source_flatbed.empty() && !model.source_feeder.empty())
    rows.push_back(FormRow{"Paper source", {"&Flatbed", "Document fee&der"}, {0, 1},
                           settings.feeder ? 1u : 0u});
  if (!model.source_duplex.empty())
    rows.push_back(FormRow{"Sides", {"&One side", "&Two sides"}, {0, 1}, settings.duplex ? 1u : 0u});
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
  switch (twsource::form_show(caption,
                              settings_only ? "Settings for the next scan." : "Place the paper and press Scan.",
                              settings_only ? "OK" : "&Scan", rows)) {
    case twsource::FormAnswer::NoOneToAsk: return DialogAnswer::NoOneToAsk;
    case twsource::FormAnswer::Cancelled: return DialogAnswer::Cancelled;
    case twsource::FormAnswer::Accepted: break;
  }
  for (const FormRow& row : rows) apply(row, ss.settings);
  return DialogAnswer::Accepted;
}

}  // namespace sanebridge
