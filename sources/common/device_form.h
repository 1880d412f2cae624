// A source's own dialog as a form shown in the application's windows (see
// DS_SetHostForm in dsm/source_protocol.h): rows of choices, each choice
// standing for a number the source then sets. Shared by the sources so that
// each only says which rows its device has and what a choice sets.
#pragma once
#include <string>
#include <vector>

#include "dsm/source_protocol.h"

namespace twsource {

struct FormRow {
  std::string label;
  std::vector<std::string> texts;  // '&' marks a choice's key
  std::vector<double> values;      // what each choice stands for
  std::size_t chosen = 0;
  double value() const { return values[chosen]; }
};

enum class FormAnswer { Accepted, Cancelled, NoOneToAsk };

// Keeps the application's form function (DS_SetHostForm's argument).
void form_set_host(DS_HOSTFORMPROC form);

// Shows the rows under `caption` with `text` and the accepting button's
// label; when accepted, each row's `chosen` holds the person's choice.
FormAnswer form_show(const std::string& caption, const std::string& text,
                     const std::string& accept_label, std::vector<FormRow>& rows);

// What a source's dialog shows: the scan dialog (Scan) or the settings
// dialog (OK). When accepted, `apply` is called with each row.
template <typename Apply>
FormAnswer form_run(const std::string& caption, const std::string& text, bool settings_only,
                    std::vector<FormRow>& rows, Apply apply) {
  const FormAnswer answer = form_show(caption, text, settings_only ? "OK" : "&Scan", rows);
  if (answer == FormAnswer::Accepted) {
    for (const FormRow& row : rows) apply(row);
  }
  return answer;
}

// The dialog's line of text before anything the device adds.
const char* form_dialog_text(bool settings_only);

// The pixel types offered (TWPT_ values), `wanted` chosen ("&Gray": G picks
// it).
FormRow form_pixel_type_row(const std::vector<TW_UINT16>& types, TW_UINT16 wanted);

// The rows every scanner's dialog has in common: the resolutions of a
// device's own list, paper source (flatbed or feeder; value 1 = feeder) and
// sides (value 1 = both).
FormRow form_resolution_list_row(const std::vector<double>& list, double wanted);
FormRow form_paper_source_row(bool feeder);
FormRow form_sides_row(bool duplex);

// The index of the value nearest `wanted` (0 for no values).
std::size_t form_nearest(const std::vector<double>& values, double wanted);

// The usual resolutions between `min` and `max` (the wanted one added when
// it is none of them), as a row labelled "Resolution".
FormRow form_resolution_row(double min, double max, double wanted);

}  // namespace twsource
