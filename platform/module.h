// Loading shared objects at run time (codec and engine modules, data sources).
#pragma once
#include <string>

namespace platform {

using ModuleHandle = void*;

// dlopen with RTLD_NOW | RTLD_LOCAL. On failure returns nullptr and puts the
// loader's message in `out_error` (if given).
ModuleHandle module_open(const std::string& path, std::string* out_error = nullptr);
void* module_symbol(ModuleHandle m, const char* name);
// Releases one reference; false if the loader refused.
bool module_close(ModuleHandle m);
// Full path of a loaded module ("" if unknown).
std::string module_path(ModuleHandle m);

}  // namespace platform
