// Loading shared objects at run time (codec and engine modules, data sources).
#pragma once
#include <string>

namespace platform {

using ModuleHandle = void*;

// How long a module stays mapped.
enum class ModuleLifetime {
  UntilClosed,  // the last module_close unmaps it
  Resident,     // stays mapped after the last close (RTLD_NODELETE)
};

// dlopen with RTLD_NOW | RTLD_LOCAL, after module_file_problem has passed the
// file (a name without "/" is checked where LD_LIBRARY_PATH would find it; the
// system's own folders hold installed packages and are trusted). On failure
// returns nullptr and puts the refusal or the loader's message in `out_error`
// (if given).
ModuleHandle module_open(const std::string& path, std::string* out_error = nullptr,
                         ModuleLifetime lifetime = ModuleLifetime::UntilClosed);

// Why the file at `path` cannot be a module of this program, or "" when it
// can: it must be a regular file holding a complete ELF shared object of this
// machine's class, byte order and architecture, whose program headers and
// every segment they describe lie inside the file. The loader maps segments
// without checking that, and touching a part cut off from a truncated copy
// kills the process with SIGBUS inside dlopen. A FIFO is refused without
// waiting on it.
std::string module_file_problem(const std::string& path);
void* module_symbol(ModuleHandle m, const char* name);
// Releases one reference; false if the loader refused.
bool module_close(ModuleHandle m);
// Full path of a loaded module ("" if unknown).
std::string module_path(ModuleHandle m);

}  // namespace platform
