// What a request asks of the library before anything runs: the settings its
// switches recorded, applied in the order of the switches, and the barcode
// engine it reads barcodes with.
#include <cstdio>
#include <string>

#include "app/options.h"
#include "app/report.h"
#include "fileio/options.h"
#include "fileio/pdf_options.h"
#include "orivane/barcode_api.h"
#include "orivane/file_options.h"
#include "orivane/pdf_api.h"
#include "orivane/twain_switches.h"
#include "platform/locale.h"

namespace {

void apply(const LibrarySetting& s) {
  switch (s.kind) {
    case LibrarySetting::kAppendFlag: TWAIN_SetFileAppendFlag(s.number); break;
    case LibrarySetting::kMultipageFormat: TWAIN_SetMultipageFormat(s.number); break;
    case LibrarySetting::kJpegQuality: TWAIN_SetJpegQuality(s.number); break;
    case LibrarySetting::kTiffCompression: TWAIN_SetTiffCompression(s.number, s.second); break;
    case LibrarySetting::kPdfCompression: PDF_SetCompression(s.number, s.second); break;
    case LibrarySetting::kPdfA: PDF_SetPDFACompliance(s.number); break;
    case LibrarySetting::kPdfUserPassword: PDF_SetUserPassword(s.text.c_str()); break;
    case LibrarySetting::kBlankThreshold: TWAIN_SetBlankPageThreshold(s.real); break;
    case LibrarySetting::kLanguage: platform::locale_set(static_cast<std::uint16_t>(s.number)); break;
  }
}

std::string engine_message(const char* format, const std::string& name) {
  char out[kMessageMax + 1];
  std::snprintf(out, sizeof out, format, name.c_str());
  return out;
}

// The engine the request reads barcodes with is chosen, reported, and must
// know every type asked for.
bool choose_barcode_engine(const ScanRequest& r, std::string& out_message) {
  if (r.barcode_engine == 0) return true;
  const std::string name = BARCODE_EngineName(r.barcode_engine);
  if (!BARCODE_SelectEngine(r.barcode_engine)) {
    out_message = engine_message("Barcode engine not available: %s", name);
    return false;
  }
  ReportLine("BarcodeEngine=%s\n", name.c_str());
  if (r.barcode_types != -1 && (r.barcode_types & ~BARCODE_SupportedTypes(r.barcode_engine)) != 0) {
    out_message = engine_message("Barcode engine (%s) can't recognize those types of barcode", name);
    return false;
  }
  return true;
}

}  // namespace

bool ApplyRequestSettings(const ScanRequest& r, std::string& out_message) {
  for (const LibrarySetting& s : r.library_settings) apply(s);
  return choose_barcode_engine(r, out_message);
}

RequestLibrarySettings TakeRequestLibrarySettings() {
  const fileio::OutputSettings& out = fileio::output_settings();
  const fileio::PdfSettings& pdf = fileio::pdf_settings();
  return {out.append,      out.multipage_format, out.jpeg_quality,
          out.tiff_compression, pdf.compression, pdf.pdfa_level,
          pdf.user_password, TWAIN_GetBlankPageThreshold(), platform::locale_get()};
}

// The tables are put back as they are: the codecs are handed them at every
// use. The JPEG quality also goes to a codec that is loaded already.
void RestoreRequestLibrarySettings(const RequestLibrarySettings& s) {
  fileio::OutputSettings& out = fileio::output_settings();
  out.append = s.append;
  out.multipage_format = s.multipage_format;
  out.tiff_compression = s.tiff_compression;
  if (out.jpeg_quality != s.jpeg_quality) TWAIN_SetJpegQuality(s.jpeg_quality);
  fileio::PdfSettings& pdf = fileio::pdf_settings();
  pdf.compression = s.pdf_compression;
  pdf.pdfa_level = s.pdfa_level;
  pdf.user_password = s.pdf_user_password;
  if (TWAIN_GetBlankPageThreshold() != s.blank_threshold) TWAIN_SetBlankPageThreshold(s.blank_threshold);
  if (platform::locale_get() != s.language) platform::locale_set(s.language);
}

bool ReadRequest(ScanRequest& r, int argc, const char* const* argv, std::string& out_message) {
  if (PrepareRequest(r, argc, argv, out_message)) return ApplyRequestSettings(r, out_message);
  for (const LibrarySetting& s : r.library_settings) apply(s);
  return false;
}
