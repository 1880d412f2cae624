// The library's memory-transfer handler: asks the source for the buffer sizes
// and the image information, makes the transfer DIB, then receives block
// after block into one buffer and copies each into the DIB until the source
// says the transfer is done (or every channel's pixels have arrived). The
// finished DIB gets the fix-ups of its pixel type and the post-transfer
// processing, and waits in the acquisition's image slot.
#include "twain/acquisition/memory_xfer.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "core/error_record.h"
#include "core/state_registry.h"
#include "dib/allocate.h"
#include "log/trace.h"
#include "orivane/errors.h"
#include "orivane/twain_settings.h"
#include "platform/memblock.h"
#include "platform/rgb_swap.h"
#include "twain/acquisition/acquire.h"
#include "twain/capabilities/capability.h"
#include "twain/capabilities/item_values.h"
#include "twain/session/dsm.h"
#include "twain/session/session.h"

namespace twain {

MemoryTransfer& memory_transfer() {
  static MemoryTransfer t;
  return t;
}

void memory_transfer_end() {
  MemoryTransfer& t = memory_transfer();
  const bool reported = t.incompatibility_reported;
  t = MemoryTransfer{};
  t.incompatibility_reported = reported;
}

void memory_transfer_reset_for_tests() { memory_transfer() = MemoryTransfer{}; }

namespace {

// The image-waiting slot holds the transfer DIB.
dib::Handle& transfer_dib() { return acquisition().pending_dib; }

void transfer_dib_free() {
  if (transfer_dib() != 0) dib::dib_free(transfer_dib());
  transfer_dib() = 0;
}

bool compression_supported(unsigned compression) {
  switch (compression) {
    case TWCP_NONE:
    case TWCP_GROUP31D:
    case TWCP_GROUP31DEOL:
    case TWCP_GROUP32D:
    case TWCP_GROUP4:
    case TWCP_JPEG: return true;
    default: return false;
  }
}

std::int32_t ppm_of(const TW_FIX32& dpi) { return dib::dpi_to_ppm(fix32_to_double(dpi.Whole, dpi.Frac)); }

// ---- fix-ups ----------------------------------------------------------------

// TWAIN sends red first; the DIB keeps blue first.
void swap_red_blue(dib::DibView& v) {
  std::size_t pixel_bytes = 0, sample_bytes = 0;
  switch (v.depth()) {
    case 24: pixel_bytes = 3, sample_bytes = 1; break;
    case 32: pixel_bytes = 4, sample_bytes = 1; break;
    case 48: pixel_bytes = 6, sample_bytes = 2; break;
    case 64: pixel_bytes = 8, sample_bytes = 2; break;
    default: return;
  }
  if (pixel_bytes == 3) {
    for (int y = 0; y < v.height(); ++y) {
      std::uint8_t* row = v.row_unchecked(y);
      platform::swap_rb24(row, row, static_cast<std::size_t>(v.width()));
    }
    return;
  }
  std::uint8_t tmp[2];
  for (int y = 0; y < v.height(); ++y) {
    std::uint8_t* p = v.row_unchecked(y);
    for (int x = 0; x < v.width(); ++x, p += pixel_bytes) {
      std::memcpy(tmp, p, sample_bytes);
      std::memcpy(p, p + 2 * sample_bytes, sample_bytes);
      std::memcpy(p + 2 * sample_bytes, tmp, sample_bytes);
    }
  }
}

void invert_pixels(dib::DibView& v) {
  for (int y = 0; y < v.height(); ++y) {
    std::uint8_t* p = v.row_unchecked(y);
    for (std::size_t i = 0; i < v.stride(); ++i) p[i] = static_cast<std::uint8_t>(~p[i]);
  }
}

}  // namespace

void memory_palette_apply(dib::Handle h, const TW_PALETTE8& palette) {
  std::size_t new_size = 0;
  {
    dib::Locked lock(h);
    dib::DibView& v = lock.view();
    const std::span<dib::Rgbq> table = v.table();
    if (table.empty() || palette.NumColors == 0) return;
    const std::size_t count = std::min<std::size_t>(palette.NumColors, 256);
    std::size_t keep = count;  // entries the table keeps: every index the palette sets
    for (std::size_t i = 0; i < count; ++i) {
      const TW_ELEMENT8& e = palette.Colors[i];
      if (e.Index >= table.size()) continue;
      table[e.Index] = dib::Rgbq{e.Channel3, e.Channel2, e.Channel1, 0};
      keep = std::max<std::size_t>(keep, e.Index + 1u);
    }
    if (keep >= table.size()) return;
    dib::InfoHeader h_new = v.header();
    const std::size_t old_offset = v.pixel_offset();
    const std::size_t new_offset = h_new.size + keep * dib::kEntryBytes;
    const std::size_t pixels = v.block_size() - old_offset;
    std::memmove(v.block() + new_offset, v.block() + old_offset, pixels);
    h_new.clr_used = static_cast<std::uint32_t>(keep);
    v.store_header(h_new);
    new_size = new_offset + pixels;
  }
  platform::mem_realloc(h, new_size);  // shrinking; a refusal keeps a larger, valid block
}

namespace {

// ---- one image --------------------------------------------------------------

// Steps before the first block: the buffer sizes, the image information, the
// channels and the pixel flavor.
bool transfer_describe(MemoryTransfer& t) {
  if (!ds_call(DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &t.setup)) return false;
  if (!ds_call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &t.info)) {
    LogPrint("** aborting transfer\n");
    return false;
  }
  t.pixels_remaining = std::int64_t{t.info.ImageLength} * t.info.ImageWidth;
  t.channel = 0;
  t.channels = t.info.Planar ? t.info.SamplesPerPixel : 1;
  if (t.channels != 1) LogPrint("Starting Channel 0\n");
  t.pixel_flavor = memory_read_pixel_flavor(t.info);
  return true;
}

void transfer_blocks(MemoryTransfer& t) {
  while (!t.done) {
    const BlockFetch fetched = memory_block_fetch(t);
    if (fetched != BlockFetch::kOk) return;
    if (!BmiCopyMemoryBuffer(transfer_dib(), t.block, t.info, memory_block_row(t.block), t.channel)) {
      MemTransferError("BmiCopyMemoryBuffer failed", t.block, t.info, t.channel);
      return;
    }
    memory_block_account(t);
  }
}

// A compressed stream keeps only the bytes that arrived (rounded up to whole
// 32-bit words).
void shrink_compressed(dib::Handle h) {
  std::size_t size = 0;
  {
    dib::Locked lock(h);
    const std::uint64_t bytes = (std::uint64_t{lock->header().size_image} + 3) / 4 * 4;
    size = static_cast<std::size_t>(std::min<std::uint64_t>(lock->pixel_offset() + bytes, lock->block_size()));
  }
  platform::mem_realloc(h, size);
}

// Step after the last block: the finished image's fix-ups and processing.
bool transfer_finish(const MemoryTransfer& t) {
  if (t.info.Compression != TWCP_NONE) {
    shrink_compressed(transfer_dib());
    return true;
  }
  const dib::Handle fixed = memory_fix_up(transfer_dib(), t.info, t.pixel_flavor);
  if (fixed == 0) {
    transfer_dib() = 0;  // freed by the fix-up
    return false;
  }
  transfer_dib() = PostProcessDib(fixed, &t.info);
  return transfer_dib() != 0;
}

bool transfer_image(MemoryTransfer& t) {
  if (!transfer_describe(t)) return false;
  if (!MemXferReady(t.info)) {
    LogPrint("MemXferReady(info) returned false!\n** aborting transfer\n");
    return false;
  }
  if (!memory_buffer_allocate(t, t.setup.Preferred)) {
    LogPrint("** malloc failed!\n");
    transfer_dib_free();
    RecordError(ERR_MEMORY, "Memory Transfer");
    return false;
  }
  if (t.info.Compression != TWCP_NONE) {
    dib::Locked lock(transfer_dib());
    dib::InfoHeader h = lock->header();
    h.size_image = 0;
    lock->store_header(h);
  }
  t.done = false;
  transfer_blocks(t);
  if (!t.done && session().last_return_code == TWRC_CANCEL) {
    LogNewLine();
    RecordError(ERR_CANCELLED, nullptr);
  }
  if (!t.done) return false;
  t.done = transfer_finish(t);
  return t.done;
}

}  // namespace

