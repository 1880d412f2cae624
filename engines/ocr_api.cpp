// The C surface of recognition: pages and zones recognised through OrvOcr,
// the last recognition's text and orientation, and the choice of engine.
#include "orivane/ocr_api.h"

#include <cstring>
#include <exception>

#include "core/error_record.h"
#include "core/modules.h"
#include "dib/crop.h"
#include "dib/dib.h"
#include "engines/ocr_engine.h"
#include "log/trace.h"
#include "orivane/errors.h"

namespace {

constexpr std::uint8_t kWhiteFill = 255;

// Recognises `page` as the last recognition.
int32_t recognise_as_last(DIB_HANDLE page) {
  engines::OcrPage result;
  const int rc = engines::ocr_recognize_traced(page, &result);
  engines::ocr_set_last(result);
  return rc;
}

}  // namespace

int32_t OCR_RecognizeDib(DIB_HANDLE dib) {
  LogPrint("OCR_RecognizeDib(0x%lx)\n", static_cast<unsigned long>(dib));
  LogNest nest;
  return recognise_as_last(dib);
}

int32_t OCR_RecognizeDibZone(DIB_HANDLE dib, int32_t x, int32_t y, int32_t w, int32_t h) {
  LogPrint("OCR_RecognizeDibZone(0x%lx, %d, %d, %d, %d)\n", static_cast<unsigned long>(dib), x, y, w, h);
  LogNest nest;
  dib::Dib zone;
  try {
    if (w <= 0 || h <= 0) throw dib::Error(ERR_BAD_PARAMETER, "OCR_RecognizeDibZone");
    const dib::Locked lock(dib);
    zone = dib::cut_rect(lock.view(), x, y, w, h, kWhiteFill);
  } catch (const dib::Error& e) {
    RecordError(e.code(), e.detail().empty() ? "(OCR_RecognizeDibZone)" : e.detail().c_str());
    return -3;
  } catch (const std::exception&) {
    RecordError(ERR_MEMORY, "OCR_RecognizeDibZone");
    return -3;
  }
  return recognise_as_last(zone.get());
}

int32_t OCR_GetText(char* buffer, int32_t size) {
  const std::string text = engines::ocr_last().text;
  if (!buffer || size <= 0 || text.size() + 1 > static_cast<std::size_t>(size)) return 0;
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return static_cast<int32_t>(text.size());
}

int32_t OCR_TextOrientation(void) { return engines::ocr_last().orientation; }

int32_t OCR_Version(void) {
  const core::LoadedModule* m = engines::ocr_api() ? core::loaded_module("OrvOcr") : nullptr;
  return m ? m->version : 0;
}

int32_t OCR_IsEngineAvailable(int32_t engine) { return engines::ocr_engine_available(engine) ? 1 : 0; }

int32_t OCR_SelectEngine(int32_t engine) {
  LogPrint("OCR_SelectEngine(%d)\n", engine);
  return engines::ocr_engine_select(engine) ? 1 : 0;
}

int32_t OCR_SelectedEngine(void) { return engines::ocr_engine_selected(); }

const char* OCR_EngineName(int32_t engine) {
  // The names are known without the module, so that a message can say
  // which engine is missing.
  return engine == OCR_ENGINE_TESSERACT ? "Tesseract" : "";
}
