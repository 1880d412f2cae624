// The parsed form of one command line or server request.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "orivane/file_options.h"

// Pixel-type bits of a request.
constexpr int kPixelBw = 1;
constexpr int kPixelGray = 2;
constexpr int kPixelRgb = 4;
constexpr int kPixelPalette = 8;
constexpr int kPixelCmyk = 32;

enum TransferMode { kTransferNative = 0, kTransferFile = 1, kTransferMemory = 2 };

// Text-stamp flag bits.
constexpr int kTextBold = 0x1;
constexpr int kTextItalic = 0x2;
constexpr int kTextUnderline = 0x4;
constexpr int kTextStyleGroup = 0xF;
constexpr int kTextJustify = 0x800;
constexpr int kTextCenter = 0x1000;
constexpr int kTextRight = 0x2000;
constexpr int kTextHorizontalGroup = 0x3800;
constexpr int kTextBottom = 0x100;
constexpr int kTextVCenter = 0x200;
constexpr int kTextVerticalGroup = 0x300;
constexpr int kTextWrap = 0x4000;
constexpr const char* kDefaultTextTemplate = "$file[$page] ($user) $date";

// Bounds of the text fields, in characters.
constexpr std::size_t kDeviceNameMax = 64;
constexpr std::size_t kPixelSwitchesMax = 95;
constexpr std::size_t kCustomValueMax = 127;
constexpr std::size_t kTextTemplateMax = 255;
constexpr std::size_t kTextFontMax = 127;
constexpr std::size_t kCarbonCopyPathMax = 255;
constexpr std::size_t kOutputNameMax = 259;
constexpr std::size_t kOutputExtensionMax = 6;

// A library setting a switch asks for. Reading a command line only records
// them, in the order the switches came; the run applies them in that order
// (ApplyRequestSettings), so that one process can read many requests without
// one request's reading changing what another runs with.
struct LibrarySetting {
  enum Kind {
    kAppendFlag,        // TWAIN_SetFileAppendFlag(number)
    kMultipageFormat,   // TWAIN_SetMultipageFormat(number)
    kJpegQuality,       // TWAIN_SetJpegQuality(number)
    kTiffCompression,   // TWAIN_SetTiffCompression(number, second)
    kPdfCompression,    // PDF_SetCompression(number, second)
    kPdfA,              // PDF_SetPDFACompliance(number)
    kPdfUserPassword,   // PDF_SetUserPassword(text)
    kBlankThreshold,    // TWAIN_SetBlankPageThreshold(real)
    kLanguage,          // the process's language id (number)
  };
  Kind kind = kAppendFlag;
  int number = 0;
  int second = 0;
  double real = 0;
  std::string text;
  bool operator==(const LibrarySetting&) const = default;
};

struct ScanRequest {
  bool server = false;
  bool client = false;
  bool in_server = false;
  std::string device_name;
  bool scan = true;
  bool keep_warm = false;
  bool close = false;
  int transfer_mode = kTransferNative;
  int file_format = FF_BMP;
  bool implies_scan = false;       // set by PrepareRequest from the argument count
  int pixel_types = 0;
  std::string pixel_switches;      // " /BW /GRAY", for messages
  int bit_depth = 0;
  bool deep = false;
  int units = 0;                   // TWAIN units: 0 inches, 1 cm, 5 pixels
  std::string units_switch;        // " /CM", for messages
  bool units_needed = false;
  int paper_size = 0;
  double shadow = -1;
  double highlight = -1;
  double resolution = 0;
  double brightness = 0;
  double contrast = 0;
  double threshold = 0;
  double left = 0, top = 0, right = 0, bottom = 0, width = 0, height = 0;
  double gamma = 0;
  int auto_bright = -1;
  int auto_feed = -1;
  int deskew = 0;
  int auto_crop = 0;
  int feeder = -1;
  int page_count = 0;              // 0 not set, -1 unlimited, n pages
  bool simplex = false;
  bool show_version = false;
  bool transparency = false;
  bool reflective = false;
  bool select_source = false;
  bool enumerate = false;
  bool hide_ui = false;
  bool no_indicators = false;
  bool duplex = false;
  bool help = false;
  bool stop = false;
  bool multipage = false;
  bool single_scan = false;
  bool review = false;
  bool file_review = false;
  bool quantize = false;
  bool negate = false;
  bool append = false;
  bool elapsed = false;
  bool undefined_size = false;
  bool text_area = false;
  bool blank_discard = false;
  bool prompt_on_empty = false;
  bool stop_on_empty = false;
  bool ocr = false;
  bool carbon_copy = false;
  bool auto_increment = false;
  int rotation = 0;                // -1 left, 1 right, 2 half turn
  int to_gray = 0;
  int custom_cap = 0;
  std::string custom_value;
  std::string text_template;
  int text_rotation = 0;
  double text_height = 1.0 / 6.0;  // inches
  int text_red = 0, text_green = 0, text_blue = 0;
  std::string text_font;
  int text_flags = kTextBottom;
  int barcode_types = 0;
  int barcode_engine = 0;
  std::string carbon_copy_path;
  std::string output_name;
  std::string stream_target;  // "-" or another stream the one file goes to, "" when none
  std::string output_extension;
  std::ptrdiff_t number_position = -1;  // -1: none
  std::vector<LibrarySetting> library_settings;  // in the order of the switches

  bool operator==(const ScanRequest&) const = default;
};

// Keeps at most `max` characters of `text`.
inline std::string bounded(std::string text, std::size_t max) {
  if (text.size() > max) text.resize(max);
  return text;
}
