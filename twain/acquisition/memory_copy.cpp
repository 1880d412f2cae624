// Copying one memory-transfer block into the transfer DIB.
//
// An uncompressed block is a rectangle of Rows x Columns pixels at
// (XOffset, YOffset) whose rows lie BytesPerRow apart in the block's memory;
// with a planar image each block holds one colour channel. Sources disagree
// about these numbers in small ways (padding left out of BytesWritten, rows
// wider than the image, "don't care" offsets), so the copy works around the
// inconsistencies it can explain and traces them. Whatever the numbers, every
// write is clipped to the DIB's rows and every read to the block's memory.
//
// A compressed block is part of one stream (G3/G4, JPEG): it is appended to
// the bytes already received, after the colour table, and biSizeImage counts
// them.
#include "twain/acquisition/memory_xfer.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "core/error_record.h"
#include "log/trace.h"
#include "orivane/errors.h"
#include "platform/memblock.h"
#include "platform/rgb_swap.h"
#include "twain/session/memory.h"

namespace twain {
namespace {

// The bytes a block names: its own pointer, or a locked handle.
class BlockMemory {
 public:
  explicit BlockMemory(const TW_MEMORY& memory) : length_(memory.Length) {
    if (memory.Flags & TWMF_POINTER) {
      data_ = static_cast<const std::uint8_t*>(memory.TheMem);
      return;
    }
    handle_ = memory.TheMem;
    data_ = static_cast<const std::uint8_t*>(block_lock(handle_));
    if (data_ == nullptr) {
      handle_ = nullptr;
      return;
    }
    // A handle the library knows the size of bounds the reads as well.
    const std::size_t size = block_size(handle_);
    if (size != 0 && size < length_) length_ = size;
  }
  ~BlockMemory() {
    if (handle_ != nullptr) block_unlock(handle_);
  }
  BlockMemory(const BlockMemory&) = delete;
  BlockMemory& operator=(const BlockMemory&) = delete;

  const std::uint8_t* data() const { return data_; }
  std::size_t length() const { return data_ ? length_ : 0; }

 private:
  const std::uint8_t* data_ = nullptr;
  TW_HANDLE handle_ = nullptr;
  std::size_t length_ = 0;
};

// The DIB block, locked for the copy. Growing it re-reads the view.
class DibAccess {
 public:
  explicit DibAccess(dib::Handle h) : handle_(h) { lock(); }
  ~DibAccess() {
    if (bytes_ != nullptr) platform::mem_unlock(handle_);
  }
  DibAccess(const DibAccess&) = delete;
  DibAccess& operator=(const DibAccess&) = delete;

  bool ok() const { return view_.has_value(); }
  dib::DibView& view() { return *view_; }

  // Resizes the block (unlocked while it moves) and locks it again.
  bool resize(std::size_t size) {
    platform::mem_unlock(handle_);
    bytes_ = nullptr;
    const bool grown = platform::mem_realloc(handle_, size) != 0;
    lock();
    return grown && ok();
  }

 private:
  void lock() {
    bytes_ = static_cast<std::uint8_t*>(platform::mem_lock(handle_));
    view_.reset();
    if (bytes_ != nullptr) view_ = dib::DibView::over(bytes_, platform::mem_size(handle_));
  }

