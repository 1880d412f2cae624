// TIFF reading. Before anything is allocated a page is checked against the
// loading limit and against what its strips or tiles can decode to (the bytes
// of each that the file really holds, times its coder's largest expansion).
// Gray, palette, RGB and CMYK pages, in strips or tiles, contiguous or in
// planes, are then read straight into the DIB's own layout (min-is-white kept
// through the colour table, 2-bit samples widened to 4), one scan line or one
// tile at a time; other colour spaces go through libtiff's RGBA reader a band
// of rows at a time into a 24-bit DIB.
#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "codecs/tiff/tiff_codec.h"
#include "orivane/errors.h"

namespace orvtiff {
namespace {

struct Page {
  std::uint32_t width = 0, height = 0;
  std::uint16_t bits = 1, samples = 1, photometric = PHOTOMETRIC_MINISWHITE;
  std::uint16_t planar = PLANARCONFIG_CONTIG, compression = COMPRESSION_NONE;
};

Page page_fields(TIFF* tif) {
  Page p;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &p.width);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &p.height);
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &p.bits);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &p.samples);
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &p.planar);
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &p.compression);
  if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &p.photometric))
    p.photometric = p.samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
  return p;
}

// How a line-by-line page maps to the DIB.
struct Direct {
  int pixel_type, depth;
  int samples_in;     // samples per pixel in the file
  int samples_out;    // samples per pixel in the DIB
  bool swap_rb = false;
  bool widen2 = false;
};

bool plan_direct(TIFF* tif, const Page& p, Direct* out) {
  const bool planes = p.planar == PLANARCONFIG_SEPARATE && p.samples > 1;
  const bool gray = p.photometric == PHOTOMETRIC_MINISBLACK || p.photometric == PHOTOMETRIC_MINISWHITE;
  if ((gray || p.photometric == PHOTOMETRIC_PALETTE) && p.samples == 1) {
    if (p.bits == 1) *out = {p.photometric == PHOTOMETRIC_PALETTE ? ORV_PT_PALETTE : ORV_PT_BW, 1, 1, 1};
    else if (p.bits == 2 || p.bits == 4 || p.bits == 8)
      *out = {gray ? ORV_PT_GRAY : ORV_PT_PALETTE, p.bits == 2 ? 4 : p.bits, 1, 1, false, p.bits == 2};
    else if (p.bits == 16 && gray) *out = {ORV_PT_GRAY, 16, 1, 1};
    else return false;
    if (out->pixel_type == ORV_PT_PALETTE && out->depth == 1) out->pixel_type = ORV_PT_BW;
    return true;
  }
  if (p.photometric == PHOTOMETRIC_YCBCR && p.compression == COMPRESSION_JPEG && p.bits == 8 &&
      p.samples == 3 && !planes) {
    TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    *out = {ORV_PT_RGB, 24, 3, 3, true};
    return true;
  }
  if (p.photometric == PHOTOMETRIC_RGB && p.samples >= 3 && (p.bits == 8 || p.bits == 16)) {
    if (p.bits == 16) *out = {ORV_PT_RGB, 48, p.samples, 3, true};
    else *out = {ORV_PT_RGB, p.samples >= 4 ? 32 : 24, p.samples, p.samples >= 4 ? 4 : 3, true};
    return true;
  }
  if (p.photometric == PHOTOMETRIC_SEPARATED && p.bits == 8 && (p.samples == 3 || p.samples == 4)) {
    *out = {p.samples == 4 ? ORV_PT_CMYK : ORV_PT_CMY, p.samples * 8, p.samples, p.samples};
    return true;
  }
  return false;
}

