// Finding and loading the separately built modules.
#include "core/modules.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>

#include "core/state_registry.h"
#include "log/trace.h"
#include "platform/paths.h"

namespace core {

namespace {

struct ModuleRegistry {
  std::mutex mutex;
  std::map<std::string, LoadedModule> loaded;
};

ModuleRegistry& registry() {
  static ModuleRegistry r;
  return r;
}

}  // namespace

// The system's modules carry Windows names in its tables; here they are
// shared objects of the same base name.
std::string module_file_name(const std::string& file_name) {
  std::string lower = file_name;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower == "twain_32.dll") return "libtwaindsm.so";
  if (lower.size() > 4 && lower.compare(lower.size() - 4, 4, ".dll") == 0)
    return file_name.substr(0, file_name.size() - 4) + ".so";
  return file_name;
}

namespace {

// The system error that best says why the file at `path` did not load: it
// is missing, cannot be read, or is no module the loader takes.
int load_error_code(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || ::access(path.c_str(), R_OK) != 0) return errno;
  return ENOEXEC;
}

}  // namespace

platform::ModuleHandle LoadSiblingLibrary(const std::string& file_name) {
  const std::string name = module_file_name(file_name);
  std::string folder = platform::library_folder();
  std::string path = folder.empty() ? name : folder + "/" + name;
  LogPrint("LoadLibraryEx(%s)...\n", path.c_str());
  std::string error;
  int code = 0;
  platform::ModuleHandle m = platform::module_open(path, &error);
  if (!m) {
    // When the sibling file is there but was refused (a damaged copy) or
    // failed to load, that is the message worth keeping, not the search's.
    const int sibling_code = load_error_code(path);
    const bool sibling_exists = sibling_code != ENOENT;
    const std::string sibling_error = error;
    LogPrint("no luck (GLE %d) - trying LoadLibrary(%s)...\n", sibling_code, name.c_str());
    m = platform::module_open(name, &error);
    if (!m && sibling_exists) error = sibling_error;
    code = sibling_exists ? sibling_code : ENOENT;
  }
  if (!m) {
    while (!error.empty() && (error.back() == ' ' || error.back() == '\r' || error.back() == '\n'))
      error.pop_back();
    LogPrint("**failure, GLE %d:%s\n", code, error.c_str());
    return nullptr;
  }
  LogPrint("Loaded DLL:      %s\n", platform::module_path(m).c_str());
  return m;
}

void register_loaded_module(const LoadedModule& m) {
  std::lock_guard<std::mutex> lock(registry().mutex);
  registry().loaded[m.name] = m;
}

const LoadedModule* loaded_module(const std::string& name) {
  std::lock_guard<std::mutex> lock(registry().mutex);
  auto it = registry().loaded.find(name);
  return it == registry().loaded.end() ? nullptr : &it->second;
}

void forget_loaded_module(const std::string& name) {
  std::lock_guard<std::mutex> lock(registry().mutex);
  registry().loaded.erase(name);
}

}  // namespace core

namespace {

// The modules loaded by name: kept for the process.
const bool kModulesRegistered = core::register_state({"core.modules", nullptr, nullptr, core::ResetStage::Resource});

}  // namespace
