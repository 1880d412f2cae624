#include "tools/orivane/commands.h"

#include <strings.h>

#include <cerrno>
#include <cmath>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "dib/text_stamp.h"
#include "orivane/barcode_api.h"
#include "orivane/dib_analysis.h"
#include "orivane/errors.h"
#include "orivane/file_api.h"
#include "orivane/multipage_files.h"
#include "orivane/ocr_api.h"
#include "orivane/print_api.h"
#include "orivane/twain_switches.h"
#include "orivane/upload_api.h"
#include "orivane/view_api.h"
#include "tools/orivane/image_files.h"

namespace orivane_tool {
namespace {

// More pages than any scanned document has; fetch loads at most these.
constexpr int kMaxFetchedPages = 10000;

constexpr double kPi = 3.14159265358979323846;

// A fraction given on the command line: a plain number 0 < t < 1.
double parse_threshold(const std::string& text) {
  char* end = nullptr;
  errno = 0;
  const double t = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || errno != 0 || !(t > 0 && t < 1))
    throw Failure{"threshold must be a number between 0 and 1 (0.02 = 2 %): " + text};
  return t;
}

void info(const Args& a, std::FILE* out) {
  const std::string& path = a[0];
  const Image image = load_image(path);
  const int pages = FilePageCount(path.c_str());
  std::fprintf(out, "format=%s\npages=%d\nwidth=%d\nheight=%d\nbits=%d\ntype=%s\ndpi=%g x %g\n",
               format_name(DIB_FormatOfFile(path.c_str())), pages > 0 ? pages : 1,
               DIB_Width(image.get()), DIB_Height(image.get()), DIB_Depth(image.get()),
               pixel_type_name(DIB_PixelType(image.get())), DIB_XResolution(image.get()),
               DIB_YResolution(image.get()));
}

void skew(const Args& a, std::FILE* out) {
  const Image image = load_image(a[0]);
  const double radians = DIB_DeskewAngle(image.get());
  if (!(radians > -9)) {
    std::fprintf(out, "none\n");
  } else {
    // Printing -0.000 would look like a sign where there is none.
    const double degrees = radians * 180 / kPi;
    std::fprintf(out, "%.3f\n", std::fabs(degrees) < 0.0005 ? 0.0 : degrees);
  }
}

void blank(const Args& a, std::FILE* out) {
  const double threshold = a.size() > 1 ? parse_threshold(a[1]) : TWAIN_GetBlankPageThreshold();
  const Image image = load_image(a[0]);
  const double fraction = DIB_DarkFraction(image.get());
  if (fraction < 0) throw Failure{"the image of " + a[0] + " has no area to measure"};
  std::fprintf(out, "%.6f %s\n", fraction,
               DIB_IsBlank(image.get(), threshold) ? "blank" : "not-blank");
}

void crop(const Args& a, std::FILE* out) {
  const Image image = load_image(a[0]);
  int32_t x = 0, y = 0, w = 0, h = 0;
  if (DIB_GetCropRect(image.get(), 0, &x, &y, &w, &h)) std::fprintf(out, "%d %d %d %d\n", x, y, w, h);
  else std::fprintf(out, "none\n");
}

// The engine named on the command line (as /BCE= names them), selected.
void select_barcode_engine(const std::string& name) {
  for (int engine = 1; engine <= 15; ++engine) {
    if (strcasecmp(name.c_str(), BARCODE_EngineName(engine)) != 0) continue;
    if (BARCODE_SelectEngine(engine)) return;
    throw Failure{"barcode engine not available: " + name};
  }
  throw Failure{"no barcode engine is named " + name};
}

// A code's text on one line of the listing: tabs and line ends inside it
// would start another field or line.
std::string one_field(std::string text) {
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 32) c = ' ';
  return text;
}

