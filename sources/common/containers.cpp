#include "sources/common/containers.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace twsource {
namespace {

// A range is listed item by item only up to this many items (an odd
// container of a fine range would otherwise be megabytes).
constexpr std::size_t kMaxListedItems = 4096;
// More items than this in an application's container is a corrupt header.
constexpr std::uint32_t kMaxReadItems = 65536;

constexpr std::size_t kOneValueSlot = 4;
constexpr std::size_t kHeaderOneValue = 2;
constexpr std::size_t kHeaderArray = 6;
constexpr std::size_t kHeaderEnumeration = 14;
constexpr std::size_t kRangeSize = 22;

std::size_t item_size(TW_UINT16 type) {
  switch (type) {
    case TWTY_INT8:
    case TWTY_UINT8:
      return 1;
    case TWTY_INT16:
    case TWTY_UINT16:
    case TWTY_BOOL:
      return 2;
    case TWTY_INT32:
    case TWTY_UINT32:
    case TWTY_FIX32:
      return 4;
    case TWTY_FRAME:
      return sizeof(TW_FRAME);
    default:
      return 0;
  }
}

template <typename T>
void put(unsigned char* at, T value) {
  std::memcpy(at, &value, sizeof value);
}

template <typename T>
T get(const unsigned char* at) {
  T value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

// Whole numbers are cut to the item's width the way a C cast would.
void write_number(unsigned char* at, TW_UINT16 type, double value) {
  const auto whole = static_cast<std::int64_t>(std::trunc(value));
  switch (type) {
    case TWTY_INT8:
      put(at, static_cast<TW_INT8>(whole));
      break;
    case TWTY_UINT8:
      put(at, static_cast<TW_UINT8>(whole));
      break;
    case TWTY_INT16:
      put(at, static_cast<TW_INT16>(whole));
      break;
    case TWTY_UINT16:
      put(at, static_cast<TW_UINT16>(whole));
      break;
    case TWTY_BOOL:
      put(at, static_cast<TW_BOOL>(value != 0 ? 1 : 0));
      break;
    case TWTY_INT32:
      put(at, static_cast<TW_INT32>(whole));
      break;
    case TWTY_UINT32:
      put(at, static_cast<TW_UINT32>(whole));
      break;
    case TWTY_FIX32:
      put(at, fix32_from(value));
      break;
    default:
      break;
  }
}

std::optional<double> read_number(const unsigned char* at, TW_UINT16 type) {
  switch (type) {
    case TWTY_INT8:
      return get<TW_INT8>(at);
    case TWTY_UINT8:
      return get<TW_UINT8>(at);
    case TWTY_INT16:
      return get<TW_INT16>(at);
    case TWTY_UINT16:
      return get<TW_UINT16>(at);
    case TWTY_BOOL:
      return get<TW_BOOL>(at);
    case TWTY_INT32:
      return get<TW_INT32>(at);
    case TWTY_UINT32:
      return get<TW_UINT32>(at);
    case TWTY_FIX32:
      return fix32_to(get<TW_FIX32>(at));
    default:
      return std::nullopt;
  }
}

void write_frame(unsigned char* at, const Frame& frame) {
  const TW_FRAME out{fix32_from(frame.left), fix32_from(frame.top), fix32_from(frame.right),
                     fix32_from(frame.bottom)};
  put(at, out);
}

Frame read_frame(const unsigned char* at) {
  const auto in = get<TW_FRAME>(at);
  return Frame{fix32_to(in.Left), fix32_to(in.Top), fix32_to(in.Right), fix32_to(in.Bottom)};
}

bool is_frame(const CapValue& value) { return value.item_type == TWTY_FRAME; }

// The values a container of `kind` lists, in order.
std::vector<double> listed_items(const CapValue& value, ValueWanted wanted) {
  switch (value.shape) {
    case Shape::Enumeration:
      return value.items;
    case Shape::Array:
      return wanted == ValueWanted::Default ? value.default_items : value.items;
    case Shape::Range: {
      std::vector<double> items;
      for (double v = value.min;
           v <= value.max + value.step * 1e-6 && items.size() < kMaxListedItems;
           v = value.min + static_cast<double>(items.size()) * value.step)
        items.push_back(std::min(v, value.max));
      return items;
    }
    case Shape::OneValue:
      if (!value.items.empty()) return value.items;
      return {wanted == ValueWanted::Default ? value.default_value : value.current};
  }
  return {};
}

std::uint32_t nearest_index(const std::vector<double>& items, double wanted) {
  std::size_t best = 0;
  for (std::size_t i = 1; i < items.size(); ++i) {
    if (std::fabs(items[i] - wanted) < std::fabs(items[best] - wanted)) best = i;
  }
  return static_cast<std::uint32_t>(best);
}

struct Block {
  TW_HANDLE handle = nullptr;
  unsigned char* bytes = nullptr;
};

Block allocate_locked(const DsmMemory& memory, std::size_t size) {
  Block block;
  block.handle = memory.allocate(size);
  if (block.handle == nullptr) return block;
  block.bytes = static_cast<unsigned char*>(memory.lock(block.handle));
  if (block.bytes == nullptr) {
    memory.free(block.handle);
    block.handle = nullptr;
  } else {
    std::memset(block.bytes, 0, size);
  }
  return block;
}

TW_HANDLE finish(const DsmMemory& memory, const Block& block) {
  memory.unlock(block.handle);
  return block.handle;
}

TW_HANDLE build_one_value(const DsmMemory& memory, const CapValue& value, ValueWanted wanted) {
  const std::size_t size = std::max(item_size(value.item_type), kOneValueSlot);
  const Block block = allocate_locked(memory, kHeaderOneValue + size);
  if (block.handle == nullptr) return nullptr;
  put(block.bytes, value.item_type);
  if (is_frame(value)) {
    write_frame(block.bytes + kHeaderOneValue,
                wanted == ValueWanted::Default ? value.default_frame : value.current_frame);
  } else {
    write_number(block.bytes + kHeaderOneValue, value.item_type,
                 wanted == ValueWanted::Default ? value.default_value : value.current);
  }
  return finish(memory, block);
}

TW_HANDLE build_list(const DsmMemory& memory, const CapValue& value, TW_UINT16 kind,
                     ValueWanted wanted) {
  const std::size_t size = item_size(value.item_type);
  const std::vector<double> items =
      is_frame(value) ? std::vector<double>() : listed_items(value, wanted);
  const std::size_t count = is_frame(value) ? value.frames.size() : items.size();
  const std::size_t header = kind == TWON_ENUMERATION ? kHeaderEnumeration : kHeaderArray;
  const Block block = allocate_locked(memory, header + count * size);
  if (block.handle == nullptr) return nullptr;
  put(block.bytes, value.item_type);
  put(block.bytes + 2, static_cast<TW_UINT32>(count));
  if (kind == TWON_ENUMERATION && !is_frame(value)) {
    put(block.bytes + 6, nearest_index(items, value.current));
    put(block.bytes + 10, nearest_index(items, value.default_value));
  }
  for (std::size_t i = 0; i < count; ++i) {
    unsigned char* at = block.bytes + header + i * size;
    if (is_frame(value)) {
      write_frame(at, value.frames[i]);
    } else {
      write_number(at, value.item_type, items[i]);
    }
  }
  return finish(memory, block);
}

TW_HANDLE build_range(const DsmMemory& memory, const CapValue& value, ValueWanted wanted) {
  double min = value.min, max = value.max, step = value.step;
  if (value.shape != Shape::Range) {
    // A list shown as a range: its ends, and its smallest gap as the step.
    std::vector<double> items = listed_items(value, wanted);
    std::sort(items.begin(), items.end());
    min = items.front();
    max = items.back();
    step = std::numeric_limits<double>::max();
    for (std::size_t i = 1; i < items.size(); ++i)
      if (items[i] > items[i - 1]) step = std::min(step, items[i] - items[i - 1]);
    if (step == std::numeric_limits<double>::max()) step = 1;
  }
  const Block block = allocate_locked(memory, kRangeSize);
  if (block.handle == nullptr) return nullptr;
  put(block.bytes, value.item_type);
  const double slots[] = {min, max, step, value.default_value, value.current};
  for (std::size_t i = 0; i < 5; ++i)
    write_number(block.bytes + 2 + 4 * i, value.item_type, slots[i]);
  return finish(memory, block);
}

}  // namespace

TW_HANDLE DsmMemory::allocate(std::size_t size) const {
  if (entry_.DSM_MemAllocate == nullptr || size > std::numeric_limits<TW_UINT32>::max())
    return nullptr;
  return entry_.DSM_MemAllocate(static_cast<TW_UINT32>(size));
}

void DsmMemory::free(TW_HANDLE handle) const {
  if (entry_.DSM_MemFree != nullptr && handle != nullptr) entry_.DSM_MemFree(handle);
}

void* DsmMemory::lock(TW_HANDLE handle) const {
  return entry_.DSM_MemLock != nullptr && handle != nullptr ? entry_.DSM_MemLock(handle) : nullptr;
}

void DsmMemory::unlock(TW_HANDLE handle) const {
  if (entry_.DSM_MemUnlock != nullptr && handle != nullptr) entry_.DSM_MemUnlock(handle);
}

TW_HANDLE container_build(const DsmMemory& memory, const CapValue& value, TW_UINT16 kind,
                          ValueWanted wanted, TW_UINT16& out_kind) {
  // Frames have no range; nor has an empty list.
  if (kind == TWON_RANGE && (is_frame(value) || listed_items(value, wanted).empty()))
    kind = static_cast<TW_UINT16>(value.shape);
  out_kind = kind;
  switch (kind) {
    case TWON_ONEVALUE:
      return build_one_value(memory, value, wanted);
    case TWON_ENUMERATION:
    case TWON_ARRAY:
      return build_list(memory, value, kind, wanted);
    case TWON_RANGE:
      return build_range(memory, value, wanted);
    default:
      return nullptr;
  }
}

TW_HANDLE container_one_value(const DsmMemory& memory, TW_UINT16 item_type, double value) {
  CapValue one;
  one.item_type = item_type;
  one.current = value;
  return build_one_value(memory, one, ValueWanted::Current);
}

std::optional<AppContainer> container_read(const DsmMemory& memory, TW_UINT16 kind,
                                           TW_HANDLE handle) {
  const auto* bytes = static_cast<const unsigned char*>(memory.lock(handle));
  if (bytes == nullptr) return std::nullopt;
  AppContainer out;
  out.kind = kind;
  out.item_type = get<TW_UINT16>(bytes);
  const std::size_t size = item_size(out.item_type);
  bool readable = size != 0;
  auto read_items = [&](const unsigned char* at, std::uint32_t count) {
    for (std::uint32_t i = 0; i < count; ++i, at += size) {
      if (out.item_type == TWTY_FRAME) {
        out.frames.push_back(read_frame(at));
      } else {
        out.items.push_back(*read_number(at, out.item_type));
      }
    }
  };
  if (readable) {
    switch (kind) {
      case TWON_ONEVALUE:
        read_items(bytes + kHeaderOneValue, 1);
        break;
      case TWON_ARRAY:
      case TWON_ENUMERATION: {
        const auto count = get<TW_UINT32>(bytes + 2);
        readable = count <= kMaxReadItems;
        if (!readable) break;
        if (kind == TWON_ENUMERATION) {
          out.current_index = get<TW_UINT32>(bytes + 6);
          out.default_index = get<TW_UINT32>(bytes + 10);
          // An index that names no item makes the whole container meaningless.
          readable = count == 0 || (out.current_index < count && out.default_index < count);
          if (!readable) break;
        }
        read_items(bytes + (kind == TWON_ENUMERATION ? kHeaderEnumeration : kHeaderArray), count);
        break;
      }
      case TWON_RANGE:
        readable = out.item_type != TWTY_FRAME;
        if (readable) {
          for (std::size_t i = 0; i < 5; ++i)
            out.items.push_back(*read_number(bytes + 2 + 4 * i, out.item_type));
        }
        break;
      default:
        readable = false;
    }
  }
  memory.unlock(handle);
  if (!readable) return std::nullopt;
  return out;
}

TW_FIX32 fix32_from(double value) {
  const double scaled = std::round(value * 65536.0);  // halves away from zero
  const auto n =
      static_cast<std::int32_t>(std::clamp(scaled, double(std::numeric_limits<std::int32_t>::min()),
                                           double(std::numeric_limits<std::int32_t>::max())));
  TW_FIX32 out;
  out.Whole = static_cast<TW_INT16>(n >> 16);
  out.Frac = static_cast<TW_UINT16>(n & 0xffff);
  return out;
}

double fix32_to(TW_FIX32 value) { return value.Whole + value.Frac / 65536.0; }

}  // namespace twsource
