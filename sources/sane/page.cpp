// A SANE scan read into a page: every frame of it (gray, RGB, or red, green
// and blue one after another on three-pass devices), lines counted as they
// come when the device does not know the height (hand scanners), and turned
// into TWAIN's layout. SANE's line art has 1 = black; TWAIN's black and white
// pages (and the DIB's colour table, black first) have 0 = black.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "sources/sane/bridge.h"

namespace sanebridge {
namespace {

constexpr std::size_t kReadChunk = 64 * 1024;
constexpr double kMetresPerInch = 0.0254;

// One frame's bytes as the device sent them.
struct ScanFrame {
  SANE_Parameters params{};
  std::vector<std::uint8_t> bytes;
};

Reply frame_read(SaneDevice& device, ScanFrame& out) {
  if (SANE_Status s = sane_get_parameters(device.handle(), &out.params); s != SANE_STATUS_GOOD)
    return status_reply(s);
  if (out.params.bytes_per_line <= 0 || out.params.pixels_per_line <= 0)
    return refuse(TWCC_OPERATIONERROR);
  std::size_t expected = 0;  // unknown height: 0
  if (out.params.lines > 0) {
    expected = static_cast<std::size_t>(out.params.bytes_per_line) * out.params.lines;
    out.bytes.reserve(expected);
  }
  for (;;) {
    const std::size_t at = out.bytes.size();
    out.bytes.resize(at + kReadChunk);
    SANE_Int got = 0;
    const SANE_Status s = device.read(out.bytes.data() + at, kReadChunk, got,
                                      expected > at ? expected - at : 0);
    out.bytes.resize(at + static_cast<std::size_t>(std::max<SANE_Int>(got, 0)));
    if (s == SANE_STATUS_EOF) return kDone;
    if (s != SANE_STATUS_GOOD) return status_reply(s);
  }
}

int channel_of(SANE_Frame format) {
  switch (format) {
    case SANE_FRAME_RED: return 0;
    case SANE_FRAME_GREEN: return 1;
    case SANE_FRAME_BLUE: return 2;
    default: return -1;
  }
}

// The page's shape from the first frame.
std::optional<Page> page_shape(const SANE_Parameters& p, std::size_t lines, double dpi,
                               double dpi_y) {
  Page page;
  page.width = p.pixels_per_line;
  page.height = static_cast<int>(lines);
  page.dpi = dpi;
  page.dpi_y = dpi_y;
  const bool colour = p.format != SANE_FRAME_GRAY;
  if (p.depth == 1 && !colour) {
    page.pixel_type = TWPT_BW;
    page.bits = 1;
  } else if (p.depth == 8 || p.depth == 16) {
    page.pixel_type = colour ? TWPT_RGB : TWPT_GRAY;
    page.bits = p.depth * (colour ? 3 : 1);
  } else {
    return std::nullopt;
  }
  page.bytes_per_row = (static_cast<std::size_t>(page.width) * page.bits + 7) / 8;
  // A three-pass page and rows narrower than SANE's are put together here;
  // a single-pass frame of the page's rows becomes the page itself.
  if ((p.format != SANE_FRAME_GRAY && p.format != SANE_FRAME_RGB) ||
      static_cast<std::size_t>(p.bytes_per_line) != page.bytes_per_row)
    page.pixels.assign(page.bytes_per_row * lines, 0);
  return page;
}

// A single-pass frame (gray or RGB) into the page's rows: handed over
// whole when its rows are the page's (no copy of a page of megabytes).
void copy_chunky(ScanFrame& f, Page& page) {
  const auto in_row = static_cast<std::size_t>(f.params.bytes_per_line);
  const std::size_t size = page.bytes_per_row * static_cast<std::size_t>(page.height);
  if (in_row == page.bytes_per_row && f.bytes.size() >= size) {
    f.bytes.resize(size);
    page.pixels = std::move(f.bytes);
  } else {
    const std::size_t n = std::min(in_row, page.bytes_per_row);
    for (int y = 0; y < page.height; ++y) {
      std::uint8_t* out = page.pixels.data() + page.bytes_per_row * y;
      std::memcpy(out, f.bytes.data() + in_row * y, n);
    }
  }
  if (page.bits != 1) return;
  const int tail = page.width % 8;
  const auto keep = static_cast<std::uint8_t>(tail == 0 ? 0xff : 0xff << (8 - tail));
  for (int y = 0; y < page.height; ++y) {
    std::uint8_t* row = page.pixels.data() + page.bytes_per_row * y;
    for (std::size_t i = 0; i < page.bytes_per_row; ++i) row[i] = static_cast<std::uint8_t>(~row[i]);
    row[page.bytes_per_row - 1] &= keep;
  }
}

// One colour of a three-pass scan into its place in each pixel.
void copy_plane(const ScanFrame& f, int channel, Page& page) {
  const auto in_row = static_cast<std::size_t>(f.params.bytes_per_line);
  const std::size_t sample = page.bits / 24;  // bytes per sample: 1 or 2
  for (int y = 0; y < page.height; ++y) {
    const std::uint8_t* in = f.bytes.data() + in_row * y;
    std::uint8_t* out = page.pixels.data() + page.bytes_per_row * y;
    for (int x = 0; x < page.width; ++x)
      std::memcpy(out + (3 * x + channel) * sample, in + x * sample, sample);
  }
}

}  // namespace

Reply status_reply(SANE_Status status) {
  switch (status) {
    case SANE_STATUS_GOOD: return kDone;
    case SANE_STATUS_CANCELLED: return Reply{TWRC_CANCEL, TWCC_SUCCESS};
    case SANE_STATUS_NO_DOCS: return refuse(TWCC_NOMEDIA);
    case SANE_STATUS_JAMMED: return refuse(TWCC_PAPERJAM);
    case SANE_STATUS_COVER_OPEN: return refuse(TWCC_INTERLOCK);
    case SANE_STATUS_DEVICE_BUSY: return refuse(TWCC_SEQERROR);
    case SANE_STATUS_IO_ERROR:
    case SANE_STATUS_ACCESS_DENIED: return refuse(TWCC_CHECKDEVICEONLINE);
    case SANE_STATUS_NO_MEM: return refuse(TWCC_LOWMEMORY);
    default: return refuse(TWCC_OPERATIONERROR);
  }
}

Reply page_read(SaneDevice& device, double dpi, double dpi_y, Page& out) {
  std::optional<Page> page;
  for (int frames = 0;; ++frames) {
    // A three-pass device starts each colour of the same page anew.
    if (frames > 0) {
      if (SANE_Status s = device.start(); s != SANE_STATUS_GOOD) return status_reply(s);
    }
    ScanFrame f;
    if (Reply r = frame_read(device, f); r.rc != TWRC_SUCCESS) return r;
    const auto row = static_cast<std::size_t>(f.params.bytes_per_line);
    const std::size_t lines = f.bytes.size() / row;
    const int channel = channel_of(f.params.format);
    if (!page) {
      SANE_Parameters shape = f.params;
      if (channel >= 0) shape.format = SANE_FRAME_RGB;
      page = page_shape(shape, lines, dpi, dpi_y);
      if (!page || lines == 0) return refuse(TWCC_OPERATIONERROR);
    }
    if (f.params.pixels_per_line != page->width || lines < static_cast<std::size_t>(page->height))
      return refuse(TWCC_OPERATIONERROR);
    if (channel >= 0) {
      copy_plane(f, channel, *page);
    } else {
      copy_chunky(f, *page);
    }
    if (f.params.last_frame || frames >= 2) break;
  }
  out = std::move(*page);
  return kDone;
}

namespace {

void put16(std::uint8_t* p, std::uint16_t v) { std::memcpy(p, &v, 2); }
void put32(std::uint8_t* p, std::uint32_t v) { std::memcpy(p, &v, 4); }

std::size_t dib_stride(const Page& page) {
  return (static_cast<std::size_t>(page.width) * page.bits + 31) / 32 * 4;
}
std::size_t dib_palette_entries(const Page& page) {
  return page.bits == 1 ? 2 : page.bits == 8 ? 256 : 0;
}
// 16-bit gray goes as BI_BITFIELDS with three 16-bit masks.
std::size_t dib_mask_bytes(const Page& page) { return page.bits == 16 ? 12 : 0; }

}  // namespace

std::size_t dib_bytes(const Page& page) {
  return 40 + 4 * dib_palette_entries(page) + dib_mask_bytes(page) +
         dib_stride(page) * static_cast<std::size_t>(page.height);
}

void dib_write(const Page& page, std::uint8_t* out) {
  const std::size_t stride = dib_stride(page);
  const auto ppm = static_cast<std::uint32_t>(std::lround(page.dpi / kMetresPerInch));
  const auto ppm_y = static_cast<std::uint32_t>(std::lround(page.dpi_y / kMetresPerInch));
  std::memset(out, 0, 40);
  put32(out, 40);
  put32(out + 4, static_cast<std::uint32_t>(page.width));
  put32(out + 8, static_cast<std::uint32_t>(page.height));  // positive: bottom-up
  put16(out + 12, 1);
  put16(out + 14, static_cast<std::uint16_t>(page.bits));
  put32(out + 16, dib_mask_bytes(page) != 0 ? 3 : 0);
  put32(out + 20, static_cast<std::uint32_t>(stride * page.height));
  put32(out + 24, ppm);
  put32(out + 28, ppm_y);
  const std::size_t entries = dib_palette_entries(page);
  put32(out + 32, static_cast<std::uint32_t>(entries));
  std::uint8_t* p = out + 40;
  for (std::size_t i = 0; i < entries; ++i, p += 4) {
    const auto level = static_cast<std::uint8_t>(i * 255 / (entries - 1));
    p[0] = p[1] = p[2] = level;
    p[3] = 0;
  }
  for (std::size_t i = 0; i < dib_mask_bytes(page) / 4; ++i, p += 4) put32(p, 0xffff);
  const std::size_t used = page.bytes_per_row;
  for (int y = 0; y < page.height; ++y) {
    const std::uint8_t* in = page.pixels.data() + used * y;
    std::uint8_t* row = p + stride * static_cast<std::size_t>(page.height - 1 - y);
    if (page.pixel_type == TWPT_RGB) {
      // DIB colour pixels are B G R.
      const std::size_t sample = page.bits / 24;
      for (int x = 0; x < page.width; ++x) {
        const std::uint8_t* px = in + 3 * sample * x;
        std::uint8_t* o = row + 3 * sample * x;
        std::memcpy(o, px + 2 * sample, sample);
        std::memcpy(o + sample, px + sample, sample);
        std::memcpy(o + 2 * sample, px, sample);
      }
    } else {
      std::memcpy(row, in, used);
    }
    std::memset(row + used, 0, stride - used);
  }
}

}  // namespace sanebridge
