#include "codecs/pdf/pdf_image.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "codecs/codec_abi.h"
#include "codecs/common/image_limits.h"

namespace pdf {

void fail(int code, std::string text) { throw Failure{code, std::move(text)}; }

void image_check_size(std::uint64_t width, std::uint64_t height) {
  if (codec::saturating_mul(width, height) > image_pixel_limit())
    fail(ORVPDF_E_MEMORY, codec::image_size_refusal(width, height, image_pixel_limit()));
}

namespace {

std::uint32_t get32(const std::uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
void put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// A locked DIB as its writer sees it; the block size is not passed with it,
// so the header decides how far the rows reach.
struct Source {
  const std::uint8_t* block;
  int width = 0, height = 0;
  bool bottom_up = true;
  int bits = 0;
  std::uint32_t compression = 0, size_image = 0;
  std::int32_t ppm_x = 0, ppm_y = 0;
  const std::uint8_t* table = nullptr;  // blue, green, red, 0 entries
  int entries = 0;
  const std::uint8_t* pixels = nullptr;
  std::size_t stride = 0;

  const std::uint8_t* row(int y) const {
    return pixels + stride * static_cast<std::size_t>(bottom_up ? height - 1 - y : y);
  }
  bool subtractive() const { return (compression & 0xFF) == 5; }
  int stream_code() const { return static_cast<int>((compression >> 8) & 0xFF); }
};

Source source_of(const void* bmi) {
  if (!bmi) fail(ORVPDF_E_BAD_DIB, "no image");
  Source s;
  s.block = static_cast<const std::uint8_t*>(bmi);
  const std::uint8_t* b = s.block;
  const std::int32_t w = static_cast<std::int32_t>(get32(b + 4)), h = static_cast<std::int32_t>(get32(b + 8));
  s.bits = b[14] | b[15] << 8;
  s.compression = get32(b + 16);
  s.size_image = get32(b + 20);
  s.ppm_x = static_cast<std::int32_t>(get32(b + 24));
  s.ppm_y = static_cast<std::int32_t>(get32(b + 28));
  const std::uint32_t used = get32(b + 32);
  if (get32(b) != 40 || w <= 0 || h == 0 || h == INT32_MIN || used > 256) fail(ORVPDF_E_BAD_DIB, "bad image header");
  s.width = w;
  s.height = h < 0 ? -h : h;
  s.bottom_up = h > 0;
  std::size_t table_bytes = 0;
  if ((s.compression & 0xFF) == 3) {
    table_bytes = 12;
  } else if (s.bits <= 8) {
    s.entries = used ? static_cast<int>(used) : (1 << s.bits);
    table_bytes = static_cast<std::size_t>(s.entries) * 4;
  }
  s.table = b + 40;
  s.pixels = b + 40 + table_bytes;
  s.stride = ((static_cast<std::size_t>(s.width) * static_cast<std::size_t>(s.bits) + 31) / 32) * 4;
  if (static_cast<std::uint64_t>(s.stride) * static_cast<std::uint64_t>(s.height) > kMaxSampleBytes)
    fail(ORVPDF_E_BAD_DIB, "image too large");
  return s;
}

bool ramp_table(const Source& s) {
  if (s.entries != (1 << s.bits)) return false;
  const int n = s.entries;
  for (int i = 0; i < n; ++i) {
    const int v = i * 255 / (n - 1);
    const std::uint8_t* e = s.table + 4 * i;
    if (e[0] != v || e[1] != v || e[2] != v) return false;
  }
  return true;
}

bool table_gray(const Source& s) {
  for (int i = 0; i < s.entries; ++i) {
    const std::uint8_t* e = s.table + 4 * i;
    if (e[0] != e[1] || e[1] != e[2]) return false;
  }
  return true;
}

double dpi_of(std::int32_t ppm) {
  if (ppm <= 0) return 0;
  const double dpi = ppm * 0.0254;
  const double whole = std::round(dpi);
  return (dpi >= 50 && std::fabs(dpi - whole) <= whole * 0.0004) ? whole : dpi;
}

// The samples of every row, packed, in the order PDF wants them.
std::vector<std::uint8_t> packed_samples(const Source& s, ImageStream& out, bool* out_jpeg_ok) {
  const int w = s.width, h = s.height;
  std::vector<std::uint8_t> data;
  auto reserve = [&](std::size_t row_bytes) {
    data.resize(row_bytes * static_cast<std::size_t>(h));
    return row_bytes;
  };
  *out_jpeg_ok = false;
  switch (s.bits) {
    case 4:
    case 8: {
      out.bpc = s.bits;
      if (ramp_table(s)) {
        out.space = ColourSpace::Gray;
        *out_jpeg_ok = s.bits == 8;
      } else {
        out.space = ColourSpace::Indexed;
        for (int i = 0; i < s.entries; ++i) {
          const std::uint8_t* e = s.table + 4 * i;
          out.palette += static_cast<char>(e[2]);
          out.palette += static_cast<char>(e[1]);
          out.palette += static_cast<char>(e[0]);
        }
        if (out.palette.empty()) fail(ORVPDF_E_BAD_DIB, "image without colours");
      }
      const std::size_t rb = reserve((static_cast<std::size_t>(w) * s.bits + 7) / 8);
      for (int y = 0; y < h; ++y) std::memcpy(&data[rb * y], s.row(y), rb);
      break;
    }
    case 16: {
      out.bpc = 16;
      out.space = ColourSpace::Gray;
      const std::size_t rb = reserve(static_cast<std::size_t>(w) * 2);
      for (int y = 0; y < h; ++y) {
        const std::uint8_t* r = s.row(y);
        for (int x = 0; x < w; ++x) {
          data[rb * y + 2 * x] = r[2 * x + 1];
          data[rb * y + 2 * x + 1] = r[2 * x];
        }
      }
      break;
    }
    case 24:
    case 48: {
      const int bytes = s.bits / 24;
      out.bpc = 8 * bytes;
      out.space = ColourSpace::RGB;
      *out_jpeg_ok = bytes == 1;
      const std::uint8_t flip = s.subtractive() ? 0xFF : 0;  // CMY -> RGB
      const std::size_t rb = reserve(static_cast<std::size_t>(w) * 3 * bytes);
      for (int y = 0; y < h; ++y) {
        const std::uint8_t* r = s.row(y);
        std::uint8_t* d = &data[rb * y];
        for (int x = 0; x < w; ++x) {
          const std::uint8_t* p = r + 3 * bytes * x;
          for (int c = 0; c < 3; ++c) {
            // Stored B, G, R (16-bit: little-endian); CMY data is C, M, Y.
            const int src = s.subtractive() ? c : 2 - c;
            if (bytes == 1) {
              d[3 * x + c] = p[src] ^ flip;
            } else {
              d[6 * x + 2 * c] = p[2 * src + 1] ^ flip;
              d[6 * x + 2 * c + 1] = p[2 * src] ^ flip;
            }
          }
        }
      }
      break;
    }
    case 32: {
      out.bpc = 8;
      const bool cmyk = s.subtractive();
      out.space = cmyk ? ColourSpace::CMYK : ColourSpace::RGB;
      *out_jpeg_ok = !cmyk;
      const int n = cmyk ? 4 : 3;
      const std::size_t rb = reserve(static_cast<std::size_t>(w) * n);
      for (int y = 0; y < h; ++y) {
        const std::uint8_t* r = s.row(y);
        std::uint8_t* d = &data[rb * y];
        for (int x = 0; x < w; ++x) {
          if (cmyk) {
            std::memcpy(d + 4 * x, r + 4 * x, 4);
          } else {
            d[3 * x] = r[4 * x + 2];
            d[3 * x + 1] = r[4 * x + 1];
            d[3 * x + 2] = r[4 * x];
          }
        }
      }
      break;
    }
    default:
      fail(ORVPDF_E_BAD_DIB, "unsupported depth " + std::to_string(s.bits));
  }
  return data;
}

void encode_bw(const Source& s, int compression, ImageStream& out) {
  out.space = ColourSpace::Gray;
  out.bpc = 1;
  const std::uint8_t* t = s.table;
  const bool entry0_light = s.entries >= 2 && t[0] + t[1] + t[2] > t[4] + t[5] + t[6];
  // DeviceGray 1-bit: 1 = white. CCITT coding wants 1 = black.
  const bool g4 = compression == kCompDefault || compression == kCompG4;
  const bool flip = g4 ? !entry0_light : entry0_light;
  const std::size_t rb = (static_cast<std::size_t>(s.width) + 7) / 8;
  std::vector<std::uint8_t> rows(rb * static_cast<std::size_t>(s.height));
  const std::uint8_t tail = s.width % 8 ? static_cast<std::uint8_t>(0xFF << (8 - s.width % 8)) : 0xFF;
  for (int y = 0; y < s.height; ++y) {
    std::uint8_t* d = &rows[rb * y];
    const std::uint8_t* r = s.row(y);
    for (std::size_t i = 0; i < rb; ++i) d[i] = flip ? ~r[i] : r[i];
    d[rb - 1] &= tail;
  }
  if (g4) {
    out.data = ccitt_encode(rows.data(), rb, s.width, s.height);
    out.filter = "/CCITTFaxDecode";
    out.ccitt_k = -1;
  } else if (compression == kCompNone) {
    out.data.assign(rows.begin(), rows.end());
  } else {
    out.data = flate_compress(rows);
    out.filter = "/FlateDecode";
  }
}

}  // namespace

int image_pixel_type(const void* bmi) {
  try {
    const Source s = source_of(bmi);
    switch (s.bits) {
      case 1: return ORV_PT_BW;
      case 4:
      case 8: return table_gray(s) ? ORV_PT_GRAY : ORV_PT_PALETTE;
      case 16: return ORV_PT_GRAY;
      case 24:
      case 48: return s.subtractive() ? ORV_PT_CMY : ORV_PT_RGB;
      case 32: return s.subtractive() ? ORV_PT_CMYK : ORV_PT_RGB;
      default: return -1;
    }
  } catch (const Failure&) {
    return -1;
  }
}

ImageStream image_encode(const void* bmi, int compression_by_type[6], int jpeg_quality) {
  const Source s = source_of(bmi);
  ImageStream out;
  out.width = s.width;
  out.height = s.height;
  out.dpi_x = dpi_of(s.ppm_x);
  out.dpi_y = dpi_of(s.ppm_y);
  if (s.stream_code() == ORV_STREAM_JPEG) {
    // Already JPEG: the stream goes in as it is.
    const std::span<const std::uint8_t> jpeg(s.pixels, s.size_image);
    const auto info = jpeg_info(jpeg);
    if (!info || (info->components != 1 && info->components != 3 && info->components != 4))
      fail(ORVPDF_E_BAD_DIB, "image holds no usable JPEG stream");
    out.width = info->width;
    out.height = info->height;
    out.space = info->components == 1 ? ColourSpace::Gray
                : info->components == 3 ? ColourSpace::RGB : ColourSpace::CMYK;
    out.invert = info->components == 4 && info->adobe;
    out.data.assign(jpeg.begin(), jpeg.end());
    out.filter = "/DCTDecode";
    return out;
  }
  if (s.stream_code() != 0) fail(ORVPDF_E_BAD_DIB, "image holds a compressed stream of another kind");
  const int type = image_pixel_type(bmi);
  if (type < 0) fail(ORVPDF_E_BAD_DIB, "unsupported image layout");
  const int compression = compression_by_type[type];
  if (s.bits == 1) {
    encode_bw(s, compression, out);
    return out;
  }
  bool jpeg_ok = false;
  std::vector<std::uint8_t> samples = packed_samples(s, out, &jpeg_ok);
  if (compression == kCompJpeg && jpeg_ok) {
    const int components = out.space == ColourSpace::Gray ? 1 : 3;
    out.data = jpeg_encode(samples.data(), s.width, s.height, components, jpeg_quality, out.dpi_x, out.dpi_y);
    out.filter = "/DCTDecode";
  } else if (compression == kCompNone) {
    out.data.assign(samples.begin(), samples.end());
  } else {
    out.data = flate_compress(samples);
    out.filter = "/FlateDecode";
  }
  return out;
}

namespace {

// A DIB block with `entries` table entries (from RGB triples) or, for
// 16-bit gray, the three masks.
DibBytes dib_make(int width, int height, int bits, std::uint32_t compression, const std::string& rgb,
                  int entries, double dpi_x, double dpi_y) {
  const std::size_t stride = ((static_cast<std::size_t>(width) * bits + 31) / 32) * 4;
  const std::size_t table = bits == 16 ? 12 : static_cast<std::size_t>(entries) * 4;
  DibBytes out(40 + table + stride * static_cast<std::size_t>(height), 0);
  std::uint8_t* h = out.data();
  put32(h, 40);
  put32(h + 4, static_cast<std::uint32_t>(width));
  put32(h + 8, static_cast<std::uint32_t>(height));
  h[12] = 1;
  h[14] = static_cast<std::uint8_t>(bits);
  put32(h + 16, compression);
  put32(h + 20, static_cast<std::uint32_t>(stride * static_cast<std::size_t>(height)));
  if (dpi_x > 0) put32(h + 24, static_cast<std::uint32_t>(dpi_x / 0.0254 + 0.5));
  if (dpi_y > 0) put32(h + 28, static_cast<std::uint32_t>(dpi_y / 0.0254 + 0.5));
  if (bits <= 8 && entries != (1 << bits)) put32(h + 32, static_cast<std::uint32_t>(entries));
  if (bits == 16) {
    for (int i = 0; i < 3; ++i) put32(h + 40 + 4 * i, 0xFFFF);
  } else {
    for (int i = 0; i < entries; ++i) {
      h[40 + 4 * i] = static_cast<std::uint8_t>(rgb[3 * i + 2]);
      h[40 + 4 * i + 1] = static_cast<std::uint8_t>(rgb[3 * i + 1]);
      h[40 + 4 * i + 2] = static_cast<std::uint8_t>(rgb[3 * i]);
    }
  }
  return out;
}

std::string gray_ramp(int n) {
  std::string rgb;
  for (int i = 0; i < n; ++i) rgb.append(3, static_cast<char>(i * 255 / (n - 1)));
  return rgb;
}

std::uint8_t* dib_row(DibBytes& d, int y) {
  // Rows are stored bottom-up: the top row is the last in the block.
  const int width = static_cast<int>(get32(d.data() + 4));
  const int bits = d[14];
  const std::size_t stride = ((static_cast<std::size_t>(width) * bits + 31) / 32) * 4;
  return d.data() + d.size() - stride * static_cast<std::size_t>(y + 1);
}

DibBytes decode_bilevel(const std::vector<std::uint8_t>& rows, const ImageStream& im, bool invert, double dx, double dy,
                        const std::string& table) {
  DibBytes d = dib_make(im.width, im.height, 1, 0, table, 2, dx, dy);
  const std::size_t rb = (static_cast<std::size_t>(im.width) + 7) / 8;
  const std::uint8_t tail = im.width % 8 ? static_cast<std::uint8_t>(0xFF << (8 - im.width % 8)) : 0xFF;
  for (int y = 0; y < im.height; ++y) {
    std::uint8_t* r = dib_row(d, y);
    for (std::size_t i = 0; i < rb; ++i) r[i] = invert ? ~rows[rb * y + i] : rows[rb * y + i];
    r[rb - 1] &= tail;
  }
  return d;
}

}  // namespace

DibBytes image_decode(const ImageStream& im, double dpi_x, double dpi_y) {
  const int w = im.width, h = im.height;
  if (w <= 0 || h <= 0) fail(ORVPDF_E_FORMAT, "image without pixels");
  const std::string bw_table = std::string(3, '\0') + std::string(3, '\xFF');
  const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(im.data.data()), im.data.size());
  if (im.filter == "/CCITTFaxDecode") {
    if ((static_cast<std::uint64_t>(w) + 7) / 8 * static_cast<std::uint64_t>(h) > kMaxSampleBytes)
      fail(ORVPDF_E_MEMORY, "image too large");
    const auto rows = ccitt_decode(bytes, w, h, im.ccitt_k);  // 1 = black
    // Filter output: black is 0 unless BlackIs1; then the Decode array.
    return decode_bilevel(rows, im, im.black_is_1 == im.invert, dpi_x, dpi_y, bw_table);
  }
  if (im.filter == "/DCTDecode") {
    JpegInfo info;
    const auto samples = jpeg_decode(bytes, &info);
    if (info.width != w || info.height != h) {
      // The JPEG's own size wins; the dictionary only described it.
    }
    const int n = info.components;
    const int bits = n == 1 ? 8 : n == 3 ? 24 : 32;
    DibBytes d = dib_make(info.width, info.height, bits, n == 4 ? 5 : 0, gray_ramp(256), n == 1 ? 256 : 0, dpi_x, dpi_y);
    const std::uint8_t flip = im.invert ? 0xFF : 0;
    for (int y = 0; y < info.height; ++y) {
      std::uint8_t* r = dib_row(d, y);
      const std::uint8_t* s = &samples[static_cast<std::size_t>(info.width) * n * y];
      for (int x = 0; x < info.width; ++x) {
        if (n == 3) {
          r[3 * x] = s[3 * x + 2];
          r[3 * x + 1] = s[3 * x + 1];
          r[3 * x + 2] = s[3 * x];
        } else {
          for (int c = 0; c < n; ++c) r[n * x + c] = s[n * x + c] ^ flip;
        }
      }
    }
    return d;
  }
  if (!im.filter.empty()) fail(ORVPDF_E_FEATURE, "unsupported image filter " + im.filter);

