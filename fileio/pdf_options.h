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
};

// Recognises a page for the searchable text layer: 0 with the text filled
// in, or a negative result that fails the page. Installed by the OCR layer.
using PageRecognizer = int (*)(DIB_HANDLE page, PageText* out_text);

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
};

struct PdfApi;

PdfSettings& pdf_settings();

// OrvPdf for a setting that changes how pages are written: loaded, and no
// page queued for the background writer (which may be inside OrvPdf, and
// whose queued pages must keep the settings they were given with). Null
// when OrvPdf does not load or pages stay pending. The writer's own thread
// does not wait for itself.
const PdfApi* pdf_api_settled();
void pdf_settings_reset_for_tests();

// Encodes `count` pages into one PDF in memory, written into `buffer` while
// the whole of each chunk fits into what is left of `capacity`: the PDF's
// size in bytes (also when it did not fit), or 0 with the error recorded.
uint32_t PdfWriteArrayToBuffer(const DIB_HANDLE* array, int count, void* buffer, uint32_t capacity);

// Writes one page into the PDF document open in OrvPdf, with its text layer
// first when searchable output is on: 0, -3 without OrvPdf, the recognition's
// negative result, or OrvPdf's failure.
int pdf_write_page(DIB_HANDLE page);

}  // namespace fileio
