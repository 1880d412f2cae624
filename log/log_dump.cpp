// The image dump: a DIB's header, colour table or masks, and a few bytes from
// the middle rows, enough to tell from a log whether an image looks sane.
#include "log/trace.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

constexpr std::size_t kInfoHeaderBytes = 40;
constexpr std::size_t kColourEntryBytes = 4;
constexpr std::size_t kMaskBytes = 12;
constexpr std::uint32_t kBitFieldsCompression = 3;
constexpr std::uint32_t kCompressionCodeMask = 0xFF00;  // data is a compressed stream
constexpr std::uint32_t kFullTableMaxEntries = 16;
constexpr std::uint32_t kTableEndsEntries = 8;
constexpr int kDumpRows = 3;
constexpr double kMetresPerInch = 0.0254;

// The information header's fields, read little-endian from the block.
struct DibHeader {
  std::uint32_t size;
  std::int32_t width;
  std::int32_t height;
  std::uint16_t planes;
  std::uint16_t bit_count;
  std::uint32_t compression;
  std::uint32_t size_image;
  std::int32_t x_ppm;
  std::int32_t y_ppm;
  std::uint32_t clr_used;
  std::uint32_t clr_important;
};

template <typename T>
T read_field(const unsigned char* base, std::size_t offset) {
  T value;
  std::memcpy(&value, base + offset, sizeof value);
  return value;
}

DibHeader read_header(const unsigned char* p) {
  DibHeader h{};
  h.size = read_field<std::uint32_t>(p, 0);
  h.width = read_field<std::int32_t>(p, 4);
  h.height = read_field<std::int32_t>(p, 8);
  h.planes = read_field<std::uint16_t>(p, 12);
  h.bit_count = read_field<std::uint16_t>(p, 14);
  h.compression = read_field<std::uint32_t>(p, 16);
  h.size_image = read_field<std::uint32_t>(p, 20);
  h.x_ppm = read_field<std::int32_t>(p, 24);
  h.y_ppm = read_field<std::int32_t>(p, 28);
  h.clr_used = read_field<std::uint32_t>(p, 32);
  h.clr_important = read_field<std::uint32_t>(p, 36);
  return h;
}

bool has_bit_fields(const DibHeader& h) { return (h.compression & 0xFF) == kBitFieldsCompression; }

// Colour-table entries the block holds: the colours-used field, else a full
// table for depths up to 8, else none.
std::uint64_t table_entries(const DibHeader& h) {
  if (h.clr_used != 0) return h.clr_used;
  return (h.bit_count >= 1 && h.bit_count <= 8) ? (std::uint64_t{1} << h.bit_count) : 0;
}

// Where the pixel rows start: behind the header and the masks or table.
std::uint64_t pixel_offset(const DibHeader& h) {
  return h.size + (has_bit_fields(h) ? kMaskBytes : table_entries(h) * kColourEntryBytes);
}

void dump_colour_entry(const unsigned char* table, std::uint32_t index) {
  const unsigned char* q = table + std::size_t{index} * kColourEntryBytes;
  LogPrint("CT[%03u] = %3d,%3d,%3d,%3d\n", index, q[2], q[1], q[0], q[3]);
}

void dump_colour_table(const unsigned char* table, std::uint32_t n) {
  if (n <= kFullTableMaxEntries) {
    for (std::uint32_t i = 0; i < n; ++i) dump_colour_entry(table, i);
    return;
  }
  for (std::uint32_t i = 0; i < kTableEndsEntries; ++i) dump_colour_entry(table, i);
  LogPrint("  ...\n");
  for (std::uint32_t i = n - kTableEndsEntries; i < n; ++i) dump_colour_entry(table, i);
}

void dump_row_bytes(const unsigned char* row, int bits, std::int64_t b0, std::int64_t b1) {
  if (bits == 15 || bits == 16 || bits == 48 || bits == 64) {
    for (std::int64_t w = b0 / 2; w < b1 / 2; ++w) {
      LogPrint("%04X ", read_field<std::uint16_t>(row, static_cast<std::size_t>(w) * 2));
    }
  } else {
    for (std::int64_t b = b0; b < b1; ++b) LogPrint("%02X ", row[b]);
  }
}

