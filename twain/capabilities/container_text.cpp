// Containers as text: one item for callers, a whole container for the trace.
#include "orivane/twain_container.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <optional>
#include <string>

#include "twain/capabilities/container.h"
#include "twain/capabilities/item_values.h"
#include "twain/session/constant_names.h"
#include "twain/session/memory.h"

using twain::ContainerRecord;

namespace {

constexpr std::size_t kFormatItemBytes = 1024;
// Items listed in a trace line before the rest is left out.
constexpr int kDescribeItemsMax = 16;

// Characters of a text item that are shown: the standard's texts hold at
// most 32, 64, 128, 255 and 1024 characters.
std::size_t text_limit(int type) {
  switch (type) {
    case twain::kTyStr32: return 32;
    case twain::kTyStr64: return 64;
    case twain::kTyStr128: return 128;
    case twain::kTyStr255: return 255;
    default: return kFormatItemBytes - 1;
  }
}

std::string number_text(double v) {
  char out[32];
  std::snprintf(out, sizeof out, "%g", v);
  return out;
}

// Item `index` as text; false when there is no such item.
bool item_text(const ContainerRecord& r, int index, std::string* out) {
  const int type = twain::container_item_type(r);
  if (r.kind == TWON_RANGE || twain::item_is_number(type)) {
    std::optional<double> v = twain::container_number(r, index);
    if (!v) return false;
    *out = type == twain::kTyBool ? (*v != 0 ? "TRUE" : "FALSE") : number_text(*v);
    return true;
  }
  if (index < 0 || index >= twain::container_count(r)) return false;
  const unsigned char* at = twain::container_item_at(r, index);
  if (!at) return false;
  if (type == twain::kTyFrame) {
    char frame[160];
    std::snprintf(frame, sizeof frame, "{%g, %g, %g, %g}",
                  twain::item_read_number(at, twain::kTyFix32),
                  twain::item_read_number(at + 4, twain::kTyFix32),
                  twain::item_read_number(at + 8, twain::kTyFix32),
                  twain::item_read_number(at + 12, twain::kTyFix32));
    *out = frame;
  } else if (type == twain::kTyUni512) {
    wchar_t wide[sizeof(TW_UNI512) / sizeof(wchar_t)];
    std::memcpy(wide, at, sizeof wide);
    out->clear();
    for (std::size_t i = 0; i < std::size(wide) && wide[i]; ++i)
      *out += wide[i] < 128 ? static_cast<char>(wide[i]) : '?';
  } else if (twain::item_is_text(type)) {
    const auto* text = reinterpret_cast<const char*>(at);
    *out = std::string(text, strnlen(text, std::min(text_limit(type), twain::item_size(type))));
  } else {
    *out = "?";
  }
  return true;
}

const char* kind_name(int kind) {
  switch (kind) {
    case TWON_ARRAY: return "ARRAY";
    case TWON_ENUMERATION: return "ENUM";
    case TWON_ONEVALUE: return "ONEVALUE";
    case TWON_RANGE: return "RANGE";
    default: return "CONTAINER?";
  }
}

std::string describe_items(const ContainerRecord& r) {
  const int count = twain::container_count(r);
  const bool is_enum = r.kind == TWON_ENUMERATION;
  const std::uint32_t current = is_enum ? twain::container_u32(r, twain::kCurrentIndexAt) : 0;
  std::string out;
  for (int i = 0; i < count && i < kDescribeItemsMax; ++i) {
    std::string item;
    if (!item_text(r, i, &item)) break;
    if (i > 0) out += ",";
    if (is_enum && static_cast<std::uint32_t>(i) == current) out += "*";
    out += item;
  }
  if (count > kDescribeItemsMax) out += ",...";
  if (is_enum) out += " def=" + std::to_string(twain::container_u32(r, twain::kDefaultIndexAt));
  return out;
}

std::string describe_range(const ContainerRecord& r) {
  return number_text(twain::range_slot(r, twain::kRangeMin)) + ".." +
         number_text(twain::range_slot(r, twain::kRangeMax)) + "/" +
         number_text(twain::range_slot(r, twain::kRangeStep)) +
         " cur=" + number_text(twain::range_slot(r, twain::kRangeCurrent)) +
         " def=" + number_text(twain::range_slot(r, twain::kRangeDefault));
}

}  // namespace

int CONTAINER_FormatItem(CONTAINER c, int index, char* out) {
  if (!out) return 0;
  out[0] = '\0';
  ContainerRecord* r = twain::container_resolve(c);
  std::string text;
  if (!r || !item_text(*r, index, &text)) return 0;
  const std::size_t n = std::min(text.size(), kFormatItemBytes - 1);
  std::memcpy(out, text.data(), n);
  out[n] = '\0';
  return 1;
}

namespace twain {

std::string container_describe(int kind, TW_HANDLE block) {
  if (!block) return "no container";
  auto* data = static_cast<unsigned char*>(block_lock(block));
  if (!data) return "unreadable container";
  ContainerRecord r;
  r.kind = kind;
  r.block = block;
  r.data = data;
  r.size = block_size(block);
  std::string out = kind_name(kind);
  if (r.size != 0 && r.size < (kind == TWON_RANGE ? kRangeBytes : 6)) {
    out += "(too small)";
  } else {
    out += "(" + item_type_name(container_item_type(r)) + ": ";
    out += kind == TWON_RANGE ? describe_range(r) : describe_items(r);
    out += ")";
  }
  block_unlock(block);
  return out;
}

}  // namespace twain
