// Engine 1, "Talven", on zxing-cpp.
//
// Linear codes are read line by line: every few rows (and, for codes turned a
// quarter, every few columns) a strip of two lines goes to zxing-cpp's row
// readers, and the hits of one code on neighbouring lines are joined into one
// code whose rectangle runs from its first line to its last. The engine does
// this joining itself rather than give zxing-cpp the whole page because the
// library's own joining (1.4, as Debian builds it with assertions on) aborts
// the process when one page holds the same linear code twice; two-line strips
// never reach that path. Reading a line only where the previous one ended
// finds codes side by side. The first and last line of each code are then
// searched line by line, so the rectangle fits the bars to the pixel.
//
// Matrix codes (QR Code, Data Matrix, PDF417) are found by zxing-cpp's
// detectors over the whole page in one call, turned or not; Data Matrix
// symbols are also looked for blob by blob (matrix_candidates, below).
//
// A code must be read on at least kMinLines lines: one line alone is too
// easily a chance pattern in text or noise. What to expect: every type from
// modules of 2 pixels up, upright, upside down, turned a quarter either way
// and skewed by a few degrees (a linear code as long as one line still
// crosses all its bars); the rectangle of a straight linear code is exact to
// the pixel, that of a skewed one covers the lines that read it.
#include "engines/symbol/symbol_engine.h"

// zxing-cpp 1.4 gives texts as UTF-8 only when asked before its headers.
#define ZX_USE_UTF8 1
#include <ZXing/ReadBarcode.h>

#include <algorithm>
#include <cstdlib>

#include "orivane/barcode_api.h"

