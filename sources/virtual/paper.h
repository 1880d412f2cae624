// The paper path: the image a device has scanned and is ready to hand over,
// what DAT_IMAGEINFO says about it, and how far a memory transfer of it has
// come. The pixels are rendered on first need (a page that is only described
// or skipped never is).
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "orivane/twain.h"
#include "sources/virtual/config.h"
#include "sources/virtual/device.h"
#include "sources/virtual/pages.h"

namespace vscan {

// An image as the transfers deliver it.
struct ImageShape {
  PageFormat format;  // pixel type, depth, size, resolution, flavor
  int samples = 1;    // samples per pixel
  int bits_per_sample = 1;
  TW_UINT16 compression = TWCP_NONE;  // of memory and file transfers
  bool planar = false;                // memory blocks carry one channel each
  bool tiles = false;                 // memory blocks are tiles
};

// The shape of the next image under `settings` (frame x resolution,
// pixel type and depth, the compression and layout the transfer mechanism can
// honour).
ImageShape image_shape(const DeviceConfig& device, const Settings& settings);

// Where a memory transfer of the current image stands.
struct MemoryProgress {
  int block = 0;               // blocks handed over
  int row = 0;                 // next row (strips) or tile row
  int column = 0;              // next tile column (pixels)
  int channel = 0;             // planar: the channel being sent
  std::size_t rows_index = 0;  // into the cycled strip heights
  int tile_rows = 0;           // the height of the current tile row
  // Compressed transfers: the whole stream, made on the first block.
  std::vector<std::uint8_t> stream;
  std::size_t stream_sent = 0;
  bool stream_made = false;
  bool done = false;
};

// The page on its way: scanned (state 6) or being transferred (state 7).
struct Page {
  PageFacts facts;
  ImageShape shape;
  std::vector<PageEvent> events;
  std::shared_ptr<const Raster> raster;  // rendered by page_raster
  // The response curve the page was scanned with (8-bit gray, 24-bit RGB).
  std::optional<ResponseCurve> response;
  MemoryProgress memory;
  bool delivered = false;  // a transfer handed the image over
};

// The response curve an image of this shape is scanned with under
// `settings`: the gray curve for 8-bit gray, the RGB curve for 24-bit RGB.
std::optional<ResponseCurve> response_for(const Settings& settings, const ImageShape& shape);

// Renders the page's pixels once (through its response curve); null when the
// image is too large to hold.
const Raster* page_raster(Page& page);

bool page_has_event(const Page& page, PageEventKind kind);

// Pages and sheets started in a session, for numbering.
struct PaperCounter {
  int pages = 0;
  int sheets = 0;
  bool back_next = false;  // the front of a duplex sheet is done; its back is next
};

}  // namespace vscan
