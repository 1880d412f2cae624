// Recognised text into PDF files: the text handed to the PDF text layer (its
// boxes turned with the page when auto-rotation is on), the OCR page writer,
// automatic OCR of acquired pages, and searchable PDF output.
#include <exception>
#include <mutex>
#include <new>

#include "core/error_record.h"
#include "core/state_registry.h"
#include "engines/ocr_engine.h"
#include "fileio/multipage.h"
#include "fileio/pdf_options.h"
#include "log/trace.h"
#include "orivane/errors.h"
#include "orivane/file_api.h"
#include "orivane/multipage_files.h"
#include "orivane/ocr_api.h"
#include "orivane/pdf_api.h"

namespace engines {
namespace {

struct OcrPdfState {
  std::mutex mutex;
  bool auto_rotate = false;
  bool auto_ocr = false;
  // Automatic OCR's recognition of the page last processed, waiting for
  // that page's PDF write.
  OcrPage kept;
  DIB_HANDLE kept_for = 0;
  bool kept_waiting = false;
};

OcrPdfState& pdf_state() {
  static OcrPdfState s;
  return s;
}

// The recognition automatic OCR keeps for `page`, taken; false when none
// waits for it.
bool take_kept(DIB_HANDLE page, OcrPage* out) {
  OcrPdfState& s = pdf_state();
  std::lock_guard lock(s.mutex);
  if (!s.kept_waiting || s.kept_for != page) return false;
  *out = std::move(s.kept);
  s.kept = OcrPage{};
  s.kept_waiting = false;
  return true;
}

// A box of a page of `w` x `h` pixels, on the page turned clockwise by
// `degrees`.
void turn_box(int degrees, int w, int h, int* x, int* y, int* bw, int* bh) {
  const int x0 = *x, y0 = *y, w0 = *bw, h0 = *bh;
  switch (degrees) {
    case 90: *x = h - y0 - h0, *y = x0, *bw = h0, *bh = w0; break;
    case 180: *x = w - x0 - w0, *y = h - y0 - h0; break;
    case 270: *x = y0, *y = w - x0 - w0, *bw = h0, *bh = w0; break;
    default: break;
  }
}

// The searchable output's recognizer, run by the PDF page writers.
int searchable_recognizer(DIB_HANDLE page, fileio::PageText* out) {
  OcrPage result;
  const int rc = ocr_recognize_traced(page, &result);
  // The page writers pass a negative result on as theirs, where -1 means
  // cancelled: a missing engine module is a missing module (-3).
  if (rc < 0) return rc == -1 ? -3 : rc;
  *out = ocr_page_text(result, ocr_auto_rotate());
  return 0;
}

void automatic_text(DIB_HANDLE page) { auto_ocr_hand_text(page); }

}  // namespace

bool ocr_auto_rotate() {
  OcrPdfState& s = pdf_state();
  std::lock_guard lock(s.mutex);
  return s.auto_rotate;
}

fileio::PageText ocr_page_text(const OcrPage& page, bool turn_upright) {
  fileio::PageText t;
  t.text = page.text;
  t.x = page.x;
  t.y = page.y;
  t.width = page.width;
  t.height = page.height;
  t.x_dpi = page.x_dpi;
  t.y_dpi = page.y_dpi;
  if (!turn_upright || page.orientation == 0) return t;
  t.quarter_turns = page.orientation / 90;
  for (std::size_t i = 0; i < t.text.size() && i < t.x.size(); ++i)
    turn_box(page.orientation, page.page_width, page.page_height, &t.x[i], &t.y[i], &t.width[i], &t.height[i]);
  if (page.orientation != 180) std::swap(t.x_dpi, t.y_dpi);
  return t;
}

int ocr_hand_to_pdf(const OcrPage& page) {
  fileio::PageText t;
  try {
    t = ocr_page_text(page, ocr_auto_rotate());
  } catch (const std::bad_alloc&) {
    RecordError(ERR_MEMORY, "OCR_WritePage");
    return 0;
  }
  if (t.text.empty()) return 1;
  if (!WriteOcrTextToPDF(t.text.c_str(), t.x.data(), t.y.data(), t.width.data(), t.height.data(), t.x_dpi,
                         t.y_dpi))
    return 0;
  fileio::pdf_turn_next_page(t.quarter_turns);
  return 1;
}

int ocr_write_page(DIB_HANDLE page) {
  if (!TWAIN_IsMultipageFileOpen()) {
    RecordError(ERR_FAILURE, "OCR_WritePage: No multipage file open.");
    return 0;
  }
  if (TWAIN_MultipageFileFormat() != MPF_PDF) {
    RecordError(ERR_PDF_ONLY, "Writing text");
    return 0;
  }
  // Searchable output recognises every page as it is written: its text
  // layer is the one the page gets, not a second one.
  if (!PDF_GetSearchable()) {
    OcrPage result;
    if (!take_kept(page, &result) && ocr_recognize_traced(page, &result) < 0) return 0;
    ocr_set_last(result);
    if (!ocr_hand_to_pdf(result)) return 0;
  }
  return fileio::DibWritePage(page, 0) == 0 ? 1 : 0;
}

bool auto_ocr_on() {
  OcrPdfState& s = pdf_state();
  std::lock_guard lock(s.mutex);
  return s.auto_ocr;
}

void auto_ocr_page(DIB_HANDLE page) {
  OcrPage result;
  const int rc = ocr_recognize_traced(page, &result);
  ocr_set_last(result);
  OcrPdfState& s = pdf_state();
  std::lock_guard lock(s.mutex);
  s.kept = std::move(result);
  s.kept_for = page;
  s.kept_waiting = rc >= 0;
}

void auto_ocr_hand_text(DIB_HANDLE page) {
  if (PDF_GetSearchable()) return;  // the page writer lays its own
  OcrPage kept;
  if (take_kept(page, &kept)) ocr_hand_to_pdf(kept);
}

void ocr_page_reset() {
  {
    OcrPdfState& s = pdf_state();
    std::lock_guard lock(s.mutex);
    s.kept = OcrPage{};
    s.kept_for = 0;
    s.kept_waiting = false;
  }
  ocr_clear_last();
}

}  // namespace engines

