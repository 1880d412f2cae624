// Running a prepared request: the one-shot actions (help, About), the device
// steps, and the closing report lines.
#include "app/process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/client.h"
#include "app/device.h"
#include "app/exit_status.h"
#include "app/report.h"
#include "app/scan_loop.h"
#include "app/server.h"
#include "core/error_record.h"
#include "log/trace.h"
#include "orivane/barcode_api.h"
#include "orivane/errors.h"
#include "orivane/file_options.h"
#include "orivane/ocr_api.h"
#include "orivane/twain_manager.h"
#include "orivane/twain_session.h"
#include "orivane/twain_sources.h"
#include "orivane/twain_switches.h"
#include "orivane/version.h"
#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/ui.h"

extern char** environ;

namespace {

constexpr int kHelpOpenTimeoutMs = 10000;

// Runs xdg-open on the help page when a desktop session is there to show it;
// false when it cannot be shown. Never waits long: the opener is left to run
// if it has not finished in time.
bool open_with_desktop(const std::string& path) {
  if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) return false;
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  const char* args[] = {"xdg-open", path.c_str(), nullptr};
  pid_t pid = 0;
  int rc = posix_spawnp(&pid, "xdg-open", &actions, &attr, const_cast<char**>(args), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) return false;
  for (int waited = 0; waited < kHelpOpenTimeoutMs; waited += 50) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    platform::sleep_ms(50);
  }
  return true;
}

