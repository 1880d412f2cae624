// The buffered memory transfer: the source hands the image over as a series
// of blocks (strips or tiles, possibly one colour channel at a time, possibly
// compressed), each described by a TW_IMAGEMEMXFER record, and these
// operations assemble them into one DIB. The library's own handler
// (MemoryXferHandler, declared in twain/acquisition/acquire.h) runs the whole image; the
// application-driven variant (TWAIN_BeginAcquireMemory ...) hands out one DIB
// per block.
//
// Everything a source reports about sizes and offsets is checked before it is
// used: a block is only ever written inside the DIB and read inside the
// transfer buffer, whatever the source claims.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "dib/dib.h"
#include "orivane/twain.h"

namespace twain {

// Largest transfer buffer the library allocates (bytes). A source that asks
// for more is treated like a failed allocation rather than trusted.
constexpr std::size_t kTransferBufferMax = std::size_t{1} << 30;

// Memory.Flags of every block request: the application owns the buffer and
// hands it over as a plain pointer.
constexpr std::uint32_t kTransferBufferFlags = TWMF_APPOWNS | TWMF_POINTER;

struct FreeDeleter {
  void operator()(std::uint8_t* p) const { std::free(p); }
};

// The one memory transfer in progress (process-wide). The DIB being filled is
// the image-waiting slot of the acquisition (Acquisition::pending_dib).
struct MemoryTransfer {
  TW_SETUPMEMXFER setup{};
  TW_IMAGEINFO info{};
  TW_IMAGEMEMXFER block{};
  std::unique_ptr<std::uint8_t[], FreeDeleter> buffer;  // from the C heap
  std::size_t buffer_size = 0;
  std::int64_t pixels_remaining = 0;
  int channel = 0;
  int channels = 1;        // SamplesPerPixel of a planar image, else 1
  int pixel_flavor = -1;   // ICAP_PIXELFLAVOR of black-and-white images
  // The image is complete. True while no transfer has been started, so a
  // block asked for outside a transfer is refused.
  bool done = true;
  // MemTransferError has shown its message (once per process).
  bool incompatibility_reported = false;
};

MemoryTransfer& memory_transfer();
// Frees the buffer and forgets the transfer (the once-per-process message
// flag stays).
void memory_transfer_end();
// Everything back to its start value, the message flag included (tests).
void memory_transfer_reset_for_tests();

// Checks the image information and makes the transfer DIB (in the image-
// waiting slot): depth BitsPerPixel, ImageWidth x ImageLength, the source's
// resolution and, for compressed data, the TWAIN compression code in the
// second compression byte. 1 on success; 0 after recording ERR_XFER (unknown
// size, unsupported compression or pixel type) or ERR_MEMORY.
int MemXferReady(const TW_IMAGEINFO& info);

// Copies one block into `dib` (a DIB handle the caller owns) at row `y`
// (counted from the top) for colour channel `channel` (0 unless planar).
// Uncompressed blocks are placed by their offsets, clipped to the image and to
// the DIB; a compressed block is appended to the stream after the colour
// table (the block grows as needed). Reads never go past Memory.Length bytes
// of the block's memory. Returns 1 (also for blocks skipped for bad offsets),
// 0 on a hard failure: a DIB that is not one, memory the block names that
// cannot be locked (ERR_XFER "GlobalLock failed"), a stream that cannot grow
// (ERR_MEMORY "GlobalReAlloc"), BytesWritten beyond the block's memory.
int BmiCopyMemoryBuffer(dib::Handle dib, const TW_IMAGEMEMXFER& block, const TW_IMAGEINFO& info,
                        int y, int channel);

// Whether BmiCopyMemoryBuffer already puts the samples in the DIB's blue-first
// order: chunky 24-bit RGB, the common case, is exchanged while it is copied
// (one pass over the page instead of two); every other layout arrives in the
// source's order and memory_fix_up turns it.
bool copy_turns_rgb(const TW_IMAGEINFO& info, int dib_depth);

// Tells the user, once per process, that the source's blocks cannot be used:
// traces the message, puts it on the clipboard and shows it in the error box.
// Records nothing.
void MemTransferError(const char* reason, const TW_IMAGEMEMXFER& block, const TW_IMAGEINFO& info,
                      int channel);
// The text of that message (at most 2048 characters), for the source that is
// open now.
std::string memory_incompatibility_text(const char* reason, const TW_IMAGEMEMXFER& block,
                                        const TW_IMAGEINFO& info, int channel);

// Turns a DIB filled with the source's samples into the library's layout by
// the image's pixel type: RGB samples to BGR order, the source's palette,
// the subtractive mark of CMY/CMYK, vanilla black-and-white inverted.
// Returns `dib`, or 0 when the palette cannot be read (the DIB is then freed
// and ERR_DS_OPERATION recorded).
dib::Handle memory_fix_up(dib::Handle dib, const TW_IMAGEINFO& info, int pixel_flavor);

// Takes the source's palette into an image of 8 bits or fewer: entry Index
// of the table becomes (Channel1, Channel2, Channel3) (indices the table
// does not have are ignored) and the table keeps NumColors entries (more if
// an Index lies beyond them); a shorter table moves the pixel rows up behind
// it, so the block stays a valid DIB. Throws dib::Error for a handle that is not a DIB.
void memory_palette_apply(dib::Handle dib, const TW_PALETTE8& palette);

// --- Shared by the handler and the application-driven blocks -------------
// Reads ICAP_PIXELFLAVOR for a black-and-white image (-1 when unknown or not
// black and white).
int memory_read_pixel_flavor(const TW_IMAGEINFO& info);
// Allocates the transfer buffer (replacing an earlier one). False when the
// size is 0, above kTransferBufferMax, or the allocation fails.
bool memory_buffer_allocate(MemoryTransfer& t, std::uint64_t size);

enum class BlockFetch {
  kOk,         // a block arrived and passed the size check
  kFailed,     // the source refused the call (cancel, failure, ...)
  kRefused,    // the block claims more bytes than the buffer holds
};
// Asks the source for the next block into the transfer buffer, checks its
// size and applies the column quirk of some sources.
BlockFetch memory_block_fetch(MemoryTransfer& t);
// After a block: counts its pixels and decides whether the image (or the
// current channel) is complete; reads the extended image information when
// the source said the transfer is done.
void memory_block_account(MemoryTransfer& t);
// The destination row of the current block (YOffset, "don't care" = 0).
int memory_block_row(const TW_IMAGEMEMXFER& block);

}  // namespace twain
