// The records behind CONTAINER handles and the layout rules of the four
// container kinds. A handle is an opaque number looked up in a registry, so
// a freed or foreign handle is refused instead of being followed.
//
// Layouts (little-endian, packed; offsets in bytes):
//   array        ItemType u16 @0, NumItems u32 @2, items @6
//   enumeration  ItemType u16 @0, NumItems u32 @2, CurrentIndex u32 @6,
//                DefaultIndex u32 @10, items @14
//   one value    ItemType u16 @0, item @2 (a 4-byte slot for small types)
//   range        ItemType u16 @0, Min @2, Max @6, Step @10, Default @14,
//                Current @18 (4-byte slots)
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "orivane/twain.h"
#include "orivane/twain_container.h"

namespace twain {

constexpr std::uint32_t kContainerSignature = 0xFADE3210;
constexpr std::uint32_t kContainerFreed = 0xFFFFFFFF;

struct ContainerRecord {
  std::uint32_t signature = kContainerSignature;
  int kind = 0;                   // TWON_
  TW_HANDLE block = nullptr;
  unsigned char* data = nullptr;  // locked for the record's whole life
  std::size_t size = 0;           // block size; 0 when not known here
};

// The live record of a handle, or null.
ContainerRecord* container_find(CONTAINER c);
// The live record of a handle whose block holds at least the fixed part of
// its layout (so every field can be read), or null. What the operations use.
ContainerRecord* container_resolve(CONTAINER c);
// Registers a record for a block already locked at `data`.
CONTAINER container_register(int kind, TW_HANDLE block, unsigned char* data);
// Forgets a record (its signature is marked freed first).
void container_forget(CONTAINER c);

// Layout.
int container_item_type(const ContainerRecord& r);
std::size_t container_items_offset(int kind);   // 0 for ranges and unknown kinds
std::size_t container_layout_size(const ContainerRecord& r);
int container_count(const ContainerRecord& r);
std::uint32_t container_u32(const ContainerRecord& r, std::size_t offset);
void container_set_u32(ContainerRecord& r, std::size_t offset, std::uint32_t value);
// Address of item `index` of an array, enumeration or one value, or null when
// it lies outside the block.
unsigned char* container_item_at(const ContainerRecord& r, int index);
// Range slots by offset (2 min, 6 max, 10 step, 14 default, 18 current).
double range_slot(const ContainerRecord& r, std::size_t offset);
// Step with 0 read as 1.
double range_step(const ContainerRecord& r);
// Item i of a range: min(max, min + i * step).
double range_item(const ContainerRecord& r, int index);
// Item `index` as a number; nullopt outside the container.
std::optional<double> container_number(const ContainerRecord& r, int index);

constexpr std::size_t kRangeMin = 2, kRangeMax = 6, kRangeStep = 10, kRangeDefault = 14,
                      kRangeCurrent = 18, kRangeBytes = 22;
constexpr std::size_t kNumItemsAt = 2, kCurrentIndexAt = 6, kDefaultIndexAt = 10;

// A one-line description of a container block for the trace:
// "ONEVALUE(uint16: 2)", "ENUM(uint16: 0,1,*2 def=0)", "RANGE(fix32: 50..600/1
// cur=300 def=300)", "ARRAY(uint16: 1,2)". Long lists are shortened.
std::string container_describe(int kind, TW_HANDLE block);

}  // namespace twain
