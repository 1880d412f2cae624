// TIFF writing: one directory per page, the compression chosen for the page's
// pixel type (refused combinations fall back to LZW, or to none for bilevel
// images), rows converted from the DIB's byte order where TIFF's differs.
#include <cstring>
#include <vector>

#include "codecs/tiff/tiff_codec.h"
#include "orivane/errors.h"

namespace orvtiff {
namespace {

bool table_is_ramp(const codec::DibLayout& d, bool* out_inverted) {
  const std::uint32_t n = 1u << d.depth;
  if (d.entries != n) return false;
  bool up = true, down = true;
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::uint32_t v = i * 255 / (n - 1);
    if (d.red(i) != d.green(i) || d.green(i) != d.blue(i)) return false;
    up = up && d.red(i) == v;
    down = down && d.red(i) == 255 - v;
  }
  *out_inverted = down && !up;
  return up || down;
}

struct Layout {
  int photometric;
  int samples;
  int bits;
  bool palette = false;
  bool swap_rb = false;    // stored blue first
  int stored_samples = 0;  // samples per pixel in the DIB row (0 = same)
};

Layout layout_of(const codec::DibLayout& d) {
  bool inverted = false;
  switch (d.depth) {
    case 1: case 4: case 8:
      if (table_is_ramp(d, &inverted))
        return {inverted ? PHOTOMETRIC_MINISWHITE : PHOTOMETRIC_MINISBLACK, 1, d.depth};
      return {PHOTOMETRIC_PALETTE, 1, d.depth, true};
    case 16: return {PHOTOMETRIC_MINISBLACK, 1, 16};
    case 24: return d.subtractive() ? Layout{PHOTOMETRIC_SEPARATED, 3, 8}
                                    : Layout{PHOTOMETRIC_RGB, 3, 8, false, true};
    case 32: return d.subtractive() ? Layout{PHOTOMETRIC_SEPARATED, 4, 8}
                                    : Layout{PHOTOMETRIC_RGB, 3, 8, false, true, 4};
    default: return {PHOTOMETRIC_RGB, 3, 16, false, true};
  }
}

int effective_compression(int pixel_type, const Layout& l, int wanted) {
  if (l.bits == 1) {
    if (wanted == COMPRESSION_JPEG) return COMPRESSION_NONE;
    return wanted;
  }
  if (wanted == COMPRESSION_CCITTRLE || wanted == COMPRESSION_CCITTFAX3 ||
      wanted == COMPRESSION_CCITTFAX4)
    return COMPRESSION_NONE;
  if (wanted == COMPRESSION_JPEG &&
      (l.bits != 8 || l.palette || l.photometric == PHOTOMETRIC_MINISWHITE))
    return COMPRESSION_LZW;
  return wanted;
}

void set_palette(TIFF* tif, const codec::DibLayout& d, int bits) {
  const std::size_t n = std::size_t(1) << bits;
  std::vector<std::uint16_t> r(n, 0), g(n, 0), b(n, 0);
  for (std::uint32_t i = 0; i < n && i < d.entries; ++i) {
    r[i] = std::uint16_t(d.red(i) * 257);
    g[i] = std::uint16_t(d.green(i) * 257);
    b[i] = std::uint16_t(d.blue(i) * 257);
  }
  TIFFSetField(tif, TIFFTAG_COLORMAP, r.data(), g.data(), b.data());
}

void set_text(TIFF* tif, ttag_t tag, const std::string& text) {
  if (!text.empty()) TIFFSetField(tif, tag, text.c_str());
}

// Adds one extra tag as libtiff's description of the tag asks for it.
void set_extra(TIFF* tif, const ExtraTag& t) {
  const TIFFField* fi = TIFFFindField(tif, t.tag, TIFF_ANY);
  if (!fi) {
    codec::host_log("[OrvTiff] tag " + std::to_string(t.tag) + " unknown, not written");
    return;
  }
  const bool counted = TIFFFieldPassCount(fi) != 0;
  const bool count32 = TIFFFieldReadCount(fi) == TIFF_VARIABLE2;
  auto set_array = [&](const void* data, std::uint32_t n) {
    if (!counted) return TIFFSetField(tif, t.tag, data);
    return count32 ? TIFFSetField(tif, t.tag, n, data) : TIFFSetField(tif, t.tag, int(n), data);
  };
  switch (t.kind) {
    case ExtraTag::Ascii: TIFFSetField(tif, t.tag, t.text.c_str()); break;
    case ExtraTag::Short: {
      const std::uint16_t v = std::uint16_t(t.number);
      if (counted) set_array(&v, 1); else TIFFSetField(tif, t.tag, int(v));
      break;
    }
    case ExtraTag::Long: {
      const std::uint32_t v = std::uint32_t(t.number);
      if (counted) set_array(&v, 1); else TIFFSetField(tif, t.tag, v);
      break;
    }
    case ExtraTag::Double:
    case ExtraTag::Rational:
    case ExtraTag::RationalArray: {
      const std::vector<double> values = t.kind == ExtraTag::RationalArray ? t.reals
                                                                           : std::vector<double>{t.real};
      if (!counted && values.size() == 1) {
        TIFFSetField(tif, t.tag, values[0]);
      } else if (TIFFFieldSetGetSize(fi) == 4) {
        std::vector<float> f(values.begin(), values.end());
        set_array(f.data(), std::uint32_t(f.size()));
      } else {
        set_array(values.data(), std::uint32_t(values.size()));
      }
      break;
    }
    case ExtraTag::Bytes:
    case ExtraTag::Undefined: set_array(t.bytes.data(), std::uint32_t(t.bytes.size())); break;
  }
}

}  // namespace

