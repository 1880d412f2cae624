#include "print/print_job.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/app_identity.h"
#include "core/error_record.h"
#include "core/state_registry.h"
#include "log/trace.h"
#include "orivane/errors.h"
#include "platform/ui.h"
#include "print/page_image.h"

namespace print {
namespace {

constexpr int kConnectMs = 5000;
constexpr double kRequestSeconds = 30;
constexpr double kDefaultDpi = 600;
constexpr double kHundredthsMmPerInch = 2540;
// Letter, for a destination that names no media.
constexpr int kLetterWidth = 21590, kLetterLength = 27940;

int give_up(http_t*, void*) { return 0; }

int to_dots(int hundredths_mm, double dpi) {
  return static_cast<int>(std::lround(hundredths_mm / kHundredthsMmPerInch * dpi));
}

double job_resolution(Job& j) {
  ipp_attribute_t* a = cupsFindDestDefault(j.http.get(), j.dest.get(), j.info.get(), "printer-resolution");
  if (!a) return kDefaultDpi;
  ipp_res_t units;
  int y = 0;
  const int x = ippGetResolution(a, 0, &y, &units);
  if (x <= 0) return kDefaultDpi;
  return units == IPP_RES_PER_CM ? x * 2.54 : x;
}

// The sheet of the destination's default media at the job's resolution.
Sheet sheet_of(Job& j) {
  Sheet s;
  s.dpi_x = s.dpi_y = job_resolution(j);
  cups_size_t size{};
  if (!cupsGetDestMediaDefault(j.http.get(), j.dest.get(), j.info.get(), CUPS_MEDIA_FLAGS_DEFAULT, &size)) {
    const char* media = cupsGetOption("media", j.dest->num_options, j.dest->options);
    const pwg_media_t* pwg = media ? pwgMediaForPWG(media) : nullptr;
    size = cups_size_t{};
    size.width = pwg ? pwg->width : kLetterWidth;
    size.length = pwg ? pwg->length : kLetterLength;
  }
  s.width = to_dots(size.width, s.dpi_x);
  s.height = to_dots(size.length, s.dpi_y);
  s.printable_x = to_dots(size.left, s.dpi_x);
  s.printable_y = to_dots(size.top, s.dpi_y);
  s.printable_width = s.width - s.printable_x - to_dots(size.right, s.dpi_x);
  s.printable_height = s.height - s.printable_y - to_dots(size.bottom, s.dpi_y);
  return s;
}

void close_job(Job& j) { j = Job{}; }

// Reads the page's pixels at the size they go on paper (shrunk by area
// averaging when smaller than the image) and adds its page.
int add_page(Job& j, DIB_HANDLE dib, const Placement& p) {
  PageImage image;
  if (!page_image(dib, p.w, p.h, image)) {
    RecordError(ERR_BAD_DIB, "(PrintPage)");
    return -3;
  }
  const Sheet& s = j.sheet;
  const double kx = 72.0 / s.dpi_x, ky = 72.0 / s.dpi_y;
  if (!j.document.add_page(s.width * kx, s.height * ky, image, (s.printable_x + p.x) * kx,
                           (s.printable_y + p.y) * ky, p.w * kx, p.h * ky)) {
    RecordError(ERR_PRINT, "no memory for the page");
    return -4;
  }
  return 0;
}

void trace_summary(const Job& j, DIB_HANDLE dib) {
  const Sheet& s = j.sheet;
  LogPrint(
      "Page: %g x %g dpi, bpp=%d (%d colors)\n      %d x %d pixels, topleft (%d,%d)\nDIB: %g x %g dpi, bpp=%d "
      "(pt=%d), %d x %d pixels\n",
      s.dpi_x, s.dpi_y, 24, 1 << 24, s.width, s.height, s.printable_x, s.printable_y, DIB_XResolution(dib),
      DIB_YResolution(dib), DIB_Depth(dib), DIB_PixelType(dib), DIB_Width(dib), DIB_Height(dib));
}

bool send_document(Job& j) {
  const std::string bytes = j.document.bytes();
  if (cupsStartDestDocument(j.http.get(), j.dest.get(), j.info.get(), j.id, j.name.c_str(), CUPS_FORMAT_PDF, 0,
                            nullptr, 1) != HTTP_STATUS_CONTINUE)
    return false;
  constexpr std::size_t kChunk = 1 << 16;
  for (std::size_t at = 0; at < bytes.size(); at += kChunk) {
    if (cupsWriteRequestData(j.http.get(), bytes.data() + at, std::min(kChunk, bytes.size() - at)) !=
        HTTP_STATUS_CONTINUE)
      return false;
  }
  return cupsFinishDestDocument(j.http.get(), j.dest.get(), j.info.get()) == IPP_STATUS_OK;
}

// A destination by its listed name ("name" or "name/instance"); the default
// for none.
cups_dest_t* named_dest(http_t* http, const char* listed) {
  if (!listed) return cupsGetNamedDest(http, nullptr, nullptr);
  const std::string name = listed;
  const std::size_t slash = name.find('/');
  if (slash == std::string::npos) return cupsGetNamedDest(http, listed, nullptr);
  return cupsGetNamedDest(http, name.substr(0, slash).c_str(), name.substr(slash + 1).c_str());
}

// The print dialog: the destination into `out_name` and the page range into
// the printing state. 0, -10 when cancelled, -2 when it could not be shown.
int ask_destination(int pages, std::string* out_name) {
  platform::UiPrintRequest request;
  request.destinations = list_destinations(&request.preselected);
  request.pages = pages;
  platform::UiPrintAnswer answer;
  switch (platform::ui().print_dialog(request, &answer)) {
    case platform::UiDialogEnd::Cancelled:
      RecordError(ERR_CANCELLED, "Print Dialog");
      return -10;
    case platform::UiDialogEnd::Failed:
      RecordError(ERR_PRINT, "in print dialog");
      return -2;
    case platform::UiDialogEnd::Chosen:
      break;
  }
  if (answer.destination >= request.destinations.size()) {
    RecordError(ERR_PRINT, "in print dialog");
    return -2;
  }
  *out_name = request.destinations[answer.destination];
  PrintState& st = print_state();
  st.range_chosen = answer.range && pages >= 1;
  st.range_from = answer.from;
  st.range_to = answer.to;
  return 0;
}

}  // namespace

std::vector<std::string> list_destinations(std::size_t* out_default) {
  std::vector<std::string> list;
  if (out_default) *out_default = 0;
  if (const auto http = connect_server()) {
    cups_dest_t* dests = nullptr;
    const int n = cupsGetDests2(http.get(), &dests);
    for (int i = 0; i < n; ++i) {
      std::string name = dests[i].name;
      if (dests[i].instance) name += std::string("/") + dests[i].instance;
      if (dests[i].is_default && out_default) *out_default = list.size();
      list.push_back(name);
    }
    cupsFreeDests(n, dests);
  }
  return list;
}

std::unique_ptr<http_t, HttpCloser> connect_server() {
  http_t* h = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1, kConnectMs, nullptr);
  if (h) httpSetTimeout(h, kRequestSeconds, give_up, nullptr);
  return std::unique_ptr<http_t, HttpCloser>(h);
}

