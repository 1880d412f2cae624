#include "sources/virtual/file_write.h"

#include <png.h>
#include <tiffio.h>
#include <zlib.h>

#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

#include "sources/virtual/compress.h"
#include "sources/virtual/dib_image.h"

namespace vscan {
namespace {

constexpr double kInchesPerMetre = 39.3700787;
constexpr double kPointsPerInch = 72;

// --- Sample conversions -------------------------------------------------

// A page in a simpler form: `to_bits` 8 per sample (16-bit samples keep
// their high byte), CMY and CMYK as RGB, palette as RGB, 1-bit as 8-bit gray
// when `expand_bilevel`.
Raster simplified(const Raster& in, bool eight_bit, bool expand_bilevel, bool palette_to_rgb) {
  const PageFormat& f = in.format;
  Raster out;
  out.format = f;
  const bool cmy = f.pixel_type == TWPT_CMY || f.pixel_type == TWPT_CMYK;
  const bool palette = f.pixel_type == TWPT_PALETTE && palette_to_rgb;
  const bool bilevel = f.bit_depth == 1 && expand_bilevel;
  const bool narrow = eight_bit && (f.bit_depth == 16 || f.bit_depth == 48);
  if (!cmy && !palette && !bilevel && !narrow) return in;
  int samples = 1;
  if (cmy || palette || f.pixel_type == TWPT_RGB) samples = 3;
  out.format.pixel_type = samples == 3 ? TWPT_RGB : TWPT_GRAY;
  out.format.bit_depth = static_cast<TW_UINT16>(8 * samples);
  out.format.pixel_flavor = TWPF_CHOCOLATE;
  out.bytes_per_row = static_cast<std::size_t>(f.width) * samples;
  out.pixels.resize(out.bytes_per_row * f.height);
  const auto& colours = page_palette();
  for (int y = 0; y < f.height; ++y) {
    const std::uint8_t* src = in.pixels.data() + in.bytes_per_row * y;
    std::uint8_t* dst = out.pixels.data() + out.bytes_per_row * y;
    for (int x = 0; x < f.width; ++x) {
      std::uint8_t* px = dst + x * samples;
      if (bilevel) {
        const bool one = (src[x / 8] >> (7 - x % 8)) & 1;
        const bool white = f.pixel_flavor == TWPF_VANILLA ? !one : one;
        px[0] = white ? 255 : 0;
      } else if (palette) {
        const TW_ELEMENT8& e = colours[src[x]];
        px[0] = e.Channel1, px[1] = e.Channel2, px[2] = e.Channel3;
      } else if (f.pixel_type == TWPT_CMY) {
        for (int s = 0; s < 3; ++s) px[s] = static_cast<std::uint8_t>(255 - src[3 * x + s]);
      } else if (f.pixel_type == TWPT_CMYK) {
        const int k = src[4 * x + 3];
        for (int s = 0; s < 3; ++s)
          px[s] = static_cast<std::uint8_t>((255 - src[4 * x + s]) * (255 - k) / 255);
      } else {  // 16-bit samples, little-endian: keep the high byte
        for (int s = 0; s < samples; ++s) px[s] = src[2 * (x * samples + s) + 1];
      }
    }
  }
  return out;
}

bool write_bytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

// --- BMP -----------------------------------------------------------------

bool write_bmp(const Raster& page, const std::string& path) {
  const Raster raster = simplified(page, true, false, false);
  const std::size_t dib = dib_bytes(raster.format);
  std::vector<std::uint8_t> bytes(14 + dib);
  const std::size_t pixels_at = 14 + kDibHeaderBytes + dib_colour_table(raster.format).size();
  bytes[0] = 'B';
  bytes[1] = 'M';
  const auto size = static_cast<std::uint32_t>(bytes.size());
  const auto offset = static_cast<std::uint32_t>(pixels_at);
  std::memcpy(&bytes[2], &size, 4);
  std::memcpy(&bytes[10], &offset, 4);
  dib_write(raster, bytes.data() + 14);
  return write_bytes(path, bytes);
}

// --- TIFF ----------------------------------------------------------------

bool write_tiff(const Raster& page, TW_UINT16 compression, const std::string& path) {
  const bool cmy = page.format.pixel_type == TWPT_CMY;
  const Raster raster = cmy ? simplified(page, false, false, false) : page;
  const PageFormat& f = raster.format;
  std::unique_ptr<TIFF, void (*)(TIFF*)> tif(TIFFOpen(path.c_str(), "w"), TIFFClose);
  if (!tif) return false;
  TIFF* t = tif.get();
  int samples = 1;
  std::uint16_t photometric = PHOTOMETRIC_MINISBLACK;
  std::vector<std::uint8_t> rows = raster.pixels;
  switch (f.pixel_type) {
    case TWPT_BW:
      if (compression == TWCP_GROUP4) {
        rows = bilevel_black_is_one(raster);
        photometric = PHOTOMETRIC_MINISWHITE;
        TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
      } else if (f.pixel_flavor == TWPF_VANILLA) {
        photometric = PHOTOMETRIC_MINISWHITE;
      }
      break;
    case TWPT_RGB:
      samples = 3;
      photometric = PHOTOMETRIC_RGB;
      break;
    case TWPT_PALETTE:
      photometric = PHOTOMETRIC_PALETTE;
      break;
    case TWPT_CMYK:
      samples = 4;
      photometric = PHOTOMETRIC_SEPARATED;
      break;
    default:
      break;
  }
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(f.width));
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(f.height));
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, samples);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, f.bit_depth / samples);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, photometric);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, static_cast<std::uint32_t>(f.height));
  TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  TIFFSetField(t, TIFFTAG_XRESOLUTION, static_cast<float>(f.x_dpi));
  TIFFSetField(t, TIFFTAG_YRESOLUTION, static_cast<float>(f.y_dpi));
  if (f.pixel_type == TWPT_PALETTE) {
    std::vector<std::uint16_t> r(256), g(256), b(256);
    const auto& colours = page_palette();
    for (int i = 0; i < 256; ++i) {
      r[i] = static_cast<std::uint16_t>(colours[i].Channel1 * 257);
      g[i] = static_cast<std::uint16_t>(colours[i].Channel2 * 257);
      b[i] = static_cast<std::uint16_t>(colours[i].Channel3 * 257);
    }
    TIFFSetField(t, TIFFTAG_COLORMAP, r.data(), g.data(), b.data());
  }
  // TIFF's 16-bit samples are in the file's byte order, little-endian here
  // as the page's are.
  if (TIFFWriteEncodedStrip(t, 0, rows.data(), static_cast<tmsize_t>(rows.size())) < 0)
    return false;
  return TIFFWriteDirectory(t) != 0;
}

