// OrvOcr's entry points (engines/ocr/ocr_abi.h) over the Tesseract engine:
// the module's one recognition, its engine choice and its settings.
#include "engines/ocr/ocr_abi.h"

#include <leptonica/allheaders.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

#include "engines/ocr/ocr_image.h"
#include "engines/ocr/ocr_tesseract.h"
#include "engines/ocr/ocr_text.h"

namespace {

constexpr const char* kEngineName = "Tesseract";
constexpr std::size_t kMaxLineBreak = 7;
// Long enough for any printed page (a dense 300-dpi letter page takes a few
// seconds), short enough that a page of noise cannot hold a batch for ever.
constexpr int kDefaultTimeLimitMs = 120'000;

struct Module {
  std::mutex mutex;
  ocr::TesseractEngine engine;
  int selected = 0;
  std::string line_break = "\n";
  int time_limit_ms = kDefaultTimeLimitMs;
  ocr::PageText last;
  int orientation = 0;
  OrvOcrLogFn log = nullptr;
};

// Never destroyed: Tesseract's own caches of trained data are destroyed at
// exit before any static made after them, and an engine torn down after its
// caches would leave them half freed.
Module& module() {
  static Module* m = new Module;
  return *m;
}

void log_line(const char* text) {
  if (OrvOcrLogFn log = module().log) log(text);
}

// Leptonica, under Tesseract, writes its complaints to standard error unless
// given somewhere else to put them.
void leptonica_message(const char* text) {
  if (!text) return;
  std::string line = std::string("[OrvOcr] Leptonica: ") + text;
  if (line.back() != '\n') line += '\n';
  log_line(line.c_str());
}

[[maybe_unused]] const bool kLeptonicaQuiet = (leptSetStderrHandler(leptonica_message), true);

bool engine_ready(Module& m, int engine) {
  return engine == ORVOCR_ENGINE_TESSERACT && m.engine.available();
}

int32_t recognise(Module& m, const void* dib, uint64_t bytes) {
  if (m.selected == 0) return ORVOCR_E_NO_ENGINE;
  ocr::GrayPage page;
  const ocr::ImageProblem problem = ocr::gray_page_read(dib, bytes, &page);
  if (problem != ocr::ImageProblem::None) {
    log_line((std::string("[OrvOcr] page refused: ") + ocr::image_problem_text(problem) + "\n").c_str());
    return problem == ocr::ImageProblem::Memory ? ORVOCR_E_MEMORY : ORVOCR_E_BAD_DIB;
  }
  if (page.factor > 1) {
    const std::string line = "[OrvOcr] page of " + std::to_string(page.page_width) + " x " +
                             std::to_string(page.page_height) + " read at 1/" + std::to_string(page.factor) + "\n";
    log_line(line.c_str());
  }
  ocr::Recognition result;
  std::string why;
  if (!m.engine.recognise(page, m.line_break, m.time_limit_ms, &result, &why)) {
    log_line(("[OrvOcr] " + why + "\n").c_str());
    return m.engine.available() ? ORVOCR_E_ENGINE : ORVOCR_E_NO_ENGINE;
  }
  m.last = std::move(result.text);
  m.orientation = result.orientation;
  return static_cast<int32_t>(m.last.text.size());
}

}  // namespace

extern "C" {

ORVOCR_EXPORT int32_t ORVOCR_Version(void) { return ORVOCR_VERSION; }

ORVOCR_EXPORT int32_t ORVOCR_RecognizeDib(const void* dib, uint64_t bytes) {
  Module& m = module();
  std::lock_guard lock(m.mutex);
  m.last = ocr::PageText{};
  m.orientation = 0;
  try {
    return recognise(m, dib, bytes);
  } catch (const std::bad_alloc&) {
    m.last = ocr::PageText{};
    return ORVOCR_E_MEMORY;
  } catch (...) {
    m.last = ocr::PageText{};
    return ORVOCR_E_ENGINE;
  }
}

ORVOCR_EXPORT int32_t ORVOCR_IsEngineAvailable(int32_t engine) {
  Module& m = module();
  std::lock_guard lock(m.mutex);
  return engine_ready(m, engine) ? 1 : 0;
}

ORVOCR_EXPORT const char* ORVOCR_Text(void) { return module().last.text.c_str(); }

ORVOCR_EXPORT void ORVOCR_ClearText(void) {
  Module& m = module();
  std::lock_guard lock(m.mutex);
  m.last = ocr::PageText{};
  m.orientation = 0;
}

ORVOCR_EXPORT int32_t ORVOCR_SelectEngine(int32_t engine) {
  Module& m = module();
  std::lock_guard lock(m.mutex);
  if (!engine_ready(m, engine)) return 0;
  m.selected = engine;
  return 1;
}

ORVOCR_EXPORT int32_t ORVOCR_SelectedEngine(void) { return module().selected; }

ORVOCR_EXPORT const char* ORVOCR_EngineName(int32_t engine) {
  return engine == ORVOCR_ENGINE_TESSERACT ? kEngineName : "";
}

ORVOCR_EXPORT int32_t ORVOCR_GetCharPositions(int32_t* x, int32_t* y, int32_t capacity) {
  Module& m = module();
  std::lock_guard lock(m.mutex);
  if (!x || !y || capacity <= 0) return 0;
  const int32_t n = static_cast<int32_t>(std::min<std::size_t>(std::size_t(capacity), m.last.boxes.size()));
  for (int32_t i = 0; i < n; ++i) {
    x[i] = m.last.boxes[std::size_t(i)].x;
    y[i] = m.last.boxes[std::size_t(i)].y;
  }
  return n;
}

ORVOCR_EXPORT int32_t ORVOCR_GetCharSizes(int32_t* widths, int32_t* heights, int32_t capacity) {
  Module& m = module();
  std::lock_guard lock(m.mutex);
  if (!widths || !heights || capacity <= 0) return 0;
  const int32_t n = static_cast<int32_t>(std::min<std::size_t>(std::size_t(capacity), m.last.boxes.size()));
  for (int32_t i = 0; i < n; ++i) {
    widths[i] = m.last.boxes[std::size_t(i)].w;
    heights[i] = m.last.boxes[std::size_t(i)].h;
  }
  return n;
}

ORVOCR_EXPORT int32_t ORVOCR_SelectDefaultEngine(void) {
  return ORVOCR_SelectEngine(ORVOCR_ENGINE_TESSERACT) ? ORVOCR_ENGINE_TESSERACT : 0;
}

ORVOCR_EXPORT int32_t ORVOCR_TextOrientation(void) { return module().orientation; }

ORVOCR_EXPORT void ORVOCR_SetLogHandler(OrvOcrLogFn handler) {
  Module& m = module();
  std::lock_guard lock(m.mutex);
  m.log = handler;
  m.engine.set_log(handler);
}

ORVOCR_EXPORT void ORVOCR_SetLineBreak(const char* text) {
  Module& m = module();
  std::lock_guard lock(m.mutex);
  if (!text || !*text) m.line_break = "\n";
  else m.line_break.assign(text, strnlen(text, kMaxLineBreak));
}

ORVOCR_EXPORT int32_t ORVOCR_SetLanguage(const char* languages) {
  Module& m = module();
  std::lock_guard lock(m.mutex);
  return m.engine.set_languages(languages ? languages : "") ? 1 : 0;
}

ORVOCR_EXPORT void ORVOCR_SetTimeLimit(int32_t milliseconds) {
  Module& m = module();
  std::lock_guard lock(m.mutex);
  m.time_limit_ms = milliseconds > 0 ? milliseconds : 0;
}

}  // extern "C"
