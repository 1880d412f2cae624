// The default source, remembered by product name in $HOME/.twndsmrc/defaultds
// (where the standard's Linux Source Manager keeps it), so that a choice made
// with one program holds for the next.
#pragma once
#include <optional>
#include <string>

namespace dsm {

// The remembered product name; nothing when unset, unreadable or $HOME is not
// set.
std::optional<std::string> default_source_read();

// Remembers `product_name`, creating the folder as needed; false on failure.
bool default_source_write(const std::string& product_name);

}  // namespace dsm
