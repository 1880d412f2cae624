// Making, wrapping, copying, checking and freeing containers.
#include "orivane/twain_container.h"

#include <cmath>
#include <cstring>
#include <new>

#include "log/trace.h"
#include "twain/capabilities/container.h"
#include "twain/capabilities/item_values.h"
#include "twain/session/memory.h"

using twain::ContainerRecord;

namespace {

// Allocates a zeroed block of `size` bytes and wraps it; null on failure.
CONTAINER make(int kind, std::size_t size) {
  TW_HANDLE block = twain::block_alloc(size);
  return block ? CONTAINER_Wrap(kind, block) : nullptr;
}

void set_item_type(CONTAINER c, int item_type) {
  ContainerRecord* r = twain::container_find(c);
  const auto type = static_cast<std::uint16_t>(item_type);
  std::memcpy(r->data, &type, sizeof type);
}

// Arrays and enumerations: `count` items after a header of `header` bytes.
CONTAINER make_list(int kind, int item_type, int count) {
  const std::size_t item = twain::item_size(item_type);
  if (item == 0 || count < 0) return nullptr;
  const std::size_t header = twain::container_items_offset(kind);
  if (static_cast<std::size_t>(count) > (0xffffffffu - header) / item) return nullptr;
  CONTAINER c = make(kind, header + static_cast<std::size_t>(count) * item);
  if (!c) return nullptr;
  set_item_type(c, item_type);
  twain::container_set_u32(*twain::container_find(c), twain::kNumItemsAt,
                           static_cast<std::uint32_t>(count));
  return c;
}

bool step_is_suspicious(int item_type, double step) {
  if (item_type == twain::kTyFix32) return step < 0.00001;
  return step < 1 || step != std::trunc(step);
}

}  // namespace

CONTAINER CONTAINER_OneValue(int item_type, double value) {
  const std::size_t item = twain::item_size(item_type);
  if (item == 0) return nullptr;
  CONTAINER c = make(TWON_ONEVALUE, item < 5 ? 6 : 2 + item);
  if (!c) return nullptr;
  set_item_type(c, item_type);
  twain::item_write_number(twain::container_find(c)->data + 2, item_type, value);
  return c;
}

CONTAINER CONTAINER_Array(int item_type, int count) {
  return make_list(TWON_ARRAY, item_type, count);
}

CONTAINER CONTAINER_Enumeration(int item_type, int count) {
  // The indexes start at 0: the block is zero-filled.
  return make_list(TWON_ENUMERATION, item_type, count);
}

CONTAINER CONTAINER_Range(int item_type, double min, double max, double step) {
  if (item_type < 0 || item_type > twain::kTyFix32) return nullptr;
  if (step_is_suspicious(item_type, step))
    LogPrint("*** CONTAINER_Range called with dStep(%g)\n", step);
  CONTAINER c = make(TWON_RANGE, twain::kRangeBytes);
  if (!c) return nullptr;
  set_item_type(c, item_type);
  unsigned char* data = twain::container_find(c)->data;
  twain::item_write_number(data + twain::kRangeMin, item_type, min);
  twain::item_write_number(data + twain::kRangeMax, item_type, max);
  twain::item_write_number(data + twain::kRangeStep, item_type, step);
  twain::item_write_number(data + twain::kRangeDefault, item_type, min);
  twain::item_write_number(data + twain::kRangeCurrent, item_type, min);
  return c;
}

CONTAINER CONTAINER_Wrap(int kind, TW_HANDLE block) {
  if (!block) return nullptr;
  auto* data = static_cast<unsigned char*>(twain::block_lock(block));
  if (!data) {
    twain::block_free(block);
    return nullptr;
  }
  try {
    CONTAINER c = twain::container_register(kind, block, data);
    twain::container_find(c)->size = twain::block_size(block);
    return c;
  } catch (const std::bad_alloc&) {
    twain::block_unlock(block);
    twain::block_free(block);
    return nullptr;
  }
}

void CONTAINER_Free(CONTAINER c) {
  ContainerRecord* r = twain::container_find(c);
  if (!r) return;
  TW_HANDLE block = r->block;
  twain::container_forget(c);
  twain::block_unlock(block);
  twain::block_free(block);
}

void CONTAINER_Release(CONTAINER c) {
  ContainerRecord* r = twain::container_find(c);
  if (!r) return;
  TW_HANDLE block = r->block;
  twain::container_forget(c);
  twain::block_unlock(block);
}

TW_HANDLE CONTAINER_Handle(CONTAINER c) {
  ContainerRecord* r = twain::container_find(c);
  return r ? r->block : nullptr;
}

CONTAINER CONTAINER_Copy(CONTAINER c) {
  ContainerRecord* r = twain::container_resolve(c);
  if (!r) return nullptr;
  const std::size_t size = r->size != 0 ? r->size : twain::container_layout_size(*r);
  const int kind = r->kind;
  const unsigned char* from = r->data;
  CONTAINER copy = make(kind, size);
  if (copy) std::memcpy(twain::container_find(copy)->data, from, size);
  return copy;
}

int CONTAINER_IsValid(CONTAINER c) {
  ContainerRecord* r = twain::container_find(c);
  if (!r || !r->block || !r->data) return 0;
  if (r->kind < TWON_ARRAY || r->kind > TWON_RANGE) return 0;
  void* again = twain::block_lock(r->block);
  twain::block_unlock(r->block);
  if (again != r->data) return 0;
  if (r->size != 0 && r->size < 2) return 0;
  if (twain::container_item_type(*r) > twain::kTyUni512) return 0;
  if (r->size != 0 && r->size < (r->kind == TWON_RANGE ? twain::kRangeBytes : 6)) return 0;
  if (r->kind == TWON_RANGE && twain::container_u32(*r, twain::kRangeStep) == 0) return 0;
  return r->size == 0 || r->size >= twain::container_layout_size(*r) ? 1 : 0;
}
