// Capability values and the TWAIN containers that carry them, shared by the
// data sources (the virtual scanner, the SANE bridge).
//
// A capability's value is described once, independent of the container it
// travels in (CapValue); containers are built from that description in any
// of the four layouts, in memory from the Source Manager's entry points as
// the application expects, and the application's containers are read back
// into plain numbers. Numbers are doubles throughout: every TWAIN item type
// but the strings fits one exactly, FIX32 included.
#pragma once
#include <cstddef>
#include <optional>
#include <vector>

#include "orivane/twain.h"

namespace twsource {

// A scan area: edges from the top left corner, in the application's units.
struct Frame {
  double left = 0;
  double top = 0;
  double right = 0;
  double bottom = 0;
};

// The memory functions received through DAT_ENTRYPOINT.
class DsmMemory {
 public:
  explicit DsmMemory(const TW_ENTRYPOINT& entry_points) : entry_(entry_points) {}
  // A block of `size` bytes, or null.
  TW_HANDLE allocate(std::size_t size) const;
  void free(TW_HANDLE handle) const;
  void* lock(TW_HANDLE handle) const;
  void unlock(TW_HANDLE handle) const;

 private:
  const TW_ENTRYPOINT& entry_;
};

// The natural container of a capability (TWON_ values).
enum class Shape : TW_UINT16 {
  OneValue = TWON_ONEVALUE,
  Enumeration = TWON_ENUMERATION,
  Range = TWON_RANGE,
  Array = TWON_ARRAY,
};

// What a capability offers and holds, in the application's current units.
struct CapValue {
  TW_UINT16 item_type = TWTY_UINT16;
  Shape shape = Shape::OneValue;
  // Enumeration: the values offered. OneValue: the values a set may give
  // (empty: the capability checks them itself). Array: the current list.
  std::vector<double> items;
  std::vector<double> default_items;  // Array: the default list
  double current = 0;
  double default_value = 0;
  double min = 0, max = 0, step = 1;  // Range
  // FRAME capabilities: the frames offered, the current and the default one.
  std::vector<Frame> frames;
  Frame current_frame, default_frame;
};

enum class ValueWanted { All, Current, Default };

// Builds the container for a get: `kind` is a TWON_ layout (the capability's
// own for MSG_GET, TW_ONEVALUE for the current or default value, unless the
// device is configured to answer otherwise). Returns the block (null when out
// of memory) and sets `out_kind` to the layout actually built.
TW_HANDLE container_build(const DsmMemory& memory, const CapValue& value, TW_UINT16 kind,
                          ValueWanted wanted, TW_UINT16& out_kind);
// A one-value container of one number.
TW_HANDLE container_one_value(const DsmMemory& memory, TW_UINT16 item_type, double value);

// An application's container, read.
struct AppContainer {
  TW_UINT16 kind = TWON_ONEVALUE;
  TW_UINT16 item_type = TWTY_UINT16;
  std::vector<double>
      items;  // one value, enumeration, array; range: min, max, step, default, current
  std::vector<Frame> frames;      // FRAME items
  std::size_t current_index = 0;  // enumeration
  std::size_t default_index = 0;  // enumeration
};
// Reads the container of a MSG_SET; nothing when the block cannot be read,
// the layout is unknown, the items are not numbers or frames, or an
// enumeration's current or default index lies outside its items.
std::optional<AppContainer> container_read(const DsmMemory& memory, TW_UINT16 kind,
                                           TW_HANDLE handle);

// FIX32 <-> number: rounded to the nearest 1/65536, halves away from zero.
TW_FIX32 fix32_from(double value);
double fix32_to(TW_FIX32 value);

}  // namespace twsource
