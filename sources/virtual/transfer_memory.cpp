// DG_CONTROL / DAT_SETUPMEMXFER and DG_IMAGE / DAT_IMAGEMEMXFER: the page in
// blocks of the application's buffer. Uncompressed pages go as strips of
// whole rows (a configured list of heights, cycled, or as many rows as fit),
// as tiles, or planar: every row of the first channel, then of the next.
// Compressed pages (Group 4, JPEG) go as consecutive pieces of the stream.
// The last block answers TWRC_XFERDONE.
#include <algorithm>
#include <cstring>

#include "sources/virtual/compress.h"
#include "sources/virtual/transfer.h"

namespace vscan {
namespace {

std::size_t align_up(std::size_t n, std::size_t alignment) {
  return (n + alignment - 1) / alignment * alignment;
}

// Bits one pixel position takes in a block (planar: one sample).
int block_bits(const ImageShape& shape) {
  return shape.planar ? shape.bits_per_sample : shape.format.bit_depth;
}

std::size_t block_row_bytes(const ImageShape& shape, const DeviceConfig& device, int columns) {
  const std::size_t bytes = (static_cast<std::size_t>(columns) * block_bits(shape) + 7) / 8;
  return align_up(bytes, static_cast<std::size_t>(device.mem_row_align));
}

// The bytes of one block row for a buffer size: a whole row, or a whole tile
// row.
std::size_t unit_row_bytes(const ImageShape& shape, const DeviceConfig& device) {
  const int columns =
      shape.tiles ? std::min(device.tile_width, shape.format.width) : shape.format.width;
  return block_row_bytes(shape, device, columns);
}

// The application's buffer, located.
struct Buffer {
  std::uint8_t* bytes = nullptr;
  std::size_t length = 0;
  TW_HANDLE locked = nullptr;
};

std::optional<Buffer> buffer_open(const DsmMemory& memory, const TW_MEMORY& m) {
  if (m.TheMem == nullptr || m.Length == 0) return std::nullopt;
  Buffer buffer;
  buffer.length = m.Length;
  if (m.Flags & TWMF_HANDLE) {
    buffer.locked = m.TheMem;
    buffer.bytes = static_cast<std::uint8_t*>(memory.lock(m.TheMem));
    if (buffer.bytes == nullptr) return std::nullopt;
  } else {
    buffer.bytes = static_cast<std::uint8_t*>(m.TheMem);
  }
  return buffer;
}

void buffer_close(const DsmMemory& memory, const Buffer& buffer) {
  if (buffer.locked != nullptr) memory.unlock(buffer.locked);
}

// Copies `rows` rows of `columns` pixels from (x, y) of the page into the
// buffer, `row_bytes` apart; planar blocks take only `channel`.
void copy_rows(const Raster& raster, const ImageShape& shape, int x, int y, int columns, int rows,
               int channel, std::size_t row_bytes, std::uint8_t* out) {
  const int bits = shape.format.bit_depth;
  for (int r = 0; r < rows; ++r) {
    const std::uint8_t* in = raster.pixels.data() + raster.bytes_per_row * (y + r);
    std::uint8_t* row = out + row_bytes * r;
    std::memset(row, 0, row_bytes);
    if (shape.planar) {
      for (int c = 0; c < columns; ++c) row[c] = in[(x + c) * shape.samples + channel];
      continue;
    }
    // Tiles start on whole bytes (their width is a multiple of 8 pixels).
    const std::size_t start = static_cast<std::size_t>(x) * bits / 8;
    const std::size_t bytes = (static_cast<std::size_t>(columns) * bits + 7) / 8;
    std::memcpy(row, in + start, std::min(bytes, raster.bytes_per_row - start));
    if (const int tail = (columns * bits) % 8; tail != 0)
      row[bytes - 1] &= static_cast<std::uint8_t>(0xff << (8 - tail));
  }
}

Reply fill_compressed(Page& page, const Raster& raster, double quality, const Buffer& buffer,
                      TW_IMAGEMEMXFER& block) {
  MemoryProgress& progress = page.memory;
  if (!progress.stream_made) {
    auto stream = page.shape.compression == TWCP_GROUP4
                      ? compress_group4(raster)
                      : compress_jpeg(raster, static_cast<int>(quality));
    if (!stream) return refuse(TWCC_OPERATIONERROR);
    progress.stream = std::move(*stream);
    progress.stream_made = true;
  }
  const std::size_t n = std::min(buffer.length, progress.stream.size() - progress.stream_sent);
  std::memcpy(buffer.bytes, progress.stream.data() + progress.stream_sent, n);
  progress.stream_sent += n;
  const PageFormat& f = page.shape.format;
  block.Compression = page.shape.compression;
  block.BytesPerRow =
      static_cast<TW_UINT32>((static_cast<std::size_t>(f.width) * f.bit_depth + 7) / 8);
  block.Columns = static_cast<TW_UINT32>(f.width);
  block.Rows = static_cast<TW_UINT32>(f.height);
  block.XOffset = 0;
  block.YOffset = 0;
  block.BytesWritten = static_cast<TW_UINT32>(n);
  progress.done = progress.stream_sent >= progress.stream.size();
  return kDone;
}

// The height of the next strip: the configured list, cycled, else as many
// rows as the buffer holds.
int strip_rows(const DeviceConfig& device, MemoryProgress& progress, std::size_t fit) {
  if (device.mem_rows.empty()) return static_cast<int>(std::min<std::size_t>(fit, 1 << 30));
  const int rows = device.mem_rows[progress.rows_index % device.mem_rows.size()];
  ++progress.rows_index;
  return static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(rows), fit));
}

