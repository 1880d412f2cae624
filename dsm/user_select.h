// The Source Manager's source choice (MSG_USERSELECT), asked through the
// user-interface back end the program chose: a list with the preselected
// source selected in a window; elsewhere each source is offered in turn, the
// preselected one first, with Yes to take it, No for the next, Cancel to
// stop. With no one to ask, the back end gives the default answer (Yes for
// the preselected source) and traces that it did.
#pragma once
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace dsm {

// Asks for one of `names` (at least one); `preselected` indexes `names`.
// Returns the chosen index, or nothing when the user cancelled or declined
// every source.
std::optional<std::size_t> user_select_source(const std::vector<std::string>& names,
                                              std::size_t preselected);

}  // namespace dsm
