// TIFF reading and writing on libtiff for the OrvTiff module.
//
// Every file is opened with TIFFOpenOptions: a cap on any single allocation
// libtiff makes, and per-file error and warning handlers that collect the
// message (libtiff's global handlers would print it). Buffers are sized from
// TIFFScanlineSize64 and checked against the DIB size limit before use; a
// write counts only when TIFFFlush succeeded, because TIFFClose reports
// nothing.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include <tiffio.h>

#include "codecs/common/dib_block.h"
#include "codecs/common/module_host.h"
#include "codecs/common/status.h"

namespace orvtiff {

using Status = codec::Status;

// Largest single allocation libtiff may make for one file, bytes.
constexpr tmsize_t kMaxSingleAlloc = tmsize_t(256) << 20;
// Largest page count examined in a file.
constexpr int kMaxPages = 65535;

// One tag added to every page written until the tags are reset.
struct ExtraTag {
  enum Kind { Long, Short, Ascii, Double, Rational, RationalArray, Bytes, Undefined } kind;
  std::uint32_t tag;
  std::int64_t number = 0;
  double real = 0;
  std::string text;
  std::vector<double> reals;
  std::vector<std::uint8_t> bytes;
};

// What shapes the files written next.
struct WriteSettings {
  std::array<int, 6> compression{COMPRESSION_CCITTFAX4, COMPRESSION_NONE, COMPRESSION_NONE,
                                 COMPRESSION_NONE,      COMPRESSION_NONE, COMPRESSION_NONE};
  int jpeg_quality = 75;
  int strip_rows = 0;  // 0 = libtiff's choice
  std::string software, model, description, document_name;
  std::vector<ExtraTag> tags;
  int page_count = -1;  // total pages of the next single-page write
};

// The pixel type a DIB is written as (ORV_PT_*).
int pixel_type_of(const codec::DibLayout& d);
// Whether `compression` can be used for `pixel_type`.
bool compression_allowed(int pixel_type, int compression);

// An open TIFF with its collected messages. Closes without writing anything
// further; use tiff_finish to flush a file being written.
class TiffFile {
 public:
  // Opens `path` with `mode` ("r", "w", "a").
  static TiffFile open_path(const char* path, const char* mode);
  // Opens a TIFF held in memory for reading (the bytes must outlive it).
  static TiffFile open_memory(const std::uint8_t* data, std::size_t size);
  TiffFile(TiffFile&& o) noexcept;
  TiffFile& operator=(TiffFile&&) = delete;
  TiffFile(const TiffFile&) = delete;
  ~TiffFile();
  TIFF* get() const { return tif_; }
  // The first error libtiff reported, or `fallback`.
  std::string error(const char* fallback) const;
  // Flushes and closes; false when the flush failed or an error was seen.
  bool finish();

  struct Impl;

 private:
  TiffFile();
  TIFF* tif_ = nullptr;
  Impl* impl_ = nullptr;
};

// Why a page cannot be written at all (its layout), checked before anything
// of it reaches the file; success when it can.
Status tiff_page_refusal(const codec::DibLayout& dib);

// Writes one page (as the current directory) and closes the directory.
// `page`/`pages`: PageNumber values (pages < 0: no PageNumber tag).
Status tiff_write_page(TIFF* tif, const codec::DibLayout& dib, const WriteSettings& s, int page,
                       int pages);

// Reads page `page` (0-based) into `out`.
Status tiff_read_page(TIFF* tif, int page, codec::NewDib* out);
// Pages in the file, or -1.
int tiff_count_pages(TIFF* tif);

// Custom tags: defined once per process, merged into every file opened.
bool tiff_define_tag(std::uint32_t tag, int read_count, int field_type, const char* name);
// Whether libtiff (or a definition) knows `tag`.
bool tiff_tag_known(std::uint32_t tag);

}  // namespace orvtiff
