// PDF options. Each first needs the PDF codec: without it there is nothing to
// hand the setting to, and the call does nothing.
#include "fileio/pdf_options.h"

#include "fileio/codec_modules.h"
#include "log/trace.h"
#include "orivane/pdf_api.h"
#include "orivane/twain_error.h"
#include "twain/error_record.h"

namespace fileio {

PdfSettings& pdf_settings() {
  static PdfSettings s;
  return s;
}

void pdf_settings_reset_for_tests() { pdf_settings() = PdfSettings{}; }

namespace {
bool pdf_codec_loads() { return codec_module(Codec::Pdf) != nullptr; }
constexpr int kLastPaperSizeCode = 53;
}  // namespace

}  // namespace fileio

using fileio::pdf_settings;

int PDF_SetCompression(int pixel_type, int compression) {
  LogApiCall("PDF_SetCompression(%d, %d)\n", pixel_type, compression);
  if (!fileio::pdf_codec_loads()) return 0;
  if (pixel_type < -1 || pixel_type > 5) return 0;
  for (int t = 0; t < 6; ++t)
    if (pixel_type == -1 || pixel_type == t) pdf_settings().compression[t] = compression;
  return 1;
}

int PDF_GetCompression(int pixel_type) {
  if (!fileio::pdf_codec_loads() || pixel_type < 0 || pixel_type > 5) return -1;
  return pdf_settings().compression[pixel_type];
}

int PDF_SetPDFACompliance(int level) {
  LogApiCall("PDF_SetPDFACompliance(%d)\n", level);
  if (!fileio::pdf_codec_loads()) return 0;
  pdf_settings().pdfa_level = level;
  return 1;
}

int PDF_GetPDFACompliance(void) {
  LogApiCall("PDF_GetPDFACompliance => 0x%08x\n", pdf_settings().pdfa_level);
  return pdf_settings().pdfa_level;
}

int PDF_SetUserPassword(const char* password) {
  LogApiCall("PDF_SetUserPassword(<omitted>)\n");
  if (!fileio::pdf_codec_loads()) return 0;
  pdf_settings().user_password = password ? password : "";
  return 1;
}

int PDF_SetOwnerPassword(const char* password) {
  LogApiCall("PDF_SetOwnerPassword(<omitted>)\n");
  if (!fileio::pdf_codec_loads()) return 0;
  pdf_settings().owner_password = password ? password : "";
  return 1;
}

int PDF_SelectPageSize(int code) {
  LogApiCall("PDF_SelectPageSize(%d)\n", code);
  if (code < 0 || code > fileio::kLastPaperSizeCode) {
    RecordError(ERR_BAD_PARAMETER, "PDF_SelectPageSize");
    return 0;
  }
  pdf_settings().page_size = code;
  return 1;
}
