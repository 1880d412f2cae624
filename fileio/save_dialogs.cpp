// The file dialogs: a name for one image (the formats that can be written
// now), a name for a multipage file (a fixed list), and a file to open (the
// formats that can be read now), all shown by the user-interface back end. A
// back end with no one to ask cancels.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "log/trace.h"
#include "orivane/file_api.h"
#include "orivane/file_options.h"
#include "orivane/twain_settings.h"
#include "platform/ui.h"

namespace fileio {
namespace {

// Room for a chosen name: the dialogs' file buffer.
constexpr std::size_t kFileBuffer = 255;

struct SaveEntry {
  const char* label;
  const char* pattern;
  int code;
};

// The one-image list, in order; each entry offered only when its format can
// be written now.
constexpr SaveEntry kImageEntries[] = {
    {"Windows Bitmap", "*.bmp", FF_BMP}, {"JPEG/JFIF", "*.jpg;*.jpeg", FF_JPEG}, {"PNG", "*.png", FF_PNG},
    {"TIFF", "*.tif;*.tiff", FF_TIFF},   {"PDF", "*.pdf", FF_PDF},                {"GIF", "*.gif", FF_GIF},
    {"DCX", "*.dcx", FF_DCX},
};

// The multipage list: offered whatever modules are present.
constexpr SaveEntry kMultipageEntries[] = {
    {"PDF (*.pdf)", "*.pdf", MPF_PDF},
    {"TIFF (*.tif,*.tiff,*.mpt)", "*.tif;*.tiff;*.mpt", MPF_TIFF},
    {"DCX (*.dcx)", "*.dcx", MPF_DCX},
    {"BMP/merged (*.bmp)", "*.bmp", MPF_BMP},
    {"JPG/merged (*.jpg)", "*.jpg", MPF_JPEG},
    {"PNG/merged (*.png)", "*.png", MPF_PNG},
    {"GIF/merged (*.gif)", "*.gif", MPF_GIF},
};

const char* multipage_extension(int code) {
  switch (code) {
    case MPF_PDF: return ".pdf";
    case MPF_TIFF: return ".tif";
    case MPF_DCX: return ".dcx";
    case MPF_BMP: return ".bmp";
    case MPF_JPEG: return ".jpg";
    case MPF_PNG: return ".png";
    case MPF_GIF: return ".gif";
    default: return "";
  }
}

bool image_entry_offered(const SaveEntry& e, DIB_HANDLE dib) {
  if (e.code == FF_BMP) return true;
  if (!IsFormatAvailable(e.code)) return false;
  // JPEG holds no 1- or 4-bit image as it is.
  return e.code != FF_JPEG || dib == 0 || DIB_Depth(dib) > 7;
}

// Whether the last component of `name` has an extension.
bool has_extension(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  const std::size_t slash = name.rfind('/');
  return dot != std::string::npos && (slash == std::string::npos || dot > slash);
}

// Shows the dialog with `entries`, the one of code `preselected` chosen at
// first (the first entry when that code is not offered). True with the
// typed name and the chosen entry's code; false when cancelled.
bool run_dialog(const char* title, const std::vector<SaveEntry>& entries, int preselected, std::string* out_name,
                int* out_code) {
  platform::UiSaveRequest request;
  request.title = title;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    request.types.push_back({entries[i].label, entries[i].pattern});
    if (entries[i].code == preselected) request.chosen_type = static_cast<int>(i);
  }
  // Appending adds to a file that exists: nothing to warn about.
  request.ask_overwrite = TWAIN_GetFileAppendFlag() == 0;
  platform::UiSaveAnswer answer;
  if (!platform::ui().save_dialog(request, &answer) || answer.path.empty()) return false;
  if (answer.type < 0 || answer.type >= static_cast<int>(entries.size())) answer.type = request.chosen_type;
  *out_name = answer.path;
  *out_code = entries[static_cast<std::size_t>(answer.type)].code;
  return true;
}

// Copies a chosen name into the caller's buffer; a name the buffer cannot
// hold whole counts as no name (a cut name would be another file).
bool store_name(const std::string& name, char* path) {
  if (name.size() >= kFileBuffer) {
    LogPrint("Chosen name too long (%zu characters)\n", name.size());
    return false;
  }
  std::memcpy(path, name.c_str(), name.size() + 1);
  return true;
}

// The open dialog's list: one entry for every readable format together,
// then one per format. Bitmaps are always readable; the others when their
// codec module is there.
struct OpenEntry {
  int code;
  const char* extensions;  // for the first entry's label
  const char* pattern;
  const char* label;
};
constexpr OpenEntry kOpenEntries[] = {
    {FF_BMP, ".bmp", "*.bmp", "Windows Bitmaps (*.bmp)"},
    {FF_JPEG, ";.jpg;.jpeg", ";*.jpg;*.jpeg", "JPEG Files (*.jpg;*.jpeg)"},
    {FF_TIFF, ";.tif;.tiff", ";*.tif;*.tiff;*.mpt", "TIFF Files (*.tif;*.tiff;*.mpt)"},
    {FF_PDF, ";.pdf", ";*.pdf", "Orivane PDF Files (*.pdf)"},
    {FF_PNG, ";.png", ";*.png", "PNG Files (*.png)"},
    {FF_GIF, ";.gif", ";*.gif", "GIF Files (*.gif)"},
    {FF_DCX, ";.dcx", ";*.dcx", "DCX Files (*.dcx)"},
};

platform::UiOpenRequest open_request() {
  platform::UiOpenRequest request;
  request.title = "Open";
  platform::UiFileType all{"Image Files (", ""};
  std::vector<platform::UiFileType> each;
  for (const OpenEntry& e : kOpenEntries) {
    if (e.code != FF_BMP && !IsFormatAvailable(e.code)) continue;
    all.label += e.extensions;
    all.pattern += e.pattern;
    // Each entry's own pattern, without the separator that joins it to the first.
    each.push_back({e.label, e.pattern + (e.pattern[0] == ';' ? 1 : 0)});
  }
  all.label += ")";
  request.types.push_back(all);
  request.types.insert(request.types.end(), each.begin(), each.end());
  return request;
}

}  // namespace
}  // namespace fileio

