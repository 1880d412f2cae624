// The container registry and the layout rules shared by every container
// operation.
#include "twain/capabilities/container.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>
#include <unordered_map>

#include "core/state_registry.h"
#include "twain/capabilities/item_values.h"

namespace twain {

namespace {

struct ContainerRegistry {
  std::mutex mutex;
  std::unordered_map<std::uintptr_t, ContainerRecord> records;
  // Handles are never reused, so a stale one cannot name a newer container.
  std::uintptr_t next_id = 0x00C0FFEE;
};

ContainerRegistry& registry() {
  static ContainerRegistry* r = new ContainerRegistry;
  return *r;
}

std::uintptr_t id_of(CONTAINER c) { return reinterpret_cast<std::uintptr_t>(c); }

}  // namespace

ContainerRecord* container_find(CONTAINER c) {
  if (!c) return nullptr;
  ContainerRegistry& reg = registry();
  std::lock_guard<std::mutex> lock(reg.mutex);
  auto it = reg.records.find(id_of(c));
  if (it == reg.records.end() || it->second.signature != kContainerSignature) return nullptr;
  return &it->second;  // nodes stay put while other records come and go
}

ContainerRecord* container_resolve(CONTAINER c) {
  ContainerRecord* r = container_find(c);
  if (!r || !r->data) return nullptr;
  std::size_t fixed = 2;
  switch (r->kind) {
    case TWON_ARRAY: fixed = 6; break;
    case TWON_ENUMERATION: fixed = 14; break;
    case TWON_ONEVALUE: fixed = 6; break;
    case TWON_RANGE: fixed = kRangeBytes; break;
    default: break;
  }
  return r->size == 0 || r->size >= fixed ? r : nullptr;
}

CONTAINER container_register(int kind, TW_HANDLE block, unsigned char* data) {
  ContainerRegistry& reg = registry();
  std::lock_guard<std::mutex> lock(reg.mutex);
  const std::uintptr_t id = reg.next_id++;
  ContainerRecord& r = reg.records[id];
  r.kind = kind;
  r.block = block;
  r.data = data;
  return reinterpret_cast<CONTAINER>(id);
}

void container_forget(CONTAINER c) {
  ContainerRegistry& reg = registry();
  std::lock_guard<std::mutex> lock(reg.mutex);
  auto it = reg.records.find(id_of(c));
  if (it == reg.records.end()) return;
  it->second.signature = kContainerFreed;
  reg.records.erase(it);
}

int container_item_type(const ContainerRecord& r) {
  std::uint16_t type;
  std::memcpy(&type, r.data, sizeof type);
  return type;
}

std::uint32_t container_u32(const ContainerRecord& r, std::size_t offset) {
  std::uint32_t v;
  std::memcpy(&v, r.data + offset, sizeof v);
  return v;
}

void container_set_u32(ContainerRecord& r, std::size_t offset, std::uint32_t value) {
  std::memcpy(r.data + offset, &value, sizeof value);
}

std::size_t container_items_offset(int kind) {
  switch (kind) {
    case TWON_ARRAY: return 6;
    case TWON_ENUMERATION: return 14;
    case TWON_ONEVALUE: return 2;
    default: return 0;
  }
}

std::size_t container_layout_size(const ContainerRecord& r) {
  const std::size_t item = item_size(container_item_type(r));
  switch (r.kind) {
    case TWON_ARRAY:
    case TWON_ENUMERATION:
      return container_items_offset(r.kind) +
             static_cast<std::size_t>(container_u32(r, kNumItemsAt)) * item;
    case TWON_ONEVALUE: return item < 5 ? 6 : 2 + item;
    case TWON_RANGE: return kRangeBytes;
    default: return 0;
  }
}

double range_slot(const ContainerRecord& r, std::size_t offset) {
  return item_read_number(r.data + offset, container_item_type(r));
}

double range_step(const ContainerRecord& r) {
  const double step = range_slot(r, kRangeStep);
  return step == 0 ? 1 : step;
}

double range_item(const ContainerRecord& r, int index) {
  return std::min(range_slot(r, kRangeMax),
                  range_slot(r, kRangeMin) + static_cast<double>(index) * range_step(r));
}

int container_count(const ContainerRecord& r) {
  switch (r.kind) {
    case TWON_ARRAY:
    case TWON_ENUMERATION: {
      std::size_t n = container_u32(r, kNumItemsAt);
      // A block from a source may claim more items than it holds: count only
      // those that are there.
      const std::size_t item = item_size(container_item_type(r));
      const std::size_t offset = container_items_offset(r.kind);
      if (r.size != 0 && item != 0) n = std::min(n, r.size > offset ? (r.size - offset) / item : 0);
      return static_cast<int>(std::min<std::size_t>(n, std::numeric_limits<int>::max()));
    }
    case TWON_ONEVALUE: return 1;
    case TWON_RANGE: {
      const double n = std::trunc(
          (range_slot(r, kRangeMax) - range_slot(r, kRangeMin)) / range_step(r) + 1);
      if (!std::isfinite(n) || n <= 0) return 0;
      return n >= std::numeric_limits<int>::max() ? std::numeric_limits<int>::max()
                                                  : static_cast<int>(n);
    }
    default: return -1;
  }
}

unsigned char* container_item_at(const ContainerRecord& r, int index) {
  const std::size_t offset = container_items_offset(r.kind);
  const std::size_t item = item_size(container_item_type(r));
  if (offset == 0 || item == 0 || index < 0) return nullptr;
  const std::size_t at = offset + static_cast<std::size_t>(index) * item;
  // A block from a source may claim more items than it holds.
  if (r.size != 0 && at + item > r.size) return nullptr;
  return r.data + at;
}

std::optional<double> container_number(const ContainerRecord& r, int index) {
  if (index < 0) return std::nullopt;
  if (r.kind == TWON_RANGE) return range_item(r, index);
  if (index >= container_count(r)) return std::nullopt;
  const unsigned char* at = container_item_at(r, index);
  if (!at) return std::nullopt;
  return item_read_number(at, container_item_type(r));
}

}  // namespace twain

namespace {

// The live capability containers: handles the caller owns and frees.
const bool kContainersRegistered =
    core::register_state({"twain.containers", nullptr, nullptr, core::ResetStage::Resource});

}  // namespace
