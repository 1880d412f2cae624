// OrvPdf: the entry points of the PDF codec module. Every entry traps what
// the work below throws: a failure reaches the caller as the module's error
// number (handed to the error handler and recorded through the host), never
// as an exception.
#include <qpdf/QPDF.hh>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "codecs/codec_abi.h"
#include "codecs/common/image_limits.h"
#include "codecs/pdf/pdf_document.h"

namespace {

using pdf::Failure;

struct ModuleState {
  const OrvHost* host = nullptr;
  OrvLogHandler log = nullptr;
  OrvErrorHandler on_error = nullptr;
  pdf::Settings settings;
  std::string append_source;  // SetAppendSource
  double text_size = 12, text_hscale = 1;
  int text_mode = 0;
  std::vector<pdf::TextRun> text;  // drawn over the next page written
  std::unique_ptr<pdf::Document> open_doc;
};
ModuleState& state() {
  static ModuleState s;
  return s;
}

void trace(const std::string& text) {
  if (state().log) state().log(text.c_str());
}

// The library's error code for a module error number.
int32_t library_code(int code) {
  constexpr int32_t kErrMemory = 35, kErrText = 42, kErrBadDib = 31, kErrFailure = 58, kErrCompression = 73,
                    kErrFeature = 70, kErrFormat = 71, kErrInvalid = 72, kErrPassword = 69, kErrFileRead = 45,
                    kErrFileWrite = 47;
  switch (code) {
    case ORVPDF_E_MEMORY: return kErrMemory;
    case ORVPDF_E_TEXT: return kErrText;
    case ORVPDF_E_BAD_DIB: return kErrBadDib;
    case ORVPDF_E_FAILURE: return kErrFailure;
    case ORVPDF_E_FEATURE: return kErrFeature;
    case ORVPDF_E_FORMAT: return kErrFormat;
    case ORVPDF_E_INVALID: return kErrInvalid;
    case ORVPDF_E_PASSWORD: return kErrPassword;
    case ORVPDF_E_IO: return kErrFileWrite;
    default: return code >= 7 && code <= 11 ? kErrCompression : kErrFileRead;
  }
}

void report(int code, const std::string& text) {
  trace("PdfError(" + std::to_string(code) + "): " + text);
  const OrvHost* host = state().host;
  if (host && host->record_error) host->record_error(library_code(code), text.c_str());
  if (state().on_error) state().on_error(code, text.c_str());
}

// Runs `work`; a failure is reported and turned into `on_failure(code)`.
template <class Work, class OnFailure>
auto guarded(Work work, OnFailure on_failure) -> decltype(work()) {
  int code = ORVPDF_E_FAILURE;
  std::string text;
  try {
    return work();
  } catch (const Failure& e) {
    code = e.code;
    text = e.text;
  } catch (const pdf::WriterAbort& a) {
    trace(std::string("writer refused a chunk: ") + std::to_string(a.rc));
    return on_failure(a.rc);
  } catch (const std::bad_alloc&) {
    code = ORVPDF_E_MEMORY;
    text = "out of memory";
  } catch (const std::exception& e) {
    text = e.what();
  } catch (...) {
    text = "unexpected failure";
  }
  report(code, text);
  return on_failure(code);
}

int32_t write_guard(std::function<void()> work) {
  return guarded([&] { work(); return int32_t{0}; }, [](int code) { return static_cast<int32_t>(code); });
}

std::string password_or_default(const char* password) {
  return password ? std::string(password) : state().settings.open_password;
}

int dib_type(const pdf::DibBytes& d) {
  const int bits = d[14];
  const std::uint32_t compression = d[16];
  if (bits == 1) return ORV_PT_BW;
  if (bits == 16) return ORV_PT_GRAY;
  if (bits == 24 || bits == 48) return ORV_PT_RGB;
  if (bits == 32) return compression == 5 ? ORV_PT_CMYK : ORV_PT_RGB;
  for (std::size_t at = 40; at + 4 <= d.size() && at < 40 + 4 * 256u; at += 4) {
    if (at >= 40 + 4u * (1u << bits)) break;
    if (d[at] != d[at + 1] || d[at + 1] != d[at + 2]) return ORV_PT_PALETTE;
  }
  return ORV_PT_GRAY;
}

// Hands a decoded page to the library as a new DIB handle.
OrvHandle deliver(const pdf::DibBytes& d) {
  const OrvHost* host = state().host;
  if (!host) pdf::fail(ORVPDF_E_INVALID, "module has no host");
  std::int32_t w, h;
  std::memcpy(&w, d.data() + 4, 4);
  std::memcpy(&h, d.data() + 8, 4);
  OrvHandle out = host->dib_alloc(dib_type(d), w, h, d[14]);
  if (!out) pdf::fail(ORVPDF_E_MEMORY, "no memory for the page image");
  if (host->mem_size(out) != d.size() && !host->mem_realloc(out, d.size())) {
    host->dib_free(out);
    pdf::fail(ORVPDF_E_MEMORY, "no memory for the page image");
  }
  void* p = host->mem_lock(out);
  if (!p) {
    host->dib_free(out);
    pdf::fail(ORVPDF_E_MEMORY, "page image cannot be locked");
  }
  std::memcpy(p, d.data(), d.size());
  host->mem_unlock(out);
  return out;
}

pdf::Source file_source(const char* path) {
  if (!path || !*path) pdf::fail(ORVPDF_E_INVALID, "no file name");
  pdf::Source s;
  s.path = path;
  return s;
}
pdf::Source buffer_source(const void* bytes, int32_t length) {
  if (!bytes || length <= 0) pdf::fail(ORVPDF_E_INVALID, "no PDF data");
  pdf::Source s;
  s.bytes = static_cast<const std::uint8_t*>(bytes);
  s.length = static_cast<std::size_t>(length);
  return s;
}

void begin_document(const pdf::Target& target) {
  if (state().open_doc) pdf::fail(ORVPDF_E_INVALID, "a PDF document is already open");
  auto doc = std::make_unique<pdf::Document>();
  doc->begin(target, state().settings);
  state().open_doc = std::move(doc);
  trace("BeginPdf " + (target.writer ? std::string(target.writer->name ? target.writer->name : "writer") : target.path));
}

void write_page(pdf::Document& doc, const void* bmi) {
  std::vector<pdf::TextRun> text;
  text.swap(state().text);
  doc.add_page(bmi, state().settings, text);
}

// How much of a written document waited in its spool, and how much qpdf
// read back (the same, when every stream was read once).
void trace_spool(const pdf::Document& doc) {
  if (const pdf::Spool* s = doc.spool())
    trace("PdfSpool: " + std::to_string(s->size()) + " bytes spooled, " + std::to_string(s->read_back()) +
          " read back");
}

void end_document() {
  std::unique_ptr<pdf::Document> doc = std::move(state().open_doc);
  if (!doc) pdf::fail(ORVPDF_E_INVALID, "no PDF document open");
  const std::string note = doc->end(state().settings);
  if (!note.empty()) trace(note);
  trace_spool(*doc);
  trace("EndPdf: " + std::to_string(doc->pages_added()) + " pages");
}

int32_t set_text(std::string& field, const char* text) {
  field = text ? text : "";
  return 1;
}

bool compression_allowed(int type, int code) {
  if (code == pdf::kCompDefault || code == pdf::kCompNone || code == pdf::kCompFlate) return true;
  if (type == ORV_PT_BW) return code == pdf::kCompG4;
  return code == pdf::kCompJpeg;
}

}  // namespace