void barcodes(const Args& a, std::FILE* out) {
  const Image image = load_image(a[0]);
  if (a.size() > 1) select_barcode_engine(a[1]);
  const int n = BARCODE_Recognize(image.get(), -1, -1);
  if (n < 0) {
    const std::string why = library_error();
    throw Failure{"cannot read the barcodes of " + a[0] + (why.empty() ? "" : ": " + why)};
  }
  for (int i = 0; i < n; ++i) {
    char text[BARCODE_TEXT_MAX + 1];
    char type[32];
    int32_t x = 0, y = 0, w = 0, h = 0;
    BARCODE_GetText(i, text);
    BARCODE_GetRect(i, &x, &y, &w, &h);
    std::fprintf(out, "%s\t%s\t%d %d %d %d\n", BARCODE_TypeName(BARCODE_GetType(i), type),
                 one_field(text).c_str(), x, y, w, h);
  }
}

// The commands that turn one image into another: `make` returns the new
// image, or 0 with the library's error recorded.
template <DIB_HANDLE (*make)(DIB_HANDLE)>
void transform(const Args& a, std::FILE*) {
  const Image image = load_image(a[0]);
  Image result(make(image.get()));
  if (!result.get()) {
    const std::string why = library_error();
    throw Failure{"cannot process " + a[0] + (why.empty() ? "" : ": " + why)};
  }
  save_image(result, a[1]);
}

DIB_HANDLE deskewed(DIB_HANDLE h) { return DIB_AutoDeskew(h); }

// A page with nothing to cut is written as it is: the output always exists.
DIB_HANDLE cropped(DIB_HANDLE h) {
  const DIB_HANDLE out = DIB_AutoCrop(h, 0);
  return out ? out : DibCopy(h);
}

// The in-place operations work on a copy, so the input stays as it was read.
template <int32_t (*op)(DIB_HANDLE)>
DIB_HANDLE edited(DIB_HANDLE h) {
  const DIB_HANDLE out = DibCopy(h);
  if (out && !op(out)) {
    DIB_Free(out);
    return 0;
  }
  return out;
}

DIB_HANDLE grayed(DIB_HANDLE h) {
  const DIB_CONVERT_OPTIONS options{0, 0, 0};
  return DIB_ConvertToFormat(h, DIB_PT_GRAY, 8, &options);
}

DIB_HANDLE thresholded(DIB_HANDLE h) {
  const DIB_CONVERT_OPTIONS options{DIB_CONVERT_AUTO_THRESHOLD, 0, 0};
  return DIB_ConvertToFormat(h, DIB_PT_BW, 1, &options);
}

DIB_HANDLE copied(DIB_HANDLE h) { return DibCopy(h); }

// The pages of a file: its page count, at least one (a file the library
// cannot count is tried as one page, and its load says why it fails).
int pages_of(const std::string& path) { return std::max(FilePageCount(path.c_str()), 1); }

Image load_page(const std::string& path, int page) {
  if (page == 0) return load_image(path);
  TWAIN_ClearError();
  Image image(DIB_LoadPage(path.c_str(), page));
  if (!image.get()) throw Failure{"cannot read page " + std::to_string(page + 1) + " of " + path + ": " + library_error()};
  return image;
}

[[noreturn]] void ocr_failed(const std::string& path, int page) {
  const std::string why = library_error();
  throw Failure{"cannot recognise page " + std::to_string(page + 1) + " of " + path + (why.empty() ? "" : ": " + why)};
}

// The text of every page, pages apart by a form feed.
void ocr_text(const std::string& path, std::FILE* out) {
  const int pages = pages_of(path);
  for (int p = 0; p < pages; ++p) {
    const Image image = load_page(path, p);
    TWAIN_ClearError();
    const int n = OCR_RecognizeDib(image.get());
    if (n < 0) ocr_failed(path, p);
    std::string text(static_cast<std::size_t>(n) + 1, '\0');
    OCR_GetText(text.data(), n + 1);
    text.resize(static_cast<std::size_t>(n));
    if (p > 0) std::fputc('\f', out);
    std::fputs(text.c_str(), out);
    if (!text.empty() && text.back() != '\n') std::fputc('\n', out);
  }
}

