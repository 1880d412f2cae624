// PDF document settings handed straight to the PDF codec (properties,
// permissions, text visibility) and questions about existing PDF files.
#include "orivane/file_api.h"

#include <cstring>
#include <string>

#include "core/error_record.h"
#include "fileio/codec_modules.h"
#include "fileio/pdf_options.h"
#include "log/trace.h"
#include "orivane/errors.h"

namespace {

using fileio::PdfApi;

int set_property(const char* name, const char* text, int32_t (*PdfApi::*setter)(const char*)) {
  LogApiCall("SetPdf%s(\"%s\")\n", name, text ? text : "");
  const PdfApi* pdf = fileio::pdf_api_settled();
  if (!pdf) return 0;
  (pdf->*setter)(text ? text : "");
  return 1;
}

constexpr int kRenderInvisible = 3;

}  // namespace

int TWAIN_SetPdfTitle(const char* text) { return set_property("Title", text, &PdfApi::SetTitle); }
int TWAIN_SetPdfAuthor(const char* text) { return set_property("Author", text, &PdfApi::SetAuthor); }
int TWAIN_SetPdfSubject(const char* text) { return set_property("Subject", text, &PdfApi::SetSubject); }
int TWAIN_SetPdfKeywords(const char* text) { return set_property("Keywords", text, &PdfApi::SetKeywords); }
int TWAIN_SetPdfCreator(const char* text) { return set_property("Creator", text, &PdfApi::SetCreator); }
int TWAIN_SetPdfProducer(const char* text) { return set_property("Producer", text, &PdfApi::SetProducer); }

int PDF_SetPermissions(uint32_t flags) {
  LogApiCall("PDF_SetPermissions(0x%08x)\n", flags);
  const PdfApi* pdf = fileio::pdf_api_settled();
  if (!pdf) return 0;
  pdf->SetPermissions(flags);
  return 1;
}

uint32_t PDF_GetPermissions(void) {
  const PdfApi* pdf = fileio::pdf_api();
  const uint32_t flags = pdf ? pdf->GetPermissions() : 0;
  LogApiCall("PDF_GetPermissions => 0x%08x\n", flags);
  return flags;
}

int PDF_SetTextVisible(int visible) {
  LogApiCall("PDF_SetTextVisible(%d)\n", visible);
  const PdfApi* pdf = fileio::pdf_api_settled();
  if (!pdf) return 0;
  pdf->SetTextRenderMode(visible ? 0 : kRenderInvisible);
  return 1;
}

int PDF_GetTextVisible(void) {
  const PdfApi* pdf = fileio::pdf_api();
  if (!pdf) {
    RecordError(ERR_PDF_LIBRARY, "PDF_GetTextVisible");
    return 1;
  }
  return pdf->GetTextRenderMode() == kRenderInvisible ? 0 : 1;
}

int PDF_IsEncrypted(const char* path) {
  LogApiCall("PDF_IsEncrypted(%s)\n", path ? path : "");
  const PdfApi* pdf = fileio::pdf_api();
  if (!pdf || !path) return 0;
  return fileio::codec_guarded("PDF_IsEncrypted", 0, [&] { return pdf->IsEncrypted(path); }) == 1 ? 1 : 0;
}

int PDF_IsOneOfOurs(const char* path) {
  LogApiCall("PDF_IsOneOfOurs(%s)\n", path ? path : "");
  const PdfApi* pdf = fileio::pdf_api();
  if (!pdf || !path) return 0;
  const char* password = fileio::pdf_settings().open_password.c_str();
  return fileio::codec_guarded("PDF_IsOneOfOurs", 0, [&] { return pdf->IsOneOfOurs(path, password); }) == 1 ? 1 : 0;
}

int PDF_GetDocumentProperty(const char* path, const char* property, char* buffer, int size) {
  LogApiCall("PDF_GetDocumentProperty(%s, %s)\n", path ? path : "", property ? property : "");
  if (!path || !property || size < 0 || (size > 0 && !buffer)) {
    RecordError(ERR_BAD_PARAMETER, "PDF_GetDocumentProperty");
    return 0;
  }
  const PdfApi* pdf = fileio::pdf_api();
  if (!pdf) return 0;
  fileio::pdf_prepare(pdf);
  const char* password = fileio::pdf_settings().open_password.c_str();
  char* into = size > 0 ? buffer : nullptr;
  const int n = fileio::codec_guarded("PDF_GetDocumentProperty", -1, [&] {
    return pdf->ReadDocumentProperty(path, property, password, into, size);
  });
  if (size > 0) buffer[size - 1] = '\0';  // terminated whatever the codec did
  return n < 0 ? 0 : n;
}
