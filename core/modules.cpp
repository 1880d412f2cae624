// Finding and loading the separately built modules.
#include "core/modules.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

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
  // The program's module folders, then the plain name through the loader's
  // own search; each try traced.
  std::vector<std::string> paths;
  for (const std::string& folder : platform::module_folders()) paths.push_back(folder + "/" + name);
  paths.push_back(name);
  // The first file that is there but was refused (a damaged copy) or failed
  // to load gives the message worth keeping, not the search's.
  int kept_code = 0;
  std::string kept_error;
  int last_code = 0;
  for (std::size_t i = 0; i < paths.size(); ++i) {
    const bool plain = i + 1 == paths.size();
    if (i == 0)
      LogPrint("LoadLibraryEx(%s)...\n", paths[i].c_str());
    else
      LogPrint("no luck (GLE %d) - trying %s(%s)...\n", last_code,
               plain ? "LoadLibrary" : "LoadLibraryEx", paths[i].c_str());
    std::string error;
    if (platform::ModuleHandle m = platform::module_open(paths[i], &error)) {
      LogPrint("Loaded DLL:      %s\n", platform::module_path(m).c_str());
      return m;
    }
    last_code = plain ? ENOENT : load_error_code(paths[i]);
    if (kept_code == 0 && (last_code != ENOENT || plain)) {
      kept_code = last_code;
      kept_error = error;
    }
  }
  while (!kept_error.empty() &&
         (kept_error.back() == ' ' || kept_error.back() == '\r' || kept_error.back() == '\n'))
    kept_error.pop_back();
  LogPrint("**failure, GLE %d:%s\n", kept_code, kept_error.c_str());
  return nullptr;
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
