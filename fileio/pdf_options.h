// PDF settings kept by the library and handed to the PDF codec at each write.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "orivane/dib_api.h"

namespace fileio {

// The text recognised on a page, in the form the searchable text layer takes:
// one byte per character and, per character, its box in image pixels (left,
// top, width, height), with the page's resolution in dots per inch.
struct PageText {
  std::string text;
  std::vector<int> x, y, width, height;
  int x_dpi = 0, y_dpi = 0;
  // Quarter turns clockwise (0-3) the page is to be written turned by: the
  // boxes are those of the page turned upright.
  int quarter_turns = 0;
};

// Recognises a page for the searchable text layer: 0 with the text filled
// in, or a negative result that fails the page. Installed by the OCR layer.
using PageRecognizer = int (*)(DIB_HANDLE page, PageText* out_text);
// Automatic OCR: hands the text recognised for `page`, if it waits, to the
// PDF text layer before `page` is written as a PDF file. Installed by the
// OCR layer while automatic OCR is on.
using AutomaticText = void (*)(DIB_HANDLE page);

struct PdfSettings {
  std::array<int, 6> compression{-1, -1, -1, -1, -1, -1};  // by pixel type; -1 codec default
  int pdfa_level = 0;
  std::string user_password;
  std::string owner_password;
  std::string open_password;   // passed with every PDF read, at most 31 characters
  int page_size = 0;   // TWAIN paper-size code, 0 = from the image
  // Searchable output: every page written into a PDF is recognised first and
  // its text laid over the page invisibly.
  bool searchable = false;
  PageRecognizer recognizer = nullptr;
  AutomaticText automatic_text = nullptr;
};

struct PdfApi;

PdfSettings& pdf_settings();

// Searchable output: when it is on, recognises `page` and lays its text over
// the next PDF page written (turned upright when the recognition says so).
// 0, or the recognition's negative result. Boxes missing for some
// characters leave the page without its text layer (WriteOcrTextToPDF
// records why) rather than failing the page.
int pdf_searchable_text(DIB_HANDLE page);

// OrvPdf for a setting that changes how pages are written: loaded, and no
// page queued for the background writer (which may be inside OrvPdf, and
// whose queued pages must keep the settings they were given with). Null
// when OrvPdf does not load or pages stay pending. The writer's own thread
// does not wait for itself.
const PdfApi* pdf_api_settled();
void pdf_settings_reset_for_tests();

// The next PDF page written, single or multipage, is written turned
// clockwise by `quarter_turns` (0-3): the text layer laid for it belongs to
// the page turned upright. The request waits for that page and is taken by
// its write.
void pdf_turn_next_page(int quarter_turns);
// `page` turned as the pending request says, the request taken: a new image
// the caller frees; 0 when no turn is pending, or when the turned copy cannot
// be made (traced: the page is then written as it lies).
DIB_HANDLE pdf_take_turned_page(DIB_HANDLE page);

// Encodes `count` pages into one PDF in memory, written into `buffer` while
// the whole of each chunk fits into what is left of `capacity`: the PDF's
// size in bytes (also when it did not fit), or 0 with the error recorded.
uint32_t PdfWriteArrayToBuffer(const DIB_HANDLE* array, int count, void* buffer, uint32_t capacity);

// Writes one page into the PDF document open in OrvPdf, with its text layer
// first when searchable output is on: 0, -3 without OrvPdf, the recognition's
// negative result, or OrvPdf's failure.
int pdf_write_page(DIB_HANDLE page);

}  // namespace fileio
