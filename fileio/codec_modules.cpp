// Loading and binding the codec modules, the host table they call back
// through, and the hooks each use of a module installs.
#include "fileio/codec_modules.h"

#include <array>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "core/app_identity.h"
#include "core/error_record.h"
#include "core/paper_sizes.h"
#include "core/state_registry.h"
#include "dib/allocate.h"
#include "dib/dib.h"
#include "dib/image_limit.h"
#include "fileio/options.h"
#include "fileio/pdf_options.h"
#include "log/trace.h"
#include "orivane/errors.h"
#include "orivane/file_options.h"
#include "orivane/version.h"
#include "platform/crash_guard.h"
#include "platform/memblock.h"

namespace fileio {

namespace {

constexpr std::array<const char*, 6> kNames = {"OrvJpeg", "OrvTiff", "OrvPng",
                                               "OrvGif",  "OrvDcx",  "OrvPdf"};

// ---- The host table -------------------------------------------------------

OrvHandle host_dib_alloc(int32_t pixel_type, int32_t width, int32_t height, int32_t depth) {
  if (pixel_type < 0 || pixel_type > 5) return 0;
  return dib::try_allocate(depth, width, height, pixel_type).release();
}
void host_dib_free(OrvHandle h) { dib::dib_free(h); }
OrvHandle host_mem_alloc(size_t size) { return platform::mem_alloc(size, true); }
OrvHandle host_mem_realloc(OrvHandle h, size_t size) { return platform::mem_realloc(h, size); }
void* host_mem_lock(OrvHandle h) { return platform::mem_lock(h); }
int32_t host_mem_unlock(OrvHandle h) { return platform::mem_unlock(h) ? 1 : 0; }
size_t host_mem_size(OrvHandle h) { return platform::mem_size(h); }
void host_mem_free(OrvHandle h) { platform::mem_free(h); }
void host_record_error(int32_t code, const char* detail) { RecordError(code, detail); }
void host_log(const char* text) {
  if (text) LogPrint("%s", text);
}
int32_t host_trace_level() { return LogLevel(); }
int64_t host_max_image_pixels() { return dib::image_limit().max_pixels; }

static_assert(ORV_DEFAULT_MAX_IMAGE_PIXELS == DIB_DEFAULT_MAX_IMAGE_PIXELS,
              "modules and library start from the same loading limit");

const OrvHost kHost = {
    ORV_CODEC_ABI_VERSION, sizeof(OrvHost), host_dib_alloc, host_dib_free,
    host_mem_alloc,        host_mem_realloc, host_mem_lock, host_mem_unlock,
    host_mem_size,         host_mem_free,    host_record_error, host_log,
    host_trace_level,      host_max_image_pixels,
};

// ---- Hooks ----------------------------------------------------------------

void tiff_log(const char* text) { LogPrint("[OrvTiff] %s\n", text ? text : ""); }
void tiff_error(int32_t, const char* text) { RecordError(ERR_TIFF, text ? text : ""); }
void dcx_log(const char* text) { LogPrint("[OrvDcx] %s\n", text ? text : ""); }
void pdf_log(const char* text) { LogPrint("[OrvPdf] %s\n", text ? text : ""); }

int pdf_error_code(int pdf_code) {
  switch (pdf_code) {
    case ORVPDF_E_NONE: return 0;
    case ORVPDF_E_MEMORY: return ERR_MEMORY;
    case ORVPDF_E_TEXT: return ERR_TEXT;
    case ORVPDF_E_BAD_DIB: return ERR_BAD_DIB;
    case ORVPDF_E_FAILURE: return ERR_FAILURE;
    case 7: case 8: case 9: case 10: case 11: return ERR_PDF_COMPRESSION;
    case ORVPDF_E_FEATURE: return ERR_PDF_FEATURE;
    case ORVPDF_E_FORMAT: return ERR_PDF_FORMAT;
    case ORVPDF_E_INVALID: return ERR_PDF_INVALID;
    case ORVPDF_E_PASSWORD: return ERR_PDF_PASSWORD;
    default: return ERR_FILE_READ;
  }
}

void pdf_error(int32_t code, const char* text) {
  LogPrint("[OrvPdf] PdfError(%d)\n", code);
  const int record = pdf_error_code(code);
  if (record != 0) RecordError(record, text ? text : "");
}

// ---- Loading --------------------------------------------------------------

struct Slot {
  int tried = 0;  // 0 not tried, 1 loaded, -1 failed
  platform::ModuleHandle handle = nullptr;
  // Why the module did not load, where its loader records a reason (OrvPdf):
  // told again at every later use, as the first time.
  int failure_code = 0;
  std::string failure_detail;
};

struct Modules {
  std::recursive_mutex mutex;
  std::array<Slot, 6> slots;
  JpegApi jpeg;
  TiffApi tiff;
  PngApi png;
  GifApi gif;
  DcxApi dcx;
  PdfApi pdf;
  // Calls into the modules run under the fault guard (read on any thread).
  std::atomic<bool> guard_on{true};
};

Modules& modules() {
  static Modules m;
  return m;
}

// Records why module `c` did not load and keeps it for its later uses.
void load_failed(Codec c, int code, const std::string& detail) {
  Slot& slot = modules().slots[static_cast<int>(c)];
  slot.failure_code = code;
  slot.failure_detail = detail;
  RecordError(code, detail.c_str());
}

// Resolves every entry of `Api`; false at the first one missing, unless it is
// one of the optional entries the caller allows.
template <typename Fn>
bool resolve(platform::ModuleHandle m, const char* symbol, Fn* out, bool optional = false) {
  *out = reinterpret_cast<Fn>(platform::module_symbol(m, symbol));
  if (*out) return true;
  LogPrint("missing: %s\n", symbol);
  return optional;
}

#define ORV_RESOLVE(prefix, name) \
  ok = resolve(m, #prefix "_" #name, &api->name, optional(#name)) && ok;

bool bind(platform::ModuleHandle m, JpegApi* api) {
  bool ok = true;
  auto optional = [](const char* n) {
    return std::string(n) == "DibFromBuffer" || std::string(n) == "DibForwardDCT";
  };
  ORV_JPEG_ENTRIES(ORV_RESOLVE)
  return ok;
}
#define ORV_BIND_ALL(Api, LIST)                       \
  bool bind(platform::ModuleHandle m, Api* api) {     \
    bool ok = true;                                   \
    auto optional = [](const char*) { return false; }; \
    LIST(ORV_RESOLVE)                                 \
    return ok;                                        \
  }
ORV_BIND_ALL(TiffApi, ORV_TIFF_ENTRIES)
ORV_BIND_ALL(PngApi, ORV_PNG_ENTRIES)
ORV_BIND_ALL(GifApi, ORV_GIF_ENTRIES)
ORV_BIND_ALL(DcxApi, ORV_DCX_ENTRIES)
ORV_BIND_ALL(PdfApi, ORV_PDF_ENTRIES)
#undef ORV_BIND_ALL
#undef ORV_RESOLVE

bool install_host(platform::ModuleHandle m, const std::string& name) {
  std::string prefix;
  for (char c : name) prefix += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  auto set_host = reinterpret_cast<OrvSetHostFn>(platform::module_symbol(m, (prefix + "_SetHost").c_str()));
  if (!set_host) {
    LogPrint("missing: %s_SetHost\n", prefix.c_str());
    return false;
  }
  const int32_t rc = set_host(&kHost);
  if (rc != 0) LogPrint("%s_SetHost => %d\n", prefix.c_str(), rc);
  return rc == 0;
}

// Reports a module that does not bind, in the module's own words.
void report_missing_entry(Codec c) {
  switch (c) {
    case Codec::Jpeg: LogPrint("Entry point missing!\n"); break;
    case Codec::Tiff: ReportUrgentError(ERR_WRONG_VERSION, "OrvTiff.dll"); break;
    case Codec::Pdf: load_failed(c, ERR_PDF_LIBRARY, "missing entry point, probably wrong version."); break;
    default: LogPrint("entry point missing.\n"); break;
  }
}

// The version rule of each module; false (reported) when it is refused.
bool version_accepted(Codec c, int version) {
  if (c == Codec::Tiff) {
    LogPrint("ORVTIFF Version = %d.%02d ", version / 100, version % 100);
    if (version < ORVTIFF_MIN_VERSION) {
      ReportUrgentError(ERR_WRONG_VERSION, "OrvTiff.dll needs to be updated to 1.57 or newer.");
      return false;
    }
  }
  if (c == Codec::Pdf && version != ORVPDF_REQUIRED_VERSION) {
    char detail[64];
    std::snprintf(detail, sizeof detail, "Found V%u.%02u, need V%u.%02u", version / 100, version % 100,
                  ORVPDF_REQUIRED_VERSION / 100, ORVPDF_REQUIRED_VERSION % 100);
    load_failed(c, ERR_PDF_LIBRARY, detail);
    return false;
  }
  return true;
}

int bind_codec(Codec c, platform::ModuleHandle m) {
  Modules& s = modules();
  bool ok = false;
  int version = 0;
  switch (c) {
    case Codec::Jpeg: ok = bind(m, &s.jpeg); if (ok) version = s.jpeg.Version(); break;
    case Codec::Tiff: ok = bind(m, &s.tiff); if (ok) version = s.tiff.Version(); break;
    case Codec::Png: ok = bind(m, &s.png); if (ok) version = s.png.Version(); break;
    case Codec::Gif: ok = bind(m, &s.gif); if (ok) version = s.gif.Version(); break;
    case Codec::Dcx: ok = bind(m, &s.dcx); if (ok) version = s.dcx.Version(); break;
    case Codec::Pdf: ok = bind(m, &s.pdf); if (ok) version = s.pdf.Version(); break;
  }
  if (!ok) {
    report_missing_entry(c);
    return -1;
  }
  return version;
}

void clear_api(Codec c) {
  Modules& s = modules();
  switch (c) {
    case Codec::Jpeg: s.jpeg = JpegApi{}; break;
    case Codec::Tiff: s.tiff = TiffApi{}; break;
    case Codec::Png: s.png = PngApi{}; break;
    case Codec::Gif: s.gif = GifApi{}; break;
    case Codec::Dcx: s.dcx = DcxApi{}; break;
    case Codec::Pdf: s.pdf = PdfApi{}; break;
  }
}

// What follows a successful load: first settings and traces.
void after_load(Codec c, int version) {
  Modules& s = modules();
  const int major = version / 100, minor = version % 100;
  switch (c) {
    case Codec::Jpeg:
      s.jpeg.SetQuality(output_settings().jpeg_quality);
      LogPrint("OK. Loaded OrvJpeg.dll %d.%02d\n", major, minor);
      break;
    case Codec::Dcx:
      s.dcx.SetLogHandler(dcx_log);
      LogPrint("OK. Loaded OrvDcx.dll %d.%02d\n", major, minor);
      break;
    case Codec::Pdf:
      LogPrint("Loaded OrvPdf.dll %d.%02d\n", major, minor);
      break;
    default:
      LogPrint("OK. Loaded %s.dll %d.%02d\n", kNames[static_cast<int>(c)], major, minor);
      break;
  }
}

bool load(Codec c) {
  const int i = static_cast<int>(c);
  const std::string name = kNames[i];
  // OrvTiff and OrvPdf compress through OrvJpeg's code: without it they are
  // not usable either.
  if ((c == Codec::Tiff || c == Codec::Pdf) && !codec_module(Codec::Jpeg)) {
    if (c == Codec::Tiff) LogPrint("** OrvTiff requires OrvJpeg\n");
    else load_failed(c, ERR_PDF_LIBRARY, "requires matching OrvJpeg.dll");
    return false;
  }
  platform::ModuleHandle m = open_module(name);
  if (!m) {
    if (c == Codec::Pdf) load_failed(c, ERR_PDF_LIBRARY, "LoadLibrary failed");
    return false;
  }
  const int version = bind_codec(c, m);
  const bool accepted = version >= 0 && version_accepted(c, version);
  if (!accepted || !install_host(m, name)) {
    if (accepted && c == Codec::Pdf) load_failed(c, ERR_PDF_LIBRARY, "refused the library's host table");
    clear_api(c);
    platform::module_close(m);
    return false;
  }
  modules().slots[i].handle = m;
  core::LoadedModule rec;
  rec.name = name;
  rec.handle = m;
  rec.path = platform::module_path(m);
  rec.version = version;
  core::register_loaded_module(rec);
  after_load(c, version);
  if (c == Codec::Pdf) pdf_reset_defaults(&modules().pdf);
  return true;
}

}  // namespace

// The module file: the override folder first, then the library's usual way.
platform::ModuleHandle open_module(const std::string& name) {
  const char* override_folder = std::getenv("QUILLET_MODULE_PATH");
  if (override_folder && *override_folder) {
    const std::string path = std::string(override_folder) + "/" + name + ".so";
    LogPrint("LoadLibraryEx(%s)...\n", path.c_str());
    std::string error;
    if (platform::ModuleHandle m = platform::module_open(path, &error)) {
      LogPrint("Loaded DLL:      %s\n", platform::module_path(m).c_str());
      return m;
    }
    LogPrint("  %s\n", error.c_str());
  }
  return core::LoadSiblingLibrary(name + ".dll");
}

const char* codec_name(Codec c) { return kNames[static_cast<int>(c)]; }

const core::LoadedModule* codec_module(Codec c) {
  Modules& s = modules();
  std::lock_guard<std::recursive_mutex> lock(s.mutex);
  Slot& slot = s.slots[static_cast<int>(c)];
  if (slot.tried == 0) slot.tried = load(c) ? 1 : -1;
  return slot.tried == 1 ? core::loaded_module(kNames[static_cast<int>(c)]) : nullptr;
}

const core::LoadedModule* codec_if_loaded(Codec c) {
  Modules& s = modules();
  std::lock_guard<std::recursive_mutex> lock(s.mutex);
  return s.slots[static_cast<int>(c)].tried == 1 ? core::loaded_module(kNames[static_cast<int>(c)]) : nullptr;
}

const JpegApi* jpeg_api() { return codec_module(Codec::Jpeg) ? &modules().jpeg : nullptr; }
const TiffApi* tiff_api() { return codec_module(Codec::Tiff) ? &modules().tiff : nullptr; }
const PngApi* png_api() { return codec_module(Codec::Png) ? &modules().png : nullptr; }
const GifApi* gif_api() { return codec_module(Codec::Gif) ? &modules().gif : nullptr; }
const DcxApi* dcx_api() { return codec_module(Codec::Dcx) ? &modules().dcx : nullptr; }
const PdfApi* pdf_api() {
  if (codec_module(Codec::Pdf)) return &modules().pdf;
  // Every PDF operation relies on the loader's reason: a module that failed
  // before is no reason to fail now without one.
  Modules& s = modules();
  std::lock_guard<std::recursive_mutex> lock(s.mutex);
  const Slot& slot = s.slots[static_cast<int>(Codec::Pdf)];
  if (slot.failure_code != 0) RecordError(slot.failure_code, slot.failure_detail.c_str());
  return nullptr;
}

const OrvHost* codec_host() { return &kHost; }

bool codec_for_format(int format, Codec* out_codec) {
  switch (format) {
    case FF_TIFF: *out_codec = Codec::Tiff; return true;
    case FF_JPEG: *out_codec = Codec::Jpeg; return true;
    case FF_PNG: *out_codec = Codec::Png; return true;
    case FF_DCX: *out_codec = Codec::Dcx; return true;
    case FF_GIF: *out_codec = Codec::Gif; return true;
    case FF_PDF: *out_codec = Codec::Pdf; return true;
    default: return false;
  }
}

void codec_guard_set(bool on) { modules().guard_on = on; }

int codec_run_guarded(void (*fn)(void*), void* context) {
  if (!modules().guard_on || platform::debugger_attached()) {
    fn(context);
    return 0;
  }
  return platform::run_guarded(fn, context);
}

void codec_fault(int signal_number, const char* context) {
  LogPrint("\n**Exception (0x%08x)", static_cast<unsigned>(signal_number));
  RecordError(ERR_FAILURE, context);
}

TiffUse::TiffUse(const TiffApi* api) : api_(api) {
  api_->SetLogHandler(tiff_log);
  api_->SetErrorHandler(tiff_error);
  api_->SetSoftwareName(core::app_identity().title.c_str());
  api_->SetJpegQuality(output_settings().jpeg_quality);
  api_->SetAppendFlag(output_settings().append);
}

TiffUse::~TiffUse() {
  api_->SetLogHandler(nullptr);
  api_->SetErrorHandler(nullptr);
}

void pdf_prepare(const PdfApi* api) {
  api->SetJpegQuality(output_settings().jpeg_quality);
  api->SetErrorHandler(pdf_error);
  api->SetLogHandler(LogLevel() > 0 ? pdf_log : nullptr);
  const PdfSettings& p = pdf_settings();
  for (int t = 0; t < 6; ++t) api->SetCompression(t, p.compression[t]);
  api->SetPDFACompliance(p.pdfa_level);
  api->SetUserPassword(p.user_password.c_str());
  api->SetOwnerPassword(p.owner_password.c_str());
  core::PaperSize size;
  if (p.page_size != 0 && core::paper_size_inches(p.page_size, &size))
    api->SetMediaBox(0, 0, size.width, size.height);
  else
    api->SetMediaBox(0, 0, 0, 0);
}

void pdf_reset_defaults(const PdfApi* api) {
  LogPrint("ResetPdfDefaults\n");
  api->SetCreator(core::app_identity().title.c_str());
  const int v = api->Version();
  char producer[160];
  std::snprintf(producer, sizeof producer, "%s %d.%02db%d using OrvPdf %d.%02d", ORIVANE_PRODUCT,
                ORIVANE_VERSION / 100, ORIVANE_VERSION % 100, ORIVANE_BUILD, v / 100, v % 100);
  api->SetProducer(producer);
}

void dcx_prepare(const DcxApi* api, bool append) { api->SetAppendFlag(append ? 1 : 0); }

void codec_modules_reset_for_tests() {
  Modules& s = modules();
  std::lock_guard<std::recursive_mutex> lock(s.mutex);
  for (int i = 0; i < 6; ++i) {
    Slot& slot = s.slots[i];
    if (slot.tried == 1) {
      core::forget_loaded_module(kNames[i]);
      clear_api(static_cast<Codec>(i));
      platform::module_close(slot.handle);
    }
    slot = Slot{};
  }
}

}  // namespace fileio

namespace {

// The loaded codec modules: loaded once, kept for the process.
const bool kCodecModulesRegistered = core::register_state({"fileio.codec_modules", [] { fileio::codec_modules_reset_for_tests(); }, nullptr,
                                                     core::ResetStage::Resource});

}  // namespace
