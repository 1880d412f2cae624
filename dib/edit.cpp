#include "dib/edit.h"

#include <algorithm>
#include <cstring>

namespace dib {

bool table_resize(Handle h, int count) {
  std::size_t old_offset, pixel_bytes, new_offset;
  InfoHeader hd;
  {
    Locked lock(h);
    const DibView& v = lock.view();
    const int depth = v.depth();
    if (depth > 8 || !v.rows_ok() || header_has_masks(v.header())) return false;
    const int full = 1 << depth;
    if (count == 0) count = full;
    if (count < 1 || count > full) return false;
    if (static_cast<std::size_t>(count) == v.table().size()) return true;
    hd = v.header();
    old_offset = v.pixel_offset();
    pixel_bytes = v.stride() * static_cast<std::size_t>(v.height());
    new_offset = hd.size + static_cast<std::size_t>(count) * kEntryBytes;
  }
  const std::size_t old_size = platform::mem_size(h);
  const std::size_t new_size = new_offset + pixel_bytes;
  if (new_size > old_size && platform::mem_realloc(h, new_size) == 0) return false;
  auto* p = static_cast<std::uint8_t*>(platform::mem_lock(h));
  std::memmove(p + new_offset, p + old_offset, pixel_bytes);
  if (new_offset > old_offset) std::memset(p + old_offset, 0, new_offset - old_offset);
  hd.clr_used = static_cast<std::uint32_t>(count);
  header_write(p, hd);
  platform::mem_unlock(h);
  if (new_size < old_size) platform::mem_realloc(h, new_size);  // shrinking cannot lose data
  return true;
}

void set_subtractive(DibView& v, bool on) {
  const int depth = v.depth();
  if (depth != 24 && depth != 32 && depth != 48) return;
  InfoHeader hd = v.header();
  const std::uint32_t low = hd.compression & 0xFF;
  // Bit-field data keeps its masks where the marker would go.
  if (low != kCompressionPlain && low != kCompressionSubtractive) return;
  hd.compression = (hd.compression & ~0xFFu) | (on ? kCompressionSubtractive : kCompressionPlain);
  v.store_header(hd);
}

bool shrink_to_packed(Handle h) {
  std::size_t want;
  {
    Locked lock(h);
    const DibView& v = lock.view();
    const InfoHeader& hd = v.header();
    const std::size_t data = v.rows_ok() ? v.stride() * static_cast<std::size_t>(v.height())
                                         : hd.size_image;
    want = (hd.size + header_table_bytes(hd) + data + 3) / 4 * 4;
    if (want >= v.block_size()) return true;
  }
  return platform::mem_realloc(h, want) != 0;
}

bool replace_contents(Handle target, Handle source) {
  if (target == source) return dib_is_block(target);
  bool ok = false;
  if (dib_is_block(target) && dib_is_block(source)) {
    const std::size_t size = platform::mem_size(source);
    if (platform::mem_realloc(target, size) != 0) {
      void* dst = platform::mem_lock(target);
      const void* src = platform::mem_lock(source);
      std::memcpy(dst, src, size);
      platform::mem_unlock(source);
      platform::mem_unlock(target);
      ok = true;
    }
  }
  dib_free(source);
  return ok;
}

bool is_valid(const DibView& v) {
  const InfoHeader& h = v.header();
  if (h.size != kInfoHeaderBytes || h.planes != 1) return false;
  if (h.clr_used > 256 || h.clr_important > 256) return false;
  switch (h.bit_count) {
    case 1: case 4: case 8: case 15: case 16: case 24: case 32: case 48: break;
    default: return false;
  }
  return v.rows_ok() || (v.compressed() && v.pixel_offset() + h.size_image <= v.block_size());
}

}  // namespace dib
