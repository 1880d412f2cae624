// Capability item values: the size of each TWAIN item type and the exact
// conversions between numbers and items (including the 16.16 fixed-point
// TW_FIX32). Every container read and write goes through these, so a value
// means the same thing whichever container kind carries it.
#pragma once
#include <cstddef>
#include <cstdint>

namespace twain {

// Item types (TWTY_ codes).
enum ItemType : int {
  kTyInt8 = 0, kTyInt16 = 1, kTyInt32 = 2, kTyUint8 = 3, kTyUint16 = 4, kTyUint32 = 5,
  kTyBool = 6, kTyFix32 = 7, kTyFrame = 8, kTyStr32 = 9, kTyStr64 = 10, kTyStr128 = 11,
  kTyStr255 = 12, kTyStr1024 = 13, kTyUni512 = 14, kTyHandle = 15
};

// Bytes of one item of `type`; 0 for codes the standard does not define.
// STR1024 and UNI512 have the standard's sizes (1026 bytes; 512 wide
// characters), so a text set into them is not cut to a few bytes; HANDLE is
// pointer-sized.
std::size_t item_size(int type);
bool item_is_number(int type);   // INT8 ... FIX32
bool item_is_text(int type);     // STR32 ... UNI512

// The 32-bit fixed-point value of `value`: value * 65536 rounded half away
// from zero, clamped to the 32-bit range (non-finite values give 0).
std::int32_t fix32_from_double(double value);
// Whole (signed, high 16 bits) and Frac (low 16 bits) of a fixed-point value.
double fix32_to_double(std::int16_t whole, std::uint16_t frac);

// Writes `value` as an item of `type` at `at` (item_size(type) bytes; texts
// and frames are not numbers and are left unchanged). Integer types take the
// value truncated toward zero and cut to their width; UINT32 keeps values up
// to 4294967295. Returns false for types that do not hold a number.
bool item_write_number(unsigned char* at, int type, double value);
// Reads an item of `type` at `at` as a number: signed types signed, unsigned
// types and BOOL unsigned, FIX32 as Whole + Frac / 65536. Texts, frames and
// unknown types read as 0.
double item_read_number(const unsigned char* at, int type);

// Rounds half away from zero to an int, clamped to the int range.
int round_to_int(double value);

}  // namespace twain