void apply_table(TIFF* tif, const Page& p, codec::NewDib* out) {
  const std::uint32_t n = out->layout().entries;
  if (p.photometric == PHOTOMETRIC_PALETTE) {
    std::uint16_t *r = nullptr, *g = nullptr, *b = nullptr;
    if (!TIFFGetField(tif, TIFFTAG_COLORMAP, &r, &g, &b)) return;
    const std::uint32_t have = 1u << p.bits;
    // Some writers store 8-bit values in the 16-bit map.
    bool eight = true;
    for (std::uint32_t i = 0; i < have; ++i) eight = eight && r[i] < 256 && g[i] < 256 && b[i] < 256;
    const int shift = eight ? 0 : 8;
    for (std::uint32_t i = 0; i < n; ++i) {
      if (i < have)
        out->set_entry(i, std::uint8_t(r[i] >> shift), std::uint8_t(g[i] >> shift), std::uint8_t(b[i] >> shift));
      else
        out->set_entry(i, 0, 0, 0);
    }
  } else if (p.photometric == PHOTOMETRIC_MINISWHITE && n > 0) {
    // The pixels stay as stored; the table says that 0 is white.
    for (std::uint32_t i = 0; i < n; ++i) {
      const auto v = std::uint8_t(255 - i * 255 / (n - 1));
      out->set_entry(i, v, v, v);
    }
  }
}

void convert_line(const std::uint8_t* in, std::uint8_t* out, const Direct& plan, const Page& p,
                  std::uint32_t width) {
  if (plan.widen2) {
    for (std::uint32_t x = 0; x < width; ++x) {
      std::uint8_t v = (in[x / 4] >> (6 - 2 * (x % 4))) & 3;
      if (p.photometric != PHOTOMETRIC_PALETTE) v = std::uint8_t(v * 5);
      if (x % 2 == 0) out[x / 2] = std::uint8_t(v << 4);
      else out[x / 2] |= v;
    }
    return;
  }
  if (p.bits == 16 && p.samples == 1 && p.photometric == PHOTOMETRIC_MINISWHITE) {
    for (std::uint32_t x = 0; x < width; ++x) {
      std::uint16_t v;
      std::memcpy(&v, in + 2 * x, 2);
      v = std::uint16_t(0xFFFF - v);
      std::memcpy(out + 2 * x, &v, 2);
    }
    return;
  }
  if (!plan.swap_rb) {
    std::memcpy(out, in, (std::size_t(plan.depth) * width + 7) / 8);
    return;
  }
  const int bytes = p.bits / 8;
  for (std::uint32_t x = 0; x < width; ++x) {
    const std::uint8_t* s = in + std::size_t(x) * plan.samples_in * bytes;
    std::uint8_t* d = out + std::size_t(x) * plan.samples_out * bytes;
    for (int c = 0; c < plan.samples_out; ++c) {
      const int from = c < 3 ? 2 - c : c;
      std::memcpy(d + c * bytes, s + from * bytes, std::size_t(bytes));
    }
  }
}

// One plane's samples (8 or 16 bits) into their place among the DIB's
// interleaved samples; planes the DIB does not keep are skipped.
void put_plane(const std::uint8_t* in, std::uint8_t* out, const Direct& plan, const Page& p,
               int plane, std::uint32_t width) {
  const int component = plan.swap_rb && plane < 3 ? 2 - plane : plane;
  if (component >= plan.samples_out) return;
  const std::size_t bytes = p.bits / 8, step = bytes * std::size_t(plan.samples_out);
  std::uint8_t* d = out + std::size_t(component) * bytes;
  if (bytes == 1) {
    for (std::uint32_t x = 0; x < width; ++x) d[x * step] = in[x];
    return;
  }
  for (std::uint32_t x = 0; x < width; ++x) std::memcpy(d + x * step, in + 2 * x, 2);
}

// `width` pixels of the file's row data at column x0 of DIB row `row`;
// `plane` < 0 for contiguous data. Tiles start at multiples of 16 columns, so
// x0 always falls on a byte of the DIB row.
void put_pixels(const std::uint8_t* in, std::uint8_t* row, std::uint32_t x0, std::uint32_t width,
                int plane, const Direct& plan, const Page& p) {
  if (plane < 0) {
    convert_line(in, row + std::size_t(x0) * std::size_t(plan.depth) / 8, plan, p, width);
    return;
  }
  const std::size_t pixel = std::size_t(plan.depth) / 8;
  put_plane(in, row + std::size_t(x0) * pixel, plan, p, plane, width);
}