  dib::Handle handle_;
  std::uint8_t* bytes_ = nullptr;
  std::optional<dib::DibView> view_;
};

// Appends a compressed block to the stream, growing the DIB block until the
// data fits (doubling keeps the number of moves small).
int append_compressed(DibAccess& dib, const TW_IMAGEMEMXFER& block, const BlockMemory& memory) {
  const std::uint32_t written = block.BytesWritten;
  if (written == 0) return 1;
  dib::InfoHeader h = dib.view().header();
  std::uint32_t new_size_image = 0;
  if (__builtin_add_overflow(h.size_image, written, &new_size_image)) {
    RecordError(ERR_MEMORY, "GlobalReAlloc");
    return 0;
  }
  const std::uint64_t start = std::uint64_t{dib.view().pixel_offset()} + h.size_image;
  const std::uint64_t needed = start + written;
  std::uint64_t size = dib.view().block_size();
  if (needed > size) {
    while (size < needed) size = std::max<std::uint64_t>(size * 2, 64);
    if (size > SIZE_MAX || !dib.resize(static_cast<std::size_t>(size))) {
      RecordError(ERR_MEMORY, "GlobalReAlloc");
      return 0;
    }
  }
  std::memcpy(dib.view().block() + start, memory.data(), written);
  h.size_image = new_size_image;
  dib.view().store_header(h);
  return 1;
}

// The block's offset along one axis: "don't care" is 0, anything outside
// 0..limit is refused (nothing).
std::optional<std::int64_t> block_offset(std::uint32_t raw, std::int64_t limit, bool is_x) {
  if (raw == TWON_DONTCARE32) {
    if (is_x) LogPrint("#Hack[HP] XOffset DONTCARE32\n");
    return 0;
  }
  const auto value = static_cast<std::int32_t>(raw);
  if (value < 0 || value > limit) {
    LogPrint(is_x ? "invalid XOffset(%d)\n" : "invalid YOffset(%d)\n", value);
    return std::nullopt;
  }
  return value;
}

// The distance between source rows. Sources that pad rows without counting
// the padding in BytesWritten (or count too little) get the step their
// BytesWritten allows.
std::uint64_t row_step(const TW_IMAGEMEMXFER& block, std::uint64_t rows, std::uint64_t columns,
                       int bits_per_position) {
  const std::uint64_t per_row = block.BytesPerRow;
  const std::uint64_t claimed = rows * per_row;  // both below 2^32: no overflow
  std::uint64_t step = per_row;
  if (claimed != block.BytesWritten) {
    const std::uint64_t min_step = (columns * static_cast<std::uint64_t>(bits_per_position) + 7) / 8;
    std::uint64_t written = block.BytesWritten;
    if (static_cast<std::int32_t>(block.BytesWritten) <= 0) {
      LogPrint("** mx.BytesWritten = %d??\n", static_cast<std::int32_t>(block.BytesWritten));
      written = claimed;
    }
    if (per_row < min_step) LogPrint("** mx.BytesPerRow < uMinStep(%u)\n", static_cast<unsigned>(min_step));
    if (claimed > written) {
      LogPrint("** mx.BytesPerRow(%u) * mx.Rows(%u) > mx.BytesWritten(%u)\n", block.BytesPerRow,
               block.Rows, block.BytesWritten);
      step = written / rows;
    }
  }
  LogPrint("using nRowStep = %u\n", static_cast<unsigned>(step));
  return step;
}

// Copies `bits` bits from the start of `src` to bit `dst_bit` of `dst`
// (most significant bit first), leaving the neighbouring bits alone: tiles of
// 1- and 4-bit images need not start or end on a byte.
void copy_bits(std::uint8_t* dst, std::uint64_t dst_bit, const std::uint8_t* src, std::uint64_t bits) {
  for (std::uint64_t i = 0; i < bits; ++i) {
    const bool on = (src[i / 8] >> (7 - i % 8)) & 1;
    const std::uint64_t d = dst_bit + i;
    const auto mask = static_cast<std::uint8_t>(0x80u >> (d % 8));
    dst[d / 8] = on ? (dst[d / 8] | mask) : (dst[d / 8] & ~mask);
  }
}

// Where the rows of one uncompressed block go.
struct Placement {
  std::int64_t x = 0, y = 0;          // destination pixel of the first sample
  std::uint64_t rows = 0, columns = 0;
  std::uint64_t step = 0;             // source bytes from row to row
};

// Whole rows: the samples of all channels as the source sends them, or with
// red and blue exchanged on the way (`turn_rgb`, whole-byte 3-byte pixels).
void copy_rows(dib::DibView& v, const Placement& p, const BlockMemory& memory, bool turn_rgb) {
  const std::uint64_t depth = v.depth();
  const std::uint64_t start_bit = static_cast<std::uint64_t>(p.x) * depth;
  const std::uint64_t row_bits = p.columns * depth;
  for (std::uint64_t i = 0; i < p.rows; ++i) {
    const std::uint64_t from = i * p.step;
    if (from >= memory.length()) break;
    const std::uint64_t bits = std::min(row_bits, (memory.length() - from) * 8);
    const std::uint8_t* src = memory.data() + from;
    std::uint8_t* row = v.row_unchecked(static_cast<int>(p.y + static_cast<std::int64_t>(i)));
    if (start_bit % 8 != 0) {
      copy_bits(row, start_bit, src, bits);
      continue;
    }
    const std::uint64_t whole = std::min(bits / 8, v.stride() - start_bit / 8);
    if (turn_rgb) {
      const std::uint64_t pixels = whole / 3;
      platform::swap_rb24(src, row + start_bit / 8, pixels);
      std::memcpy(row + start_bit / 8 + 3 * pixels, src + 3 * pixels, whole - 3 * pixels);
    } else {
      std::memcpy(row + start_bit / 8, src, whole);
    }
    if (whole == bits / 8 && bits % 8 != 0) copy_bits(row, start_bit + whole * 8, src + whole, bits % 8);
  }
}

// One channel of a planar image into a DIB of whole-byte pixels: each source
// sample goes to its place inside the pixel, in the source's sample order
// (the fix-ups after the transfer turn RGB into the DIB's BGR, as they do for
// interleaved data).
void copy_channel(dib::DibView& v, const Placement& p, const BlockMemory& memory, int channel,
                  int bits_per_sample) {
  const std::uint64_t pixel_bytes = static_cast<std::uint64_t>(v.depth()) / 8;
  const std::uint64_t sample_bytes = std::max(bits_per_sample / 8, 1);
  const std::uint64_t within = static_cast<std::uint64_t>(channel) * sample_bytes;
  if (within + sample_bytes > pixel_bytes) {
    LogPrint("** channel %d does not fit a %d-bit pixel\n", channel, v.depth());
    return;
  }
  for (std::uint64_t i = 0; i < p.rows; ++i) {
    const std::uint64_t from = i * p.step;
    if (from >= memory.length()) break;
    const std::uint64_t samples = std::min(p.columns, (memory.length() - from) / sample_bytes);
    const std::uint8_t* src = memory.data() + from;
    std::uint8_t* dst = v.row_unchecked(static_cast<int>(p.y + static_cast<std::int64_t>(i))) +
                        static_cast<std::uint64_t>(p.x) * pixel_bytes + within;
    for (std::uint64_t s = 0; s < samples; ++s) {
      std::memcpy(dst + s * pixel_bytes, src + s * sample_bytes, sample_bytes);
    }
  }
}

int copy_uncompressed(dib::DibView& v, const TW_IMAGEMEMXFER& block, const TW_IMAGEINFO& info,
                      int y, int channel, const BlockMemory& memory) {
  const int planes = info.Planar && info.SamplesPerPixel > 0 ? info.SamplesPerPixel : 1;
  const int bits_per_position = info.BitsPerPixel / planes;
  const std::optional<std::int64_t> y_offset = block_offset(block.YOffset, info.ImageLength, false);
  if (!y_offset) return 1;
  const std::optional<std::int64_t> x_offset = block_offset(block.XOffset, info.ImageWidth, true);
  if (!x_offset) return 1;

  // The block's rectangle inside the image, as the source describes it.
  const std::int64_t rows = std::min<std::int64_t>(block.Rows, info.ImageLength - *y_offset);
  const std::int64_t columns = std::min<std::int64_t>(block.Columns, info.ImageWidth - *x_offset);
  if (rows <= 0 || columns <= 0) return 1;
  if (block.BytesWritten == 0 && block.BytesPerRow == TWON_DONTCARE32) return 1;
  Placement p;
  p.x = *x_offset;
  p.y = y;
  p.step = row_step(block, static_cast<std::uint64_t>(rows), static_cast<std::uint64_t>(columns),
                    bits_per_position);
  // Only the DIB's own rows and columns are written: it may be smaller than
  // the image (one block's DIB), or the source's numbers may be wrong.
  const std::int64_t rows_in_dib = std::min<std::int64_t>(rows, std::int64_t{v.height()} - y);
  const std::int64_t columns_in_dib = std::min<std::int64_t>(columns, std::int64_t{v.width()} - p.x);
  if (y < 0 || rows_in_dib <= 0 || columns_in_dib <= 0) return 1;
  p.rows = static_cast<std::uint64_t>(rows_in_dib);
  p.columns = static_cast<std::uint64_t>(columns_in_dib);

  if (planes > 1 && v.depth() >= 24) {
    copy_channel(v, p, memory, channel, bits_per_position);
  } else {
    copy_rows(v, p, memory, copy_turns_rgb(info, v.depth()));
  }
  return 1;
}

}  // namespace

bool copy_turns_rgb(const TW_IMAGEINFO& info, int dib_depth) {
  const bool planar = info.Planar && info.SamplesPerPixel > 1;
  return info.PixelType == TWPT_RGB && info.Compression == TWCP_NONE && !planar && info.BitsPerPixel == 24 &&
         dib_depth == 24;
}

int BmiCopyMemoryBuffer(dib::Handle dib, const TW_IMAGEMEMXFER& block, const TW_IMAGEINFO& info,
                        int y, int channel) {
  const BlockMemory memory(block.Memory);
  if (memory.data() == nullptr) {
    RecordError(ERR_XFER, "GlobalLock failed");
    return 0;
  }
  if (block.BytesWritten != TWON_DONTCARE32 && block.BytesWritten > memory.length()) return 0;
  DibAccess access(dib);
  if (!access.ok()) return 0;
  if (info.Compression != TWCP_NONE) {
    if (block.BytesWritten > memory.length()) return 0;
    return append_compressed(access, block, memory);
  }
  if (!access.view().rows_ok()) return 0;
  return copy_uncompressed(access.view(), block, info, y, channel, memory);
}

}  // namespace twain
