// Loading and binding the barcode module.
#include "engines/symbol_loader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <string>

#include "core/error_record.h"
#include "core/modules.h"
#include "core/state_registry.h"
#include "log/trace.h"
#include "orivane/errors.h"
#include "platform/paths.h"

namespace engines {
namespace {

constexpr const char* kName = "OrvSymbol";

struct SymbolModule {
  std::recursive_mutex mutex;
  platform::ModuleHandle handle = nullptr;
  SymbolApi api;
};

SymbolModule& symbol_module() {
  static SymbolModule m;
  return m;
}

// The module's trace lines go to the library's trace as they are.
void symbol_log(const char* text) {
  if (text) LogPrint("%s", text);
}

// Why the module did not load, as a system error code: the module file
// beside the library is missing or unreadable (its errno), or there but
// refused (ENOEXEC).
int load_error_code() {
  const std::string folder = platform::library_folder();
  const std::string path = (folder.empty() ? "" : folder + "/") + core::module_file_name("OrvSymbol.dll");
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || ::access(path.c_str(), R_OK) != 0) return errno;
  return ENOEXEC;
}

platform::ModuleHandle open_module() {
  const char* override_folder = std::getenv("QUILLET_MODULE_PATH");
  if (override_folder && *override_folder) {
    const std::string path = std::string(override_folder) + "/" + kName + ".so";
    LogPrint("LoadLibraryEx(%s)...\n", path.c_str());
    std::string error;
    if (platform::ModuleHandle m = platform::module_open(path, &error)) {
      LogPrint("Loaded DLL:      %s\n", platform::module_path(m).c_str());
      return m;
    }
    LogPrint("  %s\n", error.c_str());
  }
  return core::LoadSiblingLibrary("OrvSymbol.dll");
}

template <typename Fn>
bool resolve(platform::ModuleHandle m, const char* symbol, Fn* out) {
  *out = reinterpret_cast<Fn>(platform::module_symbol(m, symbol));
  if (*out) return true;
  LogPrint("missing: %s\n", symbol);
  return false;
}

bool bind(platform::ModuleHandle m, SymbolApi* api) {
  bool ok = true;
#define ORV_SYMBOL_RESOLVE(name) ok = resolve(m, "OrvSymbol_" #name, &api->name) && ok;
  ORV_SYMBOL_ENTRIES(ORV_SYMBOL_RESOLVE)
#undef ORV_SYMBOL_RESOLVE
  return ok;
}

bool load(SymbolModule& s, bool record_failure) {
  platform::ModuleHandle m = open_module();
  if (!m) {
    if (record_failure) RecordErrorF(ERR_BARCODE, "Unable to load OrvSymbol.dll(GLE %d)", load_error_code());
    return false;
  }
  SymbolApi api;
  if (!bind(m, &api)) {
    if (record_failure) RecordError(ERR_BARCODE, "OrvSymbol.dll - wrong version.");
    platform::module_close(m);
    return false;
  }
  const int version = symbol_guarded("OrvSymbol_Version", -1, [&] { return api.Version(); });
  if (version < 0) {
    platform::module_close(m);
    return false;
  }
  symbol_guarded("OrvSymbol_SetLogHandler", 0, [&] {
    api.SetLogHandler(symbol_log);
    return 0;
  });
  s.handle = m;
  s.api = api;
  core::register_loaded_module({kName, platform::module_path(m), version, m});
  LogPrint("OK. Loaded OrvSymbol.dll %d.%02d\n", version / 100, version % 100);
  return true;
}

}  // namespace

const SymbolApi* symbol_api(bool record_failure) {
  SymbolModule& s = symbol_module();
  std::lock_guard<std::recursive_mutex> lock(s.mutex);
  if (!s.handle && !load(s, record_failure)) return nullptr;
  return &s.api;
}

const SymbolApi* symbol_api_if_loaded() {
  SymbolModule& s = symbol_module();
  std::lock_guard<std::recursive_mutex> lock(s.mutex);
  return s.handle ? &s.api : nullptr;
}

void symbol_module_reset_for_tests() {
  SymbolModule& s = symbol_module();
  std::lock_guard<std::recursive_mutex> lock(s.mutex);
  if (!s.handle) return;
  symbol_guarded("OrvSymbol_SetLogHandler", 0, [&] {
    s.api.SetLogHandler(nullptr);
    return 0;
  });
  core::forget_loaded_module(kName);
  platform::module_close(s.handle);
  s.handle = nullptr;
  s.api = SymbolApi{};
}

}  // namespace engines

namespace {

// The barcode module: loaded once, kept for the process (tests unload it).
const bool kSymbolModuleRegistered = core::register_state(
    {"engines.symbol_module", [] { engines::symbol_module_reset_for_tests(); }, nullptr, core::ResetStage::Resource});

}  // namespace
