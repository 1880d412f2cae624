// Editing containers: indexes, items, texts, frames, inserting and deleting,
// and comparing two containers.
#include "orivane/twain_container.h"

#include <cstring>
#include <cwchar>
#include <iterator>

#include "twain/capabilities/container.h"
#include "twain/capabilities/item_values.h"
#include "twain/session/memory.h"

using twain::ContainerRecord;

namespace {

// Bytes a grown block gets beyond what the next item needs, so that a run of
// inserts does not resize the block every time.
constexpr std::size_t kGrowSlack = 128;

bool is_list(const ContainerRecord& r) {
  return r.kind == TWON_ARRAY || r.kind == TWON_ENUMERATION;
}

// The address of an existing item that may be written: arrays, enumerations
// and one values, index inside 0..count-1.
unsigned char* writable_item(CONTAINER c, int index, ContainerRecord** out_record = nullptr) {
  ContainerRecord* r = twain::container_resolve(c);
  if (!r || r->kind == TWON_RANGE) return nullptr;
  if (index < 0 || index >= twain::container_count(*r)) return nullptr;
  if (out_record) *out_record = r;
  return twain::container_item_at(*r, index);
}

int set_index(CONTAINER c, int index, bool current) {
  ContainerRecord* r = twain::container_resolve(c);
  if (!r || index < 0 || index >= twain::container_count(*r)) return 0;
  if (r->kind == TWON_ENUMERATION) {
    twain::container_set_u32(*r, current ? twain::kCurrentIndexAt : twain::kDefaultIndexAt,
                             static_cast<std::uint32_t>(index));
    return 1;
  }
  if (r->kind == TWON_RANGE) {
    const std::size_t slot = current ? twain::kRangeCurrent : twain::kRangeDefault;
    twain::item_write_number(r->data + slot, twain::container_item_type(*r),
                             twain::range_item(*r, index));
    return 1;
  }
  return 0;
}

// Grows the block so that it holds `needed` bytes. The block is unlocked
// around the resize and locked again whatever happens.
bool ensure_room(ContainerRecord& r, std::size_t needed) {
  if (r.size >= needed) return true;
  if (r.size == 0) return false;  // a block of unknown size cannot be grown here
  twain::block_unlock(r.block);
  const bool grown = twain::block_resize(r.block, needed + kGrowSlack);
  r.data = static_cast<unsigned char*>(twain::block_lock(r.block));
  if (grown) r.size = twain::block_size(r.block);
  return grown && r.data != nullptr;
}

void write_text(unsigned char* at, int type, const char* text) {
  const std::size_t size = twain::item_size(type);
  std::memset(at, 0, size);
  if (type == twain::kTyUni512) {
    wchar_t wide[sizeof(TW_UNI512) / sizeof(wchar_t)] = {};
    for (std::size_t i = 0; text[i] && i + 1 < std::size(wide); ++i)
      wide[i] = static_cast<unsigned char>(text[i]);
    std::memcpy(at, wide, size);
    return;
  }
  std::memcpy(at, text, strnlen(text, size - 1));
}

bool items_equal(const ContainerRecord& a, const ContainerRecord& b, int index) {
  const int type = twain::container_item_type(a);
  const unsigned char* x = twain::container_item_at(a, index);
  const unsigned char* y = twain::container_item_at(b, index);
  if (!x || !y) return false;
  const std::size_t size = twain::item_size(type);
  if (type >= twain::kTyStr32 && type <= twain::kTyStr1024) {
    return std::strncmp(reinterpret_cast<const char*>(x), reinterpret_cast<const char*>(y),
                        size) == 0;
  }
  return std::memcmp(x, y, size) == 0;
}

}  // namespace

int CONTAINER_SetCurrentIndex(CONTAINER c, int index) { return set_index(c, index, true); }
int CONTAINER_SetDefaultIndex(CONTAINER c, int index) { return set_index(c, index, false); }

int CONTAINER_SetItem(CONTAINER c, int index, double value) {
  ContainerRecord* r = nullptr;
  unsigned char* at = writable_item(c, index, &r);
  if (!at) return 0;
  return twain::item_write_number(at, twain::container_item_type(*r), value) ? 1 : 0;
}

