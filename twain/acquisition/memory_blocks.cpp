// Application-driven memory transfer: the application starts the transfer,
// then asks for one block at a time and gets each as a DIB of the image's
// width and the block's rows (for example to process a long page strip by
// strip), and ends the transfer itself. The buffer is sized for the number of
// rows per block the application asks for, within the source's limits.
#include "twain/acquisition/memory_xfer.h"

#include <algorithm>

#include "core/error_record.h"
#include "dib/allocate.h"
#include "log/trace.h"
#include "orivane/errors.h"
#include "orivane/twain_acquire.h"
#include "orivane/twain_session.h"
#include "orivane/twain_settings.h"
#include "twain/acquisition/acquire.h"
#include "twain/session/dsm.h"
#include "twain/session/session.h"

namespace twain {
namespace {

// The buffer for `rows` rows of the image, at least the source's minimum and
// at most its maximum.
std::uint64_t block_buffer_size(const TW_SETUPMEMXFER& setup, const TW_IMAGEINFO& info, int rows) {
  const std::int64_t bytes_per_row =
      (std::int64_t{std::max<TW_INT16>(info.BitsPerPixel, 0)} * std::max(info.ImageWidth, 0) + 31) / 32 * 4;
  const std::int64_t wanted_rows = std::max(rows, 0);
  const std::uint64_t want =
      std::min<std::uint64_t>(setup.MaxBufSize, static_cast<std::uint64_t>(wanted_rows * bytes_per_row));
  return want >= setup.MinBufSize ? want : setup.MinBufSize;
}

int memory_transfer_startup(int rows) {
  MemoryTransfer& t = memory_transfer();
  t.setup = TW_SETUPMEMXFER{};
  t.info = TW_IMAGEINFO{};
  t.block = TW_IMAGEMEMXFER{};
  t.done = false;
  LogPrint("  MemoryXferStartup(%d)\n", rows);
  t.buffer.reset();
  t.buffer_size = 0;
  if (!ds_call(DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &t.setup)) return 0;
  if (!ds_call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &t.info)) {
    LogPrint("** aborting transfer\n");
    return 0;
  }
  t.pixels_remaining = std::int64_t{t.info.ImageLength} * t.info.ImageWidth;
  t.channel = 0;
  t.channels = t.info.Planar ? t.info.SamplesPerPixel : 1;
  if (t.info.Planar && t.channels > 1) {
    LogPrint("** Can't handle multi-plane memory transfers.\n");
    return 0;
  }
  t.pixel_flavor = memory_read_pixel_flavor(t.info);
  const std::uint64_t size = block_buffer_size(t.setup, t.info, rows);
  LogPrint("Using buffer size %d\n", static_cast<int>(std::min<std::uint64_t>(size, INT32_MAX)));
  if (!memory_buffer_allocate(t, size)) {
    LogPrint("** malloc => NULL!\n");
    RecordError(ERR_MEMORY, "MemoryXferStartup");
    return 0;
  }
  return 1;
}

// The DIB of one block: the image's width and the block's rows (no more than
// the image has), holding the block's pixels, or its bytes for a compressed
// image.
dib::Dib block_image(const MemoryTransfer& t) {
  const std::int64_t rows = std::min<std::int64_t>(t.block.Rows, std::max(t.info.ImageLength, 0));
  dib::Dib image = dib::try_allocate(t.info.BitsPerPixel, t.info.ImageWidth, static_cast<int>(rows));
  if (!image) {
    RecordError(ERR_MEMORY, "AcquireMemoryBlock");
    return image;
  }
  const bool compressed = t.info.Compression != TWCP_NONE;
  if (compressed) {
    dib::Locked lock(image.get());
    dib::InfoHeader h = lock->header();
    h.compression = (h.compression & ~dib::kCompressionCodeMask) |
                    ((std::uint32_t{t.info.Compression} << 8) & dib::kCompressionCodeMask);
    h.size_image = 0;
    lock->store_header(h);
  }
  // The block's first row is the DIB's first row, whatever its YOffset.
  if (!BmiCopyMemoryBuffer(image.get(), t.block, t.info, 0, t.channel)) {
    MemTransferError("BmiCopyMemoryBuffer failed", t.block, t.info, t.channel);
    return dib::Dib();
  }
  if (compressed) return image;
  recover_resolution(image.get());
  return dib::Dib(memory_fix_up(image.release(), t.info, t.pixel_flavor));
}

dib::Handle acquire_block() {
  MemoryTransfer& t = memory_transfer();
  if (TWAIN_XferMech() != TWSX_MEMORY) {
    LogPrint("  xfermech != memory!\n");
    return 0;
  }
  if (t.done) {
    LogPrint("  called when bDone=TRUE\n");
    return 0;
  }
  if (!t.buffer) {
    LogPrint("  no transfer started\n");
    return 0;
  }
  const BlockFetch fetched = memory_block_fetch(t);
  if (fetched == BlockFetch::kFailed && session().last_return_code == TWRC_CANCEL)
    RecordError(ERR_CANCELLED, nullptr);
  if (fetched != BlockFetch::kOk) return 0;
  memory_block_account(t);
  return block_image(t).release();
}

}  // namespace
}  // namespace twain

using twain::memory_transfer;

int TWAIN_BeginAcquireMemory(uintptr_t window, int rows) {
  LogApiCall("BeginAcquireMemory(0x%08lx)\n", static_cast<unsigned long>(window));
  core::error_clear();
  const platform::WindowHandle parent = twain::parent_window_check(window);
  TWAIN_SetXferMech(TWSX_MEMORY);
  if (!TWAIN_PreAcquire(parent)) return 0;
  TWAIN_WaitForXfer(parent);
  if (TWAIN_State() != 6) return 0;
  return twain::memory_transfer_startup(rows);
}

uintptr_t TWAIN_AcquireMemoryBlock(void) {
  LogApiCall("AcquireMemoryBlock...\n");
  dib::Handle image = 0;
  try {
    image = twain::acquire_block();
  } catch (const dib::Error& e) {
    RecordError(e.code(), "AcquireMemoryBlock");
  } catch (...) {
    RecordError(ERR_MEMORY, "AcquireMemoryBlock");
  }
  LogPrint("AcquireMemoryBlock => %08lx, bDone=%d\n", static_cast<unsigned long>(image),
           memory_transfer().done ? 1 : 0);
  return image;
}

int TWAIN_EndAcquireMemory(void) {
  LogApiCall("EndAcquireMemory\n");
  twain::end_transfer();
  twain::memory_transfer_end();
  TWAIN_PostAcquire();
  return 1;
}
