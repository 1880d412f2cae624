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

// The index of the value nearest `wanted` (0 for no values).
std::size_t form_nearest(const std::vector<double>& values, double wanted);

// The usual resolutions between `min` and `max` (the wanted one added when
// it is none of them), as a row labelled "Resolution".
FormRow form_resolution_row(double min, double max, double wanted);

}  // namespace twsource
