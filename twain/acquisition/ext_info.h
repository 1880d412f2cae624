// Extended image information: the request table of TWEI_ codes handed to the
// device after each transfer, the answers the device leaves in it, and the
// readers that turn an answer into a number, a text or a frame.
//
// The table has the device's TW_EXTIMAGEINFO layout (a 32-bit count, then the
// TW_INFO entries), so the very same bytes go to DG_IMAGE / DAT_EXTIMAGEINFO /
// MSG_GET without copying. An entry whose InfoID is 0 is free. The count is
// one more than the highest entry ever used; freeing an entry does not lower
// it, so the device may see free entries inside the count.
//
// An answer's values sit in the entry's Item field when NumItems x item size
// is at most 4 bytes; otherwise Item is a memory block holding NumItems
// values, allocated by the device and released by the library before the next
// retrieval.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "orivane/twain.h"

namespace twain {

constexpr int kExtInfoMaxEntries = 512;
// The first TWEI_ code: lower codes are no extended information at all.
constexpr unsigned kExtInfoFirstCode = 0x1200;
// Values of at most this many bytes sit in the Item field itself.
constexpr std::size_t kExtInfoInlineBytes = 4;
// The process-wide text buffer of TWAIN_ExtendedInfoString.
constexpr std::size_t kExtInfoTextBytes = 1025;

#pragma pack(push, 2)
struct ExtInfoTable {
  TW_UINT32 NumInfos = 0;
  TW_INFO Info[kExtInfoMaxEntries] = {};
};
#pragma pack(pop)
static_assert(offsetof(ExtInfoTable, Info) == offsetof(TW_EXTIMAGEINFO, Info),
              "the table must be readable as the device's TW_EXTIMAGEINFO");

ExtInfoTable& ext_info_table();
// The process-wide text buffer (kExtInfoTextBytes) of TWAIN_ExtendedInfoString.
char* ext_info_text_buffer();
// The table as the device sees it.
TW_EXTIMAGEINFO* ext_info_request();

// The entry of `code` among the first count entries, or null. Code 0 (the
// free marker) is never found.
TW_INFO* ext_info_find(unsigned code);

// Adds `code` to the table (reusing the first free entry) or removes it.
// Adding answers true when the code is now in the table; a full table records
// ERR_FAILURE "too many x-infos enabled". Removing answers whether it was.
bool ext_info_enable(unsigned code, bool on);

// Frees every answer block and clears Item and NumItems; the codes stay.
void ext_info_release_answers();

// --- Reading answers (ext_info_read.cpp) ---

// The bytes of value `index` of an answer, inside a locked block when the
// values do not fit the Item field. Unlocks on destruction. Empty when the
// index is outside, the item type has no size, or the block is missing,
// cannot be locked or is smaller than NumItems values.
class ExtInfoValue {
 public:
  ExtInfoValue(const TW_INFO& info, int index);
  ~ExtInfoValue();
  ExtInfoValue(const ExtInfoValue&) = delete;
  ExtInfoValue& operator=(const ExtInfoValue&) = delete;

  bool ok() const { return !bytes_.empty(); }
  // Whether the values live in a block (NumItems x item size above 4 bytes).
  bool in_block() const { return in_block_; }
  std::span<const unsigned char> bytes() const { return bytes_; }

 private:
  TW_HANDLE block_ = nullptr;
  bool in_block_ = false;
  std::span<const unsigned char> bytes_;
  unsigned char inline_[sizeof(TW_UINTPTR)] = {};
};

// Whether NumItems x item size of the answer exceeds the Item field.
bool ext_info_in_block(const TW_INFO& info);

// Value `index` of `code` as a number (TWTY_INT8 ... TWTY_FIX32), or nothing.
// Argument, type and block failures are recorded; a code that is not enabled
// or an index beyond the answer is not.
std::optional<double> ext_info_number(unsigned code, int index);

// Value `index` of `code` as text into out[0..out_size) (always terminated
// when out_size > 0): BOOL "TRUE(1)", frames "{l, t, r, b}", texts cut to
// their type's length, other numbers "%g". False (empty text) when the code is
// not enabled, the index is outside or the block cannot be read.
bool ext_info_text(unsigned code, int index, char* out, std::size_t out_size);

// Frame `index` of `code` (ItemType TWTY_FRAME) in the frame's units.
struct ExtInfoFrame {
  double left, top, right, bottom;
};
std::optional<ExtInfoFrame> ext_info_frame(unsigned code, int index);

}  // namespace twain
