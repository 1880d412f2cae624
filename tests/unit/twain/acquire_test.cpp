// Whole acquisitions against the real Source Manager and the virtual scanner:
// enabling, the filter's phases, the transfer mechanisms and the failures a
// device can produce.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>

#include "core/error_record.h"
#include "dsm_fixture.h"
#include "orivane/dib_api.h"
#include "orivane/errors.h"
#include "orivane/file_api.h"
#include "orivane/file_options.h"
#include "orivane/twain_acquire.h"
#include "orivane/twain_manager.h"
#include "orivane/twain_session.h"
#include "orivane/twain_sources.h"
#include "orivane/twain_switches.h"
#include "platform/clipboard.h"
#include "platform/clock.h"
#include "platform/locale.h"
#include "platform/window.h"
#include "twain/acquisition/acquire.h"
#include "twain/session/session.h"

namespace twain_test {
namespace {

class AcquireTest : public DsmTest {
 protected:
  // A device that announces its image a little after being enabled, so that
  // the enable's own pump round does not see it.
  void use_device(const std::string& extra = "") {
    use_devices("[device]\nproduct = " + product_ + "\nxfer_delay_ms = 150\n" + extra);
  }
  // Opens the default source and enables it; the transfer-ready announcement
  // is then waiting in the thread's queue.
  void enable_and_await_notification() {
    ASSERT_EQ(TWAIN_OpenDefaultSource(), 1);
    ASSERT_EQ(TWAIN_EnableSource(0), 1);
    ASSERT_EQ(TWAIN_State(), 5);
    ASSERT_TRUE(platform::wait_message(5000)) << "no notification arrived";
  }
  static int count(const std::string& text, const std::string& what) {
    int n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
      ++n;
    return n;
  }
  std::string product_ = "Virtual Scanner";
};

TEST_F(AcquireTest, NativeAcquisitionDeliversThePageAndClosesTheSource) {
  use_device();
  const std::uintptr_t dib = TWAIN_Acquire(0);
  ASSERT_NE(dib, 0u) << trace();
  EXPECT_GT(DIB_Width(dib), 0);
  EXPECT_GT(DIB_Height(dib), 0);
  EXPECT_EQ(TWAIN_State(), 3) << "without multi-transfer the source is closed";
  EXPECT_EQ(core::error_record().code, 0) << core::error_record().text;
  const std::string t = trace();
  EXPECT_NE(t.find("WaitForXfer returning in State 6"), std::string::npos);
  EXPECT_NE(t.find("DIBs in use: 1"), std::string::npos);
  TWAIN_FreeNative(dib);
  EXPECT_EQ(DIB_LiveImageCount(), 0);
}

TEST_F(AcquireTest, MultiTransferDecidesWhetherTheSourceStaysOpen) {
  struct Case {
    int multi;
    int state_after;
  };
  for (const Case c : {Case{0, 3}, Case{1, 5}}) {
    SCOPED_TRACE(c.multi);
    use_device("feeder_sheets = 5\n");
    TWAIN_SetMultiTransfer(c.multi);
    for (int page = 0; page < 2; ++page) {
      const std::uintptr_t dib = TWAIN_Acquire(0);
      ASSERT_NE(dib, 0u) << "page " << page << "\n" << trace();
      DIB_Free(dib);
      EXPECT_GE(TWAIN_State(), c.state_after);
      if (c.multi == 0) EXPECT_EQ(TWAIN_State(), 3);
    }
    TWAIN_UnloadSourceManager();
  }
}

TEST_F(AcquireTest, EnableWithoutWindowUsesTheProxyWindow) {
  use_device();
  const platform::WindowHandle app = platform::window_create("App window");
  platform::window_activate(app);
  ASSERT_EQ(TWAIN_OpenDefaultSource(), 1);
  ASSERT_EQ(TWAIN_EnableSource(0), 1);
  const twain::Acquisition& a = twain::acquisition();
  EXPECT_NE(twain::session().proxy_window, 0u);
  EXPECT_EQ(reinterpret_cast<platform::WindowHandle>(a.ui.hParent), twain::session().proxy_window);
  EXPECT_EQ(a.parent_to_disable, app) << "the active window stands for the parent";
  EXPECT_FALSE(platform::window_is_enabled(app));
  EXPECT_EQ(TWAIN_DisableSource(), 1);
  EXPECT_TRUE(platform::window_is_enabled(app)) << "re-enabled with the source disabled";
  EXPECT_NE(trace().find("guessing parent is ActiveWindow"), std::string::npos);
}

TEST_F(AcquireTest, EnableRefusesUnusableWindows) {
  use_device();
  const platform::WindowHandle dead = platform::window_create("gone");
  platform::window_destroy(dead);
  platform::WindowHandle foreign = 0;
  std::thread([&] { foreign = platform::window_create("other thread"); }).join();
  struct Case {
    platform::WindowHandle window;
    const char* detail;
  };
  for (const Case& c : {Case{dead, "!IsWindow"}, Case{foreign, "cross-thread"}}) {
    core::error_clear();
    EXPECT_EQ(TWAIN_EnableSource(c.window), 0);
    EXPECT_EQ(core::error_record().code, ERR_BAD_WINDOW);
    EXPECT_NE(core::error_record().text.find(c.detail), std::string::npos)
        << core::error_record().text;
    EXPECT_LT(TWAIN_State(), 5);
  }
}

TEST_F(AcquireTest, StrayTransferReadyWhileTidyingUpIsIgnoredButForKnownDevices) {
  struct Case {
    const char* product;
    int state_after;
    const char* traced;
  };
  const Case cases[] = {
      {"Virtual Scanner", 5, "Ignored XFERREADY - not accepting these now."},
      {"EPSON Virtual", 6, "#Hack[EPSON Virtual] XFERREADY override"},
      {"Visioneer One", 6, "#Hack[Visioneer One] XFERREADY override"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.product);
    product_ = c.product;
    use_device();
    TWAIN_SetMultiTransfer(1);
    enable_and_await_notification();
    TWAIN_PostAcquire();
    EXPECT_EQ(TWAIN_State(), c.state_after);
    EXPECT_NE(trace().find(c.traced), std::string::npos);
    // The device still holds the page it announced: catch up with it so the
    // pending transfer can be dropped.
    if (TWAIN_State() == 5) twain::set_state(6);
    EXPECT_EQ(TWAIN_CloseSource(), 1);
    TWAIN_UnloadSourceManager();  // the next device list is read afresh
  }
}

TEST_F(AcquireTest, CloseRequestsDisableTheSourceOnce) {
  use_device("events = 1:close_request\n");
  enable_and_await_notification();
  twain::pump_messages(2);
  EXPECT_EQ(TWAIN_State(), 4);
  EXPECT_EQ(TWAIN_CloseRequested(), 1);
  // A second request from a source that is already disabled changes nothing.
  twain::filter_notification(MSG_CLOSEDSREQ, 2);
  EXPECT_EQ(TWAIN_State(), 4);
  const std::string t = trace();
  EXPECT_EQ(count(t, "TWAIN_DisableSource"), 1) << t;
  EXPECT_NE(t.find("Ignoring, state=4."), std::string::npos);
}

TEST_F(AcquireTest, CloseRequestsAreIgnoredInModeZero) {
  use_device("events = 1:close_request\n");
  enable_and_await_notification();
  twain::pump_messages(0);
  EXPECT_EQ(TWAIN_State(), 5);
  EXPECT_NE(trace().find("Ignoring: not accepting these now."), std::string::npos);
  TWAIN_CloseSource();
}

TEST_F(AcquireTest, SettingsDialogAnswersHowItWasClosed) {
  struct Case {
    const char* config;
    int expected;
  };
  const Case cases[] = {
      {"[device]\nproduct = Virtual Scanner\nsettings_dialog = ok\n", 1},
      {"[device]\nproduct = Virtual Scanner\nsettings_dialog = cancel\n", 0},
      {"", -1},  // no device: nothing to show
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.config);
    use_devices(c.config);
    EXPECT_EQ(TWAIN_DoSettingsDialog(0), c.expected) << trace();
    EXPECT_LT(TWAIN_State(), 5);
    TWAIN_UnloadSourceManager();  // the next device list is read afresh
  }
}

TEST_F(AcquireTest, QuitDuringAWaitIsKeptAndTheWaitGoesOn) {
  use_device();
  platform::Message quit;
  quit.message = platform::kMsgQuit;
  quit.wparam = 9;
  platform::queued_message_count();  // this thread's queue exists from its first use
  ASSERT_TRUE(platform::post_thread_message(platform::thread_id(), quit));
  const std::uint32_t start = platform::tick_count_ms();
  const std::uintptr_t dib = TWAIN_Acquire(0);
  EXPECT_NE(dib, 0u) << trace();
  DIB_Free(dib);
  EXPECT_LT(platform::tick_count_ms() - start, 10000u);
  platform::Message left;
  ASSERT_TRUE(platform::peek_message(&left, true));
  EXPECT_EQ(left.message, platform::kMsgQuit);
  EXPECT_EQ(left.wparam, 9u);
}

TEST_F(AcquireTest, FileTransferMapsTheLibraryPdfCode) {
  use_device("file_formats = bmp, pdf\n");
  const std::string path = dir_ + "/page.pdf";
  const int written = TWAIN_AcquireFile(0, FF_PDF, path.c_str());
  const std::string t = trace();
  EXPECT_NE(t.find("Mapping Orivane PDF(99) to TWAIN PDF(10)"), std::string::npos);
  EXPECT_EQ(twain::acquisition().file_format, TWFF_PDF);
  EXPECT_EQ(written, 1) << t;
  EXPECT_TRUE(std::filesystem::exists(path));
  EXPECT_STREQ(LastOutputFileName(), path.c_str());
}

TEST_F(AcquireTest, ToFilenameAndClipboard) {
  use_device("feeder_sheets = 5\n");
  const std::string path = dir_ + "/page.bmp";
  EXPECT_EQ(TWAIN_AcquireToFilename(0, path.c_str()), 0) << trace();
  EXPECT_EQ(FormatFromExtension(path.c_str(), FF_UNKNOWN), FF_BMP);
  EXPECT_TRUE(std::filesystem::exists(path));
  platform::clipboard_clear();
  EXPECT_EQ(TWAIN_AcquireToClipboard(0, 0), 1);
  const platform::ClipboardContent c = platform::clipboard_get();
  EXPECT_EQ(c.format, platform::ClipboardFormat::Dib);
  EXPECT_GT(c.bytes.size(), 40u);
  platform::clipboard_clear();
  EXPECT_EQ(DIB_LiveImageCount(), 0) << "both images were released";
}

TEST_F(AcquireTest, DeviceFailuresDuringTheTransferAreReported) {
  struct Case {
    const char* extra;
    int code;
    const char* text;
    int state_at_most;
  };
  // Each failure is classified by what the device said went wrong.
  const Case cases[] = {
      {"events = 1:jam\n", ERR_PAPER_JAM, "Virtual Scanner", 3},
      {"events = 1:double_feed\n", ERR_DOUBLE_FEED, "Virtual Scanner", 3},
      {"events = 1:offline\n", ERR_COMMUNICATION, "Virtual Scanner", 3},
      {"events = 1:cover_open\n", ERR_COVER_OPEN, "Virtual Scanner", 3},
      {"events = 1:cancel\n", ERR_CANCELLED, "", 3},
      // The crash itself is shown (and cleared) by the gate; what remains
      // is the failed transfer.
      {"fault = nativexfer\n", ERR_XFER_FAILED, "Fragile Native", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.extra);
    LeaksIgnored leaks;
    // A crashed device stays taken for this process: it gets its own name.
    product_ = c.state_at_most == 2 ? "Fragile Native" : "Virtual Scanner";
    use_device(c.extra);
    core::error_clear();
    EXPECT_EQ(TWAIN_Acquire(0), 0u);
    EXPECT_LE(TWAIN_State(), c.state_at_most);
    EXPECT_EQ(core::error_record().code, c.code) << core::error_record().text;
    EXPECT_NE(core::error_record().text.find(c.text), std::string::npos)
        << core::error_record().text;
    if (c.state_at_most == 2) {
      ASSERT_FALSE(boxes_.empty());
      EXPECT_NE(boxes_.back().find("All TWAIN functions are now blocked"), std::string::npos);
      // The device still counts this application as its user: release it
      // behind the library's back so later tests can open it again.
      twain::Session& s = twain::session();
      TW_PENDINGXFERS pending{};
      TW_USERINTERFACE ui{};
      s.dsm_entry(&s.app_identity, &s.source_identity, DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET,
                  &pending);
      s.dsm_entry(&s.app_identity, &s.source_identity, DG_CONTROL, DAT_USERINTERFACE,
                  MSG_DISABLEDS, &ui);
      EXPECT_EQ(s.dsm_entry(&s.app_identity, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS,
                            &s.source_identity),
                TWRC_SUCCESS);
    }
    TearDown();
    SetUp();
  }
}

TEST_F(AcquireTest, ADeviceLeftOpenByAFailedCloseOpensAgainAfterShutdown) {
  // A long-running program shuts the library down and opens the device
  // again; what went wrong in the last session must not keep the device.
  struct Case {
    const char* label;
    const char* extra;
    bool crash;
  } cases[] = {
      // The device moves to state 6 by itself (its image is waiting) while
      // the library still counts state 5: MSG_DISABLEDS is refused.
      {"moved on by itself", "", false},
      // The driver crashed inside the transfer: every TWAIN call is blocked.
      {"crashed", "fault = nativexfer\n", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    LeaksIgnored leaks;
    use_device(c.extra);
    if (c.crash) {
      EXPECT_EQ(TWAIN_Acquire(0), 0u);
      ASSERT_EQ(TWAIN_State(), 2);
    } else {
      enable_and_await_notification();
    }
    TWAIN_Shutdown();
    ASSERT_EQ(TWAIN_State(), 1);
    EXPECT_NE(trace().find("Source Manager released 1 source(s) left open"), std::string::npos);
    core::error_clear();
    EXPECT_EQ(TWAIN_OpenDefaultSource(), 1) << core::error_record().text;
    EXPECT_EQ(TWAIN_State(), 4);
    TearDown();
    SetUp();
  }
}

TEST_F(AcquireTest, ANativeImageThatIsNoMemoryBlockIsRefused) {
  // A driver that hands over calloc'd memory instead of a block: the memory
  // is lost to the driver's fault, but no bogus image comes of it.
  LeaksIgnored leaks;
  use_device("native_memory = calloc\n");
  core::error_clear();
  EXPECT_EQ(TWAIN_Acquire(0), 0u);
  EXPECT_EQ(core::error_record().code, ERR_BAD_DIB) << core::error_record().text;
  EXPECT_EQ(core::error_record().text, "Internal problem: Bad Dib detected (DAT_IMAGENATIVEXFER)");
  EXPECT_EQ(DIB_LiveImageCount(), 0);
  EXPECT_LE(TWAIN_State(), 4) << "the transfer was still ended";
}

TEST_F(AcquireTest, MemoryCallbackMustBeCode) {
  static int not_code = 0;
  struct Case {
    TWAIN_MEMORY_CALLBACK callback;
  };
  for (const Case c : {Case{nullptr}, Case{reinterpret_cast<TWAIN_MEMORY_CALLBACK>(&not_code)}}) {
    EXPECT_EQ(TWAIN_AcquireMemoryCallback(0, c.callback, 1), 0);
    EXPECT_LT(TWAIN_State(), 3) << "nothing was opened";
  }
  EXPECT_NE(trace().find("TWAIN_AcquireMemoryCallback-cb"), std::string::npos);
}

TEST_F(AcquireTest, MemoryCallbackRunsInStateSix) {
  use_device();
  static int seen_state = 0;
  const auto callback = [](intptr_t value) -> int {
    seen_state = TWAIN_State();
    TWAIN_AbortAllPendingXfers();
    return static_cast<int>(value);
  };
  EXPECT_EQ(TWAIN_AcquireMemoryCallback(0, callback, 42), 42) << trace();
  EXPECT_EQ(seen_state, 6);
  EXPECT_EQ(twain::acquisition().memory_callback, nullptr) << "default handler restored";
}

TEST_F(AcquireTest, MessageHookTransfersAtOnceForApplicationsWithTheirOwnLoop) {
  use_device();
  enable_and_await_notification();
  platform::Message m;
  ASSERT_TRUE(platform::peek_message(&m, true));
  EXPECT_EQ(TWAIN_MessageHook(&m), 1);
  EXPECT_NE(twain::acquisition().pending_dib, 0u) << "transferred at once";
  const std::uintptr_t dib = TWAIN_WaitForNativeXfer(0);
  EXPECT_NE(dib, 0u);
  EXPECT_NE(trace().find("DIB already waiting."), std::string::npos);
  DIB_Free(dib);
  TWAIN_CloseSource();
}

TEST_F(AcquireTest, RemoteSessionsPollForAMissedTransferReady) {
  struct Case {
    const char* session_name;
    bool polls;
  };
  for (const Case c : {Case{"ICA-tcp#2", true}, Case{"Console", false}}) {
    SCOPED_TRACE(c.session_name);
    ScopedEnv session_name("SESSIONNAME", c.session_name);
    use_device();
    const std::size_t before = trace().size();
    ASSERT_EQ(TWAIN_OpenDefaultSource(), 1);
    TWAIN_WaitForXfer(0);
    EXPECT_EQ(TWAIN_State(), 6) << trace();
    EXPECT_EQ(trace().find("#Hack[Citrix] try to detect missed XFERREADY", before) !=
                  std::string::npos,
              c.polls);
    TWAIN_UnloadSourceManager();
  }
}

TEST_F(AcquireTest, HiddenDialogWaitShowsTheWaitingWindowAndCanBeCancelled) {
  class CancellingUi : public ScriptedUi {
   public:
    using ScriptedUi::ScriptedUi;
    bool waiting_window_show(const std::string& text) override {
      shown = text;
      return true;
    }
    bool waiting_window_cancelled() override { return true; }
    void waiting_window_close() override { closed = true; }
    std::string shown;
    bool closed = false;
  };
  auto ui = std::make_unique<CancellingUi>(&boxes_, &answers_);
  CancellingUi* seen = ui.get();
  platform::ui_install(std::move(ui));
  use_device("xfer_delay_ms = 5000\n");
  const std::uint16_t language = platform::locale_get();
  platform::locale_set(0x0409);
  TWAIN_SetHideUI(1);
  TWAIN_SetWaitDialogDelay(0);
  ASSERT_EQ(TWAIN_OpenDefaultSource(), 1);
  TWAIN_WaitForXfer(0);
  EXPECT_EQ(seen->shown, "Waiting for Virtual Scanner...");
  EXPECT_TRUE(seen->closed);
  EXPECT_EQ(core::error_record().code, ERR_CANCELLED);
  EXPECT_NE(trace().find("wait cancelled!"), std::string::npos);
  TWAIN_CloseSource();
  platform::locale_set(language);
}

}  // namespace
}  // namespace twain_test
