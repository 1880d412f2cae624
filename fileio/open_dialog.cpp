// The open dialog: every image file the library can read now in one entry,
// then one entry per format, shown by the user-interface back end. A back
// end with no one to ask cancels.
#include <cstring>
#include <string>
#include <vector>

#include "log/trace.h"
#include "orivane/file_api.h"
#include "orivane/file_options.h"
#include "platform/ui.h"

namespace {

// Room for the chosen name, terminator included, as the callers' buffers.
constexpr std::size_t kFileBuffer = 255;

struct OpenEntry {
  int format;             // -1: always offered (BMP needs no module)
  const char* label;      // its own entry
  const char* extensions; // in the all-images label
  const char* pattern;
};

constexpr OpenEntry kEntries[] = {
    {-1, "Windows Bitmaps (*.bmp)", ".bmp", "*.bmp"},
    {FF_JPEG, "JPEG Files (*.jpg;*.jpeg)", ".jpg;.jpeg", "*.jpg;*.jpeg"},
    {FF_TIFF, "TIFF Files (*.tif;*.tiff;*.mpt)", ".tif;.tiff", "*.tif;*.tiff;*.mpt"},
    {FF_PDF, "Orivane PDF Files (*.pdf)", ".pdf", "*.pdf"},
    {FF_PNG, "PNG Files (*.png)", ".png", "*.png"},
    {FF_GIF, "GIF Files (*.gif)", ".gif", "*.gif"},
    {FF_DCX, "DCX Files (*.dcx)", ".dcx", "*.dcx"},
};

std::vector<platform::UiFileType> open_types() {
  std::string all_label = "Image Files (", all_pattern;
  std::vector<platform::UiFileType> each;
  for (const OpenEntry& e : kEntries) {
    if (e.format >= 0 && !IsFormatAvailable(e.format)) continue;
    if (!all_pattern.empty()) {
      all_label += ';';
      all_pattern += ';';
    }
    all_label += e.extensions;
    all_pattern += e.pattern;
    each.push_back({e.label, e.pattern});
  }
  std::vector<platform::UiFileType> types{{all_label + ")", all_pattern}};
  types.insert(types.end(), each.begin(), each.end());
  return types;
}

}  // namespace

int PromptForOpenFilename(char* path) {
  LogPrint("PromptForOpenFilename\n");
  if (path) path[0] = '\0';
  platform::UiOpenRequest request;
  request.title = "Open";
  request.types = open_types();
  std::string chosen;
  // A name the buffer cannot hold whole counts as none: a cut name would be
  // another file.
  if (path == nullptr || !platform::ui().open_dialog(request, &chosen) || chosen.empty() ||
      chosen.size() >= kFileBuffer) {
    LogPrint("*CANCELLED*\n");
    return 0;
  }
  std::memcpy(path, chosen.c_str(), chosen.size() + 1);
  LogPrint("=> TRUE ('%s')\n", path);
  return 1;
}
