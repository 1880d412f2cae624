#include "engines/ocr/ocr_tesseract.h"

#include <sys/stat.h>
#include <tesseract/baseapi.h>
#include <tesseract/ocrclass.h>
#include <tesseract/resultiterator.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

// The OpenMP runtime Tesseract runs its threads on (GCC's libgomp, linked
// with the module): the one call the module makes into it.
extern "C" void omp_set_max_active_levels(int levels);

namespace ocr {
namespace {

// Orientation detection below this confidence (Tesseract's scale; 15 is
// "reasonably confident") leaves the page as it lies. A page with only a few
// lines gives 2 or 3; a wrong turn is caught anyway, since a page turned is
// kept only when it reads better than it did as it lay.
constexpr float kMinOrientationConfidence = 1.5f;
// A page read as it lies with a mean word confidence below this (0-100) is
// checked for its orientation: upright print reads at 90 and more, print
// upside down at about 40.
constexpr int kConfidentReading = 70;
// Pages smaller than this have no text Tesseract can read, and some of its
// steps fail on them.
constexpr int kMinSide = 8;
// Tesseract's resolution floor: below it, it guesses one instead.
constexpr int kMinDpi = 70;
// Orientation detection needs only a few lines of text: it reads at most
// this many pixels of the page (reduced by a whole factor otherwise).
constexpr long kOsdMaxPixels = 4'000'000;

// Tesseract's messages (and those of Leptonica under it) would go to the
// program's standard error; the module has its own log instead.
constexpr const char* kNoDebugOutput = "/dev/null";

bool file_exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Each '+'-joined language of `languages`.
std::vector<std::string> language_list(const std::string& languages) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start <= languages.size()) {
    const std::size_t plus = languages.find('+', start);
    const std::size_t end = plus == std::string::npos ? languages.size() : plus;
    if (end > start) out.push_back(languages.substr(start, end - start));
    if (plus == std::string::npos) break;
    start = plus + 1;
  }
  return out;
}

// A language name is a plain file name: no folder, nothing to climb with.
bool language_name_ok(const std::string& name) {
  if (name.empty() || name.size() > 64) return false;
  for (char c : name)
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-')) return false;
  return true;
}

bool data_installed(const std::string& language) {
  return language_name_ok(language) && file_exists(trained_data_folder() + "/" + language + ".traineddata");
}

// One thread per page unless the caller chose OpenMP's threads in the
// environment. A thread's own setting: set before each page, on whichever
// thread reads it.
void limit_threads() {
  if (std::getenv("OMP_THREAD_LIMIT") || std::getenv("OMP_NUM_THREADS")) return;
  omp_set_max_active_levels(0);
}

std::unique_ptr<tesseract::TessBaseAPI> new_api(const std::string& languages, tesseract::PageSegMode mode) {
  auto api = std::make_unique<tesseract::TessBaseAPI>();
  api->SetVariable("debug_file", kNoDebugOutput);
  if (api->Init(nullptr, languages.c_str(), tesseract::OEM_DEFAULT) != 0) return nullptr;
  api->SetVariable("debug_file", kNoDebugOutput);
  api->SetPageSegMode(mode);
  return api;
}

void set_image(tesseract::TessBaseAPI& api, const GrayPage& page) {
  api.SetImage(page.pixels.data(), page.width, page.height, 1, page.width);
  const double dpi = page.y_dpi > 0 ? page.y_dpi / page.factor : 0;
  if (dpi >= kMinDpi) api.SetSourceResolution(static_cast<int>(dpi + 0.5));
}

// A copy of `page` with at most kOsdMaxPixels.
GrayPage reduced_for_osd(const GrayPage& page) {
  int f = 1;
  while (long(page.width / f) * long(page.height / f) > kOsdMaxPixels) ++f;
  if (f == 1) return page;
  GrayPage r = page;
  r.width = page.width / f;
  r.height = page.height / f;
  r.factor = page.factor * f;
  r.pixels.assign(std::size_t(r.width) * std::size_t(r.height), 0);
  for (int y = 0; y < r.height; ++y)
    for (int x = 0; x < r.width; ++x) {
      unsigned sum = 0;
      for (int dy = 0; dy < f; ++dy)
        for (int dx = 0; dx < f; ++dx) sum += page.pixels[std::size_t(y * f + dy) * page.width + std::size_t(x * f + dx)];
      r.pixels[std::size_t(y) * r.width + std::size_t(x)] = std::uint8_t(sum / unsigned(f * f));
    }
  return r;
}

// The symbols of one word, handed to the text builder when the word ends:
// the word's columns shared among its characters as their advance widths in
// a common sans-serif face would share them (the engine's own column for a
// character can be off by a whole letter), on the line the word sits on.
class WordReader {
 public:
  explicit WordReader(TextBuilder& text) : text_(text) {}

