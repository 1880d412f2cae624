// The separately loaded codec modules. Each is loaded once, on first need,
// bound entry point by entry point (codecs/codec_abi.h), checked for its
// version and its own dependencies, and kept until the process ends (or a
// test resets the table). A missing module disables only its own formats.
//
// Where a module is looked for: the folder named by QUILLET_MODULE_PATH first
// (a test-only override: the unit tests live one folder below the program),
// then core::LoadSiblingLibrary (the library's folder, then the ordinary
// search path).
#pragma once
#include "codecs/codec_abi.h"
#include <string>

#include "core/modules.h"

namespace fileio {

enum class Codec { Jpeg, Tiff, Png, Gif, Dcx, Pdf };

// Every entry point of each module, named as exported without the prefix.
// X(name) lists; optional entries are marked in the loader.
#define ORV_JPEG_ENTRIES(X)                                                                     \
  X(ORVJPEG, DibFromFile) X(ORVJPEG, DibFromBuffer) X(ORVJPEG, BmiWriteToFile)                 \
  X(ORVJPEG, SetQuality) X(ORVJPEG, GetQuality) X(ORVJPEG, Version) X(ORVJPEG, LastErrorCode) \
  X(ORVJPEG, DibForwardDCT) X(ORVJPEG, BmiWriteToMemory) X(ORVJPEG, LastErrorText)

#define ORV_TIFF_ENTRIES(X)                                                                   \
  X(ORVTIFF, DibFromFile) X(ORVTIFF, DibFromBuffer) X(ORVTIFF, BmiWriteToFile)               \
  X(ORVTIFF, BeginMultipageFile) X(ORVTIFF, DibWritePage) X(ORVTIFF, EndMultipageFile)       \
  X(ORVTIFF, SetSoftwareName) X(ORVTIFF, SetScannerModel) X(ORVTIFF, SetJpegQuality)         \
  X(ORVTIFF, Version) X(ORVTIFF, SetErrorHandler) X(ORVTIFF, SetLogHandler)                  \
  X(ORVTIFF, GetStripSize) X(ORVTIFF, SetStripSize) X(ORVTIFF, SetCompression)               \
  X(ORVTIFF, GetCompression) X(ORVTIFF, CountPagesInFile) X(ORVTIFF, SetAppendFlag)          \
  X(ORVTIFF, SetImageDescription) X(ORVTIFF, SetDocumentName) X(ORVTIFF, SetTagLong)         \
  X(ORVTIFF, SetTagBytes) X(ORVTIFF, SetTagUndefined) X(ORVTIFF, SetTagDouble)               \
  X(ORVTIFF, SetTagRational) X(ORVTIFF, SetTagRationalArray) X(ORVTIFF, ResetTags)           \
  X(ORVTIFF, DefineCustomTag) X(ORVTIFF, SetTagAscii) X(ORVTIFF, SetTagShort)                \
  X(ORVTIFF, GetTagAscii) X(ORVTIFF, SetPageCount) X(ORVTIFF, CountPagesInMemory)

#define ORV_PNG_ENTRIES(X) X(ORVPNG, DibFromFile) X(ORVPNG, BmiWriteToFile) X(ORVPNG, Version)
#define ORV_GIF_ENTRIES(X) X(ORVGIF, DibFromFile) X(ORVGIF, BmiWriteToFile) X(ORVGIF, Version)

#define ORV_DCX_ENTRIES(X)                                                              \
  X(ORVDCX, DibFromFile) X(ORVDCX, BmiWriteToFile) X(ORVDCX, BeginMultipageFile)       \
  X(ORVDCX, DibWritePage) X(ORVDCX, EndMultipageFile) X(ORVDCX, Version)               \
  X(ORVDCX, CountPagesInFile) X(ORVDCX, SelectPageToRead) X(ORVDCX, SetAppendFlag)     \
  X(ORVDCX, SetLogHandler) X(ORVDCX, CountPagesInBuffer)

#define ORV_PDF_ENTRIES(X)                                                                   \
  X(ORVPDF, BmiWriteToFile) X(ORVPDF, BeginMultipageFile) X(ORVPDF, DibWritePage)           \
  X(ORVPDF, EndMultipageFile) X(ORVPDF, SetJpegQuality) X(ORVPDF, Version)                  \
  X(ORVPDF, SetTitle) X(ORVPDF, SetAuthor) X(ORVPDF, SetSubject) X(ORVPDF, SetKeywords)     \
  X(ORVPDF, SetCreator) X(ORVPDF, SetProducer) X(ORVPDF, CountPagesInFile)                  \
  X(ORVPDF, SetErrorHandler) X(ORVPDF, SetLogHandler) X(ORVPDF, DibFromFile)                \
  X(ORVPDF, BeginMultipage) X(ORVPDF, EndMultipage) X(ORVPDF, DrawText)                     \
  X(ORVPDF, SetTextSize) X(ORVPDF, SetTextHorizontalScaling) X(ORVPDF, SetTextRenderMode)   \
  X(ORVPDF, GetTextRenderMode) X(ORVPDF, SetMediaBox) X(ORVPDF, SetCompression)             \
  X(ORVPDF, GetCompression) X(ORVPDF, AnsiTextWidth) X(ORVPDF, SetUserPassword)             \
  X(ORVPDF, SetOwnerPassword) X(ORVPDF, SetPermissions) X(ORVPDF, GetPermissions)           \
  X(ORVPDF, SetPDFACompliance) X(ORVPDF, GetPDFACompliance) X(ORVPDF, DibFromBuffer)        \
  X(ORVPDF, CountPagesInBuffer) X(ORVPDF, SetOpenPassword) X(ORVPDF, IsEncrypted)           \
  X(ORVPDF, IsOneOfOurs) X(ORVPDF, LoadDibsFromFile) X(ORVPDF, ReadDocumentProperty)         \
  X(ORVPDF, SetAppendSource)

#define ORV_DECLARE_ENTRY(prefix, name) prefix##_##name##Fn name = nullptr;
struct JpegApi { ORV_JPEG_ENTRIES(ORV_DECLARE_ENTRY) };
struct TiffApi { ORV_TIFF_ENTRIES(ORV_DECLARE_ENTRY) };
struct PngApi { ORV_PNG_ENTRIES(ORV_DECLARE_ENTRY) };
struct GifApi { ORV_GIF_ENTRIES(ORV_DECLARE_ENTRY) };
struct DcxApi { ORV_DCX_ENTRIES(ORV_DECLARE_ENTRY) };
struct PdfApi { ORV_PDF_ENTRIES(ORV_DECLARE_ENTRY) };
#undef ORV_DECLARE_ENTRY

// Opens the module file "<name>.so" the way every separately loaded module
// of the library is found (above): nullptr when it is nowhere (traced).
platform::ModuleHandle open_module(const std::string& name);

// The module's base name ("OrvTiff", ...).
const char* codec_name(Codec c);
// The loaded module, loading it on first call; nullptr when it does not load
// (the attempt is not repeated).
const core::LoadedModule* codec_module(Codec c);
// The module if it is loaded already; never loads it.
const core::LoadedModule* codec_if_loaded(Codec c);
// The bound entry points, loading the module on first call; nullptr when it
// does not load. Entries stay valid until codec_modules_reset_for_tests.
const JpegApi* jpeg_api();
const TiffApi* tiff_api();
const PngApi* png_api();
const GifApi* gif_api();
const DcxApi* dcx_api();
const PdfApi* pdf_api();
// Codec behind a file-format code; false for BMP and unknown codes.
bool codec_for_format(int format, Codec* out_codec);
// The table of library services handed to every module.
const OrvHost* codec_host();

// Runs fn(context) under the fault guard (without it while a debugger is
// attached, or the guard is off, so that the debugger or fuzzer sees the
// fault): 0, or the signal that ended it.
int codec_run_guarded(void (*fn)(void*), void* context);
// Turns the fault guard around codec calls off (fuzz targets: a fault must
// reach the fuzzer) or back on (the default).
void codec_guard_set(bool on);
// Reports a fault caught inside a codec module: traces "\n**Exception
// (0x%08x)" with the signal and records ERR_FAILURE with `context`.
void codec_fault(int signal_number, const char* context);

// One call into a codec module, `call()`, under the fault guard: its result,
// or `on_fault` (reported through codec_fault with `context`) when the module
// faulted. The frames of a faulted call are abandoned where they stood, so
// `call` must only pass prepared arguments on to the module: nothing inside
// it may need destroying.
template <typename Result, typename Call>
Result codec_guarded(const char* context, Result on_fault, Call call) {
  struct Frame {
    Call* call;
    Result result;
  } frame{&call, on_fault};
  const int fault = codec_run_guarded(
      [](void* f) {
        Frame* fr = static_cast<Frame*>(f);
        fr->result = (*fr->call)();
      },
      &frame);
  if (fault == 0) return frame.result;
  codec_fault(fault, context);
  return on_fault;
}

// Holds OrvTiff's hooks for one use: installs the log handler ("[OrvTiff] %s"),
// the error handler (records ERR_TIFF), the software name (the application
// title), the JPEG quality and the append flag; clears both handlers on exit.
class TiffUse {
 public:
  explicit TiffUse(const TiffApi* api);
  ~TiffUse();
  TiffUse(const TiffUse&) = delete;
  TiffUse& operator=(const TiffUse&) = delete;

 private:
  const TiffApi* api_;
};

// Prepares OrvPdf for one use: JPEG quality, error handler, the log handler
// when tracing, and the library's PDF settings (compression, PDF/A,
// passwords, media box).
void pdf_prepare(const PdfApi* api);
// Creator back to the application title, producer to the library's own line.
void pdf_reset_defaults(const PdfApi* api);
// Hands the append flag to OrvDcx before a use.
void dcx_prepare(const DcxApi* api, bool append);

// Unloads every module and forgets it, so the next use loads it again.
void codec_modules_reset_for_tests();

}  // namespace fileio
