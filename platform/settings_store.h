// Per-user settings of an application (the stand-in for the framework's
// registry key "Talven\<app>"): an INI file, one "[section]" per key path and
// "name=value" lines, at platform::config_file(app).
#pragma once
#include <optional>
#include <string>

namespace platform {

std::optional<std::string> settings_get(const std::string& app, const std::string& section,
                                        const std::string& name);
// Writes the value, creating the folder and file as needed; false on failure.
// The file is replaced atomically (written beside, then renamed).
bool settings_put(const std::string& app, const std::string& section,
                  const std::string& name, const std::string& value);

}  // namespace platform
