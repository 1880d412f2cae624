// The print dialog on a virtual display against a CUPS scheduler of the
// test's own: keys choose the destination and the pages, and the queue gets
// exactly those pages; Escape cancels the print call; the viewer's Print...
// button reaches the same dialog.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "../../cups_server.h"
#include "../../xvfb_support.h"
#include "../test_support.h"
#include "core/error_record.h"
#include "log/trace.h"
#include "orivane/dib_api.h"
#include "orivane/errors.h"
#include "orivane/multipage_files.h"
#include "orivane/print_api.h"
#include "orivane/trace_log.h"
#include "orivane/twain_acquire.h"
#include "orivane/view_api.h"
#include "platform/ui.h"
#include "ui/window_ui.h"

namespace {

using test_tools::command_output;

TEST(PrintDialog, KeysChooseDestinationAndPagesEscapeCancelsAndTheViewerPrintsThroughIt) {
  const std::unique_ptr<test_tools::VirtualDisplay> started = test_tools::start_virtual_display();
  test_tools::VirtualDisplay& display = *started;
  if (!display.ready()) GTEST_SKIP() << "no Xvfb or xdotool";
  CupsServer cups({"capq", "other"});
  if (!cups.running()) GTEST_SKIP() << "needs cupsd and root";
  ResetForTests();
  ::setenv("QUILLET_MODULE_PATH", build_folder().c_str(), 1);
  ::setenv("DISPLAY", display.name().c_str(), 1);
  platform::ui_register_window_backend(&ui::make_window_ui);
  platform::ui_select(platform::UiKind::Window);
  TWAIN_SetLogFolder(::testing::TempDir().c_str());
  TWAIN_LogFile(1);
  std::string trace;
  platform::ui_set_trace_sink([&trace](const std::string& line) { trace += line + "\n"; });

  // Five pages, each 1 x 1 inch at 100 dpi.
  std::vector<DIB_HANDLE> pages;
  for (int i = 0; i < 5; ++i) {
    pages.push_back(DIB_Create(DIB_PT_GRAY, 100, 100, 8));
    DIB_SetResolution(pages.back(), 100, 100);
  }
  const std::string file = ::testing::TempDir() + std::to_string(::getpid()) + "-print-dialog-five.tif";
  ASSERT_EQ(DIB_WriteArrayToFilename(pages.data(), 5, file.c_str()), 0);
  for (DIB_HANDLE p : pages) DIB_Free(p);

  struct Case {
    const char* what;
    const char* keys;
    int result;
  };
  const Case cases[] = {
      {"second destination, pages 2 to 3", "Down Tab BackSpace 2 Tab BackSpace 3 Return", 0},
      {"Escape", "Escape", -10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::thread person([&] {
      const std::string id = display.wait_for_window("^Print$", 20);
      if (id.empty()) return display.stop();
      display.press(id, c.keys);
    });
    const int result = DIB_PrintFile(file.c_str(), "dialog", 0);
    person.join();
    EXPECT_EQ(result, c.result) << core::error_record().text;
    if (result != 0) {
      EXPECT_EQ(TWAIN_LastErrorCode(), ERR_CANCELLED);
      EXPECT_NE(trace.find("Print dialog => cancelled\n"), std::string::npos) << trace;
      continue;
    }
    const int job = DIB_LastPrintJobId();
    const std::string sent = cups.job_file(job);
    EXPECT_NE(command_output("pdfinfo '" + sent + "'").find("Pages:           2"), std::string::npos);
    EXPECT_NE(command_output("lpstat -W all -o other").find("other-" + std::to_string(job)),
              std::string::npos);
    EXPECT_NE(trace.find("Print dialog => \"other\", pages 2-3"), std::string::npos) << trace;
    LogFlush();
    const std::string log = command_output("cat '" + LogFullPath() + "'");
    for (int page = 1; page <= 5; ++page) {
      const bool chosen = page == 2 || page == 3;
      EXPECT_EQ(log.find("PrintPage " + std::to_string(page) + " not selected.") == std::string::npos, chosen)
          << log;
    }
  }

  // The viewer's Print... button prints the viewed file through the dialog
  // (Tab reaches it from OK, space presses it), while the caller pumps.
  TWAIN_SetViewOption("modeless", "1");
  TWAIN_SetViewOption("print.visible", "1");
  TWAIN_SetViewOption("title", "Viewed five");
  ASSERT_EQ(TWAIN_ViewFile(file.c_str()), 1);
  const int before = DIB_LastPrintJobId();
  std::thread person([&] {
    display.press(display.wait_for_window("Viewed five", 10), "Tab space");
    const std::string id = display.wait_for_window("^Print$", 20);
    if (id.empty()) return display.stop();
    display.press(id, "Return");
  });
  for (int i = 0; i < 200 && DIB_LastPrintJobId() == before; ++i) {
    TWAIN_EmptyMessageQueue();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  person.join();
  ASSERT_NE(DIB_LastPrintJobId(), before);
  EXPECT_NE(command_output("pdfinfo '" + cups.job_file(DIB_LastPrintJobId()) + "'").find("Pages:           5"),
            std::string::npos);
  TWAIN_ViewClose();

  platform::ui_set_trace_sink(nullptr);
  ::unlink(LogFullPath().c_str());
  LogResetForTests();
  ::unlink(file.c_str());
  ResetForTests();
}

}  // namespace
