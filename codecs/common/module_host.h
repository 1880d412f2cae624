// What a codec module reaches through the library's host table: the table
// itself (kept per module), new DIBs made with the host's allocator, result
// blocks, and the error record. Header-only; each module has its own copy of
// the state because each is its own shared object.
#pragma once
#include <cstdint>
#include <string>

#include "codecs/codec_abi.h"
#include "codecs/common/dib_block.h"
#include "codecs/common/image_limits.h"

namespace codec {

// The host table handed to <PREFIX>_SetHost; null until then.
inline const OrvHost*& host() {
  static const OrvHost* table = nullptr;
  return table;
}

// Accepts a host table of a known ABI version. 0 = taken.
inline std::int32_t host_set(const OrvHost* table) {
  if (!table || table->abi_version != ORV_CODEC_ABI_VERSION || table->size < ORV_HOST_BASE_SIZE)
    return 1;
  host() = table;
  return 0;
}

// The library's loading limit, as this module's host table tells it.
inline bool image_size_allowed(std::uint64_t width, std::uint64_t height) {
  return image_size_allowed(host(), width, height);
}
inline std::string image_size_refusal(std::uint64_t width, std::uint64_t height) {
  return image_size_refusal(host(), width, height);
}

inline void host_record_error(int code, const std::string& detail) {
  if (host() && host()->record_error) host()->record_error(code, detail.c_str());
}
inline void host_log(const std::string& text) {
  if (host() && host()->log && host()->trace_level && host()->trace_level() > 0)
    host()->log(text.c_str());
}

// A DIB being made for the caller: allocated through the host, kept locked
// while it is filled, freed again unless released.
class NewDib {
 public:
  NewDib() = default;
  NewDib(const NewDib&) = delete;
  NewDib& operator=(const NewDib&) = delete;
  ~NewDib() { discard(); }

  // Allocates a `width` x `rows` image of `depth` bits and `pixel_type`
  // (ORV_PT_*). False when the size is 0, over the loading limit or over
  // kMaxDibBytes (`too_large` tells which of these applies) or memory runs
  // out. Readers check the loading limit themselves first, to say so.
  bool make(int pixel_type, std::uint32_t width, std::uint32_t rows, int depth,
            bool* out_too_large = nullptr) {
    discard();
    const std::uint32_t entries = depth <= 8 ? (1u << depth) : 0;
    const bool fits = dib_block_bytes(width, rows, depth, entries).has_value() &&
                      image_size_allowed(width, rows);
    if (out_too_large) *out_too_large = !fits;
    if (!fits || !host() || width > 0x7FFFFFFF || rows > 0x7FFFFFFF) return false;
    handle_ = host()->dib_alloc(pixel_type, std::int32_t(width), std::int32_t(rows), depth);
    if (!handle_) return false;
    block_ = static_cast<std::uint8_t*>(host()->mem_lock(handle_));
    if (block_) {
      auto parsed = dib_parse(block_, host()->mem_size(handle_));
      if (parsed && parsed->depth == depth && std::uint32_t(parsed->width) == width &&
          std::uint32_t(parsed->rows) == rows) {
        layout_ = *parsed;
        return true;
      }
    }
    discard();
    return false;
  }

  DibLayout& layout() { return layout_; }
  std::uint8_t* block() { return block_; }

  void set_resolution(std::int32_t x_ppm, std::int32_t y_ppm) {
    put32(block_ + 24, std::uint32_t(x_ppm));
    put32(block_ + 28, std::uint32_t(y_ppm));
    layout_.x_ppm = x_ppm;
    layout_.y_ppm = y_ppm;
  }
  // Sets table entry i (ignored past the table).
  void set_entry(std::uint32_t i, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    if (i >= layout_.entries) return;
    std::uint8_t* e = const_cast<std::uint8_t*>(layout_.table) + 4 * i;
    e[0] = b; e[1] = g; e[2] = r; e[3] = 0;
  }
  // Gray ramp over the whole table.
  void set_gray_table() {
    const std::uint32_t n = layout_.entries;
    for (std::uint32_t i = 0; i < n; ++i) {
      const auto v = std::uint8_t(n > 1 ? i * 255 / (n - 1) : 0);
      set_entry(i, v, v, v);
    }
  }

  // Hands the finished image to the caller.
  OrvHandle release() {
    if (block_) host()->mem_unlock(handle_);
    block_ = nullptr;
    const OrvHandle h = handle_;
    handle_ = 0;
    return h;
  }
  void discard() {
    if (block_) host()->mem_unlock(handle_);
    if (handle_) host()->dib_free(handle_);
    block_ = nullptr;
    handle_ = 0;
  }

 private:
  OrvHandle handle_ = 0;
  std::uint8_t* block_ = nullptr;
  DibLayout layout_;
};

// Reads the caller's locked DIB (no size is passed with it: the header's own
// sizes are trusted, as the library made the block).
inline std::optional<DibLayout> dib_from_bmi(const void* bmi) {
  return dib_parse(static_cast<std::uint8_t*>(const_cast<void*>(bmi)), SIZE_MAX / 2);
}

}  // namespace codec