int CONTAINER_SetItemString(CONTAINER c, int index, const char* text) {
  ContainerRecord* r = nullptr;
  unsigned char* at = writable_item(c, index, &r);
  if (!at || !text) return 0;
  const int type = twain::container_item_type(*r);
  if (!twain::item_is_text(type)) return 0;
  write_text(at, type, text);
  return 1;
}

int CONTAINER_SetItemFrame(CONTAINER c, int index, double left, double top, double right,
                           double bottom) {
  ContainerRecord* r = nullptr;
  unsigned char* at = writable_item(c, index, &r);
  if (!at || twain::container_item_type(*r) != twain::kTyFrame) return 0;
  const double sides[] = {left, top, right, bottom};
  for (int i = 0; i < 4; ++i) twain::item_write_number(at + 4 * i, twain::kTyFix32, sides[i]);
  return 1;
}

int CONTAINER_GetItemFrame(CONTAINER c, int index, double* out_left, double* out_top,
                           double* out_right, double* out_bottom) {
  double* outs[] = {out_left, out_top, out_right, out_bottom};
  for (double* out : outs)
    if (out) *out = 0;
  ContainerRecord* r = nullptr;
  const unsigned char* at = writable_item(c, index, &r);
  if (!at || twain::container_item_type(*r) != twain::kTyFrame) return 0;
  for (int i = 0; i < 4; ++i)
    if (outs[i]) *outs[i] = twain::item_read_number(at + 4 * i, twain::kTyFix32);
  return 1;
}

int CONTAINER_InsertItem(CONTAINER c, int index, double value) {
  ContainerRecord* r = twain::container_resolve(c);
  if (!r || !is_list(*r)) return 0;
  const int type = twain::container_item_type(*r);
  const std::size_t item = twain::item_size(type);
  const int count = twain::container_count(*r);
  if (item == 0 || count == 0x7fffffff) return 0;
  if (index < 0 || index > count) index = count;
  const std::size_t offset = twain::container_items_offset(r->kind);
  if (!ensure_room(*r, offset + (static_cast<std::size_t>(count) + 1) * item)) return 0;
  unsigned char* at = r->data + offset + static_cast<std::size_t>(index) * item;
  std::memmove(at + item, at, static_cast<std::size_t>(count - index) * item);
  std::memset(at, 0, item);
  twain::container_set_u32(*r, twain::kNumItemsAt, static_cast<std::uint32_t>(count) + 1);
  twain::item_write_number(at, type, value);
  return 1;
}

int CONTAINER_DeleteItem(CONTAINER c, int index) {
  ContainerRecord* r = twain::container_resolve(c);
  if (!r || !is_list(*r)) return 0;
  const int count = twain::container_count(*r);
  if (index < 0 || index >= count) return 0;
  const std::size_t item = twain::item_size(twain::container_item_type(*r));
  unsigned char* at = twain::container_item_at(*r, index);
  if (!at) return 0;
  std::memmove(at, at + item, static_cast<std::size_t>(count - index - 1) * item);
  twain::container_set_u32(*r, twain::kNumItemsAt, static_cast<std::uint32_t>(count) - 1);
  return 1;
}

int CONTAINER_Equal(CONTAINER a, CONTAINER b) {
  if (a == b) return a && twain::container_find(a) ? 1 : 0;
  ContainerRecord* x = twain::container_resolve(a);
  ContainerRecord* y = twain::container_resolve(b);
  if (!x || !y || x->kind != y->kind) return 0;
  if (twain::container_item_type(*x) != twain::container_item_type(*y)) return 0;
  const int count = twain::container_count(*x);
  if (count != twain::container_count(*y)) return 0;
  if (x->kind == TWON_RANGE) {
    for (std::size_t slot : {twain::kRangeMin, twain::kRangeMax, twain::kRangeStep,
                             twain::kRangeDefault, twain::kRangeCurrent}) {
      if (twain::range_slot(*x, slot) != twain::range_slot(*y, slot)) return 0;
    }
    return 1;
  }
  if (x->kind == TWON_ENUMERATION) {
    for (std::size_t field : {twain::kCurrentIndexAt, twain::kDefaultIndexAt}) {
      if (twain::container_u32(*x, field) != twain::container_u32(*y, field)) return 0;
    }
  }
  for (int i = 0; i < count; ++i)
    if (!items_equal(*x, *y, i)) return 0;
  return 1;
}
