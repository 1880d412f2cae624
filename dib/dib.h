// The DIB model: the packed block behind a DIB handle, an owning Dib, a
// bounds-checked DibView over a locked block, and the layout rules every image
// operation relies on.
//
// Block layout: 40-byte information header (little-endian), then the colour
// table (4 bytes per entry: blue, green, red, 0) or, for the bit-field layout,
// three 32-bit masks, then the pixel rows. Row stride is the row's bit count
// rounded up to 32 bits. Row 0 is the top of the picture: stored last when the
// header's height is positive (bottom-up), first otherwise.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>

#include "platform/memblock.h"

namespace dib {

using Handle = platform::MemHandle;

enum PixelType : int { kBW = 0, kGray = 1, kRGB = 2, kPalette = 3, kCMY = 4, kCMYK = 5 };

constexpr std::size_t kInfoHeaderBytes = 40;
constexpr std::size_t kMaskBytes = 12;
constexpr std::size_t kEntryBytes = 4;
constexpr std::uint32_t kCompressionPlain = 0;
constexpr std::uint32_t kCompressionBitFields = 3;
constexpr std::uint32_t kCompressionSubtractive = 5;  // CMY / CMYK data
constexpr std::uint32_t kCompressionCodeMask = 0xFF00;
constexpr std::uint32_t kGrayMask16 = 0xFFFF;

// An internal failure with the error-record code it maps to. The detail is the
// text for the code's message ("" = the C API boundary supplies its context).
class Error : public std::runtime_error {
 public:
  Error(int code, std::string detail = {})
      : std::runtime_error(detail), code_(code), detail_(std::move(detail)) {}
  int code() const { return code_; }
  const std::string& detail() const { return detail_; }

 private:
  int code_;
  std::string detail_;
};

// The information header's fields.
struct InfoHeader {
  std::uint32_t size = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::uint16_t planes = 0;
  std::uint16_t bit_count = 0;
  std::uint32_t compression = 0;
  std::uint32_t size_image = 0;
  std::int32_t x_ppm = 0;
  std::int32_t y_ppm = 0;
  std::uint32_t clr_used = 0;
  std::uint32_t clr_important = 0;
};

InfoHeader header_read(const std::uint8_t* p);
void header_write(std::uint8_t* p, const InfoHeader& h);

// One colour-table entry as stored.
struct Rgbq {
  std::uint8_t blue, green, red, reserved;
};
static_assert(sizeof(Rgbq) == 4);

inline bool header_has_masks(const InfoHeader& h) {
  return (h.compression & 0xFF) == kCompressionBitFields;
}
// Colour-table entries implied by the header (masks excluded).
std::uint64_t header_table_entries(const InfoHeader& h);
// Bytes between the header and the pixels: masks or table.
std::uint64_t header_table_bytes(const InfoHeader& h);
// ((bits x width + 31) / 32) x 4, or nothing for a negative width or a depth
// outside 1..64.
std::optional<std::uint64_t> row_stride(std::int64_t bits, std::int64_t width);
// Bytes of a row that hold pixels: (bits x width + 7) / 8.
inline std::uint64_t row_used_bytes(std::int64_t bits, std::int64_t width) {
  return static_cast<std::uint64_t>((bits * width + 7) / 8);
}
// Rows of the picture: |height| (also for INT32_MIN).
inline std::int64_t header_rows(const InfoHeader& h) {
  return h.height < 0 ? -static_cast<std::int64_t>(h.height) : h.height;
}

// Resolution: pixels per metre <-> dots per inch.
double ppm_to_dpi(std::int32_t ppm);
std::int32_t dpi_to_ppm(double dpi);
// Length-unit factor per inch for the TWAIN unit codes (others: 1).
double unit_factor(int unit);
double length_convert(double value, int from_unit, int to_unit);

// A non-owning view of one locked DIB block. Making a view checks that the
// header lies inside the block; the pixel rows are usable only when the pixel
// data is plain (not a compressed stream), the width is not negative, the depth
// is 1..64 and every row lies inside the block (all sizes overflow-checked).
class DibView {
 public:
  // A view of `size` bytes at `block`, or nothing when the header is not there.
  static std::optional<DibView> over(std::uint8_t* block, std::size_t size);

