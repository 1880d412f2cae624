// Fetching an image file from a URL and loading its pages from memory; the
// file loaders hand their URL names here.
#include <algorithm>
#include <string>

#include "core/error_record.h"
#include "fileio/url_pages.h"
#include "log/trace.h"
#include "orivane/errors.h"
#include "orivane/file_api.h"
#include "orivane/upload_api.h"
#include "upload/transfer.h"
#include "upload/upload_settings.h"

namespace {

void free_pages(DIB_HANDLE* array, int count) {
  for (int i = 0; i < count; ++i) {
    if (array[i]) DIB_Free(array[i]);
    array[i] = 0;
  }
}

// Pages start, start + 1, ... of the fetched file; the number loaded.
int extract_pages(const std::string& bytes, const char* url, DIB_HANDLE* array, int start, int count) {
  LogPrint("extracting pages...\n");
  const auto length = static_cast<uint32_t>(bytes.size());
  if (start == 0) return DIB_LoadArrayFromBuffer(array, count, bytes.data(), length);
  const int pages = BufferPageCount(bytes.data(), length);
  if (pages < 0) return -1;
  count = std::min(count, pages - start);
  if (count < 0) {
    RecordError(ERR_NOT_ENOUGH_PAGES, url);
    return -1;
  }
  for (int i = 0; i < count; ++i) {
    array[i] = DIB_LoadPageFromBuffer(bytes.data(), length, start + i);
    if (!array[i]) return i;
  }
  return count;
}

}  // namespace

int32_t DibArrayFromURL(const char* url, DIB_HANDLE* array, int32_t start, int32_t count) {
  LogPrint("DibArrayFromURL(\"%s\", 0x%p, start=%d count=%d)\n", url ? url : "", static_cast<void*>(array), start,
           count);
  core::error_clear();
  upload::upload_settings().response.clear();
  if (array) std::fill(array, array + std::max(count, 0), DIB_HANDLE{0});
  int result = -1;
  if (!url) {
    RecordError(ERR_BAD_PARAMETER, "DibArrayFromURL: NULL URL");
  } else if (!array) {
    RecordError(ERR_BAD_PARAMETER, "DibArrayFromURL: NULL array ptr");
  } else if (start < 0 || count < 0) {
    RecordErrorF(ERR_BAD_PARAMETER, "DibArrayFromURL: start=%d count=%d", start, count);
  } else if (const upload::CurlApi* api = upload::curl_api(); api) {
    std::string bytes;
    upload::TransferRequest r;
    r.url = url;
    r.download = &bytes;
    if (upload::perform(*api, r) == 0) result = extract_pages(bytes, url, array, start, count);
  }
  // A failed load leaves nothing for the caller to free.
  if (core::error_record().code != 0) {
    if (array && result > 0) free_pages(array, result);
    result = -1;
  }
  LogPrint("DibArrayFromURL => %d\n", result);
  return result;
}
