// Reading containers: kind, type, count, items, current/default/min/max/step,
// indexes and searching.
#include "orivane/twain_container.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "twain/capabilities/container.h"
#include "twain/capabilities/item_values.h"

using twain::ContainerRecord;

namespace {

// Enumeration item at the index stored at `offset`; nullopt past the end.
std::optional<double> enum_indexed(const ContainerRecord& r, std::size_t offset) {
  const std::uint32_t index = twain::container_u32(r, offset);
  if (index >= twain::container_u32(r, twain::kNumItemsAt)) return std::nullopt;
  return twain::container_number(r, static_cast<int>(index));
}

std::optional<double> current_or_default(CONTAINER c, bool current) {
  ContainerRecord* r = twain::container_resolve(c);
  if (!r) return std::nullopt;
  switch (r->kind) {
    case TWON_ENUMERATION:
      return enum_indexed(*r, current ? twain::kCurrentIndexAt : twain::kDefaultIndexAt);
    case TWON_ONEVALUE: return twain::container_number(*r, 0);
    case TWON_RANGE:
      return twain::range_slot(*r, current ? twain::kRangeCurrent : twain::kRangeDefault);
    default: return std::nullopt;
  }
}

// Smallest (or largest) item; nullopt when there is none.
std::optional<double> extreme(CONTAINER c, bool largest) {
  ContainerRecord* r = twain::container_resolve(c);
  if (!r) return std::nullopt;
  if (r->kind == TWON_RANGE)
    return twain::range_slot(*r, largest ? twain::kRangeMax : twain::kRangeMin);
  if (r->kind == TWON_ONEVALUE) return twain::container_number(*r, 0);
  std::optional<double> best;
  const int n = twain::container_count(*r);
  for (int i = 0; i < n; ++i) {
    std::optional<double> v = twain::container_number(*r, i);
    if (!v) break;
    if (!best || (largest ? *v > *best : *v < *best)) best = v;
  }
  return best;
}

// Index of the range item nearest to `value`, within 0..count-1.
int range_index_of(const ContainerRecord& r, double value) {
  const int n = twain::container_count(r);
  if (n <= 0) return -1;
  const double i = std::round((value - twain::range_slot(r, twain::kRangeMin)) / twain::range_step(r));
  if (!(i > 0)) return 0;
  return i >= n - 1 ? n - 1 : static_cast<int>(i);
}

int index_of(CONTAINER c, bool current) {
  ContainerRecord* r = twain::container_resolve(c);
  if (!r) return -1;
  switch (r->kind) {
    case TWON_ENUMERATION: {
      const std::uint32_t i =
          twain::container_u32(*r, current ? twain::kCurrentIndexAt : twain::kDefaultIndexAt);
      return i > 0x7fffffffu ? -1 : static_cast<int>(i);
    }
    case TWON_RANGE:
      return range_index_of(
          *r, twain::range_slot(*r, current ? twain::kRangeCurrent : twain::kRangeDefault));
    case TWON_ONEVALUE: return 0;
    default: return -1;
  }
}

// Highest range index whose item equals `value`: the candidates are the
// steps around (value - min) / step and the last item (clamped to the max).
int range_find(const ContainerRecord& r, double value) {
  const int n = twain::container_count(r);
  if (n <= 0) return -1;
  if (twain::range_item(r, n - 1) == value) return n - 1;
  const double guess = (value - twain::range_slot(r, twain::kRangeMin)) / twain::range_step(r);
  if (!std::isfinite(guess)) return -1;
  for (double i = std::ceil(guess) + 1; i >= std::floor(guess) - 1; --i) {
    if (i < 0 || i >= n - 1) continue;
    if (twain::range_item(r, static_cast<int>(i)) == value) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace

int CONTAINER_Format(CONTAINER c) {
  ContainerRecord* r = twain::container_find(c);
  return r ? r->kind : -1;
}

int CONTAINER_ItemType(CONTAINER c) {
  ContainerRecord* r = twain::container_resolve(c);
  return r ? twain::container_item_type(*r) : -1;
}

int CONTAINER_ItemCount(CONTAINER c) {
  ContainerRecord* r = twain::container_resolve(c);
  return r ? twain::container_count(*r) : -1;
}

double CONTAINER_FloatItem(CONTAINER c, int index) {
  ContainerRecord* r = twain::container_resolve(c);
  if (!r) return -1;
  return twain::container_number(*r, index).value_or(-1);
}

int CONTAINER_IntItem(CONTAINER c, int index) {
  return twain::round_to_int(CONTAINER_FloatItem(c, index));
}

void* CONTAINER_ItemPointer(CONTAINER c, int index) {
  ContainerRecord* r = twain::container_resolve(c);
  if (!r || r->kind == TWON_RANGE) return nullptr;
  const int n = twain::container_count(*r);
  if (n <= 0) return nullptr;
  return twain::container_item_at(*r, std::clamp(index, 0, n - 1));
}

double CONTAINER_CurrentValue(CONTAINER c) { return current_or_default(c, true).value_or(-1); }
double CONTAINER_DefaultValue(CONTAINER c) { return current_or_default(c, false).value_or(-1); }
int CONTAINER_CurrentValueInt(CONTAINER c) { return twain::round_to_int(CONTAINER_CurrentValue(c)); }
int CONTAINER_DefaultValueInt(CONTAINER c) { return twain::round_to_int(CONTAINER_DefaultValue(c)); }

double CONTAINER_MinValue(CONTAINER c) { return extreme(c, false).value_or(-1); }
double CONTAINER_MaxValue(CONTAINER c) { return extreme(c, true).value_or(-1); }
int CONTAINER_MinValueInt(CONTAINER c) { return twain::round_to_int(CONTAINER_MinValue(c)); }
int CONTAINER_MaxValueInt(CONTAINER c) { return twain::round_to_int(CONTAINER_MaxValue(c)); }

double CONTAINER_StepSize(CONTAINER c) {
  ContainerRecord* r = twain::container_resolve(c);
  if (!r || r->kind != TWON_RANGE) return -1;
  return twain::range_slot(*r, twain::kRangeStep);
}

int CONTAINER_StepSizeInt(CONTAINER c) { return twain::round_to_int(CONTAINER_StepSize(c)); }

int CONTAINER_CurrentIndex(CONTAINER c) { return index_of(c, true); }
int CONTAINER_DefaultIndex(CONTAINER c) { return index_of(c, false); }

int CONTAINER_FindValue(CONTAINER c, double value) {
  ContainerRecord* r = twain::container_resolve(c);
  if (!r || !twain::item_is_number(twain::container_item_type(*r))) return -1;
  if (r->kind == TWON_RANGE) return range_find(*r, value);
  for (int i = twain::container_count(*r) - 1; i >= 0; --i) {
    if (twain::container_number(*r, i) == value) return i;
  }
  return -1;
}

int CONTAINER_ContainsValue(CONTAINER c, double value) {
  return CONTAINER_FindValue(c, value) >= 0 ? 1 : 0;
}