  const InfoHeader& header() const { return header_; }
  std::uint8_t* block() const { return block_; }
  std::size_t block_size() const { return size_; }
  int width() const { return width_; }
  int height() const { return height_; }  // rows, always >= 0
  int depth() const { return header_.bit_count; }
  bool bottom_up() const { return header_.height > 0; }
  bool compressed() const { return (header_.compression & kCompressionCodeMask) != 0; }
  // Stride in bytes (positive); row(y + 1) - row(y) is step().
  std::size_t stride() const { return stride_; }
  std::ptrdiff_t step() const { return bottom_up() ? -static_cast<std::ptrdiff_t>(stride_)
                                                   : static_cast<std::ptrdiff_t>(stride_); }
  std::size_t used_bytes() const { return used_; }
  std::size_t pixel_offset() const { return pixel_offset_; }
  // The colour table: as many whole entries as the header names and the block
  // holds. Empty for images without one.
  std::span<Rgbq> table() const { return table_; }
  // The three masks (red, green, blue) of the bit-field layout, if present.
  std::optional<std::array<std::uint32_t, 3>> masks() const;
  void set_masks(std::uint32_t r, std::uint32_t g, std::uint32_t b);

  // Whether the pixel rows can be addressed.
  bool rows_ok() const { return rows_ok_; }
  // Throws Error(ERR_WRONG_IMAGE_TYPE) for a compressed stream and
  // Error(ERR_BAD_DIB) for rows that do not fit the block.
  void require_rows() const;
  // Row y counted from the top; throws std::out_of_range outside 0..height-1
  // or when the rows are not usable.
  std::uint8_t* row(int y) const;
  // Unchecked: callers that validated the range once per image.
  std::uint8_t* row_unchecked(int y) const { return top_ + step() * y; }

  // Writes header fields back into the block.
  void store_header(const InfoHeader& h);

  int pixel_type() const;
  int samples_per_pixel() const;

 private:
  DibView() = default;
  std::uint8_t* block_ = nullptr;
  std::size_t size_ = 0;
  InfoHeader header_;
  int width_ = 0, height_ = 0;
  std::size_t stride_ = 0, used_ = 0, pixel_offset_ = 0;
  std::span<Rgbq> table_;
  bool rows_ok_ = false;
  std::uint8_t* top_ = nullptr;
};

// Derived pixel type of a header and its table (-1 for unusual depths).
int pixel_type_of(const InfoHeader& h, std::span<const Rgbq> table,
                  std::optional<std::array<std::uint32_t, 3>> masks);
int samples_per_pixel_of(int pixel_type, int depth);
inline bool table_is_gray(std::span<const Rgbq> table) {
  for (const Rgbq& e : table) {
    if (e.red != e.green || e.green != e.blue) return false;
  }
  return true;
}

// A handle locked for the lifetime of the object. Throws Error(ERR_BAD_DIB)
// when the handle is null, stale, foreign or not a DIB block.
class Locked {
 public:
  explicit Locked(Handle h);
  ~Locked();
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;
  DibView& view() { return *view_; }
  const DibView& view() const { return *view_; }
  DibView* operator->() { return &*view_; }
  const DibView* operator->() const { return &*view_; }
  Handle handle() const { return handle_; }
  // Re-reads the block after it was resized.
  void refresh();

 private:
  Handle handle_;
  std::optional<DibView> view_;
};

// An owned DIB handle: freed (and uncounted) on destruction unless released.
class Dib {
 public:
  Dib() = default;
  explicit Dib(Handle adopted) : handle_(adopted) {}
  Dib(Dib&& other) noexcept : handle_(other.release()) {}
  Dib& operator=(Dib&& other) noexcept {
    if (this != &other) {
      reset();
      handle_ = other.release();
    }
    return *this;
  }
  Dib(const Dib&) = delete;
  Dib& operator=(const Dib&) = delete;
  ~Dib() { reset(); }

  Handle get() const { return handle_; }
  explicit operator bool() const { return handle_ != 0; }
  Handle release() {
    const Handle h = handle_;
    handle_ = 0;
    return h;
  }
  void reset();

 private:
  Handle handle_ = 0;
};

// Releases a DIB block and lowers the live-image count; reports through the
// message hook. False for a null, stale or foreign handle.
bool dib_free(Handle h);
// A byte-for-byte copy of the block (counted as a live image), or 0.
Handle dib_copy(Handle h);
// Whether `h` names a live block whose header looks like a DIB's.
bool dib_is_block(Handle h);

// The DIB core's message hook: "does nothing until the library is attached".
// The default forwards to the trace log while it is attached.
using MessageHook = void (*)(const char* text);
void message_hook_set(MessageHook hook);  // nullptr restores the default
void message(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace dib
