// Engine 2, "Axtel", on the ZBar library: its image scanner reads every row
// and column of the page (only the columns when no sideways direction is
// asked for are skipped) and reports each code with the points where its
// scan lines crossed it and its orientation. The rectangle is the box around
// those points; ZBar scans every line, so it spans the code's bars.
#include "engines/symbol/symbol_engine.h"

#include <zbar.h>

#include <algorithm>
#include <memory>

#include "orivane/barcode_api.h"

// zbar.h declares its C interface inside namespace zbar for C++.
using namespace zbar;

namespace symbol {
namespace {

struct SymbolMap {
  int type;
  zbar_symbol_type_t zbar;
};

// The symbologies enabled for each requested type bit. UPC-A is read as
// EAN-13 unless it is enabled for itself; GS1-128 and Code 39 Full ASCII are
// told apart after reading.
constexpr SymbolMap kSymbols[] = {
    {BARCODE_EAN13, ZBAR_EAN13},   {BARCODE_EAN8, ZBAR_EAN8},
    {BARCODE_UPCA, ZBAR_UPCA},     {BARCODE_UPCE, ZBAR_UPCE},
    {BARCODE_CODE39, ZBAR_CODE39}, {BARCODE_CODE39_FULL, ZBAR_CODE39},
    {BARCODE_CODE128, ZBAR_CODE128}, {BARCODE_EAN_UCC, ZBAR_CODE128},
    {BARCODE_I2OF5, ZBAR_I25},     {BARCODE_CODABAR, ZBAR_CODABAR},
    {BARCODE_CODE93, ZBAR_CODE93}, {BARCODE_QR, ZBAR_QRCODE},
};

void configure(zbar_image_scanner_t* scanner, const Request& request) {
  zbar_image_scanner_set_config(scanner, ZBAR_NONE, ZBAR_CFG_ENABLE, 0);
  for (const SymbolMap& m : kSymbols)
    if (request.types & m.type) zbar_image_scanner_set_config(scanner, m.zbar, ZBAR_CFG_ENABLE, 1);
  // An EAN-13 needs its own symbology on for UPC-A to be reported apart.
  if (request.types & BARCODE_UPCA) zbar_image_scanner_set_config(scanner, ZBAR_EAN13, ZBAR_CFG_ENABLE, 1);
  const bool across = request.directions & (BARCODE_LEFT_TO_RIGHT | BARCODE_RIGHT_TO_LEFT);
  const bool down = request.directions & (BARCODE_TOP_TO_BOTTOM | BARCODE_BOTTOM_TO_TOP);
  zbar_image_scanner_set_config(scanner, ZBAR_NONE, ZBAR_CFG_Y_DENSITY, across ? 1 : 0);
  zbar_image_scanner_set_config(scanner, ZBAR_NONE, ZBAR_CFG_X_DENSITY, down ? 1 : 0);
  zbar_image_scanner_set_config(scanner, ZBAR_NONE, ZBAR_CFG_POSITION, 1);
}

int type_of(const zbar_symbol_t* s, int requested, std::string* out_text) {
  const std::string text(zbar_symbol_get_data(s), zbar_symbol_get_data_length(s));
  *out_text = text;
  int type = 0;
  switch (zbar_symbol_get_type(s)) {
    case ZBAR_EAN13: type = BARCODE_EAN13; break;
    case ZBAR_EAN8: type = BARCODE_EAN8; break;
    case ZBAR_UPCA: type = BARCODE_UPCA; break;
    case ZBAR_UPCE: type = BARCODE_UPCE; break;
    case ZBAR_CODE39: return code39_type(text, requested, out_text);
    case ZBAR_CODE128:
      type = (zbar_symbol_get_modifiers(s) & (1u << ZBAR_MOD_GS1)) && (requested & BARCODE_EAN_UCC)
                 ? BARCODE_EAN_UCC
                 : BARCODE_CODE128;
      break;
    case ZBAR_I25: type = BARCODE_I2OF5; break;
    case ZBAR_CODABAR:
      // Without its start and stop characters, as engine 1 reports it.
      if (text.size() >= 2) *out_text = text.substr(1, text.size() - 2);
      type = BARCODE_CODABAR;
      break;
    case ZBAR_CODE93: type = BARCODE_CODE93; break;
    case ZBAR_QRCODE: type = BARCODE_QR; break;
    default: return 0;
  }
  return (requested & type) ? type : 0;
}

int direction_of(zbar_orientation_t o) {
  switch (o) {
    case ZBAR_ORIENT_RIGHT: return BARCODE_TOP_TO_BOTTOM;
    case ZBAR_ORIENT_DOWN: return BARCODE_RIGHT_TO_LEFT;
    case ZBAR_ORIENT_LEFT: return BARCODE_BOTTOM_TO_TOP;
    default: return BARCODE_LEFT_TO_RIGHT;
  }
}

struct Point {
  int x, y;
};

Rect box_of(const std::vector<Point>& points, std::size_t from, std::size_t to) {
  int x0 = points[from].x, x1 = x0, y0 = points[from].y, y1 = y0;
  for (std::size_t i = from + 1; i < to; ++i) {
    x0 = std::min(x0, points[i].x), x1 = std::max(x1, points[i].x);
    y0 = std::min(y0, points[i].y), y1 = std::max(y1, points[i].y);
  }
  return {x0, y0, x1 - x0 + 1, y1 - y0 + 1};
}

// ZBar reports a text once per page, with the points of every place it was
// read: the same code printed twice comes back as one symbol. The points are
// split where the lines they were read on leave a gap, so codes printed one
// above the other (or, sideways, one beside the other) come apart again;
// copies side by side on the same lines stay one.
constexpr int kGapLines = 8;

std::vector<Rect> boxes_of(const zbar_symbol_t* s, bool sideways, bool whole) {
  std::vector<Point> points;
  for (unsigned i = 0, n = zbar_symbol_get_loc_size(s); i < n; ++i)
    points.push_back({zbar_symbol_get_loc_x(s, i), zbar_symbol_get_loc_y(s, i)});
  if (points.empty()) return {Rect{}};
  const auto across = [sideways](const Point& p) { return sideways ? p.x : p.y; };
  std::sort(points.begin(), points.end(), [&](const Point& a, const Point& b) { return across(a) < across(b); });
  std::vector<Rect> boxes;
  std::size_t from = 0;
  for (std::size_t i = 1; i <= points.size(); ++i) {
    if (i < points.size() && (whole || across(points[i]) - across(points[i - 1]) <= kGapLines)) continue;
    boxes.push_back(box_of(points, from, i));
    from = i;
  }
  return boxes;
}

}  // namespace

std::vector<Found> axtel_read(const GrayPage& page, const Request& request) {
  std::vector<Found> found;
  if (page.width < 1 || page.height < 1) return found;
  std::unique_ptr<zbar_image_scanner_t, decltype(&zbar_image_scanner_destroy)> scanner(
      zbar_image_scanner_create(), zbar_image_scanner_destroy);
  std::unique_ptr<zbar_image_t, decltype(&zbar_image_destroy)> image(zbar_image_create(), zbar_image_destroy);
  if (!scanner || !image) throw std::bad_alloc();
  configure(scanner.get(), request);
  zbar_image_set_format(image.get(), zbar_fourcc('Y', '8', '0', '0'));
  zbar_image_set_size(image.get(), unsigned(page.width), unsigned(page.height));
  // The page's pixels stay the caller's: no cleanup handler.
  zbar_image_set_data(image.get(), page.pixels.data(), page.pixels.size(), nullptr);
  if (zbar_scan_image(scanner.get(), image.get()) < 0) return found;
  for (const zbar_symbol_t* s = zbar_image_first_symbol(image.get()); s; s = zbar_symbol_next(s)) {
    Found f;
    f.type = type_of(s, request.types, &f.text);
    if (f.type == 0) continue;
    f.direction = direction_of(zbar_symbol_get_orientation(s));
    // A QR Code's points are its corners, not lines it was read on.
    const bool sideways = f.direction & (BARCODE_TOP_TO_BOTTOM | BARCODE_BOTTOM_TO_TOP);
    const bool matrix = f.type == BARCODE_QR;
    for (const Rect& box : boxes_of(s, sideways, matrix)) {
      f.rect = box;
      found.push_back(f);
    }
  }
  return found;
}

}  // namespace symbol
