// The tool's manual page (orivane.1), made from its command table so that
// it lists every command the tool runs.
#pragma once
#include <string>

namespace orivane_tool {

// The page in the man macros.
std::string manual_page();

}  // namespace orivane_tool