  int words = 0, words_on_end = 0;  // of three symbols or more

  void begin(const tesseract::ResultIterator& it) {
    end();
    int left = 0, top = 0, right = 0, bottom = 0;
    it.BoundingBox(tesseract::RIL_WORD, &left, &top, &right, &bottom);
    on_end_ = bottom - top > right - left;
    left_ = left, right_ = std::max(right, left + 1);
    line_ = word_line(it, top, bottom);
    line_start_ = it.IsAtBeginningOf(tesseract::RIL_TEXTLINE);
    paragraph_start_ = it.IsAtBeginningOf(tesseract::RIL_PARA);
  }

  void symbol(const tesseract::ResultIterator& it) {
    const std::unique_ptr<char[]> utf8(it.GetUTF8Text(tesseract::RIL_SYMBOL));
    if (!utf8) return;
    Symbol s{utf8.get(), 0};
    for (char c : cp1252_from_utf8(s.utf8)) s.advance += advance_width(static_cast<unsigned char>(c));
    if (s.advance > 0) symbols_.push_back(std::move(s));
  }

  void end() {
    if (symbols_.size() >= 3) {
      ++words;
      if (on_end_) ++words_on_end;
    }
    long total = 0;
    for (const Symbol& s : symbols_) total += s.advance;
    const long span = right_ - left_;
    long before = 0;
    for (std::size_t i = 0; i < symbols_.size(); ++i) {
      const int x = left_ + static_cast<int>(span * before / total);
      before += symbols_[i].advance;
      const int next = left_ + static_cast<int>(span * before / total);
      text_.add(symbols_[i].utf8, x, next - x, line_, i == 0, i == 0 && line_start_, i == 0 && paragraph_start_);
    }
    symbols_.clear();
  }

 private:
  struct Symbol {
    std::string utf8;
    int advance;  // of its Windows-1252 bytes, thousandths of an em
  };

  // The line under the word: its baseline where the word's middle lies,
  // and the height of capitals above it (the row's x-height and ascenders;
  // the word's own box when the row has none).
  static TypeLine word_line(const tesseract::ResultIterator& it, int top, int bottom) {
    TypeLine line;
    int x1 = 0, y1 = 0, x2 = 0, y2 = 0, left = 0, right = 0, t = 0, b = 0;
    it.BoundingBox(tesseract::RIL_WORD, &left, &t, &right, &b);
    if (it.Baseline(tesseract::RIL_WORD, &x1, &y1, &x2, &y2)) {
      const double middle = (left + right) / 2.0;
      const double y = x2 != x1 ? y1 + double(y2 - y1) * (middle - x1) / (x2 - x1) : y1;
      line.baseline = static_cast<int>(std::lround(y)) - 1;
    } else {
      line.baseline = bottom - 1;
    }
    float row_height = 0, descenders = 0, ascenders = 0;
    it.RowAttributes(&row_height, &descenders, &ascenders);
    const float ascent = row_height + descenders;  // x-height and ascenders
    line.ascent = ascent >= 1 ? static_cast<int>(std::lround(ascent)) : std::max(line.baseline - top + 1, 1);
    return line;
  }

  TextBuilder& text_;
  std::vector<Symbol> symbols_;
  int left_ = 0, right_ = 1;
  bool on_end_ = false;
  TypeLine line_;
  bool line_start_ = false, paragraph_start_ = false;
};

}  // namespace

std::string trained_data_folder() {
  if (const char* prefix = std::getenv("TESSDATA_PREFIX"); prefix && *prefix) {
    std::string folder = prefix;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
  }
  // Where Tesseract 5 looks without TESSDATA_PREFIX (its build's default).
  return "/usr/share/tesseract-ocr/5/tessdata";
}

TesseractEngine::TesseractEngine() = default;
TesseractEngine::~TesseractEngine() {
  if (api_) api_->End();
  if (osd_) osd_->End();
}

