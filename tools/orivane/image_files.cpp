#include "tools/orivane/image_files.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "orivane/errors.h"
#include "orivane/file_api.h"
#include "orivane/file_options.h"

namespace orivane_tool {

std::string library_error() {
  char text[512] = "";
  if (TWAIN_LastErrorCode() != 0) TWAIN_GetLastErrorText(text);
  return text;
}

namespace {

// The reason a file cannot be read, as the user can act on it: the system's
// word when the file is not there, else the library's.
std::string unreadable(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::strerror(errno);
  if (S_ISDIR(st.st_mode)) return "is a folder";
  if (!S_ISREG(st.st_mode)) return "not a regular file";
  if (st.st_size == 0) return "empty file";
  const std::string why = library_error();
  return why.empty() ? "not an image file the library reads" : why;
}

}  // namespace

Image load_image(const std::string& path) {
  TWAIN_ClearError();
  Image image(DIB_LoadPage(path.c_str(), 0));
  if (!image.get()) throw Failure{"cannot read " + path + ": " + unreadable(path)};
  return image;
}

void save_image(const Image& image, const std::string& path) {
  TWAIN_ClearError();
  const int format = FormatFromExtension(path.c_str(), FF_UNKNOWN);
  if (format == FF_UNKNOWN) {
    throw Failure{"cannot write " + path +
                  ": the extension names no image format (bmp, jpg, tif, png, gif, dcx, pdf)"};
  }
  if (!IsFormatAvailable(format)) {
    throw Failure{"cannot write " + path + ": " + format_name(format) + " output is not available"};
  }
  if (DIB_WriteToFilename(image.get(), path.c_str()) != 0) {
    const std::string why = library_error();
    throw Failure{"cannot write " + path + (why.empty() ? "" : ": " + why)};
  }
}

const char* format_name(int format) {
  switch (format) {
    case FF_TIFF: return "TIFF";
    case FF_BMP: return "BMP";
    case FF_JPEG: return "JPEG";
    case FF_PNG: return "PNG";
    case FF_DCX: return "DCX";
    case FF_GIF: return "GIF";
    case FF_PDF: return "PDF";
    default: return "unknown";
  }
}

const char* pixel_type_name(int type) {
  switch (type) {
    case DIB_PT_BW: return "BW";
    case DIB_PT_GRAY: return "GRAY";
    case DIB_PT_RGB: return "RGB";
    case DIB_PT_PALETTE: return "PALETTE";
    case DIB_PT_CMY: return "CMY";
    case DIB_PT_CMYK: return "CMYK";
    default: return "unknown";
  }
}

}  // namespace orivane_tool
