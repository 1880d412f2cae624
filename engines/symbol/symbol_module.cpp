// OrvSymbol's entry points (engines/symbol_abi.h): the selected engine, the
// codes of the last reading and the log handler, over the engines in
// talven_reader.cpp and axtel_reader.cpp.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "engines/symbol/symbol_engine.h"
#include "engines/symbol_abi.h"

#define ORV_SYMBOL_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct Engine {
  const char* name;
  bool present;
  int types;
  std::vector<symbol::Found> (*read)(const symbol::GrayPage&, const symbol::Request&);
};

constexpr int kLinear = BARCODE_EAN13 | BARCODE_EAN8 | BARCODE_UPCA | BARCODE_UPCE | BARCODE_CODE39 |
                        BARCODE_CODE39_FULL | BARCODE_CODE128 | BARCODE_I2OF5 | BARCODE_CODABAR |
                        BARCODE_EAN_UCC | BARCODE_CODE93;
constexpr int kAllDirections =
    BARCODE_LEFT_TO_RIGHT | BARCODE_RIGHT_TO_LEFT | BARCODE_TOP_TO_BOTTOM | BARCODE_BOTTOM_TO_TOP;

// Engines by number; 3 and 4 keep their names for messages but are not here.
const Engine kEngines[] = {
    {"", false, 0, nullptr},
    {"Talven", true, kLinear | BARCODE_QR | BARCODE_DATAMATRIX | BARCODE_PDF417, symbol::talven_read},
    {"Axtel", true, kLinear | BARCODE_QR, symbol::axtel_read},
    {"LEADTOOLS", false, 0, nullptr},
    {"BLACKICE", false, 0, nullptr},
};
constexpr int kEngineCount = int(sizeof kEngines / sizeof kEngines[0]);

const Engine* engine(int n) {
  if (n < 1 || n >= kEngineCount || !kEngines[n].present) return nullptr;
  return &kEngines[n];
}

struct ModuleState {
  int selected = 1;
  OrvSymbolLogFn log = nullptr;
  std::vector<symbol::Found> found;
};

ModuleState& state() {
  static ModuleState s;
  return s;
}

void trace(const char* format, int a, int b, int c, int d, int e) {
  if (!state().log) return;
  char line[160];
  std::snprintf(line, sizeof line, format, a, b, c, d, e);
  state().log(line);
}

// Reading order: top to bottom, then left to right.
bool reads_before(const symbol::Found& a, const symbol::Found& b) {
  if (a.rect.y != b.rect.y) return a.rect.y < b.rect.y;
  return a.rect.x < b.rect.x;
}

int32_t analyze(const void* bmi, std::size_t bytes, int32_t max_count, int32_t types, int32_t directions) {
  const Engine* e = engine(state().selected);
  if (!e) return ORVSYMBOL_E_NO_ENGINE;
  const auto start = std::chrono::steady_clock::now();
  const symbol::GrayPage page = symbol::gray_page_from_dib(bmi, bytes);
  symbol::Request request;
  request.types = types & e->types;
  request.directions = directions & kAllDirections;
  std::vector<symbol::Found> found = e->read(page, request);
  std::erase_if(found, [&](const symbol::Found& f) { return !(f.direction & request.directions); });
  for (symbol::Found& f : found) {
    const int s = page.scale;
    f.rect = {f.rect.x * s, f.rect.y * s, f.rect.w * s, f.rect.h * s};
  }
  std::sort(found.begin(), found.end(), reads_before);
  if (max_count > 0 && found.size() > std::size_t(max_count)) found.resize(std::size_t(max_count));
  state().found = std::move(found);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  trace("[OrvSymbol] engine %d: %d code(s) on %dx%d pixels [%dms]\n", state().selected,
        int(state().found.size()), page.width * page.scale, page.height * page.scale, int(ms.count()));
  return int32_t(state().found.size());
}

const symbol::Found* found_at(int32_t index) {
  const std::vector<symbol::Found>& f = state().found;
  return index >= 0 && std::size_t(index) < f.size() ? &f[std::size_t(index)] : nullptr;
}

}  // namespace

ORV_SYMBOL_EXPORT int32_t OrvSymbol_Version(void) { return ORVSYMBOL_VERSION; }

ORV_SYMBOL_EXPORT int32_t OrvSymbol_DibAnalyze(const void* bmi, size_t bytes, int32_t max_count, int32_t types,
                                               int32_t directions) {
  state().found.clear();
  try {
    return analyze(bmi, bytes, max_count, types, directions);
  } catch (const symbol::BadInput& e) {
    if (state().log) state().log(("[OrvSymbol] refused: " + std::string(e.what()) + "\n").c_str());
    return ORVSYMBOL_E_BAD_INPUT;
  } catch (const std::bad_alloc&) {
    return ORVSYMBOL_E_MEMORY;
  } catch (...) {
    return ORVSYMBOL_E_FAILURE;
  }
}

ORV_SYMBOL_EXPORT const char* OrvSymbol_Text(int32_t index) {
  const symbol::Found* f = found_at(index);
  return f ? f->text.c_str() : "";
}

ORV_SYMBOL_EXPORT int32_t OrvSymbol_Type(int32_t index) {
  const symbol::Found* f = found_at(index);
  return f ? f->type : 0;
}

ORV_SYMBOL_EXPORT int32_t OrvSymbol_GetRect(int32_t index, int32_t* left, int32_t* top, int32_t* width,
                                            int32_t* height) {
  const symbol::Found* f = found_at(index);
  if (!f || !left || !top || !width || !height) return 0;
  *left = f->rect.x, *top = f->rect.y, *width = f->rect.w, *height = f->rect.h;
  return 1;
}

ORV_SYMBOL_EXPORT int32_t OrvSymbol_IsEngineAvailable(int32_t n) { return engine(n) ? 1 : 0; }

ORV_SYMBOL_EXPORT int32_t OrvSymbol_SelectEngine(int32_t n) {
  if (!engine(n)) return 0;
  state().selected = n;
  return 1;
}

ORV_SYMBOL_EXPORT int32_t OrvSymbol_SelectedEngine(void) { return state().selected; }

ORV_SYMBOL_EXPORT int32_t OrvSymbol_AvailableDirectionFlags(void) {
  return engine(state().selected) ? kAllDirections : 0;
}

ORV_SYMBOL_EXPORT const char* OrvSymbol_EngineName(int32_t n) {
  return n >= 1 && n < kEngineCount ? kEngines[n].name : "";
}

ORV_SYMBOL_EXPORT int32_t OrvSymbol_ReadableCodes(int32_t n) {
  const Engine* e = engine(n);
  return e ? e->types : 0;
}

ORV_SYMBOL_EXPORT void OrvSymbol_SetLogHandler(OrvSymbolLogFn handler) { state().log = handler; }
