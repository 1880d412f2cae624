// Forms for the sources' dialogs: the rows turned into the Source Manager's
// DS_FORM, shown through the application's function, the choices read back.
#include "sources/common/device_form.h"

#include <algorithm>
#include <atomic>
#include <cmath>

namespace twsource {
namespace {

std::atomic<DS_HOSTFORMPROC> host_form{nullptr};

}  // namespace

void form_set_host(DS_HOSTFORMPROC form) { host_form.store(form); }

std::size_t form_nearest(const std::vector<double>& values, double wanted) {
  std::size_t best = 0;
  for (std::size_t i = 1; i < values.size(); ++i) {
    if (std::fabs(values[i] - wanted) < std::fabs(values[best] - wanted)) best = i;
  }
  return best;
}

const char* form_dialog_text(bool settings_only) {
  return settings_only ? "Settings for the next scan." : "Place the paper and press Scan.";
}

namespace {

const char* pixel_type_text(TW_UINT16 pixel_type) {
  switch (pixel_type) {
    case TWPT_BW: return "&Black/white";
    case TWPT_GRAY: return "&Gray";
    case TWPT_RGB: return "&Color";
    case TWPT_PALETTE: return "Palette";
    case TWPT_CMY: return "CMY";
    case TWPT_CMYK: return "CMYK";
    default: return "Other";
  }
}

}  // namespace

FormRow form_pixel_type_row(const std::vector<TW_UINT16>& types, TW_UINT16 wanted) {
  FormRow row{"Pixel type", {}, {}, 0};
  for (TW_UINT16 type : types) {
    row.texts.push_back(pixel_type_text(type));
    row.values.push_back(type);
  }
  row.chosen = form_nearest(row.values, wanted);
  return row;
}

FormRow form_resolution_list_row(const std::vector<double>& list, double wanted) {
  FormRow row{"Resolution", {}, list, 0};
  for (double dpi : list) row.texts.push_back(std::to_string(std::lround(dpi)) + " dpi");
  row.chosen = form_nearest(row.values, wanted);
  return row;
}

FormRow form_paper_source_row(bool feeder) {
  return FormRow{"Paper source", {"&Flatbed", "Document fee&der"}, {0, 1}, feeder ? 1u : 0u};
}

FormRow form_sides_row(bool duplex) {
  return FormRow{"Sides", {"&One side", "&Two sides"}, {0, 1}, duplex ? 1u : 0u};
}

FormRow form_resolution_row(double min, double max, double wanted) {
  std::vector<double> values;
  for (double dpi : {75.0, 100.0, 150.0, 200.0, 300.0, 400.0, 600.0, 1200.0}) {
    if (dpi >= min && dpi <= max) values.push_back(dpi);
  }
  if (std::none_of(values.begin(), values.end(), [&](double v) { return std::fabs(v - wanted) < 0.5; }))
    values.push_back(wanted);
  std::sort(values.begin(), values.end());
  FormRow row{"Resolution", {}, values, 0};
  for (double dpi : values) row.texts.push_back(std::to_string(std::lround(dpi)) + " dpi");
  row.chosen = form_nearest(values, wanted);
  return row;
}

FormAnswer form_show(const std::string& caption, const std::string& text,
                     const std::string& accept_label, std::vector<FormRow>& rows) {
  const DS_HOSTFORMPROC show = host_form.load();
  if (show == nullptr) return FormAnswer::NoOneToAsk;
  // The texts stay in `rows` while the form is up; the form points at them.
  std::vector<std::vector<const char*>> choices(rows.size());
  std::vector<DS_FORM_FIELD> fields(rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    for (const std::string& t : rows[i].texts) choices[i].push_back(t.c_str());
    fields[i] = DS_FORM_FIELD{rows[i].label.c_str(), choices[i].data(),
                              static_cast<TW_UINT32>(choices[i].size()),
                              static_cast<TW_UINT32>(rows[i].chosen)};
  }
  DS_FORM form{caption.c_str(), text.c_str(), accept_label.c_str(), fields.data(),
               static_cast<TW_UINT32>(fields.size())};
  const int answer = show(&form);
  if (answer == DS_FORM_NO_ONE_TO_ASK) return FormAnswer::NoOneToAsk;
  if (answer != DS_FORM_ACCEPTED) return FormAnswer::Cancelled;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (fields[i].chosen < rows[i].values.size()) rows[i].chosen = fields[i].chosen;
  }
  return FormAnswer::Accepted;
}

}  // namespace twsource
