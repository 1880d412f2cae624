// Reading the device's answers: one value of an entry as a number, a text or
// a frame. The device decides the item type and count, so every read checks
// them against the size table and the answer block's real size before
// touching a byte.
#include "twain/acquisition/ext_info.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/error_record.h"
#include "log/trace.h"
#include "orivane/errors.h"
#include "twain/capabilities/item_values.h"
#include "twain/session/memory.h"

namespace twain {

namespace {

// Longest text of each TWTY_STR type, STR32 first.
constexpr std::size_t kTextLimits[] = {32, 64, 128, 255, 1023};

// Bytes NumItems values take; 64-bit, so 65535 items of any size cannot wrap.
std::uint64_t answer_bytes(const TW_INFO& info) {
  return static_cast<std::uint64_t>(info.NumItems) * item_size(info.ItemType);
}

double frame_part(std::span<const unsigned char> bytes, int k) {
  return item_read_number(bytes.data() + 4 * k, kTyFix32);
}

// Copies at most `limit` characters (stopping at a zero) into out.
void copy_text(const unsigned char* text, std::size_t available, std::size_t limit, char* out,
               std::size_t out_size) {
  const auto* chars = reinterpret_cast<const char*>(text);
  std::size_t n = strnlen(chars, std::min(available, limit));
  n = std::min(n, out_size - 1);
  std::memcpy(out, chars, n);
  out[n] = '\0';
}

// Formats the value by its type. False for types without a text form.
bool format_value(int type, std::span<const unsigned char> bytes, char* out, std::size_t out_size) {
  if (type == kTyBool) {
    const int flag = static_cast<int>(item_read_number(bytes.data(), kTyBool));
    std::snprintf(out, out_size, "%s(%d)", flag ? "TRUE" : "FALSE", flag);
  } else if (type == kTyFrame) {
    std::snprintf(out, out_size, "{%g, %g, %g, %g}", frame_part(bytes, 0), frame_part(bytes, 1),
                  frame_part(bytes, 2), frame_part(bytes, 3));
  } else if (type >= kTyStr32 && type <= kTyStr1024) {
    copy_text(bytes.data(), bytes.size(), kTextLimits[type - kTyStr32], out, out_size);
  } else if (item_is_number(type)) {
    std::snprintf(out, out_size, "%g", item_read_number(bytes.data(), type));
  } else {
    return false;
  }
  return true;
}

bool text_failed(char* out) {
  out[0] = '\0';
  LogPrint(" => FALSE\n");
  return false;
}

}  // namespace

bool ext_info_in_block(const TW_INFO& info) { return answer_bytes(info) > kExtInfoInlineBytes; }

ExtInfoValue::ExtInfoValue(const TW_INFO& info, int index) {
  const std::size_t size = item_size(info.ItemType);
  if (size == 0 || index < 0 || index >= info.NumItems) return;
  const std::size_t at = static_cast<std::size_t>(index) * size;
  in_block_ = ext_info_in_block(info);
  if (!in_block_) {
    static_assert(sizeof inline_ == sizeof info.Item);
    std::memcpy(inline_, &info.Item, sizeof inline_);
    bytes_ = {inline_ + at, size};
    return;
  }
  const auto block = reinterpret_cast<TW_HANDLE>(info.Item);
  // A block smaller than the values the device announced would be read past
  // its end; block_size is 0 for blocks unknown to this program.
  if (!block || block_size(block) < answer_bytes(info)) return;
  const auto* p = static_cast<const unsigned char*>(block_lock(block));
  if (!p) return;
  block_ = block;
  bytes_ = {p + at, size};
}

ExtInfoValue::~ExtInfoValue() {
  if (block_) block_unlock(block_);
}

std::optional<double> ext_info_number(unsigned code, int index) {
  if (code < kExtInfoFirstCode || index < 0) {
    RecordError(ERR_BAD_PARAMETER, "getting x-info");
    return std::nullopt;
  }
  const TW_INFO* info = ext_info_find(code);
  if (!info || index >= info->NumItems) return std::nullopt;
  if (info->ItemType > kTyFix32) {
    RecordError(ERR_FAILURE, "type mismatch reading x-info");
    return std::nullopt;
  }
  const ExtInfoValue value(*info, index);
  if (!value.ok()) {
    RecordError(ERR_FAILURE, "GlobalLock(xinfo.Item)");
    return std::nullopt;
  }
  return item_read_number(value.bytes().data(), info->ItemType);
}

bool ext_info_text(unsigned code, int index, char* out, std::size_t out_size) {
  if (out_size == 0) return false;
  out[0] = '\0';
  const TW_INFO* info = ext_info_find(code);
  if (!info) {
    LogPrint("TWEI code(0x%08lx) not found\n", static_cast<unsigned long>(code));
    return text_failed(out);
  }
  if (index < 0 || index >= info->NumItems) {
    LogPrint("item index(%d) outside avail range [0..%d]\n", index, info->NumItems - 1);
    return text_failed(out);
  }
  const ExtInfoValue value(*info, index);
  if (value.in_block()) {
    LogPrint("treating item(0x%08lx) as handle...\n", static_cast<unsigned long>(info->Item));
    if (!value.ok()) {
      LogPrint("**null pointer\n");
      return text_failed(out);
    }
  }
  if (!value.ok() || !format_value(info->ItemType, value.bytes(), out, out_size)) {
    LogPrint("unknown item type(%d)\n", info->ItemType);
    std::snprintf(out, out_size, "%s", "<value of unknown type>");
  }
  LogPrint(" => TRUE, '%.80s'\n", out);
  return true;
}

std::optional<ExtInfoFrame> ext_info_frame(unsigned code, int index) {
  const TW_INFO* info = ext_info_find(code);
  if (!info || info->ItemType != kTyFrame) return std::nullopt;
  const ExtInfoValue value(*info, index);
  if (!value.ok()) return std::nullopt;
  const auto bytes = value.bytes();
  return ExtInfoFrame{frame_part(bytes, 0), frame_part(bytes, 1), frame_part(bytes, 2),
                      frame_part(bytes, 3)};
}

}  // namespace twain
