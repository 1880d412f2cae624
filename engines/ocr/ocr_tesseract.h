// Reading a page with Tesseract. The method: the page is read as it lies;
// when that reads poorly (a low mean word confidence) or its words stand on
// end, Tesseract's orientation and script detection (osd.traineddata) says
// how the page lies, and a page that lies turned is read again turned
// upright; its boxes are then mapped back onto the page as it was handed in.
// The detection costs about a fifth of a page's reading: an upright page,
// by far the most common, does not pay it. The recognition walks
// Tesseract's result word by word, symbol by symbol, in reading order.
//
// Accuracy to expect on clean print at 200-300 dots per inch: better than
// 99 % of words; below 150 dots per inch small print degrades quickly.
// Orientation needs a few lines of text: on a page with less, or when the
// detection is not confident, the page is read as it lies.
//
// One page at a time runs on one thread: Tesseract's OpenMP threads cost
// more in hand-over than they gain on a machine of a few cores, where pages
// are better run side by side. A caller who sets OMP_THREAD_LIMIT or
// OMP_NUM_THREADS in the environment keeps OpenMP's own choice.
#pragma once
#include <memory>
#include <string>

#include "engines/ocr/ocr_image.h"
#include "engines/ocr/ocr_text.h"

namespace tesseract {
class TessBaseAPI;
}

namespace ocr {

struct Recognition {
  PageText text;
  int orientation = 0;     // clockwise degrees that make the page upright
  bool timed_out = false;  // the time limit ended it: text found so far
  int confidence = 0;      // Tesseract's mean word confidence, 0-100
  int words = 0;           // words of three characters or more,
  int words_on_end = 0;    // and how many of them are taller than wide
};

// Where the engine's log lines go (each ends with a line feed).
using LogFn = void (*)(const char* text);

class TesseractEngine {
 public:
  TesseractEngine();
  ~TesseractEngine();
  TesseractEngine(const TesseractEngine&) = delete;
  TesseractEngine& operator=(const TesseractEngine&) = delete;

  void set_log(LogFn log) { log_ = log; }
  // The languages to read ("eng", "deu+eng"): true when the trained data of
  // each is installed. Takes effect at the next recognition.
  bool set_languages(const std::string& languages);
  const std::string& languages() const { return languages_; }
  // Whether pages can be read: the data loads (tried once per language
  // choice).
  bool available();
  // Reads `page`; false (with `why`) when the engine fails on it.
  bool recognise(const GrayPage& page, const std::string& line_break, int time_limit_ms, Recognition* out,
                 std::string* why);

 private:
  int detect_orientation(const GrayPage& page);
  bool read_text(const GrayPage& page, const std::string& line_break, int time_limit_ms, Recognition* out);
  void logf(const char* format, ...) const;

  std::string languages_ = "eng";
  int ready_ = 0;      // 0 not tried, 1 loaded, -1 failed
  int osd_ready_ = 0;  // the same for orientation detection
  std::unique_ptr<tesseract::TessBaseAPI> api_;
  std::unique_ptr<tesseract::TessBaseAPI> osd_;
  LogFn log_ = nullptr;
};

// The folder Tesseract reads its trained data from: TESSDATA_PREFIX when
// set, else Tesseract's own default.
std::string trained_data_folder();

}  // namespace ocr
