// The OCR engine module seen from the library: loading and binding OrvOcr,
// recognising pages through it under the fault guard, and what the library
// keeps of a recognition for the PDF text layer (the page's size, resolution
// and orientation with the text and its boxes).
//
// The module keeps one recognition and is not made for two threads at once;
// every call into it goes through here, under one lock. The lock is never
// held while a page is written: the background writer recognises pages too
// (searchable PDF), and a writer waiting for the lock while its caller waits
// for the writer would never finish.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "engines/ocr/ocr_abi.h"
#include "fileio/pdf_options.h"
#include "orivane/dib_api.h"

namespace engines {

#define ORV_OCR_DECLARE_ENTRY(name) ORVOCR_##name##Fn name = nullptr;
struct OcrApi {
  ORVOCR_REQUIRED_ENTRIES(ORV_OCR_DECLARE_ENTRY)
  ORVOCR_OPTIONAL_ENTRIES(ORV_OCR_DECLARE_ENTRY)
};
#undef ORV_OCR_DECLARE_ENTRY

// The module, loaded now if it is not yet (a failed load is tried again at
// the next call): nullptr with ERR_OCR recorded when it does not load.
const OcrApi* ocr_api();
// The module if it is loaded; never loads it.
const OcrApi* ocr_api_if_loaded();
// The module's engine choice, each call under the lock and the fault guard:
// whether `engine` is available and selecting it (loading the module; 0
// without it), and the engine selected (0 while the module is not loaded).
int ocr_engine_available(int engine);
int ocr_engine_select(int engine);
int ocr_engine_selected();
// Unloads the module and forgets everything recognised (tests).
void ocr_reset_for_tests();

// One recognition: the page's text with a box per character, as the module
// gave it, and what the text layer needs of the page.
struct OcrPage {
  std::string text;
  std::vector<int> x, y, width, height;  // per character, pixels of the page
  int page_width = 0, page_height = 0;
  int x_dpi = 0, y_dpi = 0;  // the page's resolution, 0 when it has none
  int orientation = 0;       // clockwise degrees to upright
};

// Recognises `page` into `out`: the character count, or OCR_RecognizeDib's
// failures (-1 no module, -2 no image, -5 engine failure) with the error
// recorded. Any thread; `out` is the caller's own.
int ocr_recognize(DIB_HANDLE page, OcrPage* out);

// ocr_recognize, traced "OCR_RecognizeDib => %d [%dms]".
int ocr_recognize_traced(DIB_HANDLE page, OcrPage* out);

// Forgets the last recognition, the module's own with it.
void ocr_clear_last();

// The last recognition of OCR_RecognizeDib, OCR_RecognizeDibZone,
// OCR_WritePage and automatic OCR (a copy).
OcrPage ocr_last();
void ocr_set_last(const OcrPage& page);

// `page` in the form of the PDF text layer; with `turn_upright`, the boxes
// those of the page turned upright and the turn to write it with.
fileio::PageText ocr_page_text(const OcrPage& page, bool turn_upright);
// Lays `page`'s text over the next PDF page written (turned upright when
// auto-rotation is on): 1, or 0 when the text layer refused it.
int ocr_hand_to_pdf(const OcrPage& page);

// Whether pages going into PDF files are turned upright by their text.
bool ocr_auto_rotate();

// The OCR page writer: recognises `page` (or takes its recognition by
// automatic OCR, when that is the one waiting) and writes it into the open
// multipage PDF with its text; the caller keeps `page`. 1, or 0 with the
// error recorded.
int ocr_write_page(DIB_HANDLE page);

// Automatic OCR (TWAIN_SetAutoOCR).
bool auto_ocr_on();
// Post-transfer processing's OCR step: recognises the page and keeps its
// text for the page's PDF write.
void auto_ocr_page(DIB_HANDLE page);
// Hands the text automatic OCR kept for `page` to the PDF text layer, once;
// nothing when none waits for it.
void auto_ocr_hand_text(DIB_HANDLE page);
// A new page is acquired: the text kept for the last one is dropped, and the
// module's own recognition with it.
void ocr_page_reset();

// The languages in effect: the one chosen by the program, else the
// environment's QUILLET_OCR_LANG, else the settings file's, else "eng".
std::string ocr_language();
// The settings file's choice (OcrLanguage=...).
void ocr_set_default_language(const std::string& languages);

}  // namespace engines
