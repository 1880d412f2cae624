// Lending the sources our windows: the form function handed to our Source
// Manager, which passes it to every source that can show its dialog with it.
// What a source hands in is read defensively (a driver's strings and counts
// are outside input); the person's answer goes back into its fields.
#include "twain/session/host_form.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "dsm/manager_protocol.h"
#include "platform/module.h"
#include "platform/ui.h"

namespace twain {
namespace {

// More rows or choices than any dialog shows: the rest are not offered.
constexpr TW_UINT32 kMaxFields = 16;
constexpr TW_UINT32 kMaxChoices = 64;
constexpr std::size_t kMaxText = 1024;

std::string text_of(const char* text) {
  if (text == nullptr) return {};
  return std::string(text, strnlen(text, kMaxText));
}

platform::UiForm form_from(const DS_FORM& in) {
  platform::UiForm form;
  form.caption = text_of(in.caption);
  form.text = text_of(in.text);
  if (in.accept_label != nullptr && *in.accept_label != '\0') form.accept_label = text_of(in.accept_label);
  if (in.fields == nullptr) return form;
  for (TW_UINT32 f = 0; f < std::min(in.field_count, kMaxFields); ++f) {
    const DS_FORM_FIELD& field = in.fields[f];
    platform::UiFormField row;
    row.label = text_of(field.label);
    if (field.choices != nullptr) {
      for (TW_UINT32 c = 0; c < std::min(field.choice_count, kMaxChoices); ++c)
        row.choices.push_back(text_of(field.choices[c]));
    }
    if (row.choices.empty()) row.choices.push_back("");
    row.chosen = field.chosen < row.choices.size() ? field.chosen : 0;
    form.fields.push_back(std::move(row));
  }
  return form;
}

int show_form(DS_FORM* in) {
  if (in == nullptr) return DS_FORM_NO_ONE_TO_ASK;
  platform::UiForm form = form_from(*in);
  const platform::UiFormResult result = platform::ui().form_dialog(form);
  if (result == platform::UiFormResult::NoOneToAsk) return DS_FORM_NO_ONE_TO_ASK;
  if (result == platform::UiFormResult::Cancelled) return DS_FORM_CANCELLED;
  for (std::size_t f = 0; f < form.fields.size(); ++f)
    in->fields[f].chosen = static_cast<TW_UINT32>(form.fields[f].chosen);
  return DS_FORM_ACCEPTED;
}

void hand_over(platform::ModuleHandle dsm, DS_HOSTFORMPROC form) {
  const auto set = reinterpret_cast<DSM_SETHOSTFORMPROC>(
      platform::module_symbol(dsm, DSM_SETHOSTFORM_NAME));
  if (set != nullptr) set(form);
}

}  // namespace

void lend_windows_to_sources(platform::ModuleHandle dsm) {
  hand_over(dsm, &show_form);
}

void take_windows_back(platform::ModuleHandle dsm) { hand_over(dsm, nullptr); }

}  // namespace twain
