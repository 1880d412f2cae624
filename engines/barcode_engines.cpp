// Choosing a barcode engine. The engines live in the separately loaded
// barcode module; without it no engine is available, but the engines keep
// their names so that messages can say which one is missing.
#include "orivane/barcode_api.h"

#include <array>
#include <cerrno>
#include <cstdio>

#include "core/error_record.h"
#include "core/modules.h"
#include "core/state_registry.h"
#include "log/trace.h"
#include "orivane/errors.h"

namespace {

constexpr std::array<const char*, 5> kEngineNames = {"", "Talven", "Axtel", "LEADTOOLS",
                                                     "BLACKICE"};

struct SymbolModule {
  platform::ModuleHandle handle = nullptr;
  int (*select_engine)(int) = nullptr;
  const char* (*engine_name)(int) = nullptr;
  int (*readable_codes)(int) = nullptr;
};

SymbolModule& symbol_module() {
  static SymbolModule m;
  return m;
}

// Loads the barcode module on demand; a failed load is tried again next time.
bool symbol_module_loads() {
  SymbolModule& m = symbol_module();
  if (m.handle) return true;
  platform::ModuleHandle h = core::LoadSiblingLibrary("OrvSymbol.dll");
  if (!h) {
    RecordErrorF(ERR_BARCODE, "Unable to load OrvSymbol.dll(GLE %d)", ENOENT);
    return false;
  }
  m.select_engine = reinterpret_cast<int (*)(int)>(platform::module_symbol(h, "OrvSymbol_SelectEngine"));
  m.engine_name =
      reinterpret_cast<const char* (*)(int)>(platform::module_symbol(h, "OrvSymbol_EngineName"));
  m.readable_codes =
      reinterpret_cast<int (*)(int)>(platform::module_symbol(h, "OrvSymbol_ReadableCodes"));
  if (!m.select_engine || !m.engine_name || !m.readable_codes) {
    RecordError(ERR_BARCODE, "OrvSymbol.dll - wrong version.");
    platform::module_close(h);
    m = SymbolModule{};
    return false;
  }
  m.handle = h;
  return true;
}

}  // namespace

int BARCODE_SelectEngine(int engine) {
  LogPrint("BARCODE_SelectEngine(%d)\n", engine);
  if (!symbol_module_loads()) return 0;
  return symbol_module().select_engine(engine) ? 1 : 0;
}

const char* BARCODE_EngineName(int engine) {
  if (symbol_module().handle) {
    const char* name = symbol_module().engine_name(engine);
    if (name) return name;
  }
  if (engine < 0 || engine >= static_cast<int>(kEngineNames.size())) return "";
  return kEngineNames[engine];
}

int BARCODE_SupportedTypes(int engine) {
  if (!symbol_module().handle) return 0;
  return symbol_module().readable_codes(engine);
}

namespace {

// The barcode engines' module: loaded once, kept for the process.
const bool kSymbolModuleRegistered =
    core::register_state({"engines.symbol_module", nullptr, nullptr, core::ResetStage::Resource});

}  // namespace