// ---- shared steps -------------------------------------------------------------

int memory_read_pixel_flavor(const TW_IMAGEINFO& info) {
  if (info.PixelType != TWPT_BW) return -1;
  TW_UINT16 flavor = 0;
  return get_cap_current(ICAP_PIXELFLAVOR, kTyUint16, &flavor) ? flavor : -1;
}

bool memory_buffer_allocate(MemoryTransfer& t, std::uint64_t size) {
  t.buffer.reset();
  t.buffer_size = 0;
  if (size == 0 || size > kTransferBufferMax) return false;
  t.buffer.reset(static_cast<std::uint8_t*>(std::malloc(static_cast<std::size_t>(size))));
  if (!t.buffer) return false;
  t.buffer_size = static_cast<std::size_t>(size);
  return true;
}

BlockFetch memory_block_fetch(MemoryTransfer& t) {
  TW_IMAGEMEMXFER& mx = t.block;
  mx.Memory.Length = static_cast<TW_UINT32>(t.buffer_size);
  mx.Memory.Flags = kTransferBufferFlags;
  mx.Memory.TheMem = t.buffer.get();
  const int ok = ds_call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &mx);
  // The memory fields are the application's: whatever a source left in them,
  // the copy must see the buffer that was handed over.
  mx.Memory.Length = static_cast<TW_UINT32>(t.buffer_size);
  mx.Memory.Flags = kTransferBufferFlags;
  mx.Memory.TheMem = t.buffer.get();
  if (!ok) return BlockFetch::kFailed;
  // "Don't care" means the source did not say; the copy bounds its reads.
  if (mx.BytesWritten != TWON_DONTCARE32 && mx.BytesWritten > mx.Memory.Length) {
    MemTransferError("mx.BytesWritten > mx.Memory.Length", mx, t.info, t.channel);
    return BlockFetch::kRefused;
  }
  if (mx.XOffset == 0 && mx.Columns > static_cast<std::uint32_t>(std::max(t.info.ImageWidth, 0))) {
    LogPrint("#HACK[HP PictureScan 3] mx.Columns > info.ImageWidth\n");
    if (mx.BytesWritten > 0 && std::uint64_t{mx.Rows} * mx.BytesPerRow == mx.BytesWritten)
      mx.Columns = static_cast<TW_UINT32>(t.info.ImageWidth);
  }
  return BlockFetch::kOk;
}

