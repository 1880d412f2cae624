// PDF options. Each first needs the PDF codec: without it there is nothing to
// hand the setting to, and the call does nothing.
#include "fileio/pdf_options.h"

#include <atomic>

#include "codecs/codec_abi.h"

#include "core/error_record.h"
#include "core/state_registry.h"
#include "fileio/codec_modules.h"
#include "fileio/multipage.h"
#include "log/trace.h"
#include "orivane/errors.h"
#include "orivane/file_api.h"
#include "orivane/pdf_api.h"

namespace fileio {

PdfSettings& pdf_settings() {
  static PdfSettings s;
  return s;
}

namespace {
// Quarter turns for the next PDF page: set by the thread that lays the text,
// taken by the one that writes the page (the background writer perhaps).
std::atomic<int> g_page_turn{0};
}  // namespace

void pdf_settings_reset_for_tests() {
  pdf_settings() = PdfSettings{};
  g_page_turn = 0;
}

void pdf_turn_next_page(int quarter_turns) { g_page_turn = ((quarter_turns % 4) + 4) % 4; }

DIB_HANDLE pdf_take_turned_page(DIB_HANDLE page) {
  const int turns = g_page_turn.exchange(0);
  if (turns == 0) return 0;
  const DIB_HANDLE turned = DIB_Rotate90(page, turns);
  LogPrint("PDF page turned %d degrees for its text%s\n", 90 * turns, turned ? "" : ": failed, written as it lies");
  return turned;
}

const PdfApi* pdf_api_settled() {
  const PdfApi* pdf = pdf_api();
  if (!pdf || (!in_background_writer() && !WaitForBgWriter())) return nullptr;
  return pdf;
}

namespace {
bool pdf_codec_loads() { return pdf_api_settled() != nullptr; }
constexpr int kLastPaperSizeCode = 53;
}  // namespace

}  // namespace fileio

using fileio::pdf_settings;

namespace {

// Callers name PDF compressions with the library's compression numbers (the
// ones its TIFF table uses: 1 none, 4 Group 4, 5 Flate, 7 JPEG; TWAIN's 6 is
// JPEG too); the PDF codec has its own.
int pdf_code_of(int compression) {
  switch (compression) {
    case -1: return ORVPDF_COMP_DEFAULT;
    case 0: case 1: return ORVPDF_COMP_NONE;
    case 4: return ORVPDF_COMP_G4;
    case 5: case 8: return ORVPDF_COMP_FLATE;
    case 6: case 7: return ORVPDF_COMP_JPEG;
    default: return -2;  // no PDF scheme: refused
  }
}

int library_code_of(int pdf_code) {
  switch (pdf_code) {
    case ORVPDF_COMP_NONE: return 1;
    case ORVPDF_COMP_FLATE: return 5;
    case ORVPDF_COMP_JPEG: return 7;
    case ORVPDF_COMP_G4: return 4;
    default: return -1;
  }
}

}  // namespace

int PDF_SetCompression(int pixel_type, int compression) {
  LogApiCall("PDF_SetCompression(%d, %d)\n", pixel_type, compression);
  const fileio::PdfApi* pdf = fileio::pdf_api_settled();
  if (!pdf || pixel_type < -1 || pixel_type > 5) return 0;
  const int code = pdf_code_of(compression);
  if (code == -2) return 0;
  // The codec decides which schemes fit which pixel type; the table keeps
  // what it took, and is handed back to it at every use.
  const int taken = pdf->SetCompression(pixel_type, code);
  for (int t = 0; t < 6; ++t) pdf_settings().compression[t] = pdf->GetCompression(t);
  return taken == 1 ? 1 : 0;
}

int PDF_GetCompression(int pixel_type) {
  const fileio::PdfApi* pdf = fileio::pdf_api();
  if (!pdf || pixel_type < 0 || pixel_type > 5) return -1;
  return library_code_of(pdf->GetCompression(pixel_type));
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
  fileio::pdf_api_settled();
  pdf_settings().page_size = code;
  return 1;
}

void PDF_SetOpenPassword(const char* password) {
  LogApiCall("PDF_SetOpenPassword(<omitted>)\n");
  std::string p = password ? password : "";
  if (p.size() > 31) p.resize(31);
  pdf_settings().open_password = p;
}

namespace {

// How PDF files are written: the program's settings.
const bool kPdfSettingsRegistered = core::register_state({"fileio.pdf_settings", [] { fileio::pdf_settings_reset_for_tests(); }, nullptr});

}  // namespace