// Every page of `in` into the PDF `out` with its text laid over it. A failed
// page drops the whole file: `out` keeps what it held.
void ocr_pdf(const std::string& in, const std::string& out) {
  if (FormatFromExtension(out.c_str(), FF_UNKNOWN) != FF_PDF)
    throw Failure{"cannot write " + out + ": a searchable document is a PDF file (.pdf)"};
  if (!IsFormatAvailable(FF_PDF)) throw Failure{"cannot write " + out + ": PDF output is not available"};
  const int pages = pages_of(in);
  TWAIN_ClearError();
  if (TWAIN_BeginMultipageFile(out.c_str()) != 0) throw Failure{"cannot write " + out + ": " + library_error()};
  try {
    for (int p = 0; p < pages; ++p) {
      const Image image = load_page(in, p);
      TWAIN_ClearError();
      if (!OCR_WritePage(image.get())) ocr_failed(in, p);
    }
  } catch (const Failure&) {
    TWAIN_DiscardMultipageFile();
    throw;
  }
  if (TWAIN_EndMultipageFile() != 0) throw Failure{"cannot write " + out + ": " + library_error()};
}

void ocr(const Args& a, std::FILE* out) {
  if (a.size() == 1) ocr_text(a[0], out);
  else ocr_pdf(a[0], a[1]);
}

// The stamp of a scan run on an existing file: the same attribute words as
// /TEXT (with or without their leading colon) and the same variables, $file
// being the output's full path and $page 1.
void stamp(const Args& a, std::FILE*) {
  std::string attributes = a.size() > 3 ? a[3] : "";
  if (attributes.find('=') != std::string::npos) throw Failure{"text attributes hold no '=': " + attributes};
  if (!attributes.empty() && attributes[0] != ':') attributes.insert(0, ":");
  dib::StampStyle style;
  std::string unused_template, message;
  if (!dib::stamp_parse(attributes + "=", style, unused_template, message)) throw Failure{message};
  const Image image = load_image(a[0]);
  std::error_code ec;
  const std::string file = a[1] == "-" ? a[1] : std::filesystem::absolute(a[1], ec).string();
  const std::string text = dib::stamp_expand(a[2], dib::stamp_facts_now(file, 1));
  if (!dib::stamp_page(image.get(), text, style))
    throw Failure{"no text could be drawn on " + a[0] + ": the page has no room for the box, or no font is installed"};
  save_image(image, a[1]);
}

// Posts FILE... to URL: "--field NAME" names the parts (NAME1, NAME2, ...),
// each "--form NAME=VALUE" adds a form field; the server's reply is written
// out.
void upload_files(const Args& a, std::FILE* out) {
  std::string field, files, url;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const bool has_value = i + 1 < a.size();
    if (a[i] == "--field" && has_value) {
      field = a[++i];
    } else if (a[i] == "--form" && has_value) {
      const std::string& pair = a[++i];
      const std::size_t eq = pair.find('=');
      if (eq == std::string::npos) throw Failure{"a form field is NAME=VALUE: " + pair};
      UPLOAD_AddFormField(pair.substr(0, eq).c_str(), pair.substr(eq + 1).c_str());
    } else if (url.empty()) {
      url = a[i];
    } else {
      files += (files.empty() ? "" : "|") + a[i];
    }
  }
  if (files.empty()) throw Failure{"nothing to upload: give the URL and at least one file"};
  const int result = UPLOAD_FilesToURL(files.c_str(), url.c_str(), field.c_str());
  char reply[1024];
  UPLOAD_GetResponse(reply);
  if (result != 0) throw Failure{"upload to " + url + " failed (" + std::to_string(result) + "): " + library_error()};
  std::fputs(reply, out);
  if (*reply && reply[std::strlen(reply) - 1] != '\n') std::fputc('\n', out);
}

// The print destinations, one per line, the default first as CUPS lists it.
void printers(const Args&, std::FILE* out) {
  const int n = DIB_EnumeratePrinters();
  for (int i = 0; i < n; ++i) std::fprintf(out, "%s\n", DIB_PrinterName(i));
}

// Every page of FILE to PRINTER (default: the default destination), no
// dialog; the CUPS job number is written out.
void print_file(const Args& a, std::FILE* out) {
  DIB_SpecifyPrinter(a.size() > 1 ? a[1].c_str() : nullptr);
  const int result = DIB_PrintFile(a[0].c_str(), "", 1);
  if (result != 0) {
    const std::string where = a.size() > 1 ? " on " + a[1] : "";
    throw Failure{"cannot print " + a[0] + where + " (" + std::to_string(result) + "): " + library_error()};
  }
  std::fprintf(out, "job %d\n", DIB_LastPrintJobId());
}

