// The coders behind page images: zlib for Flate, libjpeg-turbo for DCT (with
// a longjmp error manager: the library's default one ends the process), and
// libtiff's CCITT coder run over a TIFF held in memory, with its messages
// kept out of the process-wide handlers and its allocations capped.
#include <cstddef>
#include <cstdio>
// jpeglib.h needs size_t and FILE first.
#include <jpeglib.h>
#include <setjmp.h>
#include <tiffio.h>
#include <zlib.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>

#include "codecs/codec_abi.h"
#include "codecs/common/jpeg_limits.h"
#include "codecs/pdf/pdf_image.h"

namespace pdf {

std::string flate_compress(std::span<const std::uint8_t> data) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  std::string out(size, '\0');
  if (compress2(reinterpret_cast<Bytef*>(out.data()), &size, data.data(), static_cast<uLong>(data.size()),
                Z_DEFAULT_COMPRESSION) != Z_OK)
    fail(ORVPDF_E_COMPRESSION, "Flate compression failed");
  out.resize(size);
  return out;
}

// ---- JPEG ------------------------------------------------------------------

namespace {

// Progressive files with more scans than this are refused (each scan costs a
// pass over the whole coefficient buffer).
constexpr int kMaxJpegScans = 200;
// Largest memory libjpeg may take for its own work (the coefficients of a
// progressive image), bytes.
constexpr long kMaxJpegMemory = 512L << 20;

struct JpegError {
  jpeg_error_mgr mgr;
  jmp_buf jump;
  char text[JMSG_LENGTH_MAX];
};

void jpeg_error_exit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<JpegError*>(cinfo->err);
  cinfo->err->format_message(cinfo, err->text);
  longjmp(err->jump, 1);
}
void jpeg_quiet(j_common_ptr, int) {}

void jpeg_scan_limit(j_common_ptr cinfo) {
  auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
  if (!cinfo->is_decompressor) return;
  if (d->input_scan_number > kMaxJpegScans) {
    std::strcpy(reinterpret_cast<JpegError*>(cinfo->err)->text, "too many JPEG scans");
    longjmp(reinterpret_cast<JpegError*>(cinfo->err)->jump, 1);
  }
}

void error_manager(JpegError& err) {
  jpeg_std_error(&err.mgr);
  err.mgr.error_exit = jpeg_error_exit;
  err.mgr.emit_message = jpeg_quiet;
  err.text[0] = 0;
}

}  // namespace

std::string jpeg_encode(const std::uint8_t* rows, int width, int height, int components, int quality,
                        double dpi_x, double dpi_y) {
  jpeg_compress_struct cinfo;
  JpegError err;
  error_manager(err);
  cinfo.err = &err.mgr;
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  if (setjmp(err.jump)) {
    jpeg_destroy_compress(&cinfo);
    std::free(buffer);
    fail(ORVPDF_E_COMPRESSION, std::string("JPEG coding failed: ") + err.text);
  }
  jpeg_create_compress(&cinfo);
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = components;
  cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, std::clamp(quality, 1, 100), TRUE);
  if (dpi_x > 0 && dpi_y > 0) {
    cinfo.density_unit = 1;
    cinfo.X_density = static_cast<UINT16>(std::min(dpi_x + 0.5, 65535.0));
    cinfo.Y_density = static_cast<UINT16>(std::min(dpi_y + 0.5, 65535.0));
  }
  jpeg_start_compress(&cinfo, TRUE);
  const std::size_t stride = static_cast<std::size_t>(width) * components;
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(rows + stride * cinfo.next_scanline);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::string out(reinterpret_cast<char*>(buffer), size);
  std::free(buffer);
  return out;
}

std::optional<JpegInfo> jpeg_info(std::span<const std::uint8_t> data) {
  jpeg_decompress_struct cinfo;
  JpegError err;
  error_manager(err);
  cinfo.err = &err.mgr;
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&cinfo);
    return std::nullopt;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, data.data(), static_cast<unsigned long>(data.size()));
  jpeg_save_markers(&cinfo, JPEG_APP0 + 14, 0);
  jpeg_read_header(&cinfo, TRUE);
  JpegInfo info{static_cast<int>(cinfo.image_width), static_cast<int>(cinfo.image_height),
                cinfo.num_components, cinfo.saw_Adobe_marker != 0};
  jpeg_destroy_decompress(&cinfo);
  return info;
}