using engines::pdf_state;

int32_t OCR_WritePage(DIB_HANDLE dib) {
  LogPrint("OCR_WritePage(0x%lx)\n", static_cast<unsigned long>(dib));
  LogNest nest;
  const int rc = engines::ocr_write_page(dib);
  LogPrint("OCR_WritePage => %d\n", rc);
  return rc;
}

int32_t OCR_WriteTextToPDF(void) {
  LogPrint("OCR_WriteTextToPDF\n");
  return engines::ocr_hand_to_pdf(engines::ocr_last());
}

void OCR_SetAutoRotatePagesToPDF(int32_t flag) {
  LogPrint("OCR_SetAutoRotatePagesToPDF(%d)\n", flag);
  std::lock_guard lock(pdf_state().mutex);
  pdf_state().auto_rotate = flag != 0;
}

int32_t OCR_GetAutoRotatePagesToPDF(void) { return engines::ocr_auto_rotate() ? 1 : 0; }

void TWAIN_SetAutoOCR(int32_t flag) {
  LogApiCall("SetAutoOCR(%d)\n", flag);
  {
    std::lock_guard lock(pdf_state().mutex);
    pdf_state().auto_ocr = flag != 0;
  }
  fileio::pdf_settings().automatic_text = flag ? engines::automatic_text : nullptr;
}

int32_t TWAIN_GetAutoOCR(void) { return engines::auto_ocr_on() ? 1 : 0; }

int32_t PDF_SetSearchable(int32_t flag) {
  LogPrint("PDF_SetSearchable(%d)\n", flag);
  fileio::PdfSettings& settings = fileio::pdf_settings();
  settings.searchable = false;
  if (flag == 0) return 1;
  // Loading the module selects its first available engine. A module that
  // does not load has no engine: that is what this call tells.
  const bool clean = TWAIN_LastErrorCode() == 0;
  const int selected = engines::ocr_api() ? engines::ocr_engine_selected() : 0;
  if (selected == 0) {
    if (clean) core::error_clear();
    RecordError(ERR_TEXT, "Can't generate searchable PDF, no OCR engine selected.");
    return 0;
  }
  if (!engines::ocr_engine_available(selected)) {
    RecordErrorF(ERR_TEXT, "Can't generate searchable PDF, selected OCR (%s) not available.",
                 OCR_EngineName(selected));
    return 0;
  }
  if (!fileio::pdf_api_settled()) return 0;
  settings.recognizer = engines::searchable_recognizer;
  settings.searchable = true;
  return 1;
}

int32_t PDF_GetSearchable(void) { return fileio::pdf_settings().searchable ? 1 : 0; }

namespace {

// Automatic OCR and auto-rotation are switches like the other page steps:
// TWAIN_ResetAll turns them off.
void ocr_pdf_reset() {
  {
    std::lock_guard lock(pdf_state().mutex);
    pdf_state().auto_rotate = false;
    pdf_state().auto_ocr = false;
    pdf_state().kept = engines::OcrPage{};
    pdf_state().kept_for = 0;
    pdf_state().kept_waiting = false;
  }
  fileio::pdf_settings().automatic_text = nullptr;
}

const bool kOcrPdfRegistered = core::register_state({"engines.ocr_pdf", ocr_pdf_reset, ocr_pdf_reset});

}  // namespace
