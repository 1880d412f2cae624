// Separately loaded modules (codecs, engines, upload): where they are found and
// which are loaded, for the log header and the About text.
#pragma once
#include <string>

#include "platform/module.h"

namespace core {

struct LoadedModule {
  std::string name;       // "OrvTiff", ...
  std::string path;       // full path of the loaded file
  int version = 0;        // module's version number, e.g. 102
  platform::ModuleHandle handle = nullptr;
};

// The file a module is loaded from here: "X.dll" -> "X.so", "TWAIN_32.DLL"
// -> the Source Manager "libtwaindsm.so"; other names unchanged.
std::string module_file_name(const std::string& file_name);

// Loads "<name>.so" from the program's module folders (the library's own
// folder, then the installed module folder: platform::module_folders()),
// then through the normal search (each try traced). Returns nullptr when
// none works; the failure traced is that of the first file that was there
// but did not load, else the search's. A ".dll" name is mapped to ".so";
// "TWAIN_32.DLL" to the Source Manager "libtwaindsm.so".
platform::ModuleHandle LoadSiblingLibrary(const std::string& file_name);

// Records a module as loaded under `name` (called by the module's binder once
// it has checked the module), or returns the record; nullptr when not loaded.
void register_loaded_module(const LoadedModule& m);
const LoadedModule* loaded_module(const std::string& name);
void forget_loaded_module(const std::string& name);

}  // namespace core