std::vector<std::uint8_t> jpeg_decode(std::span<const std::uint8_t> data, JpegInfo* out_info) {
  jpeg_decompress_struct cinfo;
  JpegError err;
  error_manager(err);
  cinfo.err = &err.mgr;
  jpeg_progress_mgr progress{};
  progress.progress_monitor = jpeg_scan_limit;
  std::vector<std::uint8_t> out;
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&cinfo);
    fail(ORVPDF_E_FORMAT, std::string("bad JPEG image: ") + err.text);
  }
  jpeg_create_decompress(&cinfo);
  cinfo.mem->max_memory_to_use = kMaxJpegMemory;
  cinfo.progress = &progress;
  jpeg_mem_src(&cinfo, data.data(), static_cast<unsigned long>(data.size()));
  jpeg_read_header(&cinfo, TRUE);
  if (codec::saturating_mul(cinfo.image_width, cinfo.image_height) > image_pixel_limit()) {
    const std::uint64_t w = cinfo.image_width, h = cinfo.image_height;
    jpeg_destroy_decompress(&cinfo);
    image_check_size(w, h);
  }
  if (std::string refusal = codec::jpeg_data_refusal(cinfo, data.size()); !refusal.empty()) {
    jpeg_destroy_decompress(&cinfo);
    fail(ORVPDF_E_FORMAT, std::move(refusal));
  }
  const int n = cinfo.num_components;
  if (n != 1 && n != 3 && n != 4) {
    jpeg_destroy_decompress(&cinfo);
    fail(ORVPDF_E_FEATURE, "JPEG with " + std::to_string(n) + " components");
  }
  cinfo.out_color_space = n == 1 ? JCS_GRAYSCALE : n == 3 ? JCS_RGB : JCS_CMYK;
  const std::uint64_t bytes = static_cast<std::uint64_t>(cinfo.image_width) * cinfo.image_height * n;
  if (bytes == 0 || bytes > kMaxSampleBytes) {
    jpeg_destroy_decompress(&cinfo);
    fail(ORVPDF_E_MEMORY, "JPEG image too large");
  }
  jpeg_start_decompress(&cinfo);
  out.resize(static_cast<std::size_t>(bytes));
  const std::size_t stride = static_cast<std::size_t>(cinfo.output_width) * n;
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = out.data() + stride * cinfo.output_scanline;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  *out_info = JpegInfo{static_cast<int>(cinfo.output_width), static_cast<int>(cinfo.output_height), n, false};
  jpeg_destroy_decompress(&cinfo);
  return out;
}

// ---- CCITT through a memory TIFF ---------------------------------------------

namespace {

constexpr tmsize_t kTiffMaxAlloc = 512 << 20;

struct MemFile {
  std::vector<std::uint8_t> bytes;
  toff_t pos = 0;
};

tmsize_t mem_read(thandle_t h, void* buf, tmsize_t n) {
  auto* f = static_cast<MemFile*>(h);
  if (f->pos >= f->bytes.size()) return 0;
  const tmsize_t got = std::min<tmsize_t>(n, static_cast<tmsize_t>(f->bytes.size() - f->pos));
  std::memcpy(buf, f->bytes.data() + f->pos, static_cast<std::size_t>(got));
  f->pos += static_cast<toff_t>(got);
  return got;
}
tmsize_t mem_write(thandle_t h, void* buf, tmsize_t n) {
  auto* f = static_cast<MemFile*>(h);
  if (f->pos + static_cast<toff_t>(n) > f->bytes.size()) f->bytes.resize(f->pos + static_cast<toff_t>(n));
  std::memcpy(f->bytes.data() + f->pos, buf, static_cast<std::size_t>(n));
  f->pos += static_cast<toff_t>(n);
  return n;
}
toff_t mem_seek(thandle_t h, toff_t off, int whence) {
  auto* f = static_cast<MemFile*>(h);
  const toff_t base = whence == SEEK_CUR ? f->pos : whence == SEEK_END ? f->bytes.size() : 0;
  f->pos = base + off;
  return f->pos;
}
int mem_close(thandle_t) { return 0; }
toff_t mem_size(thandle_t h) { return static_cast<MemFile*>(h)->bytes.size(); }
int mem_map(thandle_t, void**, toff_t*) { return 0; }
void mem_unmap(thandle_t, void*, toff_t) {}

int tiff_message(TIFF*, void* user, const char*, const char* fmt, va_list ap) {
  if (user) std::vsnprintf(static_cast<char*>(user), 200, fmt, ap);
  return 1;  // handled: never reaches the process-wide handlers
}

struct TiffHandle {
  TIFF* tif = nullptr;
  ~TiffHandle() {
    if (tif) TIFFClose(tif);
  }
};

TIFF* tiff_open(MemFile& f, const char* mode, char* message) {
  TIFFOpenOptions* opts = TIFFOpenOptionsAlloc();
  TIFFOpenOptionsSetMaxSingleMemAlloc(opts, kTiffMaxAlloc);
  TIFFOpenOptionsSetErrorHandlerExtR(opts, tiff_message, message);
  TIFFOpenOptionsSetWarningHandlerExtR(opts, tiff_message, nullptr);
  TIFF* tif = TIFFClientOpenExt("pdf-image", mode, &f, mem_read, mem_write, mem_seek, mem_close, mem_size, mem_map,
                                mem_unmap, opts);
  TIFFOpenOptionsFree(opts);
  return tif;
}

void tiff_fields(TIFF* tif, int width, int height, int compression, int k) {
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(width));
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(height));
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
  TIFFSetField(tif, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
  if (compression == COMPRESSION_CCITTFAX3) TIFFSetField(tif, TIFFTAG_GROUP3OPTIONS, k > 0 ? GROUP3OPT_2DENCODING : 0);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, static_cast<std::uint32_t>(height));
}

}  // namespace