PrintState& print_state() {
  static PrintState s;
  return s;
}

int open_printer(int pages, bool no_prompt) {
  PrintState& st = print_state();
  if (st.job.http) {
    LogPrint("Previous print job left open!\n");
    end_job();
  }
  LogPrint("OpenOrvPrinter(%d, nPages=%d)\n", no_prompt ? 1 : 0, pages);
  st.range_chosen = false;
  std::string chosen;
  if (!no_prompt) {
    if (const int failed = ask_destination(pages, &chosen)) return failed;
  } else {
    chosen = st.specified;
  }
  Job j;
  j.http = connect_server();
  const char* name = chosen.empty() ? nullptr : chosen.c_str();
  if (j.http) j.dest.reset(named_dest(j.http.get(), name));
  if (!j.dest) {
    RecordError(ERR_PRINT, name ? name : "in print dialog");
    return -2;
  }
  j.info.reset(cupsCopyDestInfo(j.http.get(), j.dest.get()));
  const char* driver = cupsGetOption("printer-make-and-model", j.dest->num_options, j.dest->options);
  if (no_prompt) {
    LogPrint("Printer: %s\n", j.dest->name);
    LogPrint("Driver:  %s\n", driver ? driver : "");
  } else {
    LogPrint("Printer: '%s'\n", j.dest->name);
    LogPrint("Driver: '%s'\n", driver ? driver : "");
  }
  j.sheet = sheet_of(j);
  st.job = std::move(j);
  return 0;
}

int begin_job(int pages, bool no_prompt, const std::string& name) {
  if (const int failed = open_printer(pages, no_prompt)) return failed;
  Job& j = print_state().job;
  j.name = name.empty() ? core::app_identity().title : name;
  int id = 0;
  if (cupsCreateDestJob(j.http.get(), j.dest.get(), j.info.get(), &id, j.name.c_str(), 0, nullptr) != IPP_STATUS_OK ||
      id <= 0) {
    RecordError(ERR_PRINT, cupsLastErrorString());
    close_job(j);
    return -4;
  }
  j.id = id;
  j.page_counter = 0;
  print_state().last_job_id = id;
  LogPrint("Print JobId=%d\n", id);
  return 0;
}

int print_page(DIB_HANDLE dib) {
  PrintState& st = print_state();
  Job& j = st.job;
  LogPrint("PrintPage %d ", ++j.page_counter);
  if (!j.http) {
    RecordError(ERR_PRINT, "no printer");
    return -5;
  }
  if (DIB_Width(dib) <= 0 || DIB_Height(dib) <= 0) {
    RecordError(ERR_BAD_DIB, "(PrintPage)");
    return -3;
  }
  if (st.range_chosen && (j.page_counter < st.range_from || j.page_counter > st.range_to)) {
    LogPrint("not selected.\n");
    return 0;
  }
  const Placement p = place_image(j.sheet, DIB_Width(dib), DIB_Height(dib), DIB_XResolution(dib),
                                  DIB_YResolution(dib), st.scale_to_fit);
  if (p.overhang) LogPrint("?Warning - print overhang.\n");
  if (p.scaled) LogPrint("PrintScaleToFit scale=%g, w x h = %d x %d\n", p.scale, p.w, p.h);
  trace_summary(j, dib);
  return add_page(j, dib, p);
}

int end_job() {
  Job& j = print_state().job;
  LogPrint("EndPrintJob\n");
  int result = 0;
  if (j.id > 0) {
    // A job CUPS never received is no printed job: say so.
    if (j.document.pages() > 0 && !send_document(j)) {
      RecordError(ERR_PRINT, cupsLastErrorString());
      result = -4;
    } else if (j.document.pages() == 0) {
      cupsCancelDestJob(j.http.get(), j.dest.get(), j.id);
    }
  }
  close_job(j);
  return result;
}

namespace {
const bool kPrintRegistered = core::register_state(
    {"print.state", [] { print_state() = PrintState{}; }, [] { end_job(); }, core::ResetStage::Resource});
}  // namespace

}  // namespace print
