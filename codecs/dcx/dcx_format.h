// DCX files: a header of page offsets followed by PCX pages.
//
// Header: the magic number 0x3ADE68B1 (little-endian), then up to 1023 32-bit
// page offsets ended by a 0 entry; writers reserve the whole 4,100-byte table
// so that pages can be added without moving the data. Each page is a PCX image
// (128-byte header, run-length coded scan lines). We write 1-bit pages (the
// library converts deeper images first) and read 1-bit, 8-bit palette/gray and
// 24-bit (three 8-bit planes) pages.
//
// Reading never trusts the header: offsets must lie inside the file, the image
// must be decodable from the bytes that follow (a run pair yields at most 63
// bytes), and the pixel count (the loading limit) and the pixel data are
// capped, so a forged size is refused before any large allocation.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace dcx {

constexpr std::uint32_t kDcxMagic = 0x3ADE68B1;
constexpr int kMaxPages = 1023;
constexpr std::size_t kHeaderBytes = 4 + 4 * (kMaxPages + 1);
constexpr std::size_t kPcxHeaderBytes = 128;
// Largest pixel block a page may decode to.
constexpr std::uint64_t kMaxPixelBytes = 512ull << 20;

// A packed DIB block as a value: 40-byte header, colour table, rows (bottom-up).
using DibBytes = std::vector<std::uint8_t>;

// The PCX encoding of the 1-bit DIB block at `block` (`size` bytes): white is
// bit 1 in the file whatever the DIB's table says. Nothing when the block is
// not a plain 1-bit DIB that fits its size.
std::optional<std::vector<std::uint8_t>> pcx_encode_bw(const std::uint8_t* block, std::size_t size);

// Decodes the PCX page at the start of `data` into a DIB block. Nothing (and
// a reason in `out_error`) for a malformed, truncated or oversized page, or
// one of more than `max_pixels` pixels (the loading limit).
std::optional<DibBytes> pcx_decode(std::span<const std::uint8_t> data, std::uint64_t max_pixels,
                                   std::string* out_error);

// The page offsets of a DCX file image; nothing when the magic is wrong or an
// offset lies outside the data (`file_size` = the whole file's length).
std::optional<std::vector<std::uint32_t>> dcx_offsets(std::span<const std::uint8_t> header,
                                                      std::uint64_t file_size);

// The 4,100-byte header for the given page offsets.
std::vector<std::uint8_t> dcx_header(const std::vector<std::uint32_t>& offsets);

}  // namespace dcx