void memory_block_account(MemoryTransfer& t) {
  const TW_IMAGEMEMXFER& mx = t.block;
  if (t.info.Compression == TWCP_NONE) {
    std::uint64_t pixels = 0;
    const bool huge = __builtin_mul_overflow(std::uint64_t{mx.Rows}, std::uint64_t{mx.Columns}, &pixels);
    if (huge || pixels >= static_cast<std::uint64_t>(std::max<std::int64_t>(t.pixels_remaining, 0))) {
      t.pixels_remaining = 0;
    } else {
      t.pixels_remaining -= static_cast<std::int64_t>(pixels);
    }
  }
  if (session().last_return_code == TWRC_XFERDONE) {
    LogPrint("  RC = TWRC_XFERDONE, ending transfer\n    nPixels = %lld\n",
             static_cast<long long>(t.pixels_remaining));
    t.done = true;
    RetrieveExtendedImageInfo();
    return;
  }
  if (t.pixels_remaining > 0) return;
  if (++t.channel < t.channels) {
    t.pixels_remaining = std::int64_t{t.info.ImageLength} * t.info.ImageWidth;
    LogPrint("Starting Channel %d\n", t.channel);
  } else {
    LogPrint("%d Planes filled, ending transfer\n", t.channel);
    t.done = true;
  }
}

int memory_block_row(const TW_IMAGEMEMXFER& block) {
  if (block.YOffset == TWON_DONTCARE32) return 0;
  // Offsets past the int range are refused by the copy as negative.
  return static_cast<std::int32_t>(block.YOffset);
}

// ---- the operations -------------------------------------------------------------

int MemXferReady(const TW_IMAGEINFO& info) {
  if (info.ImageLength < 0) {
    RecordError(ERR_XFER, "unknown image length");
    return 0;
  }
  if (info.ImageWidth < 0) {
    RecordError(ERR_XFER, "unknown image width");
    return 0;
  }
  if (!compression_supported(info.Compression)) {
    RecordError(ERR_XFER, "unsupported compression");
    return 0;
  }
  if (info.PixelType >= TWPT_YUV) {
    RecordError(ERR_XFER, "unsupported pixel type");
    return 0;
  }
  dib::Dib image = dib::try_allocate(info.BitsPerPixel, info.ImageWidth, info.ImageLength);
  if (!image) {
    RecordError(ERR_MEMORY, "MemXferReady");
    return 0;
  }
  {
    dib::Locked lock(image.get());
    dib::InfoHeader h = lock->header();
    h.x_ppm = ppm_of(info.XResolution);
    h.y_ppm = ppm_of(info.YResolution);
    h.compression = (h.compression & ~dib::kCompressionCodeMask) |
                    ((std::uint32_t{info.Compression} << 8) & dib::kCompressionCodeMask);
    lock->store_header(h);
  }
  transfer_dib_free();  // an image nobody collected gives way to the new one
  transfer_dib() = image.release();
  return 1;
}