std::string ccitt_encode(const std::uint8_t* rows, std::size_t stride, int width, int height) {
  MemFile f;
  char message[256] = "";
  TiffHandle t;
  t.tif = tiff_open(f, "w", message);
  if (!t.tif) fail(ORVPDF_E_COMPRESSION, "CCITT coder unavailable");
  tiff_fields(t.tif, width, height, COMPRESSION_CCITTFAX4, -1);
  std::vector<std::uint8_t> packed(stride * static_cast<std::size_t>(height));
  std::memcpy(packed.data(), rows, packed.size());
  if (TIFFWriteEncodedStrip(t.tif, 0, packed.data(), static_cast<tmsize_t>(packed.size())) < 0)
    fail(ORVPDF_E_COMPRESSION, std::string("CCITT coding failed: ") + message);
  std::uint64_t* offsets = nullptr;
  std::uint64_t* counts = nullptr;
  if (!TIFFGetField(t.tif, TIFFTAG_STRIPOFFSETS, &offsets) || !TIFFGetField(t.tif, TIFFTAG_STRIPBYTECOUNTS, &counts))
    fail(ORVPDF_E_COMPRESSION, "CCITT coding failed");
  const std::uint64_t at = offsets[0], n = counts[0];
  if (at + n > f.bytes.size()) fail(ORVPDF_E_COMPRESSION, "CCITT coding failed");
  return std::string(reinterpret_cast<const char*>(f.bytes.data() + at), static_cast<std::size_t>(n));
}

std::vector<std::uint8_t> ccitt_decode(std::span<const std::uint8_t> data, int width, int height, int k) {
  char message[256] = "";
  MemFile f;
  {
    TiffHandle t;
    t.tif = tiff_open(f, "w", message);
    if (!t.tif) fail(ORVPDF_E_FAILURE, "CCITT coder unavailable");
    tiff_fields(t.tif, width, height, k < 0 ? COMPRESSION_CCITTFAX4 : COMPRESSION_CCITTFAX3, k);
    std::vector<std::uint8_t> copy(data.begin(), data.end());
    if (TIFFWriteRawStrip(t.tif, 0, copy.data(), static_cast<tmsize_t>(copy.size())) < 0)
      fail(ORVPDF_E_FORMAT, "bad CCITT image");
  }
  f.pos = 0;
  TiffHandle t;
  t.tif = tiff_open(f, "r", message);
  if (!t.tif) fail(ORVPDF_E_FORMAT, std::string("bad CCITT image: ") + message);
  const std::size_t rb = (static_cast<std::size_t>(width) + 7) / 8;
  std::vector<std::uint8_t> out(rb * static_cast<std::size_t>(height));
  // The fax decoder reports damaged data through the error handler and may
  // still return the rows it guessed: either way the page is refused.
  if (TIFFReadEncodedStrip(t.tif, 0, out.data(), static_cast<tmsize_t>(out.size())) < 0 || message[0])
    fail(ORVPDF_E_FORMAT, std::string("bad CCITT image: ") + message);
  return out;
}

}  // namespace pdf
