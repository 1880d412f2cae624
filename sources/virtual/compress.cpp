#include "sources/virtual/compress.h"

#include <jpeglib.h>
#include <tiffio.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vscan {
namespace {

// An in-memory file for libtiff.
struct MemoryFile {
  std::vector<std::uint8_t> bytes;
  toff_t position = 0;
};

tsize_t memory_read(thandle_t h, tdata_t data, tsize_t size) {
  auto* file = static_cast<MemoryFile*>(h);
  const toff_t available =
      file->position < file->bytes.size() ? file->bytes.size() - file->position : 0;
  const auto n = static_cast<tsize_t>(std::min<toff_t>(available, static_cast<toff_t>(size)));
  if (n > 0) std::memcpy(data, file->bytes.data() + file->position, static_cast<std::size_t>(n));
  file->position += static_cast<toff_t>(n);
  return n;
}

tsize_t memory_write(thandle_t h, tdata_t data, tsize_t size) {
  auto* file = static_cast<MemoryFile*>(h);
  const auto end = file->position + static_cast<toff_t>(size);
  if (end > file->bytes.size()) file->bytes.resize(static_cast<std::size_t>(end));
  std::memcpy(file->bytes.data() + file->position, data, static_cast<std::size_t>(size));
  file->position = end;
  return size;
}

toff_t memory_seek(thandle_t h, toff_t offset, int whence) {
  auto* file = static_cast<MemoryFile*>(h);
  if (whence == SEEK_CUR) offset += file->position;
  if (whence == SEEK_END) offset += file->bytes.size();
  file->position = offset;
  return offset;
}

int memory_close(thandle_t) { return 0; }
toff_t memory_size(thandle_t h) { return static_cast<MemoryFile*>(h)->bytes.size(); }
int memory_map(thandle_t, tdata_t*, toff_t*) { return 0; }
void memory_unmap(thandle_t, tdata_t, toff_t) {}

// libjpeg reports a fatal error by calling error_exit, which must not return.
struct JpegError {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
};

void jpeg_fail(j_common_ptr info) {
  std::longjmp(reinterpret_cast<JpegError*>(info->err)->jump, 1);
}

// Compresses with the state in a plain struct, so that a longjmp out of
// libjpeg skips no destructors.
bool jpeg_run(const Raster& raster, int quality, unsigned char** out_buffer,
              unsigned long* out_size) {
  jpeg_compress_struct info;
  JpegError error;
  info.err = jpeg_std_error(&error.manager);
  error.manager.error_exit = jpeg_fail;
  if (setjmp(error.jump) != 0) {
    jpeg_destroy_compress(&info);
    return false;
  }
  jpeg_create_compress(&info);
  jpeg_mem_dest(&info, out_buffer, out_size);
  const PageFormat& f = raster.format;
  info.image_width = static_cast<JDIMENSION>(f.width);
  info.image_height = static_cast<JDIMENSION>(f.height);
  info.input_components = f.pixel_type == TWPT_RGB ? 3 : 1;
  info.in_color_space = f.pixel_type == TWPT_RGB ? JCS_RGB : JCS_GRAYSCALE;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, std::clamp(quality, 1, 100), TRUE);
  info.density_unit = 1;  // dots per inch
  info.X_density = static_cast<UINT16>(std::clamp(f.x_dpi, 1.0, 65535.0));
  info.Y_density = static_cast<UINT16>(std::clamp(f.y_dpi, 1.0, 65535.0));
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    auto* row =
        const_cast<JSAMPLE*>(raster.pixels.data() + raster.bytes_per_row * info.next_scanline);
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  return true;
}

}  // namespace

std::vector<std::uint8_t> bilevel_black_is_one(const Raster& raster) {
  std::vector<std::uint8_t> rows = raster.pixels;
  if (raster.format.pixel_flavor != TWPF_VANILLA) {
    for (std::uint8_t& b : rows) b = static_cast<std::uint8_t>(~b);
    // Bits past the width stay 0.
    const int tail = raster.format.width % 8;
    if (tail != 0) {
      const auto mask = static_cast<std::uint8_t>(0xff << (8 - tail));
      for (int y = 0; y < raster.format.height; ++y)
        rows[raster.bytes_per_row * (y + 1) - 1] &= mask;
    }
  }
  return rows;
}

std::optional<std::vector<std::uint8_t>> compress_group4(const Raster& raster) {
  const PageFormat& f = raster.format;
  if (f.bit_depth != 1) return std::nullopt;
  MemoryFile file;
  TIFF* tif = TIFFClientOpen("group4", "w", &file, memory_read, memory_write, memory_seek,
                             memory_close, memory_size, memory_map, memory_unmap);
  if (tif == nullptr) return std::nullopt;
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(f.width));
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(f.height));
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, static_cast<std::uint32_t>(f.height));
  TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  std::vector<std::uint8_t> rows = bilevel_black_is_one(raster);
  std::optional<std::vector<std::uint8_t>> stream;
  if (TIFFWriteEncodedStrip(tif, 0, rows.data(), static_cast<tmsize_t>(rows.size())) >= 0) {
    // The coded strip is where the writer put it in the file.
    toff_t* offsets = nullptr;
    toff_t* counts = nullptr;
    if (TIFFGetField(tif, TIFFTAG_STRIPOFFSETS, &offsets) != 0 &&
        TIFFGetField(tif, TIFFTAG_STRIPBYTECOUNTS, &counts) != 0 && offsets != nullptr &&
        counts != nullptr && offsets[0] + counts[0] <= file.bytes.size()) {
      const auto* start = file.bytes.data() + offsets[0];
      stream.emplace(start, start + counts[0]);
    }
  }
  TIFFClose(tif);
  return stream;
}

std::optional<std::vector<std::uint8_t>> compress_jpeg(const Raster& raster, int quality) {
  const PageFormat& f = raster.format;
  const bool gray8 = f.pixel_type == TWPT_GRAY && f.bit_depth == 8;
  const bool rgb24 = f.pixel_type == TWPT_RGB && f.bit_depth == 24;
  if (!gray8 && !rgb24) return std::nullopt;
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  const bool done = jpeg_run(raster, quality, &buffer, &size);
  std::optional<std::vector<std::uint8_t>> stream;
  if (done && buffer != nullptr) stream.emplace(buffer, buffer + size);
  std::free(buffer);
  return stream;
}

}  // namespace vscan
