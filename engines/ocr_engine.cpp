// Loading OrvOcr and recognising pages through it: the module's entry points
// bound and checked, every call made under the library's lock and the fault
// guard, and the last recognition kept with what the text layer needs of its
// page.
#include "engines/ocr_engine.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "core/error_record.h"
#include "core/modules.h"
#include "core/state_registry.h"
#include "dib/dib.h"
#include "fileio/codec_modules.h"
#include "log/trace.h"
#include "orivane/errors.h"
#include "orivane/ocr_api.h"
#include "platform/clock.h"
#include "platform/memblock.h"

namespace engines {
namespace {

constexpr const char* kModuleName = "OrvOcr";
constexpr const char* kNotFound = "Could not find and load OrvOcr.dll.";
constexpr const char* kWrongVersion = "Wrong version of OrvOcr.dll.";
constexpr const char* kLanguageVariable = "QUILLET_OCR_LANG";
constexpr double kInchesPerMetre = 0.0254;

struct OcrState {
  std::recursive_mutex mutex;  // the module's calls and everything below
  platform::ModuleHandle handle = nullptr;
  OcrApi api;
  // A fault inside the module leaves it in no state to be called again.
  bool faulted = false;
  OcrPage last;
  std::string program_language;  // OCR_SetLanguage's choice ("" none)
  std::string default_language;  // the settings file's choice ("" none)
  std::string language_text;     // what OCR_GetLanguage last answered
};

OcrState& state() {
  static OcrState s;
  return s;
}

// The module's log lines land in the trace.
void module_log(const char* text) {
  if (text) LogPrint("%s", text);
}

bool bind(platform::ModuleHandle m, OcrApi* api) {
  bool ok = true;
#define ORV_OCR_REQUIRE(name)                                                                            \
  api->name = reinterpret_cast<ORVOCR_##name##Fn>(platform::module_symbol(m, "ORVOCR_" #name));         \
  if (!api->name) {                                                                                      \
    LogPrint("missing: ORVOCR_" #name "\n");                                                             \
    ok = false;                                                                                          \
  }
#define ORV_OCR_OPTIONAL(name) \
  api->name = reinterpret_cast<ORVOCR_##name##Fn>(platform::module_symbol(m, "ORVOCR_" #name));
  ORVOCR_REQUIRED_ENTRIES(ORV_OCR_REQUIRE)
  ORVOCR_OPTIONAL_ENTRIES(ORV_OCR_OPTIONAL)
#undef ORV_OCR_REQUIRE
#undef ORV_OCR_OPTIONAL
  return ok;
}

// A call into the module under the fault guard: its result, or `on_fault`
// with the module given up for the rest of the process.
template <typename Result, typename Call>
Result module_call(const char* context, Result on_fault, Call call) {
  OcrState& s = state();
  if (s.faulted) return on_fault;
  bool faulted = true;
  const Result r = fileio::codec_guarded(context, on_fault, [&] {
    const Result inner = call();
    faulted = false;
    return inner;
  });
  if (faulted) {
    s.faulted = true;
    LogPrint("** OrvOcr faulted in %s: not used again\n", context);
  }
  return r;
}

// First settings of a module just loaded: its log, the language, an engine.
void after_load(OcrState& s) {
  module_call("OCR load", 0, [&] {
    s.api.SetLogHandler(module_log);
    return 0;
  });
  const std::string language = ocr_language();
  if (s.api.SetLanguage) module_call("OCR load", 0, [&] { return s.api.SetLanguage(language.c_str()); });
  const int engine = module_call("OCR load", 0, [&] { return s.api.SelectDefaultEngine(); });
  if (engine == 0) LogPrint("OrvOcr: no engine available for '%s'\n", language.c_str());
}

const OcrApi* load(OcrState& s) {
  platform::ModuleHandle m = fileio::open_module(kModuleName);
  if (!m) {
    RecordError(ERR_OCR, kNotFound);
    return nullptr;
  }
  OcrApi api;
  const bool bound = bind(m, &api);
  const int version = bound ? api.Version() : 0;
  if (!bound || version < ORVOCR_MIN_VERSION) {
    if (bound) LogPrint("OrvOcr version %d.%02d\n", version / 100, version % 100);
    RecordError(ERR_OCR, kWrongVersion);
    platform::module_close(m);
    return nullptr;
  }
  s.handle = m;
  s.api = api;
  s.faulted = false;
  core::register_loaded_module({kModuleName, platform::module_path(m), version, m});
  LogPrint("OK. Loaded OrvOcr.dll %d.%02d\n", version / 100, version % 100);
  after_load(s);
  return &s.api;
}

int dpi_of(std::int32_t ppm) { return ppm > 0 ? static_cast<int>(std::lround(ppm * kInchesPerMetre)) : 0; }

// What the module says went wrong, for the error record.
const char* failure_text(int rc) {
  switch (rc) {
    case ORVOCR_E_NO_ENGINE: return "no OCR engine available";
    case ORVOCR_E_BAD_DIB: return "the page is no image the engine reads";
    case ORVOCR_E_MEMORY: return "not enough memory to recognise the page";
    default: return "the engine failed on the page";
  }
}

// Copies the module's recognition into `out` (text, boxes, orientation).
void read_result(const OcrApi& api, OcrPage* out) {
  const char* text = module_call("OCR_RecognizeDib", static_cast<const char*>(nullptr), [&] { return api.Text(); });
  out->text = text ? text : "";
  const int n = static_cast<int>(out->text.size());
  for (std::vector<int>* v : {&out->x, &out->y, &out->width, &out->height}) v->assign(std::size_t(n), 0);
  if (n > 0) {
    module_call("OCR_RecognizeDib", 0, [&] { return api.GetCharPositions(out->x.data(), out->y.data(), n); });
    module_call("OCR_RecognizeDib", 0, [&] { return api.GetCharSizes(out->width.data(), out->height.data(), n); });
  }
  const int degrees = module_call("OCR_RecognizeDib", 0, [&] { return api.TextOrientation(); });
  out->orientation = degrees == 90 || degrees == 180 || degrees == 270 ? degrees : 0;
}

}  // namespace

const OcrApi* ocr_api() {
  OcrState& s = state();
  std::lock_guard lock(s.mutex);
  if (s.handle) {
    if (!s.faulted) return &s.api;
    RecordError(ERR_FAILURE, "OrvOcr faulted earlier");
    return nullptr;
  }
  return load(s);
}

const OcrApi* ocr_api_if_loaded() {
  OcrState& s = state();
  std::lock_guard lock(s.mutex);
  return s.handle && !s.faulted ? &s.api : nullptr;
}

int ocr_engine_available(int engine) {
  OcrState& s = state();
  std::lock_guard lock(s.mutex);
  const OcrApi* api = ocr_api();
  return api ? module_call("OCR_IsEngineAvailable", 0, [&] { return api->IsEngineAvailable(engine); }) : 0;
}

int ocr_engine_select(int engine) {
  OcrState& s = state();
  std::lock_guard lock(s.mutex);
  const OcrApi* api = ocr_api();
  return api ? module_call("OCR_SelectEngine", 0, [&] { return api->SelectEngine(engine); }) : 0;
}

int ocr_engine_selected() {
  OcrState& s = state();
  std::lock_guard lock(s.mutex);
  const OcrApi* api = ocr_api_if_loaded();
  return api ? module_call("OCR_SelectedEngine", 0, [&] { return api->SelectedEngine(); }) : 0;
}

void ocr_reset_for_tests() {
  OcrState& s = state();
  std::lock_guard lock(s.mutex);
  // The module stays mapped (Tesseract and its OpenMP runtime are not made
  // to be unloaded); it is only forgotten, so that the next use looks for it
  // again, and given its defaults back if it is found again.
  if (s.handle) {
    if (!s.faulted) {
      if (s.api.SetLanguage) s.api.SetLanguage("");
      s.api.SetLineBreak(nullptr);
      s.api.ClearText();
      s.api.SetLogHandler(nullptr);
    }
    core::forget_loaded_module(kModuleName);
  }
  s.handle = nullptr;
  s.api = OcrApi{};
  s.faulted = false;
  s.last = OcrPage{};
  s.program_language.clear();
  s.default_language.clear();
}

int ocr_recognize(DIB_HANDLE page, OcrPage* out) {
  *out = OcrPage{};
  if (page == 0 || !dib::dib_is_block(page)) {
    RecordError(ERR_BAD_DIB, "(OCR_RecognizeDib)");
    return -2;
  }
  OcrState& s = state();
  std::lock_guard lock(s.mutex);
  const OcrApi* api = ocr_api();
  if (!api) return -1;
  const auto* block = static_cast<const std::uint8_t*>(platform::mem_lock(page));
  if (!block) {
    RecordError(ERR_BAD_DIB, "(OCR_RecognizeDib)");
    return -2;
  }
  const std::size_t bytes = platform::mem_size(page);
  const std::optional<dib::DibView> view = dib::DibView::over(const_cast<std::uint8_t*>(block), bytes);
  if (!view || !view->rows_ok()) {
    platform::mem_unlock(page);
    RecordError(ERR_BAD_DIB, "(OCR_RecognizeDib)");
    return -2;
  }
  out->page_width = view->width();
  out->page_height = view->height();
  out->x_dpi = dpi_of(view->header().x_ppm);
  out->y_dpi = dpi_of(view->header().y_ppm);
  const int rc = module_call("OCR_RecognizeDib", int32_t{ORVOCR_E_ENGINE},
                             [&] { return api->RecognizeDib(block, bytes); });
  platform::mem_unlock(page);
  if (rc < 0) {
    RecordErrorF(ERR_OCR, "%s (OCR_RecognizeDib => %d)", failure_text(rc), rc);
    OcrPage empty;
    empty.page_width = out->page_width;
    empty.page_height = out->page_height;
    *out = empty;
    return -5;
  }
  read_result(*api, out);
  return static_cast<int>(out->text.size());
}

int ocr_recognize_traced(DIB_HANDLE page, OcrPage* out) {
  const std::uint32_t start = platform::tick_count_ms();
  const int rc = ocr_recognize(page, out);
  LogPrint("OCR_RecognizeDib => %d [%dms]\n", rc, static_cast<int>(platform::tick_count_ms() - start));
  return rc;
}

void ocr_clear_last() {
  OcrState& s = state();
  std::lock_guard lock(s.mutex);
  s.last = OcrPage{};
  if (s.handle && !s.faulted) module_call("OCR page reset", 0, [&] {
      s.api.ClearText();
      return 0;
    });
}

OcrPage ocr_last() {
  OcrState& s = state();
  std::lock_guard lock(s.mutex);
  return s.last;
}

void ocr_set_last(const OcrPage& page) {
  OcrState& s = state();
  std::lock_guard lock(s.mutex);
  s.last = page;
}

std::string ocr_language() {
  OcrState& s = state();
  std::lock_guard lock(s.mutex);
  if (!s.program_language.empty()) return s.program_language;
  if (const char* env = std::getenv(kLanguageVariable); env && *env) return env;
  if (!s.default_language.empty()) return s.default_language;
  return "eng";
}

void ocr_set_default_language(const std::string& languages) {
  OcrState& s = state();
  std::lock_guard lock(s.mutex);
  s.default_language = languages;
  if (s.handle && !s.faulted && s.api.SetLanguage) {
    const std::string now = ocr_language();
    module_call("OCR_SetLanguage", 0, [&] { return s.api.SetLanguage(now.c_str()); });
  }
}

}  // namespace engines

// ---- The language, kept here with the module it is handed to --------------

int32_t OCR_SetLanguage(const char* languages) {
  LogPrint("OCR_SetLanguage(%s)\n", languages ? languages : "NULL");
  engines::OcrState& s = engines::state();
  std::lock_guard lock(s.mutex);
  s.program_language = languages ? languages : "";
  if (!s.handle || s.faulted) return 1;
  const std::string now = engines::ocr_language();
  if (!s.api.SetLanguage) {
    if (now == "eng") return 1;
    RecordErrorF(ERR_OCR, "this OrvOcr.dll reads English only, not '%s'", now.c_str());
    return 0;
  }
  if (engines::module_call("OCR_SetLanguage", 0, [&] { return s.api.SetLanguage(now.c_str()); }) == 1) {
    // A module whose engine had no data before may have it now.
    engines::module_call("OCR_SetLanguage", 0, [&] {
      return s.api.SelectedEngine() == 0 ? s.api.SelectDefaultEngine() : 0;
    });
    return 1;
  }
  RecordErrorF(ERR_OCR, "no trained data installed for '%s'", now.c_str());
  return 0;
}

const char* OCR_GetLanguage(void) {
  engines::OcrState& s = engines::state();
  std::lock_guard lock(s.mutex);
  s.language_text = engines::ocr_language();
  return s.language_text.c_str();
}

namespace {

// The loaded engine module: loaded once, kept for the process.
const bool kOcrModuleRegistered =
    core::register_state({"engines.ocr_module", [] { engines::ocr_reset_for_tests(); }, nullptr,
                          core::ResetStage::Resource});

}  // namespace
