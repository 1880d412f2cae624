// Reading the barcodes of an image through the barcode module, and the codes
// of the last reading: their texts, types and rectangles.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>

#include "core/error_record.h"
#include "core/state_registry.h"
#include "dib/api_guard.h"
#include "dib/crop.h"
#include "engines/symbol_loader.h"
#include "log/trace.h"
#include "orivane/barcode_api.h"
#include "orivane/errors.h"

using engines::symbol_api;
using engines::symbol_api_if_loaded;
using engines::symbol_guarded;

namespace {

// The reading settings and what the last reading left.
struct BarcodeState {
  int zone_x = 0, zone_y = 0, zone_w = 0, zone_h = 0;
  int directions = -1;
  int count = 0;             // codes kept by the module from the last reading
  int offset_x = 0, offset_y = 0;  // the zone the last reading was cut to
};

BarcodeState& barcode_state() {
  static BarcodeState s;
  return s;
}

const bool kBarcodeStateRegistered = core::register_state(
    {"engines.barcode_reading", [] { barcode_state() = BarcodeState{}; }, nullptr});

// The module's answer to one reading, with the error it stands for recorded.
int32_t record_result(int32_t n) {
  switch (n) {
    case ORVSYMBOL_E_NO_ENGINE: {
      const int selected = BARCODE_SelectedEngine();
      RecordErrorF(ERR_BARCODE, "Engine(%s) not available", BARCODE_EngineName(selected));
      break;
    }
    case ORVSYMBOL_E_BAD_INPUT: RecordError(ERR_BAD_PARAMETER, "BARCODE_Recognize"); break;
    case ORVSYMBOL_E_MEMORY: RecordError(ERR_MEMORY, "BARCODE_Recognize"); break;
    default:
      if (n < 0) RecordErrorF(ERR_FAILURE, "(BARCODE_Recognize => %d)", n);
      break;
  }
  return n;
}

// Hands the locked image (or the zone cut from it, white outside the image)
// to the module.
int32_t analyze(const engines::SymbolApi* api, DIB_HANDLE dib, int32_t max_count, int32_t types) {
  BarcodeState& s = barcode_state();
  const int32_t directions =
      s.directions & symbol_guarded("BARCODE_Recognize", 0, [&] { return api->AvailableDirectionFlags(); });
  return dib::api::guard("BARCODE_Recognize", int32_t{ORVSYMBOL_E_BAD_INPUT}, [&] {
    dib::Locked page(dib);
    std::optional<dib::Dib> zone;
    std::optional<dib::Locked> zone_lock;
    const dib::DibView* view = &page.view();
    if (s.zone_w > 0 && s.zone_h > 0) {
      page->require_rows();
      zone.emplace(dib::cut_rect(page.view(), s.zone_x, s.zone_y, s.zone_w, s.zone_h, 0xFF));
      zone_lock.emplace(zone->get());
      view = &zone_lock->view();
      s.offset_x = s.zone_x, s.offset_y = s.zone_y;
    }
    const std::uint8_t* block = view->block();
    const std::size_t bytes = view->block_size();
    return symbol_guarded("BARCODE_Recognize", int32_t{ORVSYMBOL_E_FAILURE},
                          [&] { return api->DibAnalyze(block, bytes, max_count, types, directions); });
  });
}

}  // namespace

int32_t BARCODE_Recognize(DIB_HANDLE dib, int32_t max_count, int32_t types) {
  LogPrint("BARCODE_Recognize(0x%08lx, %d, %d)\n", static_cast<unsigned long>(dib), max_count, types);
  const auto start = std::chrono::steady_clock::now();
  BarcodeState& s = barcode_state();
  s.count = 0;
  s.offset_x = s.offset_y = 0;
  int32_t n = ORVSYMBOL_E_NO_ENGINE;
  if (const engines::SymbolApi* api = symbol_api()) n = record_result(analyze(api, dib, max_count, types));
  if (n > 0) s.count = n;
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  LogPrint("BARCODE_Recognize => %d [%dms]\n", n, static_cast<int>(ms.count()));
  return n;
}

int32_t BARCODE_GetText(int32_t index, char* buffer) {
  if (!buffer) {
    RecordError(ERR_BAD_PARAMETER, "BARCODE_GetText:NULL ptr");
    return 0;
  }
  buffer[0] = '\0';
  const engines::SymbolApi* api = symbol_api_if_loaded();
  if (!api || index < 0 || index >= barcode_state().count) return 0;
  const char* text = symbol_guarded("BARCODE_GetText", static_cast<const char*>(nullptr), [&] { return api->Text(index); });
  if (!text) return 0;
  // Cut at BARCODE_TEXT_MAX bytes, back to the start of a UTF-8 sequence so
  // that no character is cut in two.
  std::size_t n = strnlen(text, BARCODE_TEXT_MAX + 1);
  if (n > BARCODE_TEXT_MAX) {
    n = BARCODE_TEXT_MAX;
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  }
  std::memcpy(buffer, text, n);
  buffer[n] = '\0';
  return n > 0 ? 1 : 0;
}

int32_t BARCODE_GetType(int32_t index) {
  const engines::SymbolApi* api = symbol_api_if_loaded();
  if (!api || index < 0 || index >= barcode_state().count) return 0;
  return symbol_guarded("BARCODE_GetType", 0, [&] { return api->Type(index); });
}

int32_t BARCODE_GetRect(int32_t index, int32_t* out_left, int32_t* out_top, int32_t* out_width,
                        int32_t* out_height) {
  if (!out_left || !out_top || !out_width || !out_height) {
    RecordError(ERR_BAD_PARAMETER, "BARCODE_GetRect:NULL ptr");
    return 0;
  }
  *out_left = *out_top = *out_width = *out_height = 0;
  const engines::SymbolApi* api = symbol_api_if_loaded();
  const BarcodeState& s = barcode_state();
  if (!api || index < 0 || index >= s.count) return 0;
  int32_t x = 0, y = 0, w = 0, h = 0;
  if (!symbol_guarded("BARCODE_GetRect", 0, [&] { return api->GetRect(index, &x, &y, &w, &h); })) return 0;
  *out_left = x + s.offset_x, *out_top = y + s.offset_y, *out_width = w, *out_height = h;
  return 1;
}

const char* BARCODE_TypeName(int32_t type, char* buffer) {
  static constexpr const char* kNames[] = {"EAN-13", "EAN-8", "UPC-A/UCC-12", "UPC-E", "Code 39",
                                           "Code 39 (Full ASCII)", "Code 128", "Interleaved 2 of 5",
                                           "Codabar", "EAN.UCC", "Code 93"};
  if (!buffer) return "";
  for (int bit = 0; bit < 11; ++bit) {
    if (type == (1 << bit)) {
      std::snprintf(buffer, 32, "%s", kNames[bit]);
      return buffer;
    }
  }
  std::snprintf(buffer, 32, "0x%04x", static_cast<unsigned>(type));
  return buffer;
}

void BARCODE_SetZone(int32_t left, int32_t top, int32_t width, int32_t height) {
  LogPrint("BARCODE_SetZone(%d, %d, %d, %d)\n", left, top, width, height);
  BarcodeState& s = barcode_state();
  s.zone_x = left, s.zone_y = top, s.zone_w = width, s.zone_h = height;
}

void BARCODE_SetDirections(int32_t mask) {
  LogPrint("BARCODE_SetDirections(%d)\n", mask);
  barcode_state().directions = mask;
}
