// Choosing a barcode engine. The engines live in the separately loaded
// barcode module; without it no engine is available, but the engines keep
// their names so that messages can say which one is missing.
#include <array>

#include "engines/symbol_loader.h"
#include "log/trace.h"
#include "orivane/barcode_api.h"

using engines::symbol_api;
using engines::symbol_api_if_loaded;
using engines::symbol_guarded;

namespace {

constexpr std::array<const char*, 5> kEngineNames = {"", "Talven", "Axtel", "LEADTOOLS", "BLACKICE"};

}  // namespace

int32_t BARCODE_SelectEngine(int32_t engine) {
  LogPrint("BARCODE_SelectEngine(%d)\n", engine);
  const engines::SymbolApi* api = symbol_api();
  if (!api) return 0;
  return symbol_guarded("BARCODE_SelectEngine", 0, [&] { return api->SelectEngine(engine); }) ? 1 : 0;
}

int32_t BARCODE_SelectedEngine(void) {
  const engines::SymbolApi* api = symbol_api();
  if (!api) return 0;
  return symbol_guarded("BARCODE_SelectedEngine", 0, [&] { return api->SelectedEngine(); });
}

int32_t BARCODE_IsEngineAvailable(int32_t engine) {
  const engines::SymbolApi* api = symbol_api(false);
  if (!api) return 0;
  return symbol_guarded("BARCODE_IsEngineAvailable", 0, [&] { return api->IsEngineAvailable(engine); }) ? 1 : 0;
}

const char* BARCODE_EngineName(int32_t engine) {
  if (const engines::SymbolApi* api = symbol_api_if_loaded()) {
    const char* name =
        symbol_guarded("BARCODE_EngineName", static_cast<const char*>(nullptr), [&] { return api->EngineName(engine); });
    if (name && *name) return name;
  }
  if (engine < 0 || engine >= static_cast<int>(kEngineNames.size())) return "";
  return kEngineNames[engine];
}

int32_t BARCODE_SupportedTypes(int32_t engine) {
  const engines::SymbolApi* api = symbol_api_if_loaded();
  if (!api) return 0;
  return symbol_guarded("BARCODE_SupportedTypes", 0, [&] { return api->ReadableCodes(engine); });
}

int32_t BARCODE_AvailableDirections(void) {
  const engines::SymbolApi* api = symbol_api();
  if (!api) return 0;
  return symbol_guarded("BARCODE_AvailableDirections", 0, [&] { return api->AvailableDirectionFlags(); });
}

int32_t BARCODE_Version(void) {
  const engines::SymbolApi* api = symbol_api(false);
  if (!api) return 0;
  return symbol_guarded("BARCODE_Version", 0, [&] { return api->Version(); });
}