int pixel_type_of(const codec::DibLayout& d) {
  switch (d.depth) {
    case 1: return ORV_PT_BW;
    case 4: case 8: return d.table_gray() ? ORV_PT_GRAY : ORV_PT_PALETTE;
    case 16: return ORV_PT_GRAY;
    case 24: case 48: return d.subtractive() ? ORV_PT_CMY : ORV_PT_RGB;
    case 32: return d.subtractive() ? ORV_PT_CMYK : ORV_PT_RGB;
    default: return -1;
  }
}

bool compression_allowed(int pixel_type, int compression) {
  if (pixel_type == ORV_PT_BW) return compression != COMPRESSION_JPEG;
  return compression != COMPRESSION_CCITTRLE && compression != COMPRESSION_CCITTFAX3 &&
         compression != COMPRESSION_CCITTFAX4;
}

Status tiff_page_refusal(const codec::DibLayout& d) {
  const int type = pixel_type_of(d);
  if (type < 0 || d.compression_code() != 0 || d.has_masks != (d.depth == 16))
    return {ERR_WRONG_IMAGE_TYPE, "image layout not written to TIFF"};
  if (d.width == 0 || d.rows == 0) return {ERR_BAD_DIB, "empty image"};
  return {};
}

Status tiff_write_page(TIFF* tif, const codec::DibLayout& d, const WriteSettings& s, int page,
                       int pages) {
  if (Status refused = tiff_page_refusal(d); !refused) return refused;
  const int type = pixel_type_of(d);
  const Layout l = layout_of(d);
  int compression = effective_compression(type, l, s.compression[std::size_t(type)]);
  if (!TIFFIsCODECConfigured(std::uint16_t(compression))) compression = COMPRESSION_NONE;
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, std::uint32_t(d.width));
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, std::uint32_t(d.rows));
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, l.bits);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, l.samples);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
  int photometric = l.photometric;
  if (compression == COMPRESSION_JPEG) {
    TIFFSetField(tif, TIFFTAG_JPEGQUALITY, s.jpeg_quality);
    if (photometric == PHOTOMETRIC_RGB) {
      photometric = PHOTOMETRIC_YCBCR;
      TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric);
      TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    }
  }
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric);
  if (photometric == PHOTOMETRIC_SEPARATED)
    TIFFSetField(tif, TIFFTAG_INKSET, l.samples == 4 ? INKSET_CMYK : INKSET_MULTIINK);
  if (l.palette) set_palette(tif, d, l.bits);
  if (compression == COMPRESSION_ADOBE_DEFLATE || compression == COMPRESSION_LZW)
    if (l.bits >= 8) TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_NONE);
  const std::uint32_t strip = s.strip_rows > 0 ? std::uint32_t(s.strip_rows)
                                               : TIFFDefaultStripSize(tif, 0);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP,
               compression == COMPRESSION_JPEG ? (strip + 15) / 16 * 16 : strip);
  if (d.x_ppm > 0 && d.y_ppm > 0) {
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, float(codec::ppm_to_dpi(d.x_ppm)));
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, float(codec::ppm_to_dpi(d.y_ppm)));
  }
  set_text(tif, TIFFTAG_SOFTWARE, s.software);
  set_text(tif, TIFFTAG_MODEL, s.model);
  set_text(tif, TIFFTAG_IMAGEDESCRIPTION, s.description);
  set_text(tif, TIFFTAG_DOCUMENTNAME, s.document_name);
  if (pages >= 0 || page > 0) {
    TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
    TIFFSetField(tif, TIFFTAG_PAGENUMBER, page, pages < 0 ? 0 : pages);
  }
  for (const ExtraTag& t : s.tags) set_extra(tif, t);

  const tmsize_t line = TIFFScanlineSize(tif);
  const std::size_t used = (std::size_t(d.depth) * std::size_t(d.width) + 7) / 8;
  if (line <= 0) return {ERR_TIFF, "bad scanline size"};
  std::vector<std::uint8_t> row(std::size_t(line) > used ? std::size_t(line) : used);
  const int stored = l.stored_samples ? l.stored_samples : l.samples;
  const int bytes = l.bits / 8;
  for (int y = 0; y < d.rows; ++y) {
    const std::uint8_t* src = d.row(y);
    if (l.swap_rb || stored != l.samples) {
      for (int x = 0; x < d.width; ++x) {
        const std::uint8_t* p = src + std::size_t(x) * stored * bytes;
        std::uint8_t* q = row.data() + std::size_t(x) * l.samples * bytes;
        for (int c = 0; c < l.samples; ++c) {
          const int from = l.swap_rb ? 2 - c : c;
          std::memcpy(q + c * bytes, p + from * bytes, std::size_t(bytes));
        }
      }
    } else {
      std::memcpy(row.data(), src, used);
    }
    if (TIFFWriteScanline(tif, row.data(), std::uint32_t(y), 0) < 0)
      return {ERR_FILE_WRITE, "write failed"};
  }
  if (!TIFFWriteDirectory(tif)) return {ERR_FILE_WRITE, "directory not written"};
  return {};
}

}  // namespace orvtiff