  const int ncomp = im.space == ColourSpace::RGB ? 3 : im.space == ColourSpace::CMYK ? 4 : 1;
  const int bpc = im.bpc;
  const std::uint64_t rb = (static_cast<std::uint64_t>(w) * bpc * ncomp + 7) / 8;
  if (rb * static_cast<std::uint64_t>(h) > kMaxSampleBytes) fail(ORVPDF_E_MEMORY, "image too large");
  if (im.data.size() < rb * static_cast<std::uint64_t>(h)) fail(ORVPDF_E_FORMAT, "image data truncated");
  const auto* s = reinterpret_cast<const std::uint8_t*>(im.data.data());
  auto src_row = [&](int y) { return s + rb * static_cast<std::uint64_t>(y); };

  if (im.space == ColourSpace::Indexed || (im.space == ColourSpace::Gray && bpc <= 8)) {
    const bool indexed = im.space == ColourSpace::Indexed;
    if (bpc != 1 && bpc != 2 && bpc != 4 && bpc != 8) fail(ORVPDF_E_FEATURE, "unsupported sample size");
    int entries = indexed ? static_cast<int>(im.palette.size() / 3) : 1 << bpc;
    if (indexed && (entries < 1 || entries > (1 << bpc))) entries = std::clamp(entries, 1, 1 << bpc);
    std::string table = indexed ? im.palette.substr(0, static_cast<std::size_t>(entries) * 3) : gray_ramp(1 << bpc);
    if (!indexed && im.invert) std::reverse(table.begin(), table.end());  // Decode [1 0]
    if (bpc == 1 && !indexed) return decode_bilevel(std::vector<std::uint8_t>(s, s + rb * h), im, im.invert, dpi_x, dpi_y, bw_table);
    const int bits = bpc == 2 ? 4 : bpc;
    if (bpc == 2 && !indexed) {
      table = gray_ramp(16);
      entries = 16;
    }
    DibBytes d = dib_make(w, h, bits, 0, table, entries, dpi_x, dpi_y);
    for (int y = 0; y < h; ++y) {
      std::uint8_t* r = dib_row(d, y);
      if (bpc != 2) {
        std::memcpy(r, src_row(y), rb);
        continue;
      }
      for (int x = 0; x < w; ++x) {
        int v = (src_row(y)[x / 4] >> (6 - 2 * (x % 4))) & 3;
        if (!indexed) v *= 5;  // 2-bit gray onto the 16-step ramp
        r[x / 2] |= static_cast<std::uint8_t>(v << (x % 2 ? 0 : 4));
      }
    }
    return d;
  }
  const std::uint8_t flip = im.invert ? 0xFF : 0;
  if (im.space == ColourSpace::Gray && bpc == 16) {
    DibBytes d = dib_make(w, h, 16, 3, {}, 0, dpi_x, dpi_y);
    for (int y = 0; y < h; ++y) {
      std::uint8_t* r = dib_row(d, y);
      for (int x = 0; x < w; ++x) {
        r[2 * x] = src_row(y)[2 * x + 1] ^ flip;
        r[2 * x + 1] = src_row(y)[2 * x] ^ flip;
      }
    }
    return d;
  }
  if (im.space == ColourSpace::RGB && (bpc == 8 || bpc == 16)) {
    const int bytes = bpc / 8;
    DibBytes d = dib_make(w, h, 24 * bytes, 0, {}, 0, dpi_x, dpi_y);
    for (int y = 0; y < h; ++y) {
      std::uint8_t* r = dib_row(d, y);
      const std::uint8_t* p = src_row(y);
      for (int x = 0; x < w; ++x) {
        for (int c = 0; c < 3; ++c) {
          if (bytes == 1) {
            r[3 * x + 2 - c] = p[3 * x + c] ^ flip;
          } else {
            r[6 * x + 2 * (2 - c)] = p[6 * x + 2 * c + 1] ^ flip;
            r[6 * x + 2 * (2 - c) + 1] = p[6 * x + 2 * c] ^ flip;
          }
        }
      }
    }
    return d;
  }
  if (im.space == ColourSpace::CMYK && bpc == 8) {
    DibBytes d = dib_make(w, h, 32, 5, {}, 0, dpi_x, dpi_y);
    for (int y = 0; y < h; ++y) {
      std::uint8_t* r = dib_row(d, y);
      for (std::uint64_t i = 0; i < rb; ++i) r[i] = src_row(y)[i] ^ flip;
    }
    return d;
  }
  fail(ORVPDF_E_FEATURE, "unsupported image colour layout");
}

}  // namespace pdf