Reply fill_uncompressed(Page& page, const Raster& raster, const DeviceConfig& device,
                        const Buffer& buffer, TW_IMAGEMEMXFER& block) {
  MemoryProgress& p = page.memory;
  const ImageShape& shape = page.shape;
  const PageFormat& f = shape.format;
  const int columns = shape.tiles ? std::min(device.tile_width, f.width - p.column) : f.width;
  const std::size_t row_bytes = block_row_bytes(shape, device, columns);
  const std::size_t fit = buffer.length / row_bytes;
  if (fit == 0) return refuse(TWCC_BADVALUE);  // not even one row fits
  int rows = 0;
  if (shape.tiles) {
    // Every tile of a tile row has the height of its first one.
    if (p.column == 0) {
      p.tile_rows =
          static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(device.tile_height),
                                                 buffer.length / unit_row_bytes(shape, device)));
    }
    if (p.tile_rows == 0) return refuse(TWCC_BADVALUE);
    rows = static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(p.tile_rows), fit));
  } else {
    rows = strip_rows(device, p, fit);
  }
  rows = std::max(1, std::min(rows, f.height - p.row));
  copy_rows(raster, shape, shape.tiles ? p.column : 0, p.row, columns, rows, p.channel, row_bytes,
            buffer.bytes);
  block.Compression = TWCP_NONE;
  block.BytesPerRow = static_cast<TW_UINT32>(row_bytes);
  block.Columns = static_cast<TW_UINT32>(columns);
  block.Rows = static_cast<TW_UINT32>(rows);
  block.XOffset = static_cast<TW_UINT32>(shape.tiles ? p.column : 0);
  block.YOffset = static_cast<TW_UINT32>(p.row);
  block.BytesWritten = static_cast<TW_UINT32>(row_bytes * rows);
  if (device.mem_quirk == MemoryQuirk::WideColumns && !shape.tiles) block.Columns += 8;
  if (device.mem_quirk == MemoryQuirk::XOffsetUnset) block.XOffset = TWON_DONTCARE32;

  // Advance: across the tile row, down the page, then to the next channel.
  if (shape.tiles && p.column + columns < f.width) {
    p.column += columns;
    return kDone;
  }
  p.column = 0;
  p.row += rows;
  if (p.row < f.height) return kDone;
  p.row = 0;
  if (shape.planar && p.channel + 1 < shape.samples) {
    ++p.channel;
    return kDone;
  }
  p.done = true;
  return kDone;
}

}  // namespace

