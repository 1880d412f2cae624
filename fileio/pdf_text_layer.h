// The searchable text layer of PDF pages: recognised characters grouped into
// words, each placed on its baseline and sized to its letters.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace fileio {

// One word of the text layer, in pixels of the page image (origin top left).
struct OcrWord {
  std::string text;        // the word's characters
  bool blank_after = false;  // a space or tab ended it
  int left = 0;            // left column of its first character
  int right = 0;           // right edge of its last character (x + width)
  int baseline = 0;        // estimated baseline row
  int height = 0;          // estimated height from baseline to capital top, at least 1
};

// Groups characters into words and estimates each word's baseline and
// capital height from its characters' boxes, allowing for letters that sit
// lower or reach less high than a capital (descenders, x-height letters,
// punctuation). `x`, `y`, `widths`, `heights` hold one entry per byte of
// `text`.
std::vector<OcrWord> ocr_text_words(const std::string& text, const int* x, const int* y, const int* widths,
                                    const int* heights);

}  // namespace fileio
