// TIFF reading: contiguous gray, palette, RGB and CMYK pages are read line by
// line into the DIB's own layout (min-is-white kept through the colour table,
// 2-bit samples widened to 4); every other layout (tiles, planes, other colour
// spaces) goes through libtiff's RGBA reader into a 24-bit DIB.
#include <cstring>
#include <vector>

#include "codecs/tiff/tiff_codec.h"
#include "orivane/twain_error.h"

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
  if (TIFFIsTiled(tif) || (p.planar != PLANARCONFIG_CONTIG && p.samples > 1)) return false;
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
      p.samples == 3) {
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

Status read_direct(TIFF* tif, const Page& p, const Direct& plan, codec::NewDib* out) {
  const std::uint64_t line = TIFFScanlineSize64(tif);
  const std::uint64_t expected = (std::uint64_t(p.bits) * p.samples * p.width + 7) / 8;
  if (line == 0 || line < expected || line > codec::kMaxDibBytes / 4)
    return {ERR_TIFF, "bad scanline size"};
  if (TIFFStripSize64(tif) == 0) return {ERR_TIFF, "bad strip size"};
  if (p.compression == COMPRESSION_NONE) {
    // Uncompressed data must be present in full: a tiny file naming a huge
    // page is refused before the page's memory is taken.
    std::uint64_t* counts = nullptr;
    std::uint64_t total = 0;
    if (TIFFGetField(tif, TIFFTAG_STRIPBYTECOUNTS, &counts) && counts)
      for (std::uint32_t i = 0; i < TIFFNumberOfStrips(tif); ++i) total += counts[i];
    if (total < line * p.height) return {ERR_TIFF, "image data missing"};
  }
  bool too_large = false;
  if (!out->make(plan.pixel_type, p.width, p.height, plan.depth, &too_large))
    return {too_large ? ERR_TIFF : ERR_MEMORY, too_large ? "image too large" : "out of memory"};
  apply_table(tif, p, out);
  std::vector<std::uint8_t> buffer(std::size_t(line) + 8);
  for (std::uint32_t y = 0; y < p.height; ++y) {
    if (TIFFReadScanline(tif, buffer.data(), y, 0) < 0) return {ERR_TIFF, "data error"};
    convert_line(buffer.data(), out->layout().row(int(y)), plan, p, p.width);
  }
  return {};
}

Status read_rgba(TIFF* tif, const Page& p, codec::NewDib* out) {
  char why[1024] = "";
  if (!TIFFRGBAImageOK(tif, why)) return {ERR_TIFF, why};
  bool too_large = false;
  if (p.width == 0 || p.height == 0 || std::uint64_t(p.width) * p.height * 4 > codec::kMaxDibBytes ||
      !out->make(ORV_PT_RGB, p.width, p.height, 24, &too_large))
    return {ERR_TIFF, "image too large"};
  std::vector<std::uint32_t> raster(std::size_t(p.width) * p.height);
  if (!TIFFReadRGBAImageOriented(tif, p.width, p.height, raster.data(), ORIENTATION_TOPLEFT, 0))
    return {ERR_TIFF, "data error"};
  for (std::uint32_t y = 0; y < p.height; ++y) {
    std::uint8_t* row = out->layout().row(int(y));
    const std::uint32_t* src = raster.data() + std::size_t(y) * p.width;
    for (std::uint32_t x = 0; x < p.width; ++x) {
      row[3 * x] = std::uint8_t(TIFFGetB(src[x]));
      row[3 * x + 1] = std::uint8_t(TIFFGetG(src[x]));
      row[3 * x + 2] = std::uint8_t(TIFFGetR(src[x]));
    }
  }
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