Reply setup_mem_xfer_call(SourceState& state, Session& session, TW_UINT16 msg, TW_MEMREF data) {
  auto* setup = static_cast<TW_SETUPMEMXFER*>(data);
  if (msg != MSG_GET) return refuse(TWCC_BADPROTOCOL);
  if (session.state == DsState::Transferring) return refuse(TWCC_SEQERROR);
  if (setup == nullptr) return refuse(TWCC_BADVALUE);
  const DeviceConfig& device = session_device(state, session);
  const ImageShape shape =
      session.page ? session.page->shape : image_shape(device, session.settings);
  // A buffer must hold at least one row (or tile row) of the image.
  const auto row =
      static_cast<TW_UINT32>(std::min<std::size_t>(unit_row_bytes(shape, device), 0xffffffffu));
  setup->MinBufSize = std::max(device.mem_min, row);
  setup->Preferred = std::max(device.mem_preferred, setup->MinBufSize);
  setup->MaxBufSize = std::max(device.mem_max, setup->Preferred);
  return kDone;
}

Reply mem_xfer_call(SourceState& state, Session& session, TW_UINT16 msg, TW_MEMREF data) {
  auto* block = static_cast<TW_IMAGEMEMXFER*>(data);
  if (msg != MSG_GET) return refuse(TWCC_BADPROTOCOL);
  if (block == nullptr) return refuse(TWCC_BADVALUE);
  const DeviceConfig& device = session_device(state, session);
  const Raster* raster = nullptr;
  if (session.state == DsState::TransferReady) {
    const Reply begun = transfer_begin(session, device, TWSX_MEMORY, raster);
    if (begun.rc != TWRC_SUCCESS) return begun;
  } else if (session.state == DsState::Transferring && session.page && session.page->raster &&
             !session.page->memory.done) {
    raster = session.page->raster.get();
  } else {
    return refuse(TWCC_SEQERROR);
  }
  Page& page = *session.page;
  if (device.mem_fail_block == page.memory.block + 1) return refuse(TWCC_OPERATIONERROR);

  const DsmMemory memory(state.dsm);
  const auto buffer = buffer_open(memory, block->Memory);
  if (!buffer) return refuse(TWCC_BADVALUE);
  const Reply filled =
      page.shape.compression != TWCP_NONE
          ? fill_compressed(page, *raster, session.settings.jpeg_quality, *buffer, *block)
          : fill_uncompressed(page, *raster, device, *buffer, *block);
  buffer_close(memory, *buffer);
  if (filled.rc != TWRC_SUCCESS) return filled;
  ++page.memory.block;
  session.state = DsState::Transferring;
  if (!page.memory.done) return kDone;
  page.delivered = true;
  return Reply{TWRC_XFERDONE, TWCC_SUCCESS};
}

Reply palette_call(SourceState&, Session& session, TW_UINT16 msg, TW_MEMREF data) {
  auto* palette = static_cast<TW_PALETTE8*>(data);
  if (msg != MSG_GET) return refuse(TWCC_BADPROTOCOL);
  if (session.state != DsState::TransferReady && session.state != DsState::Transferring)
    return refuse(TWCC_SEQERROR);
  if (palette == nullptr) return refuse(TWCC_BADVALUE);
  if (!session.page || session.page->shape.format.pixel_type != TWPT_PALETTE)
    return refuse(TWCC_BADPROTOCOL);
  const auto& colours = page_palette();
  palette->NumColors = static_cast<TW_UINT16>(colours.size());
  palette->PaletteType = TWPA_RGB;
  std::copy(colours.begin(), colours.end(), palette->Colors);
  return kDone;
}

}  // namespace vscan
