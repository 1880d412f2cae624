// The source's custom data (DAT_CUSTOMDSDATA) saved to and restored from a
// file, so that a device's whole setup can be kept between runs.
#include "orivane/twain_capability.h"

#include <cstdio>
#include <memory>

#include "core/error_record.h"
#include "log/trace.h"
#include "orivane/errors.h"
#include "twain/session/dsm.h"
#include "twain/session/memory.h"
#include "twain/session/session.h"

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

bool in_state4(const char* operation) {
  if (twain::session().state == 4) return true;
  RecordError(ERR_STATE4_ONLY, operation);
  return false;
}

// Writes the locked data to the file; records what went wrong.
bool write_data(const char* name, const void* data, std::size_t length) {
  File file(std::fopen(name, "wb"));
  if (!file) {
    RecordError(ERR_FILE_ACCESS, name);
    return false;
  }
  if (std::fwrite(data, 1, length, file.get()) != length) {
    RecordError(ERR_FILE_WRITE, name);
    return false;
  }
  if (std::fclose(file.release()) != 0) {
    RecordError(ERR_FILE_WRITE, name);
    return false;
  }
  return true;
}

}  // namespace

int TWAIN_GetCustomDataToFile(const char* file_name) {
  const char* name = file_name ? file_name : "";
  LogApiCall("GetCustomDataToFile(\"%s\")\n", name);
  core::error_clear();
  if (!in_state4("GetCustomData")) return 0;
  TW_CUSTOMDSDATA custom{};
  if (!twain::ds_call(DG_CONTROL, DAT_CUSTOMDSDATA, MSG_GET, &custom)) {
    RecordError(ERR_DS_OPERATION, "GetCustomData");
    return 0;
  }
  const void* data = twain::block_lock(custom.hData);
  bool ok = false;
  if (!data) {
    RecordError(ERR_BAD_CONTAINER_HANDLE, nullptr);
  } else {
    const std::size_t held = twain::block_size(custom.hData);
    // A source claiming more than its block holds gets only what is there.
    const std::size_t length = held != 0 && held < custom.InfoLength ? held : custom.InfoLength;
    ok = write_data(name, data, length);
    twain::block_unlock(custom.hData);
  }
  twain::block_free(custom.hData);
  return ok ? 1 : 0;
}

int TWAIN_SetCustomDataFromFile(const char* file_name) {
  const char* name = file_name ? file_name : "";
  LogApiCall("SetCustomDataFromFile(\"%s\")\n", name);
  core::error_clear();
  if (!in_state4("SetCustomData")) return 0;
  File file(std::fopen(name, "rb"));
  if (!file || std::fseek(file.get(), 0, SEEK_END) != 0) {
    RecordError(ERR_FILE_ACCESS, name);
    return 0;
  }
  const long size = std::ftell(file.get());
  std::rewind(file.get());
  if (size < 0) {
    RecordError(ERR_FILE_ACCESS, name);
    return 0;
  }
  TW_CUSTOMDSDATA custom{};
  custom.InfoLength = static_cast<TW_UINT32>(size);
  custom.hData = twain::block_alloc(static_cast<std::size_t>(size));
  void* data = custom.hData ? twain::block_lock(custom.hData) : nullptr;
  if (!data) {
    twain::block_free(custom.hData);
    RecordError(ERR_MEMORY, name);
    return 0;
  }
  const bool read_all =
      std::fread(data, 1, static_cast<std::size_t>(size), file.get()) == static_cast<std::size_t>(size);
  twain::block_unlock(custom.hData);
  int ok = 0;
  if (!read_all) {
    RecordError(ERR_FILE_READ, name);
  } else if (!(ok = twain::ds_call(DG_CONTROL, DAT_CUSTOMDSDATA, MSG_SET, &custom))) {
    RecordError(ERR_DS_OPERATION, "SetCustomData");
  }
  twain::block_free(custom.hData);
  return ok;
}
