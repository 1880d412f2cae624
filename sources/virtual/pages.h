// The pages the virtual scanner delivers: synthetic documents (a heading
// with the page number and side, paragraphs of text, a Code 128 barcode of
// the page number) rendered once per format and stamped per page, so that
// the device is never the bottleneck of a transfer.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "orivane/twain.h"

namespace vscan {

// Everything that changes a page's pixels apart from its number and side.
struct PageFormat {
  TW_UINT16 pixel_type = TWPT_BW;   // TWPT_BW, GRAY, RGB, PALETTE, CMY, CMYK
  TW_UINT16 bit_depth = 1;          // bits per pixel: BW 1; GRAY 8 or 16 (4
                                    // too); RGB 24 or 48; PALETTE 8; CMY 24;
                                    // CMYK 32
  int width = 0;                    // pixels
  int height = 0;
  double x_dpi = 200;
  double y_dpi = 200;
  TW_UINT16 pixel_flavor = TWPF_CHOCOLATE;  // BW only

  bool operator==(const PageFormat&) const = default;
};

// What is stamped on one page.
struct PageFacts {
  int document = 1;    // sheet number in this session
  int page = 1;        // page number in this session (both sides count)
  bool back = false;   // back side of a duplex sheet
  // How the sheet lies (default: a printed sheet, straight):
  bool blank = false;        // an empty side: paper with a few specks of
                             // dust, no barcode
  double skew_degrees = 0;   // the printed page turned by this angle about
                             // its centre, counter-clockwise as seen on the
                             // image; white shows at the corners. Taken only
                             // between -45 and 45; slower to render (the
                             // whole page is drawn again)
  double platen_inches = 0;  // the sheet smaller than the scan area by this
                             // much on every side: the dark platen shows
                             // around it (drawn over the page's margins;
                             // taken up to 1 inch; drawn whole as well)
  bool upside_down = false;  // the sheet fed head last: the whole page turned
                             // by 180 degrees (drawn whole as well)
};

// A page as the device delivers it uncompressed and chunky:
// - rows top first, each `bytes_per_row` = (width x bits + 7) / 8 bytes,
//   no padding; bits past the width in a row's last byte are 0;
// - BW: most significant bit first; with TWPF_CHOCOLATE 0 is black, with
//   TWPF_VANILLA 0 is white;
// - samples in TWAIN order: R G B, C M Y, C M Y K; 16-bit samples
//   little-endian, using the whole 16-bit range (low bytes are not copies of
//   the high bytes);
// - PALETTE: 8-bit indices into page_palette().
struct Raster {
  PageFormat format;
  std::size_t bytes_per_row = 0;
  std::vector<std::uint8_t> pixels;  // bytes_per_row x height
  std::string barcode_text;          // the Code 128 text on the page ("" none)
  // raster_checksum of the pixels, computed when first asked for: hashing a
  // 25 MB colour page costs several times more than producing it, and only
  // the pages whose checksum an application asks for need it. Thread-safe.
  std::uint64_t checksum() const;

  // Where the hash starts: the hash of the first `hash_from` bytes, which
  // the page shares with its template (set by render_page).
  std::uint64_t hash_seed = 14695981039346656037ULL;
  std::size_t hash_from = 0;
  mutable std::optional<std::uint64_t> checksum_cache;
};

// Renders a page: the format's template (cached; rendered again only when
// the format changes) with the facts stamped on it. Pixel content is
// deterministic for a format and facts. Thread-safe; the page is shared and
// stays valid while any holder keeps it. Null for a format it cannot
// render: an unknown pixel type or depth, no width or height, a resolution
// that is not positive or above 10000 dpi. Throws std::bad_alloc when the pixels do not fit in
// memory.
std::shared_ptr<const Raster> render_page(const PageFormat& format, const PageFacts& facts);

// The palette of PALETTE pages (256 distinct colours, not gray).
const std::array<TW_ELEMENT8, 256>& page_palette();

// FNV-1a 64 over `height` rows of `bytes_per_row` bytes, in the layout of
// Raster. Tests compute it from a transferred DIB the same way (rows top
// first, samples back in TWAIN order, trailing bits masked to 0).
std::uint64_t raster_checksum(const std::uint8_t* rows, std::size_t bytes_per_row, int height);

// The Code 128 (code set B) modules of `text`, start to stop code with the
// check symbol: true = bar. Each module is one unit wide.
std::vector<bool> code128_modules(const std::string& text);

}  // namespace vscan