namespace symbol {
namespace {

using ZXing::BarcodeFormat;
using ZXing::BarcodeFormats;

constexpr int kMinLines = 2;
// A line every kLinesPerStep-th of the page's extent, at least every
// kMinStep lines and at most every kMaxStep: 4 lines at 300 dpi on a letter
// page, so a code needs to be only 8 pixels tall.
constexpr int kLinesPerStep = 800;
constexpr int kMinStep = 2;
constexpr int kMaxStep = 6;
// Hits on lines further apart than this many steps are two codes.
constexpr int kJoinSteps = 3;
// The narrowest rest of a line worth reading again after a code.
constexpr int kMinRestPixels = 24;
// zxing-cpp gives up on the rest of a line after a pattern it cannot finish
// (the guard bars left of a code whose digits end above the line, say). A
// line that reads nothing is read again after each white gap of at least
// kRestartGapPixels (more than a word space at 300 dpi, no more than the
// quiet zones of two codes side by side), from kRestartQuietPixels before
// the gap's end, at most kMaxRestarts times.
constexpr int kRestartGapPixels = 40;
constexpr int kRestartQuietPixels = 24;
constexpr int kMaxRestarts = 8;

BarcodeFormats linear_formats(int types) {
  BarcodeFormats f;
  if (types & BARCODE_EAN13) f |= BarcodeFormat::EAN13;
  if (types & BARCODE_EAN8) f |= BarcodeFormat::EAN8;
  if (types & BARCODE_UPCA) f |= BarcodeFormat::UPCA;
  if (types & BARCODE_UPCE) f |= BarcodeFormat::UPCE;
  if (types & (BARCODE_CODE39 | BARCODE_CODE39_FULL)) f |= BarcodeFormat::Code39;
  if (types & (BARCODE_CODE128 | BARCODE_EAN_UCC)) f |= BarcodeFormat::Code128;
  if (types & BARCODE_I2OF5) f |= BarcodeFormat::ITF;
  if (types & BARCODE_CODABAR) f |= BarcodeFormat::Codabar;
  if (types & BARCODE_CODE93) f |= BarcodeFormat::Code93;
  return f;
}

BarcodeFormats matrix_formats(int types) {
  BarcodeFormats f;
  if (types & BARCODE_QR) f |= BarcodeFormat::QRCode;
  if (types & BARCODE_DATAMATRIX) f |= BarcodeFormat::DataMatrix;
  if (types & BARCODE_PDF417) f |= BarcodeFormat::PDF417;
  return f;
}

// The type bit of a code zxing-cpp read as `format` with the symbology
// identifier `symbology` and `text`, and the text to report; 0 when it is not
// of a requested type.
int type_of(BarcodeFormat format, const std::string& symbology, const std::string& text, int requested,
            std::string* out_text) {
  *out_text = text;
  int type = 0;
  switch (format) {
    case BarcodeFormat::EAN13: type = BARCODE_EAN13; break;
    case BarcodeFormat::EAN8: type = BARCODE_EAN8; break;
    case BarcodeFormat::UPCA: type = BARCODE_UPCA; break;
    case BarcodeFormat::UPCE: type = BARCODE_UPCE; break;
    case BarcodeFormat::Code39: return code39_type(text, requested, out_text);
    case BarcodeFormat::Code128:
      // FNC1 in first place ("]C1") makes a Code 128 a GS1-128 (EAN.UCC).
      type = symbology == "]C1" && (requested & BARCODE_EAN_UCC) ? BARCODE_EAN_UCC : BARCODE_CODE128;
      break;
    case BarcodeFormat::ITF: type = BARCODE_I2OF5; break;
    case BarcodeFormat::Codabar: type = BARCODE_CODABAR; break;
    case BarcodeFormat::Code93: type = BARCODE_CODE93; break;
    case BarcodeFormat::QRCode: type = BARCODE_QR; break;
    case BarcodeFormat::DataMatrix: type = BARCODE_DATAMATRIX; break;
    case BarcodeFormat::PDF417: type = BARCODE_PDF417; break;
    default: return 0;
  }
  return (requested & type) ? type : 0;
}

// One code read on one line: which line, and the span of the line it covers.
struct Hit {
  BarcodeFormat format;
  std::string text;
  std::string symbology;
  bool reversed = false;  // read from the line's end towards its start
  int line = 0;
  int start = 0, end = 0;  // [start, end) along the line
};

// The lines of the page one way: rows (across) or columns (down). zxing-cpp
// reads a strip of two pixel lines; both hold the same line of the page, so a
// hit names exactly the line it was read on.
class Lines {
 public:
  Lines(const GrayPage& page, bool columns)
      : page_(page), columns_(columns), count_(columns ? page.width : page.height),
        length_(columns ? page.height : page.width), strip_(2 * std::size_t(length_)) {}
  int count() const { return count_; }
  int length() const { return length_; }
  // The pixels of the line loaded last.
  const std::uint8_t* pixels() const { return strip_.data(); }

  // Line `line` from `from` pixels in to its end.
  ZXing::ImageView strip(int line, int from) {
    if (line != loaded_) {
      std::uint8_t* out = strip_.data();
      if (columns_) {
        for (int y = 0; y < length_; ++y) out[y] = page_.row(y)[line];
      } else {
        std::copy(page_.row(line), page_.row(line) + length_, out);
      }
      std::copy(out, out + length_, out + length_);
      loaded_ = line;
    }
    return ZXing::ImageView(strip_.data() + from, length_ - from, 2, ZXing::ImageFormat::Lum, length_);
  }