Status read_strips(TIFF* tif, const Page& p, const Direct& plan, codec::NewDib* out) {
  const std::uint64_t line = TIFFScanlineSize64(tif);
  std::vector<std::uint8_t> buffer(std::size_t(line) + 8);
  const bool separate = p.planar == PLANARCONFIG_SEPARATE && p.samples > 1;
  // Plane by plane: going back within a compressed strip would decode it again.
  for (int plane = 0; plane < (separate ? int(p.samples) : 1); ++plane) {
    for (std::uint32_t y = 0; y < p.height; ++y) {
      if (TIFFReadScanline(tif, buffer.data(), y, std::uint16_t(plane)) < 0) return {ERR_TIFF, "data error"};
      put_pixels(buffer.data(), out->layout().row(int(y)), 0, p.width, separate ? plane : -1, plan, p);
    }
  }
  return {};
}

Status read_tiles(TIFF* tif, const Page& p, const Direct& plan, codec::NewDib* out) {
  std::uint32_t tile_w = 0, tile_h = 0;
  TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tile_w);
  TIFFGetField(tif, TIFFTAG_TILELENGTH, &tile_h);
  const std::uint64_t tile_bytes = TIFFTileSize64(tif), tile_row = TIFFTileRowSize64(tif);
  if (tile_w == 0 || tile_h == 0 || tile_bytes == 0 || tile_row == 0 || tile_bytes > codec::kMaxDibBytes / 4)
    return {ERR_TIFF, "bad tile size"};
  std::vector<std::uint8_t> buffer(std::size_t(tile_bytes) + 8);
  const bool separate = p.planar == PLANARCONFIG_SEPARATE && p.samples > 1;
  for (int plane = 0; plane < (separate ? int(p.samples) : 1); ++plane) {
    for (std::uint32_t ty = 0; ty < p.height; ty += tile_h) {
      for (std::uint32_t tx = 0; tx < p.width; tx += tile_w) {
        if (TIFFReadTile(tif, buffer.data(), tx, ty, 0, std::uint16_t(plane)) < 0) return {ERR_TIFF, "data error"};
        const std::uint32_t w = std::min(tile_w, p.width - tx), h = std::min(tile_h, p.height - ty);
        for (std::uint32_t y = 0; y < h; ++y)
          put_pixels(buffer.data() + y * tile_row, out->layout().row(int(ty + y)), tx, w,
                     separate ? plane : -1, plan, p);
      }
    }
  }
  return {};
}

Status read_direct(TIFF* tif, const Page& p, const Direct& plan, codec::NewDib* out) {
  const std::uint64_t line = TIFFScanlineSize64(tif);
  const bool separate = p.planar == PLANARCONFIG_SEPARATE && p.samples > 1;
  const std::uint64_t expected = (std::uint64_t(p.bits) * (separate ? 1 : p.samples) * p.width + 7) / 8;
  if (line == 0 || line < expected || line > codec::kMaxDibBytes / 4)
    return {ERR_TIFF, "bad scanline size"};
  if (!TIFFIsTiled(tif) && TIFFStripSize64(tif) == 0) return {ERR_TIFF, "bad strip size"};
  bool too_large = false;
  if (!out->make(plan.pixel_type, p.width, p.height, plan.depth, &too_large))
    return {too_large ? ERR_TIFF : ERR_MEMORY, too_large ? "image too large" : "out of memory"};
  apply_table(tif, p, out);
  return TIFFIsTiled(tif) ? read_tiles(tif, p, plan, out) : read_strips(tif, p, plan, out);
}

// Rows of libtiff's RGBA reader per call: whole strips or tiles where they
// are small enough, so that none is decoded twice, and never the whole page
// as one w x h x 4 raster.
constexpr std::uint64_t kRgbaBandBytes = 8u << 20;

std::uint32_t rgba_band_rows(TIFF* tif, const Page& p) {
  std::uint32_t unit = 0;
  if (TIFFIsTiled(tif)) TIFFGetField(tif, TIFFTAG_TILELENGTH, &unit);
  else TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &unit);
  unit = std::clamp<std::uint32_t>(unit, 1, p.height);
  const std::uint64_t fit = std::max<std::uint64_t>(1, kRgbaBandBytes / (4ull * p.width));
  if (unit <= fit) return std::uint32_t(fit / unit * unit);
  return std::uint32_t(fit);
}

