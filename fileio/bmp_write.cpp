// BMP writers: the 14-byte file header, then the packed DIB byte for byte.
#include "fileio/bmp.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "core/error_record.h"
#include "dib/allocate.h"
#include "dib/row_readers.h"
#include "log/trace.h"
#include "orivane/errors.h"

namespace fileio {
namespace {

// Writes all bytes, resuming after interruptions and partial writes.
bool write_all(int fd, const void* data, std::size_t n) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  while (n > 0) {
    const ssize_t k = ::write(fd, p, n);
    if (k < 0 && errno == EINTR) continue;
    if (k <= 0) return false;
    p += k;
    n -= static_cast<std::size_t>(k);
  }
  return true;
}

// A 24-bit RGB copy of a CMY or CMYK image (files hold no subtractive colour).
dib::Dib rgb_copy(const dib::DibView& v) {
  dib::Dib copy = dib::allocate(24, v.width(), v.height(), dib::kRGB);
  dib::Locked out(copy.get());
  dib::InfoHeader hd = out->header();
  hd.x_ppm = v.header().x_ppm;
  hd.y_ppm = v.header().y_ppm;
  out->store_header(hd);
  const dib::RowReader reader(v);
  for (int y = 0; y < v.height(); ++y) reader.rgb(y, out->row(y));
  return copy;
}

int write_view(const dib::DibView& v, int fd) {
  const std::optional<BmpLayout> layout = bmp_layout(v);
  if (!layout) {
    RecordError(ERR_BAD_DIB, "(DIB_WriteToBmpFile)");
    return -3;
  }
  std::uint8_t file_header[kBmpFileHeaderBytes];
  bmp_file_header_write(file_header, BmpFileHeader{kBmpMagic, layout->file_size, 0, 0, layout->off_bits});
  if (!write_all(fd, file_header, sizeof file_header) || !write_all(fd, v.block(), layout->block_bytes)) {
    RecordError(ERR_FILE_WRITE, "");
    return -4;
  }
  return 0;
}

}  // namespace

BmpFileHeader bmp_file_header_read(const std::uint8_t* p) {
  BmpFileHeader h;
  std::memcpy(&h.type, p, 2);
  std::memcpy(&h.size, p + 2, 4);
  std::memcpy(&h.reserved1, p + 6, 2);
  std::memcpy(&h.reserved2, p + 8, 2);
  std::memcpy(&h.off_bits, p + 10, 4);
  return h;
}

void bmp_file_header_write(std::uint8_t* p, const BmpFileHeader& h) {
  std::memcpy(p, &h.type, 2);
  std::memcpy(p + 2, &h.size, 4);
  std::memcpy(p + 6, &h.reserved1, 2);
  std::memcpy(p + 8, &h.reserved2, 2);
  std::memcpy(p + 10, &h.off_bits, 4);
}

std::optional<BmpLayout> bmp_layout(const dib::DibView& v) {
  const dib::InfoHeader& h = v.header();
  const std::uint32_t low = h.compression & 0xFF;
  std::uint64_t pixels;
  if (!v.compressed() && (low == dib::kCompressionPlain || low == dib::kCompressionBitFields)) {
    const std::optional<std::uint64_t> stride = dib::row_stride(h.bit_count, h.width);
    if (!stride) return std::nullopt;
    if (__builtin_mul_overflow(*stride, static_cast<std::uint64_t>(dib::header_rows(h)), &pixels)) {
      return std::nullopt;
    }
  } else {
    pixels = h.size_image;
    if (pixels == 0) return std::nullopt;
  }
  const std::uint64_t off = kBmpFileHeaderBytes + std::uint64_t{h.size} + dib::header_table_bytes(h);
  const std::uint64_t total = off + pixels;
  if (total > 0xFFFFFFFFu || total - kBmpFileHeaderBytes > v.block_size()) return std::nullopt;
  return BmpLayout{static_cast<std::uint32_t>(off), static_cast<std::uint32_t>(total),
                   static_cast<std::size_t>(total - kBmpFileHeaderBytes)};
}

int bmp_write_fd(dib::Handle h, int fd) {
  std::optional<dib::Locked> lock;
  try {
    lock.emplace(h);
  } catch (const dib::Error&) {
    LogPrint("Lock(0x%lx) failed!", static_cast<unsigned long>(h));
    RecordError(ERR_BAD_DIB, "(DIB_WriteToBmpFile)");
    return -3;
  }
  const int type = (*lock)->pixel_type();
  if (type == dib::kCMY || type == dib::kCMYK) {
    if (!(*lock)->rows_ok()) {
      RecordError(ERR_BAD_DIB, "(DIB_WriteToBmpFile)");
      return -3;
    }
    const dib::Dib rgb = rgb_copy(lock->view());
    dib::Locked rgb_lock(rgb.get());
    return write_view(rgb_lock.view(), fd);
  }
  return write_view(lock->view(), fd);
}

int bmp_write_path(dib::Handle h, const char* path) {
  core::error_clear();
  if (!folder_ensure_for(path)) return -2;
  const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    RecordError(ERR_FILE_ACCESS, path);
    return -2;
  }
  int result = bmp_write_fd(h, fd);
  if (::close(fd) != 0 && result == 0) {
    RecordError(ERR_FILE_WRITE, "");
    result = -4;
  }
  if (result != 0) {
    // The message should name the file the writer could not finish.
    const int code = core::error_record().code != 0 ? core::error_record().code : ERR_FILE_WRITE;
    core::error_clear();
    RecordError(code, path);
  }
  return result;
}

std::uint32_t bmp_write_buffer(dib::Handle h, void* buffer, std::uint32_t capacity) {
  std::optional<dib::Locked> lock;
  try {
    lock.emplace(h);
  } catch (const dib::Error&) {
    RecordError(ERR_BAD_DIB, "(WriteDibToBmpBuffer)");
    return 0;
  }
  LogPrint("biCompression=0x%04x ", (*lock)->header().compression);
  const std::optional<BmpLayout> layout = bmp_layout(lock->view());
  if (!layout) {
    RecordError(ERR_BAD_DIB, "(WriteDibToBmpBuffer)");
    return 0;
  }
  if (buffer != nullptr && capacity >= layout->file_size) {
    auto* out = static_cast<std::uint8_t*>(buffer);
    bmp_file_header_write(out, BmpFileHeader{kBmpMagic, layout->file_size, 0, 0, layout->off_bits});
    std::memcpy(out + kBmpFileHeaderBytes, (*lock)->block(), layout->block_bytes);
  }
  LogPrint("%u bytes written", layout->file_size);
  return layout->file_size;
}

bool folder_ensure_for(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return true;  // the current folder
  std::string folder = path.substr(0, slash);
  if (folder.empty()) return true;  // the root
  struct stat st;
  if (::stat(folder.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return true;
    RecordError(ERR_CREATE_FOLDER, folder.c_str());
    return false;
  }
  if (!folder_ensure_for(folder)) return false;
  if (::mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) {
    RecordError(ERR_CREATE_FOLDER, folder.c_str());
    return false;
  }
  return true;
}

}  // namespace fileio
