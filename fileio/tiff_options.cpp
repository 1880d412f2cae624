// TIFF settings handed straight to the TIFF codec, which keeps them for the
// files written next.
#include "orivane/file_options.h"

#include <cstring>
#include <string>

#include "fileio/codec_modules.h"
#include "fileio/multipage.h"
#include "log/trace.h"

namespace {

template <typename Call>
int with_tiff(Call call) {
  const fileio::TiffApi* tiff = fileio::tiff_api();
  // The background writer may be inside OrvTiff, and its queued pages keep
  // the settings they were given with.
  if (!tiff || (!fileio::in_background_writer() && !fileio::WaitForBgWriter())) return 0;
  fileio::TiffUse use(tiff);
  return call(tiff);
}

}  // namespace

using fileio::TiffApi;

int TWAIN_SetTiffStripSize(int rows) {
  LogApiCall("SetTiffStripSize(%d)\n", rows);
  return with_tiff([&](const TiffApi* t) { return t->SetStripSize(rows); });
}

int TWAIN_GetTiffStripSize(void) {
  return with_tiff([&](const TiffApi* t) { return t->GetStripSize(); });
}

int TWAIN_SetTiffImageDescription(const char* text) {
  LogApiCall("SetTiffImageDescription(%s)\n", text ? text : "NULL");
  return with_tiff([&](const TiffApi* t) { return t->SetImageDescription(text); });
}

int TWAIN_SetTiffDocumentName(const char* text) {
  LogApiCall("SetTiffDocumentName(%s)\n", text ? text : "NULL");
  return with_tiff([&](const TiffApi* t) { return t->SetDocumentName(text); });
}

int TWAIN_SetTiffTagShort(int tag, int value) {
  LogApiCall("SetTiffTagShort(%d,%d)\n", tag, value);
  return with_tiff([&](const TiffApi* t) { return t->SetTagShort(tag, value); });
}

int TWAIN_SetTiffTagLong(int tag, long value) {
  LogApiCall("SetTiffTagLong(%d,%ld)\n", tag, value);
  return with_tiff([&](const TiffApi* t) { return t->SetTagLong(tag, static_cast<int32_t>(value)); });
}

int TWAIN_SetTiffTagString(int tag, const char* text) {
  LogApiCall("SetTiffTagString(%d,\"%s\")\n", tag, text ? text : "");
  return with_tiff([&](const TiffApi* t) { return t->SetTagAscii(tag, text); });
}

int TWAIN_SetTiffTagDouble(int tag, double value) {
  LogApiCall("SetTiffTagDouble(%d,%g)\n", tag, value);
  return with_tiff([&](const TiffApi* t) { return t->SetTagDouble(tag, value); });
}

int TWAIN_SetTiffTagRational(int tag, double value) {
  LogApiCall("SetTiffTagRational(%d,%g)\n", tag, value);
  return with_tiff([&](const TiffApi* t) { return t->SetTagRational(tag, value); });
}

int TWAIN_SetTiffTagRationalArray(int tag, const double* values, int count) {
  LogApiCall("SetTiffTagRationalArray(%d,...,%d)\n", tag, count);
  if (count < 0 || (count > 0 && !values)) return 0;
  return with_tiff([&](const TiffApi* t) { return t->SetTagRationalArray(tag, values, count); });
}

int TWAIN_SetTiffTagBytes(int tag, const void* bytes, int count) {
  LogApiCall("SetTiffTagBytes(%d, 0x%08lx, %d)\n", tag, static_cast<unsigned long>(reinterpret_cast<uintptr_t>(bytes)),
             count);
  if (count < 0 || (count > 0 && !bytes)) return 0;
  return with_tiff([&](const TiffApi* t) { return t->SetTagBytes(tag, bytes, count); });
}

int TWAIN_SetTiffTagUndefined(int tag, const void* bytes, int count) {
  LogApiCall("SetTiffTagUndefined(%d, 0x%08lx, %d)\n", tag,
             static_cast<unsigned long>(reinterpret_cast<uintptr_t>(bytes)), count);
  if (count < 0 || (count > 0 && !bytes)) return 0;
  return with_tiff([&](const TiffApi* t) { return t->SetTagUndefined(tag, bytes, count); });
}

void TWAIN_ResetTiffTags(void) {
  LogApiCall("ResetTiffTags\n");
  if (fileio::codec_if_loaded(fileio::Codec::Tiff)) fileio::tiff_api()->ResetTags();
}

int TWAIN_DefineCustomTiffTag(int tag, int read_count, int field_type, const char* name) {
  LogApiCall("DefineCustomTiffTag(%d,%d,%d,%s)\n", tag, read_count, field_type, name ? name : "NULL");
  return with_tiff([&](const TiffApi* t) { return t->DefineCustomTag(tag, read_count, field_type, name); });
}

int TWAIN_GetTiffTagAscii(const char* path, int page, int tag, char* buffer, int size) {
  LogApiCall("GetTiffTagAscii(%s, %d, %d, %d)\n", path ? path : "", page, tag, size);
  if (!path || size < 0 || (size > 0 && !buffer)) return -1;
  const fileio::TiffApi* tiff = fileio::tiff_api();
  if (!tiff) return -1;
  fileio::TiffUse use(tiff);
  return tiff->GetTagAscii(path, page, tag, buffer, size);
}

const char* TWAIN_TiffTagAscii(const char* path, int page, int tag) {
  LogApiCall("TiffTagAscii(%s, %d, %d)", path ? path : "", page, tag);
  static thread_local std::string text;
  text.assign(8192, '\0');
  const int n = TWAIN_GetTiffTagAscii(path, page, tag, text.data(), 8192);
  text.resize(n > 0 ? std::strlen(text.c_str()) : 0);
  LogPrint(" => %s\n", text.c_str());
  return text.c_str();
}