// --- PNG -----------------------------------------------------------------

struct PngWrite {
  png_structp png = nullptr;
  png_infop info = nullptr;
  FILE* file = nullptr;
  ~PngWrite() {
    if (png != nullptr) png_destroy_write_struct(&png, &info);
    if (file != nullptr) std::fclose(file);
  }
};

// Runs libpng with nothing to destroy on the stack: it reports errors by
// longjmp.
bool png_run(PngWrite& w, const Raster& raster, const std::vector<png_bytep>& rows) {
  const PageFormat& f = raster.format;
  if (setjmp(png_jmpbuf(w.png)) != 0) return false;
  png_init_io(w.png, w.file);
  int colour = PNG_COLOR_TYPE_GRAY;
  int bits = f.bit_depth;
  if (f.pixel_type == TWPT_RGB) {
    colour = PNG_COLOR_TYPE_RGB;
    bits = f.bit_depth / 3;
  } else if (f.pixel_type == TWPT_PALETTE) {
    colour = PNG_COLOR_TYPE_PALETTE;
  }
  png_set_IHDR(w.png, w.info, static_cast<png_uint_32>(f.width), static_cast<png_uint_32>(f.height),
               bits, colour, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (colour == PNG_COLOR_TYPE_PALETTE) {
    png_color palette[256];
    const auto& colours = page_palette();
    for (int i = 0; i < 256; ++i)
      palette[i] = png_color{colours[i].Channel1, colours[i].Channel2, colours[i].Channel3};
    png_set_PLTE(w.png, w.info, palette, 256);
  }
  png_set_pHYs(w.png, w.info, static_cast<png_uint_32>(std::lround(f.x_dpi * kInchesPerMetre)),
               static_cast<png_uint_32>(std::lround(f.y_dpi * kInchesPerMetre)),
               PNG_RESOLUTION_METER);
  png_write_info(w.png, w.info);
  if (bits == 16) png_set_swap(w.png);  // our samples are little-endian
  png_write_image(w.png, const_cast<png_bytepp>(rows.data()));
  png_write_end(w.png, w.info);
  return true;
}

bool write_png(const Raster& page, const std::string& path) {
  Raster raster = simplified(page, false, false, false);
  if (raster.format.bit_depth == 1 && raster.format.pixel_flavor == TWPF_VANILLA) {
    // PNG gray: 0 is black. A vanilla page's 1 bits are black: invert (the
    // padding bits of each row do not matter to PNG).
    for (std::uint8_t& b : raster.pixels) b = static_cast<std::uint8_t>(~b);
  }
  PngWrite w;
  w.file = std::fopen(path.c_str(), "wb");
  if (w.file == nullptr) return false;
  w.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (w.png == nullptr) return false;
  w.info = png_create_info_struct(w.png);
  if (w.info == nullptr) return false;
  std::vector<png_bytep> rows(raster.format.height);
  for (int y = 0; y < raster.format.height; ++y)
    rows[y] = raster.pixels.data() + raster.bytes_per_row * y;
  return png_run(w, raster, rows);
}

// --- JFIF ----------------------------------------------------------------

bool write_jfif(const Raster& page, int quality, const std::string& path) {
  const Raster raster = simplified(page, true, true, true);
  const auto stream = compress_jpeg(raster, quality);
  return stream && write_bytes(path, *stream);
}

// --- PDF -----------------------------------------------------------------

std::optional<std::vector<std::uint8_t>> deflate_bytes(const std::vector<std::uint8_t>& in) {
  uLongf size = compressBound(static_cast<uLong>(in.size()));
  std::vector<std::uint8_t> out(size);
  if (compress2(out.data(), &size, in.data(), static_cast<uLong>(in.size()),
                Z_DEFAULT_COMPRESSION) != Z_OK)
    return std::nullopt;
  out.resize(size);
  return out;
}

// The image XObject's dictionary entries and stream.
struct PdfImage {
  std::string dictionary;
  std::vector<std::uint8_t> stream;
};

std::optional<PdfImage> pdf_image(const Raster& page, TW_UINT16 compression, int quality) {
  const bool cmyk = page.format.pixel_type == TWPT_CMYK;
  Raster raster = cmyk ? page : simplified(page, false, false, false);
  const PageFormat& f = raster.format;
  std::ostringstream d;
  d << "/Type /XObject /Subtype /Image /Width " << f.width << " /Height " << f.height;
  PdfImage image;
  int bits = 8;
  if (f.pixel_type == TWPT_BW) {
    bits = 1;
    d << " /ColorSpace /DeviceGray";
    if (f.pixel_flavor == TWPF_VANILLA) d << " /Decode [1 0]";
  } else if (f.pixel_type == TWPT_GRAY) {
    bits = f.bit_depth;
    d << " /ColorSpace /DeviceGray";
  } else if (f.pixel_type == TWPT_RGB) {
    bits = f.bit_depth / 3;
    d << " /ColorSpace /DeviceRGB";
  } else if (f.pixel_type == TWPT_CMYK) {
    d << " /ColorSpace /DeviceCMYK";
  } else if (f.pixel_type == TWPT_PALETTE) {
    d << " /ColorSpace [/Indexed /DeviceRGB 255 <";
    static const char kHex[] = "0123456789abcdef";
    for (const TW_ELEMENT8& e : page_palette()) {
      for (std::uint8_t c : {e.Channel1, e.Channel2, e.Channel3}) d << kHex[c >> 4] << kHex[c & 15];
    }
    d << ">]";
  }
  d << " /BitsPerComponent " << bits;
  if (compression == TWCP_GROUP4 && f.bit_depth == 1) {
    auto stream = compress_group4(raster);
    if (!stream) return std::nullopt;
    // The coded runs name black and white themselves: no Decode needed.
    d.str("");
    d << "/Type /XObject /Subtype /Image /Width " << f.width << " /Height " << f.height
      << " /ColorSpace /DeviceGray /BitsPerComponent 1 /Filter /CCITTFaxDecode"
      << " /DecodeParms << /K -1 /Columns " << f.width << " /Rows " << f.height << " >>";
    image.stream = std::move(*stream);
  } else if (compression == TWCP_JPEG) {
    auto stream = compress_jpeg(raster, quality);
    if (!stream) return std::nullopt;
    d << " /Filter /DCTDecode";
    image.stream = std::move(*stream);
  } else {
    if (bits == 16) {
      // PDF samples are big-endian.
      for (std::size_t i = 0; i + 1 < raster.pixels.size(); i += 2)
        std::swap(raster.pixels[i], raster.pixels[i + 1]);
    }
    auto stream = deflate_bytes(raster.pixels);
    if (!stream) return std::nullopt;
    d << " /Filter /FlateDecode";
    image.stream = std::move(*stream);
  }
  image.dictionary = d.str();
  return image;
}

bool write_pdf(const Raster& page, TW_UINT16 compression, int quality, const std::string& path) {
  const auto image = pdf_image(page, compression, quality);
  if (!image) return false;
  const PageFormat& f = page.format;
  const double width = f.width / f.x_dpi * kPointsPerInch;
  const double height = f.height / f.y_dpi * kPointsPerInch;
  char content[128];
  std::snprintf(content, sizeof content, "q %.4f 0 0 %.4f 0 0 cm /Im0 Do Q\n", width, height);
  char media[96];
  std::snprintf(media, sizeof media, "[0 0 %.4f %.4f]", width, height);

  std::string out = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
  std::vector<std::size_t> offsets;
  auto object = [&](const std::string& body) {
    offsets.push_back(out.size());
    out += std::to_string(offsets.size()) + " 0 obj\n" + body + "\nendobj\n";
  };
  object("<< /Type /Catalog /Pages 2 0 R >>");
  object("<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
  object(std::string("<< /Type /Page /Parent 2 0 R /MediaBox ") + media +
         " /Resources << /XObject << /Im0 4 0 R >> >> /Contents 5 0 R >>");
  object("<< " + image->dictionary + " /Length " + std::to_string(image->stream.size()) +
         " >>\nstream\n" + std::string(image->stream.begin(), image->stream.end()) + "\nendstream");
  object("<< /Length " + std::to_string(std::strlen(content)) + " >>\nstream\n" + content +
         "endstream");
  const std::size_t xref = out.size();
  out += "xref\n0 " + std::to_string(offsets.size() + 1) + "\n0000000000 65535 f \n";
  for (std::size_t offset : offsets) {
    char line[24];
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", offset);
    out += line;
  }
  out += "trailer\n<< /Size " + std::to_string(offsets.size() + 1) +
         " /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  return write_bytes(path, std::vector<std::uint8_t>(out.begin(), out.end()));
}

}  // namespace

bool image_file_write(const Raster& raster, TW_UINT16 format, TW_UINT16 compression,
                      int jpeg_quality, const std::string& path) {
  switch (format) {
    case TWFF_BMP:
      return write_bmp(raster, path);
    case TWFF_TIFF:
      return write_tiff(raster, compression, path);
    case TWFF_PNG:
      return write_png(raster, path);
    case TWFF_JFIF:
      return write_jfif(raster, jpeg_quality, path);
    case TWFF_PDF:
      return write_pdf(raster, compression, jpeg_quality, path);
    default:
      return false;
  }
}

}  // namespace vscan