 private:
  const GrayPage& page_;
  bool columns_;
  int count_, length_;
  std::vector<std::uint8_t> strip_;
  int loaded_ = -1;
};

ZXing::DecodeHints line_hints(BarcodeFormats formats) {
  ZXing::DecodeHints h;
  h.setFormats(formats);
  h.setTryHarder(false);
  h.setTryRotate(false);
  h.setTryDownscale(false);
  h.setEanAddOnSymbol(ZXing::EanAddOnSymbol::Ignore);
  return h;
}

// Where a line that read nothing from `from` on is worth reading again: the
// end of the next wide white gap after something dark, less a quiet zone;
// -1 when there is none.
int restart_after(const std::uint8_t* line, int length, int from) {
  int x = from;
  while (x < length && line[x] >= 128) ++x;  // the white before the obstacle
  while (x < length) {
    while (x < length && line[x] < 128) ++x;  // something dark
    const int gap = x;
    while (x < length && line[x] >= 128) ++x;
    if (x < length && x - gap >= kRestartGapPixels) return std::max(gap, x - kRestartQuietPixels);
  }
  return -1;
}

// Every code found on `line`, left to right.
std::vector<Hit> read_line(Lines& lines, int line, const ZXing::DecodeHints& hints) {
  std::vector<Hit> hits;
  int from = 0, restarts = 0;
  while (lines.length() - from >= kMinRestPixels) {
    const ZXing::Results results = ZXing::ReadBarcodes(lines.strip(line, from), hints);
    // The rest of the line after the last code read is read again.
    int next = from;
    for (const ZXing::Result& r : results) {
      if (!r.isValid()) continue;
      const ZXing::Position& p = r.position();
      int a = p[0].x, b = p[0].x;
      for (int i = 1; i < 4; ++i) a = std::min(a, p[i].x), b = std::max(b, p[i].x);
      hits.push_back({r.format(), r.text(), r.symbologyIdentifier(), std::abs(r.orientation()) > 90,
                      line, from + a, from + b + 1});
      next = std::max(next, from + b + 1);
    }
    if (next <= from) {
      next = restart_after(lines.pixels(), lines.length(), from);
      if (next < 0 || ++restarts > kMaxRestarts) break;
    }
    from = next;
  }
  return hits;
}

// A code seen on one or more neighbouring lines.
struct Run {
  Hit first;
  int first_line = 0, last_line = 0;
  int start = 0, end = 0;
  int hits = 0;
};

// Whether hit `h` continues the code of `run` on a later line.
bool continues(const Run& run, const Hit& h, int step) {
  if (h.format != run.first.format || h.text != run.first.text) return false;
  if (h.line - run.last_line > kJoinSteps * step) return false;
  const int overlap = std::min(run.end, h.end) - std::max(run.start, h.start);
  return overlap * 2 >= std::min(run.end - run.start, h.end - h.start);
}

// Whether the code of `run` is read on `line` at its place.
bool read_again(Lines& lines, const Run& run, int line, const ZXing::DecodeHints& hints) {
  for (const Hit& h : read_line(lines, line, hints))
    if (h.text == run.first.text && std::min(run.end, h.end) > std::max(run.start, h.start)) return true;
  return false;
}

// Moves the run's first and last line out to the last lines the code still
// reads on (at most one step: the lines between steps were not read).
void fit_ends(Lines& lines, Run& run, int step) {
  const ZXing::DecodeHints hints = line_hints(run.first.format);
  for (int k = 1; k < step && run.first_line - 1 >= 0; ++k) {
    if (!read_again(lines, run, run.first_line - 1, hints)) break;
    --run.first_line;
    ++run.hits;
  }
  for (int k = 1; k < step && run.last_line + 1 < lines.count(); ++k) {
    if (!read_again(lines, run, run.last_line + 1, hints)) break;
    ++run.last_line;
    ++run.hits;
  }
}

std::vector<Found> read_linear(const GrayPage& page, const Request& request, bool columns) {
  Lines lines(page, columns);
  const int step = std::clamp(lines.count() / kLinesPerStep, kMinStep, kMaxStep);
  const ZXing::DecodeHints hints = line_hints(linear_formats(request.types));
  std::vector<Run> runs;
  for (int line = 0; line < lines.count(); line += step) {
    for (const Hit& h : read_line(lines, line, hints)) {
      auto run = std::find_if(runs.rbegin(), runs.rend(), [&](const Run& r) { return continues(r, h, step); });
      if (run == runs.rend()) {
        runs.push_back({h, h.line, h.line, h.start, h.end, 1});
        continue;
      }
      run->last_line = h.line;
      run->start = std::min(run->start, h.start);
      run->end = std::max(run->end, h.end);
      ++run->hits;
    }
  }
  std::vector<Found> found;
  for (Run& run : runs) {
    fit_ends(lines, run, step);
    if (run.hits < kMinLines) continue;
    Found f;
    f.type = type_of(run.first.format, run.first.symbology, run.first.text, request.types, &f.text);
    // Across the page, reading from the line's end is upside down; down the
    // page, reading from the top is a quarter turn clockwise.
    if (columns) f.direction = run.first.reversed ? BARCODE_BOTTOM_TO_TOP : BARCODE_TOP_TO_BOTTOM;
    else f.direction = run.first.reversed ? BARCODE_RIGHT_TO_LEFT : BARCODE_LEFT_TO_RIGHT;
    const Rect along{run.start, run.first_line, run.end - run.start, run.last_line - run.first_line + 1};
    f.rect = columns ? Rect{along.y, along.x, along.h, along.w} : along;
    found.push_back(std::move(f));
  }
  return found;
}

// Whether two readings are one code: the same type and text where their
// rectangles meet.
bool same_code(const Found& a, const Found& b) {
  const bool meet_x = std::max(a.rect.x, b.rect.x) < std::min(a.rect.x + a.rect.w, b.rect.x + b.rect.w);
  const bool meet_y = std::max(a.rect.y, b.rect.y) < std::min(a.rect.y + a.rect.h, b.rect.y + b.rect.h);
  return a.type == b.type && a.text == b.text && meet_x && meet_y;
}

// Adds `f` to `found` unless it is a code found already (a code read both
// across and down the page, or in the whole page and in a part of it).
void add_new(std::vector<Found>* found, Found f) {
  if (std::none_of(found->begin(), found->end(), [&](const Found& g) { return same_code(g, f); }))
    found->push_back(std::move(f));
}

// The codes zxing-cpp finds in `view`, a part of the page starting at
// (`x`, `y`).
void read_matrix_in(const ZXing::ImageView& view, int x, int y, const ZXing::DecodeHints& hints, int requested,
                    std::vector<Found>* found) {
  for (const ZXing::Result& r : ZXing::ReadBarcodes(view, hints)) {
    if (!r.isValid()) continue;
    Found f;
    f.type = type_of(r.format(), r.symbologyIdentifier(), r.text(), requested, &f.text);
    if (f.type == 0) continue;
    const ZXing::Position& p = r.position();
    int x0 = p[0].x, x1 = p[0].x, y0 = p[0].y, y1 = p[0].y;
    for (int i = 1; i < 4; ++i) {
      x0 = std::min(x0, p[i].x), x1 = std::max(x1, p[i].x);
      y0 = std::min(y0, p[i].y), y1 = std::max(y1, p[i].y);
    }
    f.rect = {x + x0, y + y0, x1 - x0 + 1, y1 - y0 + 1};
    f.direction = direction_of_degrees(r.orientation());
    add_new(found, std::move(f));
  }
}

// zxing-cpp 1.4 (without C++20 coroutines, as Debian builds it) looks for a
// Data Matrix only outward from the middle of the image it is given. So the
// page is cut into cells of kCellPixels, cells with a mix of dark and light
// (kDenseMin .. kDenseMax dark) are joined into blobs, and each blob the size
// and shape of a symbol is read on its own with a margin, the symbol then in
// its middle. Text lines and linear codes make blobs too long to pass; a
// page of noise makes one blob too large. At most kMaxCandidates are read.
constexpr int kCellPixels = 8;
constexpr double kDenseMin = 0.2, kDenseMax = 0.9;
constexpr int kMaxBlobAspect = 4;
constexpr int kMaxCandidates = 64;

std::vector<Rect> matrix_candidates(const GrayPage& page) {
  const int cw = (page.width + kCellPixels - 1) / kCellPixels, ch = (page.height + kCellPixels - 1) / kCellPixels;
  std::vector<std::uint8_t> dense(std::size_t(cw) * std::size_t(ch));
  for (int cy = 0; cy < ch; ++cy) {
    for (int cx = 0; cx < cw; ++cx) {
      int dark = 0, all = 0;
      for (int y = cy * kCellPixels; y < std::min(page.height, (cy + 1) * kCellPixels); ++y)
        for (int x = cx * kCellPixels; x < std::min(page.width, (cx + 1) * kCellPixels); ++x, ++all)
          dark += page.row(y)[x] < 128;
      dense[std::size_t(cy) * cw + cx] = dark >= kDenseMin * all && dark <= kDenseMax * all;
    }
  }
  std::vector<Rect> out;
  std::vector<int> stack;
  for (int start = 0; start < cw * ch && int(out.size()) < kMaxCandidates; ++start) {
    if (!dense[std::size_t(start)]) continue;
    int x0 = cw, y0 = ch, x1 = -1, y1 = -1;
    dense[std::size_t(start)] = 0;
    stack.assign(1, start);
    while (!stack.empty()) {
      const int c = stack.back(), cx = c % cw, cy = c / cw;
      stack.pop_back();
      x0 = std::min(x0, cx), x1 = std::max(x1, cx), y0 = std::min(y0, cy), y1 = std::max(y1, cy);
      const int next[4][2] = {{cx - 1, cy}, {cx + 1, cy}, {cx, cy - 1}, {cx, cy + 1}};
      for (const auto& n : next) {
        if (n[0] < 0 || n[0] >= cw || n[1] < 0 || n[1] >= ch) continue;
        const std::size_t k = std::size_t(n[1]) * cw + n[0];
        if (dense[k]) dense[k] = 0, stack.push_back(n[1] * cw + n[0]);
      }
    }
    const int w = x1 - x0 + 1, h = y1 - y0 + 1;
    if (w < 2 || h < 2 || w > cw / 2 + 1 || h > ch / 2 + 1) continue;
    if (w > kMaxBlobAspect * h || h > kMaxBlobAspect * w) continue;
    // A margin of half the blob on each side: the quiet zone and some white.
    const int mx = std::max(2, w / 2), my = std::max(2, h / 2);
    const int px0 = std::max(0, (x0 - mx) * kCellPixels), py0 = std::max(0, (y0 - my) * kCellPixels);
    const int px1 = std::min(page.width, (x1 + 1 + mx) * kCellPixels);
    const int py1 = std::min(page.height, (y1 + 1 + my) * kCellPixels);
    out.push_back({px0, py0, px1 - px0, py1 - py0});
  }
  return out;
}

std::vector<Found> read_matrix(const GrayPage& page, const Request& request) {
  ZXing::DecodeHints h;
  h.setFormats(matrix_formats(request.types));
  h.setTryHarder(true);
  h.setTryRotate(true);
  h.setTryDownscale(false);
  std::vector<Found> found;
  read_matrix_in(ZXing::ImageView(page.pixels.data(), page.width, page.height, ZXing::ImageFormat::Lum), 0, 0, h,
                 request.types, &found);
  if (request.types & BARCODE_DATAMATRIX) {
    h.setFormats(BarcodeFormat::DataMatrix);
    for (const Rect& r : matrix_candidates(page)) {
      const ZXing::ImageView part(page.row(r.y) + r.x, r.w, r.h, ZXing::ImageFormat::Lum, page.width);
      read_matrix_in(part, r.x, r.y, h, request.types, &found);
    }
  }
  return found;
}

}  // namespace

std::vector<Found> talven_read(const GrayPage& page, const Request& request) {
  std::vector<Found> found;
  if (page.width < 1 || page.height < 1) return found;
  if (!linear_formats(request.types).empty()) {
    if (request.directions & (BARCODE_LEFT_TO_RIGHT | BARCODE_RIGHT_TO_LEFT)) found = read_linear(page, request, false);
    if (request.directions & (BARCODE_TOP_TO_BOTTOM | BARCODE_BOTTOM_TO_TOP))
      for (Found& f : read_linear(page, request, true)) add_new(&found, std::move(f));
  }
  if (!matrix_formats(request.types).empty() && page.width >= 3 && page.height >= 3) {
    std::vector<Found> matrix = read_matrix(page, request);
    found.insert(found.end(), matrix.begin(), matrix.end());
  }
  std::erase_if(found, [](const Found& f) { return f.type == 0; });
  return found;
}

}  // namespace symbol