void TesseractEngine::logf(const char* format, ...) const {
  if (!log_) return;
  char line[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  log_(line);
}

bool TesseractEngine::set_languages(const std::string& languages) {
  const std::string wanted = languages.empty() ? "eng" : languages;
  if (wanted != languages_) {
    languages_ = wanted;
    ready_ = 0;
    if (api_) api_->End();
    api_.reset();
  }
  const std::vector<std::string> list = language_list(languages_);
  bool all = !list.empty();
  for (const std::string& l : list) {
    if (!data_installed(l)) {
      logf("[OrvOcr] no trained data for language '%s' in %s\n", l.c_str(), trained_data_folder().c_str());
      all = false;
    }
  }
  return all;
}

bool TesseractEngine::available() {
  if (ready_ == 0) {
    ready_ = -1;
    const std::vector<std::string> list = language_list(languages_);
    bool installed = !list.empty();
    for (const std::string& l : list) installed = installed && data_installed(l);
    if (installed) api_ = new_api(languages_, tesseract::PSM_AUTO);
    if (api_) {
      ready_ = 1;
      logf("[OrvOcr] Tesseract %s reads '%s' from %s\n", tesseract::TessBaseAPI::Version(), languages_.c_str(),
           trained_data_folder().c_str());
    } else {
      logf("[OrvOcr] Tesseract cannot read '%s': trained data missing or unreadable in %s\n", languages_.c_str(),
           trained_data_folder().c_str());
    }
  }
  return ready_ == 1;
}

int TesseractEngine::detect_orientation(const GrayPage& page) {
  if (osd_ready_ == 0) {
    osd_ready_ = -1;
    if (data_installed("osd")) osd_ = new_api("osd", tesseract::PSM_OSD_ONLY);
    if (osd_) osd_ready_ = 1;
    else logf("[OrvOcr] no orientation detection: osd.traineddata missing in %s\n", trained_data_folder().c_str());
  }
  if (osd_ready_ != 1) return 0;
  const GrayPage small = reduced_for_osd(page);
  set_image(*osd_, small);
  int degrees = 0;
  float confidence = 0, script_confidence = 0;
  const char* script = nullptr;
  const bool found = osd_->DetectOrientationScript(&degrees, &confidence, &script, &script_confidence);
  osd_->Clear();
  if (!found) return 0;
  // Tesseract tells how far the page was turned clockwise; turning it back
  // is the rest of the full turn.
  const int upright = (360 - degrees) % 360;
  logf("[OrvOcr] orientation %d (confidence %.1f)\n", upright, confidence);
  return confidence >= kMinOrientationConfidence ? upright : 0;
}

bool TesseractEngine::read_text(const GrayPage& page, const std::string& line_break, int time_limit_ms,
                                Recognition* out) {
  set_image(*api_, page);
  tesseract::ETEXT_DESC monitor;
  if (time_limit_ms > 0) monitor.set_deadline_msecs(time_limit_ms);
  const int rc = api_->Recognize(&monitor);
  out->timed_out = time_limit_ms > 0 && monitor.deadline_exceeded();
  if (rc != 0 && !out->timed_out) {
    api_->Clear();
    return false;
  }
  TextBuilder text(line_break);
  std::unique_ptr<tesseract::ResultIterator> it(api_->GetIterator());
  if (it) {
    WordReader word(text);
    do {
      if (it->Empty(tesseract::RIL_SYMBOL)) continue;
      if (it->IsAtBeginningOf(tesseract::RIL_WORD)) word.begin(*it);
      word.symbol(*it);
    } while (it->Next(tesseract::RIL_SYMBOL));
    word.end();
    out->words = word.words;
    out->words_on_end = word.words_on_end;
  }
  out->text = std::move(text).finish();
  out->confidence = api_->MeanTextConf();
  api_->Clear();
  return true;
}

bool TesseractEngine::recognise(const GrayPage& page, const std::string& line_break, int time_limit_ms,
                                Recognition* out, std::string* why) {
  *out = Recognition{};
  if (!available()) {
    *why = "no trained data for '" + languages_ + "'";
    return false;
  }
  if (page.width < kMinSide || page.height < kMinSide) return true;  // nothing to read
  limit_threads();
  if (!read_text(page, line_break, time_limit_ms, out)) {
    *why = "Tesseract could not read the page";
    return false;
  }
  const bool poor = out->confidence < kConfidentReading || 2 * out->words_on_end > out->words;
  const int degrees = out->words > 0 && poor && !out->timed_out ? detect_orientation(page) : 0;
  if (degrees != 0) {
    Recognition upright;
    const bool on_end = 2 * out->words_on_end > out->words;
    // Read upright, the page must read at least as well as it did lying:
    // words on end may have read well already, and then as well again.
    if (read_text(gray_page_turned(page, degrees), line_break, time_limit_ms, &upright) &&
        (upright.confidence > out->confidence || (on_end && upright.confidence + 5 >= out->confidence))) {
      *out = std::move(upright);
      out->orientation = degrees;
    } else {
      logf("[OrvOcr] turned %d degrees the page reads no better: read as it lies\n", degrees);
    }
  }
  const bool turned = out->orientation != 0;
  if (out->timed_out) logf("[OrvOcr] time limit of %d ms reached: the text found so far is kept\n", time_limit_ms);
  for (Box& b : out->text.boxes) {
    if (turned) b = box_unturned(b, out->orientation, page.width, page.height);
    b = box_enlarged(b, page.factor);
  }
  return true;
}

}  // namespace ocr
