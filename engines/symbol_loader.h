// The barcode module OrvSymbol as the library binds it: loaded on first use,
// every entry point of engines/symbol_abi.h resolved, handed the trace as its
// log handler and registered for the log header and the About text. A load
// that fails is tried again at the next use.
//
// Where the module is looked for: the folder named by QUILLET_MODULE_PATH
// first (a test-only override, as for the codec modules), then
// core::LoadSiblingLibrary (the library's folder, then the ordinary search).
#pragma once
#include "engines/symbol_abi.h"
#include "fileio/codec_modules.h"

namespace engines {

#define ORV_SYMBOL_DECLARE_ENTRY(name) OrvSymbol_##name##Fn name = nullptr;
struct SymbolApi {
  ORV_SYMBOL_ENTRIES(ORV_SYMBOL_DECLARE_ENTRY)
};
#undef ORV_SYMBOL_DECLARE_ENTRY

// The bound module, loading it when it is not loaded; nullptr when it does
// not load (error 50 recorded: "Unable to load OrvSymbol.dll(GLE n)" or
// "OrvSymbol.dll - wrong version.", unless `record_failure` is false: a
// question about the module is no failure).
const SymbolApi* symbol_api(bool record_failure = true);
// The bound module if it is loaded already; never loads it.
const SymbolApi* symbol_api_if_loaded();

// One call into the module, under the library's fault guard: `call()`'s
// result, or `on_fault` with ERR_FAILURE recorded under `context` when the
// module faulted (see fileio::codec_guarded).
template <typename Result, typename Call>
Result symbol_guarded(const char* context, Result on_fault, Call call) {
  return fileio::codec_guarded(context, on_fault, call);
}

// Unloads the module and forgets it, so the next use loads it again.
void symbol_module_reset_for_tests();

}  // namespace engines