Status read_rgba(TIFF* tif, const Page& p, codec::NewDib* out) {
  char why[1024] = "";
  if (!TIFFRGBAImageOK(tif, why)) return {ERR_TIFF, why};
  bool too_large = false;
  if (!out->make(ORV_PT_RGB, p.width, p.height, 24, &too_large))
    return {too_large ? ERR_TIFF : ERR_MEMORY, too_large ? "image too large" : "out of memory"};
  TIFFRGBAImage img;
  if (!TIFFRGBAImageBegin(&img, tif, 0, why)) return {ERR_TIFF, why};
  img.req_orientation = ORIENTATION_TOPLEFT;
  const std::uint32_t band = rgba_band_rows(tif, p);
  std::vector<std::uint32_t> raster(std::size_t(p.width) * band);
  Status s;
  for (std::uint32_t y0 = 0; y0 < p.height && s; y0 += band) {
    const std::uint32_t rows = std::min(band, p.height - y0);
    img.row_offset = int(y0);
    img.col_offset = 0;
    if (!TIFFRGBAImageGet(&img, raster.data(), p.width, rows)) {
      s = {ERR_TIFF, "data error"};
      break;
    }
    for (std::uint32_t y = 0; y < rows; ++y) {
      std::uint8_t* row = out->layout().row(int(y0 + y));
      const std::uint32_t* src = raster.data() + std::size_t(y) * p.width;
      for (std::uint32_t x = 0; x < p.width; ++x) {
        row[3 * x] = std::uint8_t(TIFFGetB(src[x]));
        row[3 * x + 1] = std::uint8_t(TIFFGetG(src[x]));
        row[3 * x + 2] = std::uint8_t(TIFFGetR(src[x]));
      }
    }
  }
  TIFFRGBAImageEnd(&img);
  return s;
}

// ---- What the data present can fill ------------------------------------------

// The bytes of strip or tile `i` that the file really holds (a header may
// declare far more than the file has).
std::uint64_t strile_bytes_present(TIFF* tif, std::uint32_t i, std::uint64_t file_size) {
  const std::uint64_t offset = TIFFGetStrileOffset(tif, i), count = TIFFGetStrileByteCount(tif, i);
  return offset < file_size ? std::min(count, file_size - offset) : 0;
}

// The most the data present can decode to, in the unit the coder is bounded
// in: bytes for the byte-oriented coders, rows for CCITT, 8 x 8 blocks for
// JPEG. Nothing for coders without a known bound (the loading limit still
// applies to those).
struct Capacity {
  enum Unit { Bytes, Rows, Blocks } unit;
  std::uint64_t most = 0;
  std::uint64_t present = 0;
  const char* coder = "";
};

std::optional<Capacity> page_capacity(TIFF* tif, const Page& p) {
  Capacity c{Capacity::Bytes};
  std::uint64_t (*expand)(std::uint64_t) = nullptr;
  switch (p.compression) {
    case COMPRESSION_NONE: c.coder = "uncompressed"; expand = [](std::uint64_t n) { return n; }; break;
    case COMPRESSION_PACKBITS:
      c.coder = "PackBits";
      expand = [](std::uint64_t n) { return codec::saturating_mul(n, codec::kPackBitsBytesPerByte); };
      break;
    case COMPRESSION_LZW: c.coder = "LZW"; expand = codec::lzw_max_bytes; break;
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE:
      c.coder = "Deflate";
      expand = [](std::uint64_t n) { return codec::saturating_mul(n, codec::kDeflateBytesPerByte); };
      break;
    case COMPRESSION_CCITTRLE: case COMPRESSION_CCITTRLEW: case COMPRESSION_CCITTFAX3:
    case COMPRESSION_CCITTFAX4:
      c = {Capacity::Rows, 0, 0, "CCITT"};
      expand = [](std::uint64_t n) { return codec::saturating_mul(n, codec::kCcittRowsPerByte); };
      break;
    case COMPRESSION_JPEG:  // old-style JPEG keeps its stream outside the strips: no bound
      c = {Capacity::Blocks, 0, 0, "JPEG"};
      expand = [](std::uint64_t n) { return codec::saturating_mul(n, codec::kJpegHuffmanBlocksPerByte); };
      break;
    default: return std::nullopt;
  }
  const std::uint64_t file_size = TIFFGetSizeProc(tif)(TIFFClientdata(tif));
  const std::uint32_t striles = TIFFIsTiled(tif) ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
  for (std::uint32_t i = 0; i < striles; ++i) {
    const std::uint64_t present = strile_bytes_present(tif, i, file_size);
    c.present += present;
    const std::uint64_t most = expand(present);
    c.most = most > UINT64_MAX - c.most ? UINT64_MAX : c.most + most;
  }
  return c;
}