// A few bytes from the middle of the three middle rows: a blank or garbled
// image shows there first.
void dump_rows(const unsigned char* block, std::size_t block_size, const DibHeader& h) {
  const std::int64_t bits = h.bit_count;
  if (bits == 0) return;
  const std::int64_t rows = std::llabs(static_cast<std::int64_t>(h.height));
  const std::int64_t width = h.width;
  const std::int64_t stride = ((bits * width + 31) / 32) * 4;
  const std::int64_t r0 = std::max<std::int64_t>(0, rows / 2 - 1);
  const std::int64_t r_end = std::min(r0 + kDumpRows, rows);
  const std::int64_t b0 = (bits * std::max<std::int64_t>(0, width / 2 - 3) + 7) / 8;
  const std::int64_t b1 = (bits * std::min(width / 2 + 64 / bits - 3, width) + 7) / 8;
  for (std::int64_t y = r0; y < r_end; ++y) {
    LogPrint("row[%d]+%d: ", static_cast<int>(y), static_cast<int>(b0));
    // Rows are stored bottom-up when the height is positive.
    const std::int64_t stored = h.height > 0 ? rows - 1 - y : y;
    const __int128 start = static_cast<__int128>(pixel_offset(h)) +
                           static_cast<__int128>(stride) * stored;
    if (stride < 0 || start + b1 > static_cast<__int128>(block_size)) {
      LogPrint("<bad addr>");
    } else {
      dump_row_bytes(block + static_cast<std::size_t>(start), static_cast<int>(bits), b0, b1);
    }
    LogPrint("\n");
  }
}

}  // namespace

void LogDumpDibHeader(const void* header, std::size_t block_size) {
  const auto* p = static_cast<const unsigned char*>(header);
  const std::uint32_t size_field =
      (p != nullptr && block_size >= sizeof(std::uint32_t)) ? read_field<std::uint32_t>(p, 0) : 0;
  LogPrint("Size=%d ", static_cast<int>(size_field));
  if (size_field < kInfoHeaderBytes || size_field > block_size) {
    LogPrint("??invalid\n");
    return;
  }
  const DibHeader h = read_header(p);
  LogPrint(" Planes=%d\nWidth=%d  Height=%d  BitCount=%d\nComp=0x%04x  SizeImage=%d\n"
           "XPPM=%d (%g DPI) YPPM=%d (%g DPI)\nClrUsed=%d ClrImp=%d\n",
           h.planes, h.width, h.height, h.bit_count, h.compression,
           static_cast<int>(h.size_image), h.x_ppm, h.x_ppm * kMetresPerInch, h.y_ppm,
           h.y_ppm * kMetresPerInch, static_cast<int>(h.clr_used),
           static_cast<int>(h.clr_important));

  if (h.bit_count <= 8) {
    // Only the entries that lie inside the block can be shown.
    const std::uint64_t room = (block_size - h.size) / kColourEntryBytes;
    dump_colour_table(p + h.size, static_cast<std::uint32_t>(std::min(table_entries(h), room)));
  } else if (has_bit_fields(h) && h.size + kMaskBytes <= block_size) {
    LogPrint("Masks: 0x%08x 0x%08x 0x%08x\n", read_field<std::uint32_t>(p, h.size),
             read_field<std::uint32_t>(p, h.size + 4), read_field<std::uint32_t>(p, h.size + 8));
  }
  if (h.compression & kCompressionCodeMask) {
    LogPrint("[data is compressed]\n");
    return;
  }
  dump_rows(p, block_size, h);
}

void LogDumpDib(platform::MemHandle dib) {
  LogPrint("hdib=0x%08lx ", static_cast<unsigned long>(dib));
  if (dib == 0) return;
  const std::size_t size = platform::mem_size(dib);
  if (size < kInfoHeaderBytes) {
    LogPrint(" invalid: size=%d", static_cast<int>(size));
  } else if (void* header = platform::mem_lock(dib); header == nullptr) {
    LogPrint(" (lock failed)");
  } else {
    LogDepthUp();
    LogNewLine();
    LogDumpDibHeader(header, size);
    LogDepthDown();
    platform::mem_unlock(dib);
  }
  LogNewLine();
}
