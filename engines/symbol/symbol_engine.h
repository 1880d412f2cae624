// What the barcode module's engines share: the page they read (8-bit gray,
// bounded in size), the request, the codes they find and the rules that name
// a code's type and direction the same way for every engine.
#pragma once
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace symbol {

// A page refused as input: malformed header, compressed data, no rows.
struct BadInput : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The page as 8-bit gray, top row first, `width` bytes a row. A page larger
// than kMaxGrayPixels is read reduced by `scale` in both directions (each
// gray pixel the mean of scale x scale pixels), so the memory an engine needs
// stays bounded whatever the page; positions are given back in page pixels.
struct GrayPage {
  int width = 0;
  int height = 0;
  int scale = 1;
  std::vector<std::uint8_t> pixels;
  const std::uint8_t* row(int y) const { return pixels.data() + std::size_t(y) * std::size_t(width); }
};

// The largest gray page an engine is given: 40 M pixels is a letter page at
// 700 dpi; engines need about three bytes per pixel of it.
constexpr std::int64_t kMaxGrayPixels = 40'000'000;

// The gray page of the DIB block `bmi` of `bytes` bytes. Throws BadInput for
// a block that is not a readable DIB, std::bad_alloc without memory.
GrayPage gray_page_from_dib(const void* bmi, std::size_t bytes);

struct Rect {
  int x = 0, y = 0, w = 0, h = 0;
};

struct Found {
  std::string text;  // UTF-8
  int type = 0;      // one BARCODE_* type bit
  int direction = 0; // one BARCODE_* direction bit
  Rect rect;         // in pixels of the gray page
};

struct Request {
  int types = -1;       // BARCODE_* type bits
  int directions = 15;  // BARCODE_* direction bits
};

// The engines. Each returns what it found on `page`, unsorted and unfiltered
// by direction (the module does both).
std::vector<Found> talven_read(const GrayPage& page, const Request& request);
std::vector<Found> axtel_read(const GrayPage& page, const Request& request);

// The direction bit of a code whose reading direction is turned `degrees`
// clockwise from upright (any value; the nearest quarter counts).
int direction_of_degrees(double degrees);

// Code 39 Full ASCII: the text that the shift pairs ($A, %B, /C, +D, ...) of
// `raw` stand for, or nothing when `raw` holds a pair that means nothing
// (or would stand for NUL).
bool code39_full_ascii(const std::string& raw, std::string* out_text);

// The type bit a Code 39 read as `raw` is reported as, given the requested
// types, with its text; 0 when it is not asked for. Full ASCII is told from
// plain Code 39 by its text: a code whose pairs decode to characters plain
// Code 39 cannot hold is Full ASCII when both are asked for.
int code39_type(const std::string& raw, int requested, std::string* out_text);

}  // namespace symbol