int PromptForOpenFilename(char* path) {
  LogPrint("PromptForOpenFilename\n");
  if (path) path[0] = '\0';
  std::string chosen;
  if (path && platform::ui().open_dialog(fileio::open_request(), &chosen) && !chosen.empty() &&
      fileio::store_name(chosen, path)) {
    LogPrint("=> TRUE ('%s')\n", path);
    return 1;
  }
  LogPrint("*CANCELLED*\n");
  return 0;
}

int PromptForSaveName(char* path, int* format, DIB_HANDLE dib) {
  LogPrint("PromptForSaveName(%s, %d, 0x%08lx)\n", path ? path : "", format ? *format : -1,
           static_cast<unsigned long>(dib));
  if (path) path[0] = '\0';
  std::vector<fileio::SaveEntry> entries;
  bool incoming_offered = false;
  for (const fileio::SaveEntry& e : fileio::kImageEntries) {
    if (!fileio::image_entry_offered(e, dib)) continue;
    entries.push_back(e);
    incoming_offered = incoming_offered || (format && e.code == *format);
  }
  const int preselected = incoming_offered ? *format : FF_BMP;
  std::string name;
  int code = preselected;
  int result = 0;
  if (path && fileio::run_dialog("Save image as", entries, preselected, &name, &code)) {
    if (!fileio::has_extension(name)) name += FormatExtension(code, "");
    if (fileio::store_name(name, path)) {
      if (format) *format = code;
      result = 1;
    }
  }
  if (result == 0) LogPrint("User cancelled file save dialog.\n");
  LogPrint("PromptForSaveName() => %d, file=%s, nFF=%d\n", result, path ? path : "", format ? *format : -1);
  return result;
}

int PromptForMultipageSaveName(int* code, char* path) {
  LogPrint("PromptForMultipageSaveName(%d)\n", code ? *code : -1);
  if (path) path[0] = '\0';
  const std::vector<fileio::SaveEntry> entries(std::begin(fileio::kMultipageEntries),
                                               std::end(fileio::kMultipageEntries));
  const int incoming = code ? *code : MPF_PDF;
  std::string name;
  int chosen = incoming;
  int result = 0;
  if (path && fileio::run_dialog("Save document as", entries, incoming, &name, &chosen)) {
    // A typed extension decides the format when the file is begun; without
    // one the chosen entry does, and gives its extension.
    const bool typed_extension = fileio::has_extension(name);
    if (!typed_extension) name += fileio::multipage_extension(chosen);
    if (fileio::store_name(name, path)) {
      if (code && !typed_extension) *code = chosen;
      result = 1;
    }
  }
  if (result == 0) LogPrint("User cancelled file save dialog.\n");
  LogPrint("PromptForMultipageSaveName() => %d, file=%s, code=%d\n", result, path ? path : "", code ? *code : -1);
  return result;
}
