// The program's start-up and shut-down, in a fixed order: the trace must cover
// the whole run, and the report is written whatever happened.
#include "app/app.h"

#include <signal.h>

#include <string>

#include "app/command_line.h"
#include "app/exit_status.h"
#include "app/options.h"
#include "app/process.h"
#include "app/report.h"
#include "app/server.h"
#include "app/usage.h"
#include "log/trace.h"
#include "orivane/errors.h"
#include "orivane/twain_session.h"
#include "platform/paths.h"
#include "platform/ui.h"
#include "platform/window.h"

namespace {

constexpr const char* kManufacturer = "Talven";
constexpr const char* kProductFamily = "Pictora";

// The program name has no escapes: only a name with blanks is quoted.
std::string program_name_quoted(std::string_view name) {
  if (!name.empty() && name.find_first_of(" \t") == std::string_view::npos) return std::string(name);
  return "\"" + std::string(name) + "\"";
}

// Steps 14 to 16: the summary in the trace, the report, the unload.
void finish(int exit_code) {
  std::string report = front_end().report.text();
  LogPrint("-----Summary-----\n");
  LogPrint("%s", report.c_str());
  LogPrint("-----------------\n");
  write_report();
  TWAIN_UnloadSourceManager();
  LogPrint("[Quillet] Exit Code = %d\n", exit_code);
}

}  // namespace

std::string raw_command_line(int argc, const char* const* argv) {
  std::string line;
  for (int i = 0; i < argc; ++i) {
    const std::string_view arg = argv[i] ? argv[i] : "";
    if (i > 0) line += ' ';
    // Quoted so that SplitCommandLine gives back this very vector: the text
    // after the program name is what a server runs for a client (/BG).
    line += i == 0 ? program_name_quoted(arg) : command_line_quote(arg);
  }
  return line;
}

int CQuilletApp::InitInstance() {
  install_console_control_handler();
  FrontEnd& fe = front_end();
  TWAIN_RegisterApp(2, 99, 0, 0, "release", kManufacturer, kProductFamily, fe.app_name.c_str());
  fe.main_window = platform::window_create(fe.app_name);
  if (!fe.main_window) {
    LogPrint("CreateWindow failed.\n");
    ReportLine("CreateWindow=NULL\n");
    return 0;
  }
  fe.start_folder = platform::current_folder();
  LogPrint("[Quillet] CreateWindow() => 0x%08lx\n", static_cast<unsigned long>(fe.main_window));
  return 1;
}

void CQuilletApp::ExitInstance() {
  FrontEnd& fe = front_end();
  if (fe.main_window) platform::window_destroy(fe.main_window);
  fe.main_window = 0;
}

int QuilletMain(int argc, const char* const* argv) {
  // -h, --help and --version answer at once, as on any Linux program: no
  // report, no trace, and no report file (/O=) is created or emptied.
  if (int status = 0; RunInfoOption(argc, argv, &status)) return status;
  FrontEnd& fe = front_end();
  fe.report_stream = nullptr;
  // A file-size limit must fail the write that exceeds it (and be reported
  // as a full disk), not end the process before the report is written.
  ::signal(SIGXFSZ, SIG_IGN);
  // Likewise a reader of standard output that goes away fails the write,
  // which is reported, rather than ending the process silently.
  ::signal(SIGPIPE, SIG_IGN);
  ORIVANE_SetProductInfo("Quillet", kAppVersion);
  ORIVANE_Attach();
  PreScanArguments(argc, argv);
  LogPrint("App=\"%s\"\n", fe.app_name.c_str());
  LogPrint("_tmain\n");
  platform::ui_select();
  const std::string command_line = raw_command_line(argc, argv);
  fe.command_line = command_line;
  LogPrint("MFC init OK\n");
  LogPrint("CmdLine=%s\n", command_line.c_str());
  LogPrint("ConsoleTitle=%s\n", "");

  fe.exit_code = 0;
  ReportLine("[Quillet]\n");
  ReportLine("App=%s\n", fe.app_name.c_str());
  ReportLine("Version=%s\n", kAppVersion);
  ReportLine("CmdLine=%s\n", command_line.c_str());

  CQuilletApp app;
  // Before the command line's own settings: a server's requests start from these.
  server_note_fresh_settings();
  ScanRequest request;
  std::string message;
  if (!app.InitInstance()) {
    ReportLine("Error=InitInstance failed\n");
    fe.exit_code = 1;
  } else if (!ReadRequest(request, argc, argv, message)) {
    TWAIN_ErrorBox(message.c_str());
    if (const std::string hint = SwitchPathHint(argc, argv); !hint.empty()) {
      LogPrint("[Quillet] hint: %s\n", hint.c_str());
      std::fprintf(stderr, "quillet: %s\n", hint.c_str());
    }
    ReportLine("Error=%s\n", message.c_str());
    fe.exit_code = 251;
    // A script that reads only the report still learns how the run ended.
    ReportLine("Exit=%d\n", fe.exit_code);
  } else {
    fe.exit_code = ProcessRequests(request);
  }
  // The report keeps the exit code; the process returns its status, which a
  // shell can tell apart from every other outcome.
  const int status = ProcessStatus(fe.exit_code, fe.failure.error_code, fe.failure.condition_code);
  finish(fe.exit_code);
  LogPrint("[Quillet] Process status = %d\n", status);
  app.ExitInstance();
  ORIVANE_Detach();
  return status;
}