// The pages of FILE in the library's viewer, until it is closed: "ok" for
// OK, "cancelled" for Cancel or the close box.
void view(const Args& a, std::FILE* out) {
  const int result = TWAIN_ViewFile(a[0].c_str());
  if (result < 0) {
    const std::string why = TWAIN_LastErrorCode() != 0 ? library_error() : "no window (no display to show it on)";
    throw Failure{"cannot view " + a[0] + ": " + why};
  }
  std::fprintf(out, "%s\n", result == 1 ? "ok" : "cancelled");
}

// Every page of the image file at URL (or a local file, through the same
// loader), into OUT in the format of its name.
void fetch(const Args& a, std::FILE*) {
  std::vector<DIB_HANDLE> pages(kMaxFetchedPages, 0);
  const int n = DIB_LoadPagesFromFilename(pages.data(), 0, kMaxFetchedPages, a[0].c_str());
  if (n <= 0) throw Failure{"cannot load " + a[0] + ": " + library_error()};
  const int written = DIB_WriteArrayToFilename(pages.data(), n, a[1].c_str());
  for (int i = 0; i < n; ++i) DIB_Free(pages[static_cast<std::size_t>(i)]);
  if (written != 0) throw Failure{"cannot write " + a[1] + ": " + library_error()};
}

}  // namespace

const std::vector<Command>& commands() {
  static const std::vector<Command> kCommands = {
      {"info", "FILE",
       "format, pages, width, height, bits, type and dpi of the first page, as key=value lines", 1, 1, info},
      {"skew", "FILE",
       "the angle in degrees the page must turn by to be straight (positive: counter-clockwise), or none",
       1, 1, skew},
      {"blank", "FILE [THRESHOLD]",
       "the dark fraction of the page and blank or not-blank (threshold 0.02 unless given)", 1, 2, blank},
      {"crop", "FILE", "the document's rectangle on the page: x y w h, or none", 1, 1, crop},
      {"barcodes", "FILE [ENGINE]",
       "the barcodes on the page, one line each: type, text and rectangle (x y w h), tab-separated; "
       "read by engine 1 (Talven) unless ENGINE names another",
       1, 2, barcodes},
      {"deskew", "IN OUT", "the page turned straight", 2, 2, transform<deskewed>},
      {"autocrop", "IN OUT", "the page cut to the document", 2, 2, transform<cropped>},
      {"contrast", "IN OUT",
       "the page with its contrast stretched", 2, 2, transform<edited<DIB_AutoContrast>>},
      {"negate", "IN OUT", "the page negated", 2, 2, transform<edited<DIB_Negate>>},
      {"gray", "IN OUT", "the page as 8-bit gray", 2, 2, transform<grayed>},
      {"bw", "IN OUT",
       "the page as black and white at its automatic threshold", 2, 2, transform<thresholded>},
      {"convert", "IN OUT", "the page in the format of OUT's extension", 2, 2, transform<copied>},
      {"ocr", "IN [OUT.pdf]",
       "the text of every page (pages apart by a form feed), or OUT.pdf: every page with its text searchable",
       1, 2, ocr},
      {"upload", "[--field NAME] [--form NAME=VALUE]... URL FILE...",
       "posts the files to URL as one form (parts NAME1, NAME2...; default file1...) and writes the reply",
       2, 256, upload_files},
      {"printers", "", "the print destinations, one per line", 0, 0, printers},
      {"print", "FILE [PRINTER]", "every page of FILE printed at its own resolution (or fitted), no dialog", 1, 2,
       print_file},
      {"view", "FILE", "shows the pages of FILE in the viewer window; writes ok or cancelled as it was closed", 1, 1,
       view},
      {"fetch", "URL OUT", "every page of the image file at URL into OUT (format by OUT's extension)", 2, 2, fetch},
      {"stamp", "IN OUT TEXT [ATTRIBUTES]",
       "the page with TEXT stamped as /TEXT does: ATTRIBUTES like BOLD:12pt:CENTER; $file $page $user $date $utc",
       3, 4, stamp},
  };
  return kCommands;
}

}  // namespace orivane_tool