// The least the page needs decoded, in the capacity's unit: every strip row
// or whole tile of every plane.
std::uint64_t page_need(TIFF* tif, const Page& p, Capacity::Unit unit) {
  const bool separate = p.planar == PLANARCONFIG_SEPARATE && p.samples > 1;
  const std::uint64_t planes = separate ? p.samples : 1;
  if (unit == Capacity::Blocks)
    return codec::saturating_mul(planes, ((std::uint64_t(p.width) + 7) / 8) * ((std::uint64_t(p.height) + 7) / 8));
  if (unit == Capacity::Rows) return planes * p.height;
  if (TIFFIsTiled(tif)) return codec::saturating_mul(TIFFTileSize64(tif), TIFFNumberOfTiles(tif));
  return codec::saturating_mul(codec::saturating_mul(TIFFScanlineSize64(tif), p.height), planes);
}

Status check_page(TIFF* tif, const Page& p) {
  if (!codec::image_size_allowed(p.width, p.height))
    return {ERR_TIFF, codec::image_size_refusal(p.width, p.height)};
  const std::optional<Capacity> c = page_capacity(tif, p);
  if (c && page_need(tif, p, c->unit) > c->most)
    return {ERR_TIFF, codec::image_data_refusal(p.width, p.height, c->present, c->coder)};
  return {};
}

void apply_resolution(TIFF* tif, codec::NewDib* out) {
  float xr = 0, yr = 0;
  std::uint16_t unit = RESUNIT_INCH;
  if (!TIFFGetField(tif, TIFFTAG_XRESOLUTION, &xr) || !TIFFGetField(tif, TIFFTAG_YRESOLUTION, &yr))
    return;
  TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
  if (!(xr > 0 && yr > 0 && xr < 1e6 && yr < 1e6)) return;
  if (unit == RESUNIT_CENTIMETER)
    out->set_resolution(std::int32_t(xr * 100 + 0.5), std::int32_t(yr * 100 + 0.5));
  else if (unit == RESUNIT_INCH)
    out->set_resolution(codec::dpi_to_ppm(xr), codec::dpi_to_ppm(yr));
}

}  // namespace

int tiff_count_pages(TIFF* tif) {
  const tdir_t n = TIFFNumberOfDirectories(tif);
  return n > kMaxPages ? kMaxPages : int(n);
}

Status tiff_read_page(TIFF* tif, int page, codec::NewDib* out) {
  if (page < 0 || page >= tiff_count_pages(tif) || !TIFFSetDirectory(tif, tdir_t(page)))
    return {ERR_NOT_ENOUGH_PAGES, "no page " + std::to_string(page)};
  const Page p = page_fields(tif);
  if (p.width == 0 || p.height == 0) return {ERR_TIFF, "image of zero size"};
  if (Status refused = check_page(tif, p); !refused) return refused;
  Direct plan{};
  Status s = plan_direct(tif, p, &plan) ? read_direct(tif, p, plan, out) : read_rgba(tif, p, out);
  if (!s) {
    out->discard();
    return s;
  }
  apply_resolution(tif, out);
  return {};
}

}  // namespace orvtiff
