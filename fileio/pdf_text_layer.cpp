// The searchable text layer. Recognition gives a box per character; a PDF
// viewer wants words on a baseline at a point size. A word's baseline is the
// mean bottom of its characters and its height the mean distance from there
// up to where a capital letter would reach: each character's box is first
// corrected by its shape (a "g" hangs a third of its height below the
// baseline, an "a" reaches half as high as a capital, a quote mark floats two
// heights above it). The word is then drawn in the layer's font at
// 1.15 x that height (the font's capitals are smaller than its size) and
// stretched horizontally to the width its characters cover, so that
// selecting text in a viewer highlights the printed word. The result is
// accurate to a pixel or two on clean printed text; nothing is drawn
// visibly, so small errors cost nothing but the highlight's fit.
#include "fileio/pdf_text_layer.h"

#include <cstring>

#include "core/error_record.h"
#include "fileio/codec_modules.h"
#include "fileio/multipage.h"
#include "fileio/pdf_options.h"
#include "log/trace.h"
#include "orivane/errors.h"
#include "orivane/pdf_api.h"

namespace fileio {
namespace {

constexpr int kMaxWordLength = 4095;
// Capitals of the layer's font are about 1/1.15 of its point size.
constexpr double kSizePerCapitalHeight = 1.15;
constexpr double kPointsPerInch = 72.0;
constexpr int kInvisible = 3;  // PDF text render mode: neither fill nor stroke

bool in(unsigned char c, const char* set) { return c != 0 && std::strchr(set, c) != nullptr; }

// Bytes that end a word. A quote stays inside "don't" (a doubled one ends
// the word), a comma inside "1,000", a period inside "3.14".
bool ends_word(unsigned char c, unsigned char next) {
  if (c <= 0x21) return true;
  if (c == 0x27) return next == 0x27;
  if (c == 0x2C) return !(next >= '0' && next <= '9');
  if (c == 0x23 || c == 0x25 || c == 0x26 || c == 0x2A || c == 0x2B || c == 0x2F || c == 0x60 || c == 0xD7 ||
      c == 0xF7)
    return true;
  return (c >= 0x3A && c <= 0x40) || (c >= 0x5B && c <= 0x5E) || (c >= 0x7B && c <= 0x7F) ||
         (c >= 0x81 && c <= 0xA3) || (c >= 0xA6 && c <= 0xBF);
}

// The corrections of a character's bottom (toward the baseline) and top
// (toward a capital's top), from its shape; h is its box height.
void shape_corrections(unsigned char c, long h, long* bottom, long* top) {
  *bottom = 0;
  *top = 0;
  if (c == '"' || c == '\'') *bottom = 2 * h;
  else if (in(c, "$(){}")) *bottom = -h / 10;
  else if (in(c, "gjpqy")) *bottom = -h / 3;
  if (c == '$') *top = h / 10;
  else if (c == '.' || c == '_') *top = -4 * h;
  else if (in(c, ":;acemnorsuvwxz")) *top = -h / 2;
  else if (in(c, "gjpqy")) *top = -h / 3;
  else if (c == 't') *top = -h / 4;
}

struct WordSums {
  std::string text;
  int left = 0, right = 0;
  long long baseline = 0, top = 0;
};

OcrWord finish_word(const WordSums& w, bool blank_follows) {
  const long long n = static_cast<long long>(w.text.size());
  OcrWord word;
  word.text = w.text;
  word.blank_after = blank_follows;
  word.left = w.left;
  word.right = w.right;
  word.baseline = static_cast<int>(w.baseline / n);
  const long long height = word.baseline - w.top / n + 1;
  // A word of dots and dashes can come out flat or inverted; a text size of
  // zero or less would leave the previous word's size in force.
  word.height = height < 1 ? 1 : static_cast<int>(height);
  return word;
}

}  // namespace

std::vector<OcrWord> ocr_text_words(const std::string& text, const int* x, const int* y, const int* widths,
                                    const int* heights) {
  std::vector<OcrWord> words;
  WordSums w;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const auto next = static_cast<unsigned char>(i + 1 < text.size() ? text[i + 1] : 0);
    if (c >= 0x21) {
      if (w.text.empty()) w = WordSums{std::string(), x[i], x[i], 0, 0};
      long bottom_fix, top_fix;
      shape_corrections(c, heights[i], &bottom_fix, &top_fix);
      w.text += static_cast<char>(c);
      w.baseline += static_cast<long long>(y[i]) + heights[i] - 1 + bottom_fix;
      w.top += static_cast<long long>(y[i]) + top_fix;
      w.right = x[i] + widths[i];
    }
    if (!w.text.empty() && (ends_word(c, next) || w.text.size() >= kMaxWordLength)) {
      words.push_back(finish_word(w, c == ' ' || c == '\t'));
      w.text.clear();
    }
  }
  if (!w.text.empty()) words.push_back(finish_word(w, false));
  return words;
}

int pdf_searchable_text(DIB_HANDLE page) {
  const PdfSettings& settings = pdf_settings();
  if (!settings.searchable || !settings.recognizer) return 0;
  PageText text;
  const int recognised = settings.recognizer(page, &text);
  if (recognised < 0) return recognised;
  const std::size_t n = text.text.size();
  const bool boxes = text.x.size() >= n && text.y.size() >= n && text.width.size() >= n && text.height.size() >= n;
  if (WriteOcrTextToPDF(text.text.c_str(), boxes ? text.x.data() : nullptr, boxes ? text.y.data() : nullptr,
                        boxes ? text.width.data() : nullptr, boxes ? text.height.data() : nullptr, text.x_dpi,
                        text.y_dpi) &&
      boxes && n > 0)
    pdf_turn_next_page(text.quarter_turns);
  return 0;
}

}  // namespace fileio

int WriteOcrTextToPDF(const char* text, const int* x, const int* y, const int* widths, const int* heights,
                      int x_dpi, int y_dpi) {
  if (!text || !*text) return 1;
  if (!x || !y || !widths || !heights) {
    RecordError(ERR_MEMORY, "WriteOcrTextToPDF");
    return 0;
  }
  // OrvPdf's text state belongs to the page being written: from outside the
  // writer thread, wait until every queued page is out. The writer thread
  // itself is writing the page this text belongs to.
  if (!fileio::in_background_writer() && !fileio::WaitForBgWriter()) return 0;
  const fileio::PdfApi* pdf = fileio::pdf_api();
  if (!pdf) {
    RecordError(ERR_PDF_LIBRARY, "WriteOcrTextToPDF");
    return 0;
  }
  const int mode = pdf->GetTextRenderMode();
  pdf->SetTextRenderMode(fileio::kInvisible);
  // Without a resolution a pixel is a point, as OrvPdf sizes such a page.
  const double xres = x_dpi > 0 ? x_dpi : fileio::kPointsPerInch;
  const double yres = y_dpi > 0 ? y_dpi : fileio::kPointsPerInch;
  for (fileio::OcrWord& word : fileio::ocr_text_words(text, x, y, widths, heights)) {
    const double size = word.height / yres * fileio::kPointsPerInch * fileio::kSizePerCapitalHeight;
    pdf->SetTextSize(size);
    const double natural = pdf->AnsiTextWidth(word.text.c_str(), size) * xres / fileio::kPointsPerInch;
    pdf->SetTextHorizontalScaling(natural > 0 && word.right > word.left ? (word.right - word.left) / natural : 1.0);
    if (word.blank_after) word.text += ' ';
    pdf->DrawText(word.left, word.baseline, word.text.c_str());
  }
  pdf->SetTextRenderMode(mode);
  return 1;
}
