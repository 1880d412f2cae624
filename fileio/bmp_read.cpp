// BMP readers. A BMP file is read into the library's own block layout: a
// 40-byte header, the masks or colour table, then the rows. Files with the
// longer version 2 to 5 headers keep their masks inside the header; those are
// moved behind it. The pixels are taken at the file's pixel offset when it is
// consistent, else directly behind the table. Every size is checked against
// the bytes the input holds before the image block is allocated.
#include "fileio/bmp.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "core/error_record.h"
#include "dib/image_limit.h"
#include "dib/live_count.h"
#include "log/trace.h"
#include "orivane/errors.h"
#include "platform/input_file.h"

namespace fileio {
namespace {

constexpr std::size_t kMaxInfoHeaderBytes = 124;  // version 5
constexpr std::size_t kMasksInHeaderFrom = 52;    // version 2 and later hold the masks
constexpr std::uint32_t kRle8 = 1, kRle4 = 2;
// A run-length stream may not claim more image than this many bytes per
// stream byte (whole blank rows take about 1 byte per 100 pixels), so a tiny
// file cannot make us allocate a huge image.
constexpr std::uint64_t kRleMaxExpansion = 512;
constexpr std::uint64_t kRleExpansionAllowance = 1 << 16;
constexpr std::uint32_t kStandardRed = 0x00FF0000, kStandardGreen = 0x0000FF00, kStandardBlue = 0x000000FF;

// Bytes of a BMP, read at offsets: a file or a buffer.
class Input {
 public:
  virtual ~Input() = default;
  // Bytes available in all.
  virtual std::uint64_t length() const = 0;
  // Reads n bytes at `offset`; false when they are not all there.
  virtual bool read(std::uint64_t offset, void* out, std::size_t n) const = 0;
};

class FileInput : public Input {
 public:
  FileInput(int fd, std::uint64_t length) : fd_(fd), length_(length) {}
  std::uint64_t length() const override { return length_; }
  bool read(std::uint64_t offset, void* out, std::size_t n) const override {
    auto* p = static_cast<std::uint8_t*>(out);
    while (n > 0) {
      const ssize_t k = ::pread(fd_, p, std::min<std::size_t>(n, 1 << 30), static_cast<off_t>(offset));
      if (k < 0 && errno == EINTR) continue;
      if (k <= 0) return false;
      p += k, offset += static_cast<std::uint64_t>(k), n -= static_cast<std::size_t>(k);
    }
    return true;
  }

