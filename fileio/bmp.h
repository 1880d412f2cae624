// BMP files: the file header in front of a packed DIB, written from and read
// into DIB handles. The readers accept what other programs write (version 4
// and 5 headers, masks inside the header, gaps before the pixels, top-down
// rows) and turn it into the library's own block layout; a header whose sizes
// the input cannot back is refused before anything is allocated.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "dib/dib.h"

namespace fileio {

constexpr std::size_t kBmpFileHeaderBytes = 14;
constexpr std::uint16_t kBmpMagic = 0x4D42;  // "BM"

struct BmpFileHeader {
  std::uint16_t type = 0;
  std::uint32_t size = 0;
  std::uint16_t reserved1 = 0, reserved2 = 0;
  std::uint32_t off_bits = 0;
};

BmpFileHeader bmp_file_header_read(const std::uint8_t* p);
void bmp_file_header_write(std::uint8_t* p, const BmpFileHeader& h);

// Where a DIB's bytes go in its BMP file: the file header's offset and size
// and how many bytes of the block follow the file header.
struct BmpLayout {
  std::uint32_t off_bits = 0;
  std::uint32_t file_size = 0;
  std::size_t block_bytes = 0;
};
// Nothing when the image cannot be written: a compressed stream without its
// size, sizes beyond 4 GiB, or a block shorter than what the header names.
std::optional<BmpLayout> bmp_layout(const dib::DibView& v);

// Writers. Return 0, -3 (bad image) or -4 (write failed), recording errors.
int bmp_write_fd(dib::Handle h, int fd);
int bmp_write_path(dib::Handle h, const char* path);
// The file size; stores the file when `buffer` holds it. 0 for a bad image.
std::uint32_t bmp_write_buffer(dib::Handle h, void* buffer, std::uint32_t capacity);

// Readers. The file reader leaves its reason in *out_message (empty when
// memory ran out); the buffer reader records the error itself.
dib::Dib bmp_read_file(const char* path, std::string* out_message);
dib::Dib bmp_read_buffer(std::span<const std::uint8_t> bytes);

// Makes sure the folder that will hold `path` exists, creating the missing
// folders from the top down. Records ERR_CREATE_FOLDER on failure.
bool folder_ensure_for(const std::string& path);

}  // namespace fileio
