// File-format codes and their extensions.
#include <cctype>
#include <string>
#include <string_view>

#include "orivane/file_options.h"

namespace {

struct FormatName {
  const char* extension;   // without the dot
  int format;
};

constexpr FormatName kExtensions[] = {
    {"tif", FF_TIFF}, {"tiff", FF_TIFF}, {"mpt", FF_TIFF}, {"bmp", FF_BMP},
    {"jpg", FF_JPEG}, {"jpeg", FF_JPEG}, {"png", FF_PNG},  {"dcx", FF_DCX},
    {"gif", FF_GIF},  {"pdf", FF_PDF},
};

bool equal_nocase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

}  // namespace

int FormatFromExtension(const char* text, int default_format) {
  if (!text || !*text) return default_format;
  std::string_view t = text;
  if (std::size_t sep = t.find_last_of("\\/:"); sep != std::string_view::npos) t.remove_prefix(sep + 1);
  if (std::size_t dot = t.rfind('.'); dot != std::string_view::npos) t.remove_prefix(dot + 1);
  for (const FormatName& f : kExtensions)
    if (equal_nocase(t, f.extension)) return f.format;
  return default_format;
}

const char* FormatExtension(int format, const char* default_text) {
  switch (format) {
    case FF_TIFF: return ".tif";
    case FF_BMP: return ".bmp";
    case FF_JPEG: return ".jpg";
    case FF_PNG: return ".png";
    case FF_DCX: return ".dcx";
    case FF_GIF: return ".gif";
    case FF_PDF: return ".pdf";
    default: return default_text;
  }
}
