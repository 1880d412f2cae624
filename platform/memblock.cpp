// Movable memory blocks behind registry handles.
//
// A handle packs a slot index, a registry tag and the slot's generation:
//   bits 0..23   slot index
//   bits 24..31  kMemTag (so a window handle or a small integer is not mistaken
//                for a block)
//   bits 32..63  generation of the slot when the block was allocated (never 0)
// Freeing a block bumps its slot's generation, so a handle kept after the free
// stays refused even when the slot is reused for a new block.
#include "platform/memblock.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

namespace platform {
namespace {

// Blocks stand in for 32-bit global memory, so nothing legitimately asks for
// more than 4 GiB; larger requests are size arithmetic gone wrong and are
// refused before the allocator sees them.
constexpr std::size_t kMaxBlockSize = std::size_t{1} << 32;
constexpr std::uint32_t kMaxSlots = std::uint32_t{1} << 24;
constexpr std::uintptr_t kSlotMask = kMaxSlots - 1;
constexpr std::uintptr_t kMemTag = 0x4D;  // 'M'
constexpr int kTagShift = 24;
constexpr int kGenerationShift = 32;

static_assert(sizeof(std::uintptr_t) >= 8, "handles pack a 32-bit generation above the slot");

struct Slot {
  unsigned char* data = nullptr;
  std::size_t size = 0;
  std::uint32_t generation = 1;
  std::uint32_t locks = 0;
  bool live = false;
};

struct MemRegistry {
  std::mutex mutex;
  std::vector<Slot> slots;
  std::vector<std::uint32_t> free_slots;
  std::size_t live = 0;
};

// Never destroyed: blocks may still be freed by other static destructors or
// threads running at exit.
MemRegistry& mem_registry() {
  static MemRegistry* registry = new MemRegistry;
  return *registry;
}

MemHandle make_handle(std::uint32_t index, std::uint32_t generation) {
  return (static_cast<std::uintptr_t>(generation) << kGenerationShift) |
         (kMemTag << kTagShift) | index;
}

// The live slot `h` names, or nullptr. Caller holds the registry mutex.
Slot* find_slot(MemRegistry& reg, MemHandle h) {
  if (((h >> kTagShift) & 0xff) != kMemTag) return nullptr;
  const std::uintptr_t index = h & kSlotMask;
  const auto generation = static_cast<std::uint32_t>(h >> kGenerationShift);
  if (index >= reg.slots.size()) return nullptr;
  Slot& slot = reg.slots[index];
  if (!slot.live || slot.generation != generation) return nullptr;
  return &slot;
}

// Storage for `size` bytes; a zero-size block still gets a distinct address so
// that locking it yields a usable non-null pointer.
unsigned char* allocate_bytes(std::size_t size, bool zero) {
  const std::size_t bytes = size == 0 ? 1 : size;
  void* p = zero ? std::calloc(bytes, 1) : std::malloc(bytes);
  return static_cast<unsigned char*>(p);
}

// Takes a free slot (or grows the table); returns false when the table is full.
bool take_slot(MemRegistry& reg, std::uint32_t* out_index) {
  if (!reg.free_slots.empty()) {
    *out_index = reg.free_slots.back();
    reg.free_slots.pop_back();
    return true;
  }
  if (reg.slots.size() >= kMaxSlots) return false;
  // Reserve the free-list entry now so that freeing can never fail to record it.
  reg.free_slots.reserve(reg.slots.size() + 1);
  reg.slots.emplace_back();
  *out_index = static_cast<std::uint32_t>(reg.slots.size() - 1);
  return true;
}

}  // namespace

MemHandle mem_alloc(std::size_t size, bool zero) {
  if (size > kMaxBlockSize) return 0;
  try {
    unsigned char* data = allocate_bytes(size, zero);
    if (data == nullptr) return 0;
    MemRegistry& reg = mem_registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    std::uint32_t index = 0;
    bool have_slot = false;
    try {
      have_slot = take_slot(reg, &index);
    } catch (...) {
      have_slot = false;
    }
    if (!have_slot) {
      std::free(data);
      return 0;
    }
    Slot& slot = reg.slots[index];
    slot.data = data;
    slot.size = size;
    slot.locks = 0;
    slot.live = true;
    ++reg.live;
    return make_handle(index, slot.generation);
  } catch (...) {
    return 0;
  }
}

MemHandle mem_realloc(MemHandle h, std::size_t size) {
  if (size > kMaxBlockSize) return 0;
  try {
    MemRegistry& reg = mem_registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    Slot* slot = find_slot(reg, h);
    if (slot == nullptr) return 0;
    const std::size_t old_size = slot->size;
    void* grown = std::realloc(slot->data, size == 0 ? 1 : size);
    if (grown == nullptr) return 0;  // realloc left the old block in place
    slot->data = static_cast<unsigned char*>(grown);
    if (size > old_size) std::memset(slot->data + old_size, 0, size - old_size);
    slot->size = size;
    return h;
  } catch (...) {
    return 0;
  }
}

void* mem_lock(MemHandle h) {
  try {
    MemRegistry& reg = mem_registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    Slot* slot = find_slot(reg, h);
    if (slot == nullptr) return nullptr;
    ++slot->locks;
    return slot->data;
  } catch (...) {
    return nullptr;
  }
}

bool mem_unlock(MemHandle h) {
  try {
    MemRegistry& reg = mem_registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    Slot* slot = find_slot(reg, h);
    if (slot == nullptr || slot->locks == 0) return false;
    --slot->locks;
    return true;
  } catch (...) {
    return false;
  }
}

std::size_t mem_size(MemHandle h) {
  try {
    MemRegistry& reg = mem_registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    Slot* slot = find_slot(reg, h);
    return slot == nullptr ? 0 : slot->size;
  } catch (...) {
    return 0;
  }
}

bool mem_free(MemHandle h) {
  if (h == 0) return true;
  try {
    MemRegistry& reg = mem_registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    Slot* slot = find_slot(reg, h);
    if (slot == nullptr) return false;
    std::free(slot->data);
    slot->data = nullptr;
    slot->size = 0;
    slot->locks = 0;
    slot->live = false;
    // Generation 0 is skipped so that no handle ever carries it.
    if (++slot->generation == 0) slot->generation = 1;
    // Cannot throw: take_slot reserved room for every slot.
    reg.free_slots.push_back(static_cast<std::uint32_t>(h & kSlotMask));
    --reg.live;
    return true;
  } catch (...) {
    return false;
  }
}

bool mem_is_valid(MemHandle h) {
  try {
    MemRegistry& reg = mem_registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    return find_slot(reg, h) != nullptr;
  } catch (...) {
    return false;
  }
}

std::size_t mem_live_count() {
  try {
    MemRegistry& reg = mem_registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    return reg.live;
  } catch (...) {
    return 0;
  }
}

}  // namespace platform