// The help page: the README of the tree the program was built from while
// that is there, else the copy installed with the program
// (<prefix>/share/doc/quillet). With neither, the first is named still.
std::string help_page() {
  const std::string pages[] = {QUILLET_HELP_PAGE, platform::installed_doc_folder() + "/README.md"};
  for (const std::string& page : pages) {
    struct stat st {};
    if (::stat(page.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return page;
    LogPrint("[Quillet] no help page at %s\n", page.c_str());
  }
  return pages[0];
}

void show_help() {
  const std::string page = help_page();
  LogPrint("[Quillet] help page: %s\n", page.c_str());
  if (open_with_desktop(page)) return;
  platform::ui().message_box(front_end().app_name, "Quillet help: " + page,
                             platform::UiIcon::Information);
}

std::string module_status(int format) {
  if (!IsFormatAvailable(format)) return "Unavailable";
  int v = FormatVersion(format);
  char out[32];
  std::snprintf(out, sizeof out, "version %d.%02d", v / 100, v % 100);
  return out;
}

// The OCR line: the module's version and its available engines, loading
// the module to find out.
std::string ocr_status() {
  const bool clean = TWAIN_LastErrorCode() == 0;
  const int version = OCR_Version();
  if (version == 0) {
    // The About text only asks: a missing module is no failure of the run.
    if (clean) core::error_clear();
    return "Unavailable";
  }
  std::string engines;
  for (int e = 1; e <= 15; ++e) {
    if (!OCR_IsEngineAvailable(e)) continue;
    if (!engines.empty()) engines += ",";
    engines += OCR_EngineName(e);
  }
  char out[128];
  std::snprintf(out, sizeof out, "version %d.%02d (%s)", version / 100, version % 100, engines.c_str());
  return out;
}

// The barcode module's line: its version and the names of the engines it
// offers.
std::string barcode_status() {
  const int v = BARCODE_Version();
  if (v <= 0) return "Unavailable";
  std::string names;
  for (int engine = 1; engine <= 15; ++engine) {
    if (!BARCODE_IsEngineAvailable(engine)) continue;
    if (!names.empty()) names += ",";
    names += BARCODE_EngineName(engine);
  }
  char out[160];
  std::snprintf(out, sizeof out, "version %d.%02d (%s)", v / 100, v % 100, names.c_str());
  return out;
}

// Select source: the Source Manager's selection; cancelled or failed ends
// the run.
bool select_source() { return TWAIN_SelectImageSource(front_end().main_window) != 0; }

// Enumerate: one "Source<n>=" line per device. The names pass through the
// request's device name, which is empty afterwards, so a scan in the same run
// opens the default device.
int list_devices(ScanRequest& r) {
  if (!TWAIN_GetSourceList()) {
    show_library_failure("Could not get TWAIN device list.");
    return 255;
  }
  char name[kDeviceNameMax + 1];
  for (int n = 1; TWAIN_GetNextSourceName(name); ++n) {
    r.device_name = name;
    ReportLine("Source%d=%s\n", n, r.device_name.c_str());
  }
  r.device_name.clear();
  return 0;
}

// Keep warm: open the device once, say which it is, close it again.
int keep_warm(ScanRequest& r) {
  if (!OpenDevice(r, front_end().main_window)) return 255;
  ReportLine("Source=%s\n", TWAIN_SourceName());
  TWAIN_CloseSource();
  return 0;
}

// The library's pending error as the system has always reported it; else,
// for a run that failed, the failure it showed (the library's record is
// cleared once shown) or, when nothing was shown, what the exit code means.
void report_error_line(int result) {
  if (TWAIN_LastErrorCode() != 0) {
    char text[512];
    TWAIN_GetLastErrorText(text);
    for (char* p = text; *p; ++p)
      if (*p == '\r' || *p == '\n') *p = ' ';
    note_failure(text);
    ReportLine("Error=%s\n", text);
  } else if (result != 0) {
    const FailureNote& n = failure_note();
    ReportLine("Error=%s\n", n.message.empty() ? default_failure_text(result) : n.message.c_str());
  }
}

}  // namespace

std::string about_text() {
  const std::string& app = front_end().app_name;
  char head[256];
  std::snprintf(head, sizeof head, "About %s\nversion %d.%02d (build %d)\n%s\n", app.c_str(), 2, 99,
                3, "Quillet - TWAIN Scanning Utility");
  char build[64];
  std::snprintf(build, sizeof build, "%s - Build %d/%s", "Release", ORIVANE_BUILD, "Linux");
  char status[1024];
  std::snprintf(status, sizeof status,
                "Orivane:\t%d.%02d (%s)\nTWAIN:\t\t%s\nDCX:  \t\t%s\nGIF:  \t\t%s\nJPEG: \t\t%s\n"
                "PDF:  \t\t%s\nPNG:  \t\t%s\nTIFF: \t\t%s\nOCR:  \t\t%s\nBarcode:\t%s\n",
                ORIVANE_VERSION / 100, ORIVANE_VERSION % 100, build,
                TWAIN_IsAvailable() ? "Available" : "Unavailable", module_status(FF_DCX).c_str(),
                module_status(FF_GIF).c_str(), module_status(FF_JPEG).c_str(),
                module_status(FF_PDF).c_str(), module_status(FF_PNG).c_str(),
                module_status(FF_TIFF).c_str(), ocr_status().c_str(),
                barcode_status().c_str());
  return std::string(head) + status;
}

int RunScanLoop(ScanRequest& r) {
  if (r.help) {
    show_help();
    return 0;
  }
  if (r.show_version) {
    platform::ui().message_box("About " + front_end().app_name, about_text(),
                               platform::UiIcon::Information);
  }
  if (r.select_source && !select_source()) return 255;
  if (r.enumerate) {
    if (int failed = list_devices(r)) return failed;
  }
  if (r.server) return ServeRequests(r);
  ReportLine("DefaultSource=%s\n", TWAIN_DefaultSourceName());
  if (r.keep_warm) return keep_warm(r);
  if (!r.scan) {
    LogPrint("!bScan - Scanning suppressed.\n");
    return 0;
  }
  return ScanPages(r);
}

int ProcessRequests(ScanRequest& r) {
  clear_failure_note();
  if (r.client) return SendToServer(request_text_of(front_end().command_line));
  std::uint32_t start = platform::tick_count_ms();
  int result = RunScanLoop(r);
  if (r.in_server) {
    // The server asks for an unlimited count: pages the device still holds
    // ready would be the next request's first pages, scanned with this
    // request's settings and without its negotiation (state 4 only). They
    // are dropped and the device disabled, as a local run's count ends the
    // batch.
    const bool count_reached = TWAIN_State() >= 6;
    if (count_reached) TWAIN_AbortAllPendingXfers();
    if (TWAIN_State() == 5 && (TWAIN_GetHideUI() || count_reached)) TWAIN_DisableSource();
    if (r.close) TWAIN_CloseSource();
  }
  if (r.elapsed) {
    char message[128];
    std::snprintf(message, sizeof message, "ProcessRequests took %g seconds",
                  (platform::tick_count_ms() - start) / 1000.0);
    TWAIN_ErrorBox(message);
  }
  report_error_line(result);
  ReportLine("State=%d\n", TWAIN_State());
  ReportLine("Exit=%d\n", result);
  return result;
}