dib::Handle memory_fix_up(dib::Handle h, const TW_IMAGEINFO& info, int pixel_flavor) {
  if (info.PixelType == TWPT_PALETTE) {
    TW_PALETTE8 palette{};
    if (!ds_call(DG_IMAGE, DAT_PALETTE8, MSG_GET, &palette)) {
      LogPrint("  DAT_PALETTE8, MSG_GET failed\n");
      dib::dib_free(h);
      RecordError(ERR_DS_OPERATION, "DAT_PALETTE8/MSG_GET");
      return 0;
    }
    memory_palette_apply(h, palette);
    return h;
  }
  dib::Locked lock(h);
  dib::DibView& v = lock.view();
  if (!v.rows_ok()) return h;
  if (info.PixelType == TWPT_RGB) {
    LogPrint("RGB transfer: BmiBuggerAll.\n");
    if (!copy_turns_rgb(info, v.depth())) swap_red_blue(v);
  } else if (info.PixelType == TWPT_CMY || info.PixelType == TWPT_CMYK) {
    // Only whole-byte colour depths carry the mark; a 16-bit image's low
    // byte names its masks.
    if (v.depth() >= 24) {
      dib::InfoHeader hd = v.header();
      hd.compression = (hd.compression & ~0xFFu) | dib::kCompressionSubtractive;
      v.store_header(hd);
    }
  } else if (info.PixelType == TWPT_BW && pixel_flavor == TWPF_VANILLA) {
    invert_pixels(v);
  }
  return h;
}

int MemoryXferHandler(intptr_t) {
  MemoryTransfer& t = memory_transfer();
  t.setup = TW_SETUPMEMXFER{};
  t.info = TW_IMAGEINFO{};
  t.block = TW_IMAGEMEMXFER{};
  t.done = false;
  LogPrint("start of MemoryXferHandler\n");
  bool done = false;
  try {
    done = transfer_image(t);
  } catch (const dib::Error& e) {
    RecordError(e.code(), "Memory Transfer");
  } catch (const std::bad_alloc&) {
    RecordError(ERR_MEMORY, "Memory Transfer");
  } catch (...) {
    RecordError(ERR_FAILURE, "Memory Transfer");
  }
  LogPrint("__finally.  bDone = %s\n", done ? "true" : "false");
  if (!done) transfer_dib_free();
  memory_transfer_end();
  LogPrint("MemoryXferHandler => %s\n", done ? "TRUE" : "FALSE");
  return done ? 1 : 0;
}

}  // namespace twain

// ---- whole acquisitions -------------------------------------------------------

namespace {

uintptr_t acquire_by_memory(uintptr_t window) {
  const platform::WindowHandle parent = twain::parent_window_check(window);
  uintptr_t image = 0;
  if (TWAIN_PreAcquire(parent)) image = TWAIN_WaitForNativeXfer(parent);
  TWAIN_PostAcquire();
  return image;
}

}  // namespace

uintptr_t TWAIN_AcquireMemory(uintptr_t window) {
  LogApiCall("AcquireMemory(0x%08lx)\n", static_cast<unsigned long>(window));
  // A source that refuses the memory mechanism still delivers its image by
  // the mechanism it has.
  TWAIN_SetXferMech(TWSX_MEMORY);
  return acquire_by_memory(window);
}

uintptr_t TWAIN_AcquireCompressed(uintptr_t window) {
  LogApiCall("AcquireCompressed(0x%08lx)\n", static_cast<unsigned long>(window));
  if (TWAIN_XferMech() != TWSX_MEMORY) TWAIN_SetXferMech(TWSX_MEMORY);
  return acquire_by_memory(window);
}

namespace {

// The memory transfer under way (TWAIN_ResetAll ends it itself).
const bool kMemoryTransferRegistered = core::register_state({"twain.memory_transfer", [] { twain::memory_transfer_reset_for_tests(); }, nullptr});

}  // namespace
