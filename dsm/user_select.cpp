#include "dsm/user_select.h"

#include "platform/ui.h"

namespace dsm {

std::optional<std::size_t> user_select_source(const std::vector<std::string>& names,
                                              std::size_t preselected) {
  if (names.empty() || preselected >= names.size()) return std::nullopt;
  if (names.size() == 1) return 0;
  return platform::ui().choose_from_list("Select Source", names, preselected);
}

}  // namespace dsm
