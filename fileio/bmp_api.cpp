// The BMP functions of the C surface.
#include "orivane/bmp_api.h"

#include <cstring>
#include <string>

#include "dib/api_guard.h"
#include "fileio/bmp.h"
#include "log/trace.h"

using dib::api::guard;

namespace {

constexpr std::size_t kMessageBytes = 1024;

}  // namespace

int32_t DIB_WriteToBmp(DIB_HANDLE dib, const char* path) {
  LogDibCall("WriteToBmp(0x%lx, \"%s\")\n", static_cast<unsigned long>(dib), path ? path : "");
  if (path == nullptr || *path == '\0') {
    RecordError(ERR_BAD_FILENAME, "");
    return -2;
  }
  return guard("DIB_WriteToBmp", -4, [&] { return fileio::bmp_write_path(dib, path); });
}

int32_t DIB_WriteToBmpFile(DIB_HANDLE dib, int32_t fd) {
  return guard("DIB_WriteToBmpFile", -4, [&] { return fileio::bmp_write_fd(dib, fd); });
}

uint32_t WriteDibToBmpBuffer(DIB_HANDLE dib, void* buffer, uint32_t capacity) {
  return guard("WriteDibToBmpBuffer", 0u, [&] { return fileio::bmp_write_buffer(dib, buffer, capacity); });
}

DIB_HANDLE LoadBmp(const char* path, char* message) {
  std::string why;
  const DIB_HANDLE h = guard("LoadBmp", DIB_HANDLE{0}, [&] {
    if (path == nullptr) {
      why = "LoadBmp:_open((null)) failed\n";
      return DIB_HANDLE{0};
    }
    return fileio::bmp_read_file(path, &why).release();
  });
  if (message != nullptr) {
    const std::size_t n = std::min(why.size(), kMessageBytes - 1);
    std::memcpy(message, why.data(), n);
    message[n] = '\0';
  }
  return h;
}

DIB_HANDLE BMP_LoadFromBuffer(uint32_t length, const void* bytes) {
  if (bytes == nullptr) {
    LogPrint("BMP_LoadFromBuffer\n");
    RecordError(ERR_FILE_READ, "BMP in memory");
    return 0;
  }
  return guard("BMP_LoadFromBuffer", DIB_HANDLE{0}, [&] {
    return fileio::bmp_read_buffer({static_cast<const std::uint8_t*>(bytes), length}).release();
  });
}