 private:
  int fd_;
  std::uint64_t length_;
};

class BufferInput : public Input {
 public:
  explicit BufferInput(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  std::uint64_t length() const override { return bytes_.size(); }
  bool read(std::uint64_t offset, void* out, std::size_t n) const override {
    if (offset > bytes_.size() || n > bytes_.size() - offset) return false;
    std::memcpy(out, bytes_.data() + offset, n);
    return true;
  }

 private:
  std::span<const std::uint8_t> bytes_;
};

// Where everything lies in the input and how the image block is laid out.
struct Plan {
  dib::InfoHeader header;            // as stored in the new block
  std::array<std::uint32_t, 3> masks{};
  bool has_masks = false;
  std::uint64_t table_at = 0;        // input offset of the colour table
  std::uint32_t entries = 0;         // table entries kept
  std::uint64_t pixels_at = 0;       // input offset of the pixel data
  std::uint64_t pixel_bytes = 0;     // in the new block
  std::uint64_t rle_bytes = 0;       // run-length stream in the input (0 = plain rows)
  std::size_t block_size = 0;
};

std::string format(const char* fmt, auto... args) {
  char text[1024];
  std::snprintf(text, sizeof text, fmt, args...);
  return text;
}

bool depth_supported(int bits) {
  switch (bits) {
    case 1: case 4: case 8: case 16: case 24: case 32: case 48: return true;
    default: return false;
  }
}

// Works out the layout from the headers; every size is checked against the
// input, so a hostile header is refused here, before any allocation.
// `out_too_large` (may be null) tells a refusal by the loading limit apart.
std::optional<Plan> make_plan(const Input& in, const BmpFileHeader& fh, std::string* why,
                              bool* out_too_large = nullptr) {
  std::uint8_t raw[kMaxInfoHeaderBytes] = {};
  std::uint32_t header_size = 0;
  if (!in.read(kBmpFileHeaderBytes, &header_size, 4) || header_size < dib::kInfoHeaderBytes ||
      header_size > kMaxInfoHeaderBytes) {
    *why = format("LoadBmp:unsupported info header size %u\n", header_size);
    return std::nullopt;
  }
  if (!in.read(kBmpFileHeaderBytes, raw, header_size)) {
    *why = "LoadBmp:_read failed\n";
    return std::nullopt;
  }
  Plan p;
  dib::InfoHeader& h = p.header;
  h = dib::header_read(raw);
  const int bits = h.bit_count;
  const std::uint32_t low = h.compression & 0xFF;
  const bool stream = (h.compression & dib::kCompressionCodeMask) != 0;
  const bool rle = !stream && ((low == kRle8 && bits == 8) || (low == kRle4 && bits == 4));
  const bool known_low = low == dib::kCompressionPlain || low == dib::kCompressionSubtractive ||
                         (low == dib::kCompressionBitFields && (bits == 16 || bits == 32)) ||
                         (rle && h.height > 0);
  if (h.width < 0 || h.height == INT32_MIN || !depth_supported(bits) || !known_low ||
      (h.compression & 0xFFFF0000u) != 0) {
    *why = format("LoadBmp:Bad image header %d x %d, %d bits, compression 0x%x\n", h.width, h.height, bits,
                  h.compression);
    return std::nullopt;
  }
  const std::uint64_t rows_declared = static_cast<std::uint64_t>(dib::header_rows(h));
  if (!dib::image_size_allowed(static_cast<std::uint64_t>(h.width), rows_declared)) {
    *why = "LoadBmp:" + dib::image_size_refusal(static_cast<std::uint64_t>(h.width), rows_declared) + "\n";
    if (out_too_large) *out_too_large = true;
    return std::nullopt;
  }

  std::uint64_t at = kBmpFileHeaderBytes + header_size;
  if (low == dib::kCompressionBitFields) {
    p.has_masks = true;
    if (header_size >= kMasksInHeaderFrom) {
      std::memcpy(p.masks.data(), raw + 40, 12);
    } else {
      if (!in.read(at, p.masks.data(), 12)) {
        *why = "LoadBmp:_read failed\n";
        return std::nullopt;
      }
      at += dib::kMaskBytes;
    }
  }
  // Colour table: at most 2^depth entries are meaningful; tables of deeper
  // images are only a display hint and are dropped.
  std::uint64_t entries = h.clr_used != 0 ? h.clr_used : (bits <= 8 ? (1u << bits) : 0);
  p.table_at = at;
  at += entries * dib::kEntryBytes;
  if (bits > 8 || p.has_masks) entries = 0;
  p.entries = static_cast<std::uint32_t>(std::min<std::uint64_t>(entries, 1u << std::min(bits, 8)));

  const std::uint64_t rows = static_cast<std::uint64_t>(dib::header_rows(h));
  if (stream) {
    p.pixel_bytes = h.size_image;
  } else if (__builtin_mul_overflow(*dib::row_stride(bits, h.width), rows, &p.pixel_bytes)) {
    p.pixel_bytes = UINT64_MAX;
  }
  if (rle) {
    p.pixels_at = fh.off_bits >= at && fh.off_bits < in.length() ? fh.off_bits : at;
    const std::uint64_t rest = in.length() - std::min(p.pixels_at, in.length());
    p.rle_bytes = h.size_image != 0 ? std::min<std::uint64_t>(h.size_image, rest) : rest;
    if (p.rle_bytes == 0 || p.pixel_bytes > p.rle_bytes * kRleMaxExpansion + kRleExpansionAllowance) {
      *why = format("LoadBmp:run-length data too short for %d x %d\n", h.width, h.height);
      return std::nullopt;
    }
    h.compression = dib::kCompressionPlain;
  } else {
    // The file's own offset wins when it lies beyond the table and leaves room
    // for the rows (a gap, or a header whose table we measured differently).
    p.pixels_at = fh.off_bits >= at && fh.off_bits <= in.length() &&
                          p.pixel_bytes <= in.length() - fh.off_bits
                      ? fh.off_bits
                      : at;
  }
  const std::uint64_t stored = rle ? p.rle_bytes : p.pixel_bytes;
  if (at > in.length() || stored > in.length() - std::min(p.pixels_at, in.length()) ||
      p.pixel_bytes > 0xFFFFFFFFu || p.table_at + std::uint64_t{p.entries} * 4 > in.length()) {
    *why = format("LoadBmp:file too short for %d x %d, %d bits (%llu bytes)\n", h.width, h.height, bits,
                  static_cast<unsigned long long>(in.length()));
    return std::nullopt;
  }

  // The new block's header.
  h.size = dib::kInfoHeaderBytes;
  h.planes = 1;
  if (p.has_masks && bits == 32 && p.masks == std::array<std::uint32_t, 3>{kStandardRed, kStandardGreen, kStandardBlue}) {
    p.has_masks = false;  // the plain 32-bit layout
    h.compression &= ~0xFFu;
  } else if (p.has_masks && bits == 32) {
    *why = format("LoadBmp:unsupported 32-bit masks %08x %08x %08x\n", p.masks[0], p.masks[1], p.masks[2]);
    return std::nullopt;
  }
  h.clr_used = (bits <= 8 && p.entries == (1u << bits)) ? 0 : p.entries;
  h.clr_important = std::min(h.clr_important, p.entries);
  if (!stream) h.size_image = static_cast<std::uint32_t>(p.pixel_bytes);
  p.block_size = static_cast<std::size_t>(dib::kInfoHeaderBytes + (p.has_masks ? dib::kMaskBytes : 0) +
                                          std::uint64_t{p.entries} * dib::kEntryBytes + p.pixel_bytes);
  return p;
}

// Decodes a 4- or 8-bit run-length stream into bottom-up rows; pixels that
// fall outside the image are dropped.
void rle_decode(std::span<const std::uint8_t> s, const dib::InfoHeader& h, std::uint8_t* pixels) {
  const bool four = h.bit_count == 4;
  const std::int64_t width = h.width, rows = h.height;
  const std::size_t stride = static_cast<std::size_t>(*dib::row_stride(h.bit_count, h.width));
  std::int64_t x = 0, y = 0;
  auto put = [&](int value) {
    if (x < width && y < rows) {
      std::uint8_t* row = pixels + static_cast<std::size_t>(y) * stride;
      if (four) {
        const int shift = (x & 1) ? 0 : 4;
        row[x >> 1] = static_cast<std::uint8_t>((row[x >> 1] & ~(0x0F << shift)) | ((value & 0x0F) << shift));
      } else {
        row[x] = static_cast<std::uint8_t>(value);
      }
    }
    ++x;
  };
  std::size_t i = 0;
  while (i + 1 < s.size() && y < rows) {
    const int count = s[i], value = s[i + 1];
    i += 2;
    if (count > 0) {
      for (int k = 0; k < count; ++k) put(four ? ((k & 1) ? value & 0x0F : value >> 4) : value);
    } else if (value == 0) {
      x = 0, ++y;
    } else if (value == 1) {
      break;
    } else if (value == 2) {
      if (i + 1 >= s.size()) break;
      x += s[i], y += s[i + 1];
      i += 2;
    } else {
      const std::size_t bytes = four ? (value + 1) / 2 : value;
      if (i + bytes > s.size()) break;
      for (int k = 0; k < value; ++k) {
        put(four ? ((k & 1) ? s[i + k / 2] & 0x0F : s[i + k / 2] >> 4) : s[i + k]);
      }
      i += (bytes + 1) & ~std::size_t{1};
    }
  }
}

// Allocates the block and reads table and pixels into it. Empty on failure,
// with *out_no_memory telling a failed allocation from a failed read.
dib::Dib load(const Input& in, const Plan& p, bool* out_no_memory) {
  *out_no_memory = false;
  // Header, masks, table and pixels fill the block exactly, so only a
  // run-length image (whose runs may skip pixels) needs it cleared first;
  // clearing a page-sized block that is then read over costs as much as the
  // read itself.
  const dib::Handle h = platform::mem_alloc(p.block_size, p.rle_bytes != 0);
  if (h == 0) {
    *out_no_memory = true;
    return dib::Dib();
  }
  dib::live_count_add(1);
  dib::Dib dib(h);
  auto* block = static_cast<std::uint8_t*>(platform::mem_lock(h));
  dib::header_write(block, p.header);
  std::size_t at = dib::kInfoHeaderBytes;
  if (p.has_masks) {
    std::memcpy(block + at, p.masks.data(), dib::kMaskBytes);
    at += dib::kMaskBytes;
  }
  const std::size_t table_bytes = std::size_t{p.entries} * dib::kEntryBytes;
  bool ok = in.read(p.table_at, block + at, table_bytes);
  std::uint8_t* pixels = block + at + table_bytes;
  if (ok && p.rle_bytes != 0) {
    std::vector<std::uint8_t> stream(static_cast<std::size_t>(p.rle_bytes));
    ok = in.read(p.pixels_at, stream.data(), stream.size());
    if (ok) rle_decode(stream, p.header, pixels);
  } else if (ok) {
    ok = in.read(p.pixels_at, pixels, static_cast<std::size_t>(p.pixel_bytes));
  }
  platform::mem_unlock(h);
  if (!ok) return dib::Dib();
  return dib;
}

}  // namespace

dib::Dib bmp_read_file(const char* path, std::string* out_message) {
  out_message->clear();
  platform::InputProblem problem = platform::InputProblem::None;
  int error = 0;
  const int fd = platform::open_regular_file(path, &problem, &error);
  if (fd < 0) {
    *out_message = format("LoadBmp:_open(%s) failed\n", path);
    return dib::Dib();
  }
  struct stat st {};
  const std::uint64_t length = ::fstat(fd, &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
  const FileInput in(fd, length);
  std::uint8_t raw[kBmpFileHeaderBytes];
  dib::Dib result;
  if (!in.read(0, raw, sizeof raw)) {
    *out_message = "LoadBmp:_read failed\n";
  } else {
    const BmpFileHeader fh = bmp_file_header_read(raw);
    if (fh.type != kBmpMagic || fh.reserved1 != 0 || fh.reserved2 != 0 || fh.off_bits < 54 ||
        fh.size < fh.off_bits) {
      *out_message = format("LoadBmp:Bad header %04x %08x %04x %04x %08x\n", fh.type, fh.size,
                            fh.reserved1, fh.reserved2, fh.off_bits);
    } else if (const std::optional<Plan> plan = make_plan(in, fh, out_message)) {
      bool no_memory = false;
      result = load(in, *plan, &no_memory);
      if (result) {
        LogPrint("LoadBmp read %zu bytes: ", plan->block_size);
        LogDumpDib(result.get());
      } else if (!no_memory) {
        *out_message = "LoadBmp:_read failed\n";
      }
    }
  }
  ::close(fd);
  return result;
}

dib::Dib bmp_read_buffer(std::span<const std::uint8_t> bytes) {
  LogPrint("BMP_LoadFromBuffer\n");
  if (bytes.size() <= kBmpFileHeaderBytes || bytes[0] != 'B' || bytes[1] != 'M') {
    RecordError(ERR_FILE_READ, "BMP in memory");
    return dib::Dib();
  }
  const BmpFileHeader fh = bmp_file_header_read(bytes.data());
  const BufferInput in(bytes);
  std::string why;
  bool too_large = false;
  const std::optional<Plan> plan =
      bytes.size() >= fh.size ? make_plan(in, fh, &why, &too_large) : std::nullopt;
  if (!plan) {
    if (!why.empty()) LogPrint("%s", why.c_str());
    // The size is worth telling the caller: the image is sound, only too big.
    const std::string detail = too_large ? "BMP in memory: " + why.substr(8, why.size() - 9) : "BMP in memory";
    RecordError(ERR_FILE_READ, detail.c_str());
    return dib::Dib();
  }
  bool no_memory = false;
  dib::Dib result = load(in, *plan, &no_memory);
  if (!result) RecordError(no_memory ? ERR_MEMORY : ERR_FILE_READ, "BMP in memory");
  return result;
}

}  // namespace fileio
