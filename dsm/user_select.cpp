#include "dsm/user_select.h"

#include "platform/ui.h"

namespace dsm {
namespace {

constexpr const char* kCaption = "Select Source";

std::string question_text(const std::vector<std::string>& names, std::size_t candidate) {
  std::string text = "Sources:\n";
  for (std::size_t i = 0; i < names.size(); ++i)
    text += (i == candidate ? "  > " : "    ") + names[i] + "\n";
  text += "Use \"" + names[candidate] + "\"? (No shows the next source)";
  return text;
}

}  // namespace

std::optional<std::size_t> user_select_source(const std::vector<std::string>& names,
                                              std::size_t preselected) {
  if (names.empty() || preselected >= names.size()) return std::nullopt;
  if (names.size() == 1) return 0;
  for (std::size_t step = 0; step < names.size(); ++step) {
    const std::size_t candidate = (preselected + step) % names.size();
    const platform::UiAnswer answer =
        platform::ui().ask(kCaption, question_text(names, candidate),
                           platform::UiButtons::YesNoCancel, platform::UiAnswer::Yes);
    if (answer == platform::UiAnswer::Yes) return candidate;
    if (answer == platform::UiAnswer::Cancel) return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace dsm