namespace pdf {
std::uint64_t image_pixel_limit() { return codec::max_image_pixels(state().host); }
}  // namespace pdf

extern "C" {

ORV_CODEC_EXPORT int32_t ORVPDF_SetHost(const OrvHost* host) {
  if (!host || host->abi_version != ORV_CODEC_ABI_VERSION || host->size < ORV_HOST_BASE_SIZE) return 1;
  state().host = host;
  return 0;
}

ORV_CODEC_EXPORT int32_t ORVPDF_Version(void) { return ORVPDF_VERSION; }
ORV_CODEC_EXPORT void ORVPDF_SetErrorHandler(OrvErrorHandler handler) { state().on_error = handler; }
ORV_CODEC_EXPORT void ORVPDF_SetLogHandler(OrvLogHandler handler) { state().log = handler; }
ORV_CODEC_EXPORT void ORVPDF_SetJpegQuality(int32_t quality) { state().settings.jpeg_quality = std::clamp(quality, 1, 100); }

ORV_CODEC_EXPORT int32_t ORVPDF_SetTitle(const char* text) { return set_text(state().settings.title, text); }
ORV_CODEC_EXPORT int32_t ORVPDF_SetAuthor(const char* text) { return set_text(state().settings.author, text); }
ORV_CODEC_EXPORT int32_t ORVPDF_SetSubject(const char* text) { return set_text(state().settings.subject, text); }
ORV_CODEC_EXPORT int32_t ORVPDF_SetKeywords(const char* text) { return set_text(state().settings.keywords, text); }
ORV_CODEC_EXPORT int32_t ORVPDF_SetCreator(const char* text) { return set_text(state().settings.creator, text); }
ORV_CODEC_EXPORT int32_t ORVPDF_SetProducer(const char* text) { return set_text(state().settings.producer, text); }
ORV_CODEC_EXPORT int32_t ORVPDF_SetUserPassword(const char* pw) { return set_text(state().settings.user_password, pw); }
ORV_CODEC_EXPORT int32_t ORVPDF_SetOwnerPassword(const char* pw) { return set_text(state().settings.owner_password, pw); }
ORV_CODEC_EXPORT void ORVPDF_SetOpenPassword(const char* pw) { state().settings.open_password = pw ? pw : ""; }
ORV_CODEC_EXPORT void ORVPDF_SetPermissions(uint32_t flags) { state().settings.permissions = flags & ORVPDF_PERM_ALL; }
ORV_CODEC_EXPORT uint32_t ORVPDF_GetPermissions(void) { return state().settings.permissions; }

ORV_CODEC_EXPORT int32_t ORVPDF_SetPDFACompliance(int32_t level) {
  if (level != 0 && level != 1) return 0;
  state().settings.pdfa = level;
  return 1;
}
ORV_CODEC_EXPORT int32_t ORVPDF_GetPDFACompliance(void) { return state().settings.pdfa; }

ORV_CODEC_EXPORT void ORVPDF_SetMediaBox(double x0, double y0, double x1, double y1) {
  double* m = state().settings.media_box;
  m[0] = x0;
  m[1] = y0;
  m[2] = x1;
  m[3] = y1;
}

ORV_CODEC_EXPORT int32_t ORVPDF_SetCompression(int32_t pixel_type, int32_t compression) {
  if (pixel_type < -1 || pixel_type > 5) return 0;
  bool any = false;
  for (int t = 0; t < 6; ++t) {
    if ((pixel_type == -1 || pixel_type == t) && compression_allowed(t, compression)) {
      state().settings.compression[t] = compression;
      any = true;
    }
  }
  return any ? 1 : 0;
}
ORV_CODEC_EXPORT int32_t ORVPDF_GetCompression(int32_t pixel_type) {
  return pixel_type >= 0 && pixel_type <= 5 ? state().settings.compression[pixel_type] : pdf::kCompDefault;
}

// ---- Text layer ----

ORV_CODEC_EXPORT void ORVPDF_SetTextSize(double points) {
  if (points > 0 && points < 10000) state().text_size = points;
}
ORV_CODEC_EXPORT void ORVPDF_SetTextHorizontalScaling(double ratio) {
  if (ratio > 0 && ratio < 1000) state().text_hscale = ratio;
}
ORV_CODEC_EXPORT void ORVPDF_SetTextRenderMode(int32_t mode) {
  if (mode >= 0 && mode <= 7) state().text_mode = mode;
}
ORV_CODEC_EXPORT int32_t ORVPDF_GetTextRenderMode(void) { return state().text_mode; }

ORV_CODEC_EXPORT int32_t ORVPDF_DrawText(double x, double y, const char* text) {
  if (!text) {
    report(ORVPDF_E_TEXT, "DrawText: no text");
    return ORVPDF_E_TEXT;
  }
  state().text.push_back(pdf::TextRun{x, y, state().text_size, state().text_hscale, state().text_mode, text});
  return 0;
}

ORV_CODEC_EXPORT double ORVPDF_AnsiTextWidth(const char* text, double points) {
  return text ? pdf::helvetica_width(text, points) : 0.0;
}

// ---- Writing ----

ORV_CODEC_EXPORT int32_t ORVPDF_BmiWriteToFile(const void* bmi, const char* path, int32_t append) {
  return write_guard([&] {
    if (!path || !*path) pdf::fail(ORVPDF_E_INVALID, "no file name");
    pdf::Document doc;
    doc.begin(pdf::Target{path, nullptr, append != 0, state().append_source}, state().settings);
    write_page(doc, bmi);
    const std::string note = doc.end(state().settings);
    if (!note.empty()) trace(note);
    trace_spool(doc);
  });
}

ORV_CODEC_EXPORT int32_t ORVPDF_BeginMultipageFile(const char* path, int32_t append) {
  return write_guard([&] {
    if (!path || !*path) pdf::fail(ORVPDF_E_INVALID, "no file name");
    begin_document(pdf::Target{path, nullptr, append != 0, state().append_source});
  });
}

ORV_CODEC_EXPORT void ORVPDF_SetAppendSource(const char* path) { state().append_source = path ? path : ""; }

ORV_CODEC_EXPORT int32_t ORVPDF_BeginMultipage(const OrvPdfWriter* writer) {
  return write_guard([&] {
    if (!writer || !writer->write) pdf::fail(ORVPDF_E_INVALID, "no PDF writer");
    begin_document(pdf::Target{"", writer, false, ""});
  });
}

ORV_CODEC_EXPORT int32_t ORVPDF_DibWritePage(const void* bmi) {
  return write_guard([&] {
    if (!state().open_doc) pdf::fail(ORVPDF_E_INVALID, "no PDF document open");
    write_page(*state().open_doc, bmi);
  });
}

ORV_CODEC_EXPORT int32_t ORVPDF_EndMultipageFile(void) { return write_guard(end_document); }
ORV_CODEC_EXPORT int32_t ORVPDF_EndMultipage(void) { return write_guard(end_document); }

// ---- Reading ----

ORV_CODEC_EXPORT OrvHandle ORVPDF_DibFromFile(const char* path, int32_t page, const char* password) {
  return guarded([&] {
    auto doc = pdf::document_open(file_source(path), password_or_default(password));
    return deliver(pdf::document_page_image(*doc, page));
  }, [](int) { return OrvHandle{0}; });
}

ORV_CODEC_EXPORT OrvHandle ORVPDF_DibFromBuffer(const void* bytes, int32_t length, int32_t page, const char* password) {
  return guarded([&] {
    auto doc = pdf::document_open(buffer_source(bytes, length), password_or_default(password));
    return deliver(pdf::document_page_image(*doc, page));
  }, [](int) { return OrvHandle{0}; });
}

ORV_CODEC_EXPORT int32_t ORVPDF_CountPagesInFile(const char* path, const char* password) {
  return guarded([&] {
    auto doc = pdf::document_open(file_source(path), password_or_default(password));
    return static_cast<int32_t>(pdf::document_page_count(*doc));
  }, [](int) { return int32_t{-1}; });
}

ORV_CODEC_EXPORT int32_t ORVPDF_CountPagesInBuffer(const void* bytes, int32_t length, const char* password) {
  return guarded([&] {
    auto doc = pdf::document_open(buffer_source(bytes, length), password_or_default(password));
    return static_cast<int32_t>(pdf::document_page_count(*doc));
  }, [](int) { return int32_t{-1}; });
}

ORV_CODEC_EXPORT int32_t ORVPDF_LoadDibsFromFile(const char* path, int32_t start, int32_t count, const char* password,
                                                OrvHandle* out) {
  std::vector<OrvHandle> made;
  const int32_t n = guarded([&] {
    if (!out || start < 0 || count < 0) pdf::fail(ORVPDF_E_INVALID, "LoadDibsFromFile: bad arguments");
    auto doc = pdf::document_open(file_source(path), password_or_default(password));
    const int pages = pdf::document_page_count(*doc);
    for (int32_t i = 0; i < count && start + i < pages; ++i) {
      made.push_back(deliver(pdf::document_page_image(*doc, start + i)));
    }
    return static_cast<int32_t>(made.size());
  }, [](int) { return int32_t{-1}; });
  if (n < 0) {
    for (OrvHandle h : made) state().host->dib_free(h);
    return n;
  }
  std::copy(made.begin(), made.end(), out);
  return n;
}

ORV_CODEC_EXPORT int32_t ORVPDF_IsEncrypted(const char* path) {
  try {
    auto doc = pdf::document_open(file_source(path), "");
    return pdf::document_is_encrypted(*doc) ? 1 : 0;
  } catch (const Failure& e) {
    if (e.code == ORVPDF_E_PASSWORD) return 1;
    report(e.code, e.text);
  } catch (const std::exception& e) {
    report(ORVPDF_E_FORMAT, e.what());
  }
  return -1;
}

ORV_CODEC_EXPORT int32_t ORVPDF_IsOneOfOurs(const char* path, const char* password) {
  return guarded([&] {
    auto doc = pdf::document_open(file_source(path), password_or_default(password));
    return pdf::document_is_ours(*doc) ? int32_t{1} : int32_t{0};
  }, [](int) { return int32_t{0}; });
}

ORV_CODEC_EXPORT int32_t ORVPDF_ReadDocumentProperty(const char* path, const char* property, const char* password,
                                                    char* buffer, int32_t size) {
  if (buffer && size > 0) buffer[0] = 0;
  return guarded([&] {
    if (!property) pdf::fail(ORVPDF_E_INVALID, "no property name");
    auto doc = pdf::document_open(file_source(path), password_or_default(password));
    std::string value;
    if (!pdf::document_property(*doc, property, &value)) return int32_t{-1};
    if (buffer && size > 0) {
      const std::size_t n = std::min(value.size(), static_cast<std::size_t>(size - 1));
      std::memcpy(buffer, value.data(), n);
      buffer[n] = 0;
    }
    return static_cast<int32_t>(std::min<std::size_t>(value.size(), INT32_MAX));
  }, [](int) { return int32_t{-1}; });
}

}  // extern "C"
