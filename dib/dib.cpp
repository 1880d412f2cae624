#include "dib/dib.h"

#include <atomic>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>

#include "dib/live_count.h"
#include "log/trace.h"
#include "orivane/errors.h"

namespace dib {
namespace {

constexpr double kMetresPerInch = 0.0254;
// DPI values read back from pixels per metre lose a little; values this close
// to a whole number are taken as that number.
constexpr double kDpiSnapMin = 50.0;
constexpr double kDpiSnapRelative = 0.0004;

template <typename T>
T load(const std::uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
template <typename T>
void store(std::uint8_t* p, T v) {
  std::memcpy(p, &v, sizeof v);
}

}  // namespace

InfoHeader header_read(const std::uint8_t* p) {
  InfoHeader h;
  h.size = load<std::uint32_t>(p + 0);
  h.width = load<std::int32_t>(p + 4);
  h.height = load<std::int32_t>(p + 8);
  h.planes = load<std::uint16_t>(p + 12);
  h.bit_count = load<std::uint16_t>(p + 14);
  h.compression = load<std::uint32_t>(p + 16);
  h.size_image = load<std::uint32_t>(p + 20);
  h.x_ppm = load<std::int32_t>(p + 24);
  h.y_ppm = load<std::int32_t>(p + 28);
  h.clr_used = load<std::uint32_t>(p + 32);
  h.clr_important = load<std::uint32_t>(p + 36);
  return h;
}

void header_write(std::uint8_t* p, const InfoHeader& h) {
  store(p + 0, h.size);
  store(p + 4, h.width);
  store(p + 8, h.height);
  store(p + 12, h.planes);
  store(p + 14, h.bit_count);
  store(p + 16, h.compression);
  store(p + 20, h.size_image);
  store(p + 24, h.x_ppm);
  store(p + 28, h.y_ppm);
  store(p + 32, h.clr_used);
  store(p + 36, h.clr_important);
}

std::uint64_t header_table_entries(const InfoHeader& h) {
  if (header_has_masks(h)) return 0;
  if (h.clr_used != 0) return h.clr_used;
  return (h.bit_count >= 1 && h.bit_count <= 8) ? (std::uint64_t{1} << h.bit_count) : 0;
}

std::uint64_t header_table_bytes(const InfoHeader& h) {
  return header_has_masks(h) ? kMaskBytes : header_table_entries(h) * kEntryBytes;
}

std::optional<std::uint64_t> row_stride(std::int64_t bits, std::int64_t width) {
  if (bits < 1 || bits > 64 || width < 0) return std::nullopt;
  return static_cast<std::uint64_t>((bits * width + 31) / 32) * 4;
}

double ppm_to_dpi(std::int32_t ppm) {
  const double dpi = ppm * kMetresPerInch;
  if (dpi >= kDpiSnapMin) {
    const double whole = std::round(dpi);
    if (std::fabs(dpi - whole) <= kDpiSnapRelative * dpi) return whole;
  }
  return dpi;
}

std::int32_t dpi_to_ppm(double dpi) {
  const double ppm = std::trunc(dpi / kMetresPerInch + 0.5);
  // NaN or a value outside the field would make the conversion undefined.
  if (std::isnan(ppm)) return 0;
  if (ppm <= std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
  if (ppm >= std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(ppm);
}

double unit_factor(int unit) {
  switch (unit) {
    case 1: return 2.54;
    case 2: return 6.0;
    case 3: return 72.0;
    case 4: return 1440.0;
    default: return 1.0;
  }
}

double length_convert(double value, int from_unit, int to_unit) {
  return value * unit_factor(to_unit) / unit_factor(from_unit);
}

// ---- DibView ------------------------------------------------------------------

std::optional<DibView> DibView::over(std::uint8_t* block, std::size_t size) {
  if (block == nullptr || size < kInfoHeaderBytes) return std::nullopt;
  DibView v;
  v.block_ = block;
  v.size_ = size;
  v.header_ = header_read(block);
  const InfoHeader& h = v.header_;
  if (h.size < kInfoHeaderBytes || h.size > size) return std::nullopt;

  // The table: whole entries that lie inside the block.
  if (!header_has_masks(h)) {
    const std::uint64_t room = (size - h.size) / kEntryBytes;
    const std::uint64_t n = std::min(header_table_entries(h), room);
    v.table_ = std::span<Rgbq>(reinterpret_cast<Rgbq*>(block + h.size), static_cast<std::size_t>(n));
  }

  const std::int64_t rows = header_rows(h);
  const std::optional<std::uint64_t> stride = row_stride(h.bit_count, h.width);
  if (!stride || rows > std::numeric_limits<int>::max()) return v;
  v.width_ = h.width;
  v.height_ = static_cast<int>(rows);
  v.stride_ = static_cast<std::size_t>(*stride);
  v.used_ = static_cast<std::size_t>(row_used_bytes(h.bit_count, h.width));
  const std::uint64_t offset = h.size + header_table_bytes(h);
  v.pixel_offset_ = static_cast<std::size_t>(std::min<std::uint64_t>(offset, size));
  unsigned __int128 end = static_cast<unsigned __int128>(*stride) * static_cast<std::uint64_t>(rows);
  end += offset;
  v.rows_ok_ = !v.compressed() && end <= size;
  if (v.rows_ok_ && rows > 0) {
    const std::size_t top_index = h.height > 0 ? static_cast<std::size_t>(rows - 1) : 0;
    v.top_ = block + offset + top_index * v.stride_;
  }
  return v;
}

std::optional<std::array<std::uint32_t, 3>> DibView::masks() const {
  if (!header_has_masks(header_) || header_.size + kMaskBytes > size_) return std::nullopt;
  const std::uint8_t* p = block_ + header_.size;
  return std::array<std::uint32_t, 3>{load<std::uint32_t>(p), load<std::uint32_t>(p + 4),
                                      load<std::uint32_t>(p + 8)};
}

void DibView::set_masks(std::uint32_t r, std::uint32_t g, std::uint32_t b) {
  if (!header_has_masks(header_) || header_.size + kMaskBytes > size_) return;
  std::uint8_t* p = block_ + header_.size;
  store(p, r);
  store(p + 4, g);
  store(p + 8, b);
}

void DibView::require_rows() const {
  if (rows_ok_) return;
  if (compressed()) throw Error(ERR_WRONG_IMAGE_TYPE);
  throw Error(ERR_BAD_DIB);
}

std::uint8_t* DibView::row(int y) const {
  if (!rows_ok_ || y < 0 || y >= height_) throw std::out_of_range("DIB row outside the image");
  return row_unchecked(y);
}

void DibView::store_header(const InfoHeader& h) {
  header_write(block_, h);
  header_ = h;
}

int DibView::pixel_type() const { return pixel_type_of(header_, table_, masks()); }

int DibView::samples_per_pixel() const { return samples_per_pixel_of(pixel_type(), depth()); }

int pixel_type_of(const InfoHeader& h, std::span<const Rgbq> table,
                  std::optional<std::array<std::uint32_t, 3>> masks) {
  const bool subtractive = (h.compression & 0xFF) == kCompressionSubtractive;
  switch (h.bit_count) {
    case 1: return kBW;
    case 4:
    case 8: return table_is_gray(table) ? kGray : kPalette;
    case 15:
    case 16: return masks && (*masks)[0] == (*masks)[1] ? kGray : kRGB;
    case 24:
    case 48: return subtractive ? kCMY : kRGB;
    case 32: return subtractive ? kCMYK : kRGB;
    default: return -1;
  }
}

int samples_per_pixel_of(int pixel_type, int depth) {
  if (pixel_type == kCMYK) return 4;
  if (pixel_type == kRGB || pixel_type == kCMY) return (depth == 32 || depth == 64) ? 4 : 3;
  return 1;
}

// ---- Locked, Dib ----------------------------------------------------------------

Locked::Locked(Handle h) : handle_(h) {
  if (h == 0) throw Error(ERR_BAD_DIB);
  auto* p = static_cast<std::uint8_t*>(platform::mem_lock(h));
  if (p == nullptr) throw Error(ERR_BAD_DIB);
  view_ = DibView::over(p, platform::mem_size(h));
  if (!view_) {
    platform::mem_unlock(h);
    throw Error(ERR_BAD_DIB);
  }
}

Locked::~Locked() { platform::mem_unlock(handle_); }

void Locked::refresh() {
  auto* p = static_cast<std::uint8_t*>(platform::mem_lock(handle_));
  platform::mem_unlock(handle_);
  view_ = DibView::over(p, platform::mem_size(handle_));
  if (!view_) throw Error(ERR_BAD_DIB);
}

void Dib::reset() {
  if (handle_ != 0) dib_free(handle_);
  handle_ = 0;
}

bool dib_is_block(Handle h) {
  auto* p = static_cast<std::uint8_t*>(platform::mem_lock(h));
  if (p == nullptr) return false;
  const bool ok = DibView::over(p, platform::mem_size(h)).has_value();
  platform::mem_unlock(h);
  return ok;
}

bool dib_free(Handle h) {
  if (h == 0) {
    message("**DibFree(NULL)\n");
    return false;
  }
  if (!dib_is_block(h)) {
    message("**DibFree(0x%lx) - invalid handle\n", static_cast<unsigned long>(h));
    return false;
  }
  if (!platform::mem_free(h)) {
    message("**DibFree(0x%lx) - Error\n", static_cast<unsigned long>(h));
    return false;
  }
  live_count_add(-1);
  return true;
}

Handle dib_copy(Handle h) {
  if (h == 0) {
    message("**DibCopy(NULL)\n");
    return 0;
  }
  const std::size_t size = platform::mem_size(h);
  if (size == 0) {
    message("**DibCopy hdib(0x%lx) size=0 GLE=%d\n", static_cast<unsigned long>(h), 0);
    return 0;
  }
  const void* src = dib_is_block(h) ? platform::mem_lock(h) : nullptr;
  if (src == nullptr) {
    message("**DibCopy GL(hdib(0x%lx)) failed\n", static_cast<unsigned long>(h));
    return 0;
  }
  const Handle copy = platform::mem_alloc(size, false);
  if (copy == 0) {
    platform::mem_unlock(h);
    message("**DibCopy: GA(%zu) failed\n", size);
    return 0;
  }
  void* dst = platform::mem_lock(copy);
  std::memcpy(dst, src, size);
  platform::mem_unlock(copy);
  platform::mem_unlock(h);
  live_count_add(1);
  message("DibCopy(0x%lx)=> 0x%lx\n", static_cast<unsigned long>(h), static_cast<unsigned long>(copy));
  return copy;
}

// ---- Message hook ---------------------------------------------------------------

namespace {

void default_hook(const char* text) {
  if (LogAttached()) LogPrint("%s", text);
}

std::atomic<MessageHook>& hook_slot() {
  static std::atomic<MessageHook> slot{&default_hook};
  return slot;
}

}  // namespace

void message_hook_set(MessageHook hook) { hook_slot().store(hook ? hook : &default_hook); }

void message(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  hook_slot().load()(text);
}

}  // namespace dib
