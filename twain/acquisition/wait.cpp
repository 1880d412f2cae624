// Waiting for the source: the inner wait for a state change (pumping the
// thread's messages between short waits for new input), the waiting window
// for devices whose own dialog is hidden, and TWAIN_WaitForXfer with its
// polling for remote sessions that lose transfer-ready notifications.
//
// This platform has no remote-desktop system metric; a session run through
// the ICA protocol names itself in SESSIONNAME ("ica-tcp#3"), and that is the
// one case the polling exists for, so the environment variable alone decides.
#include "twain/acquisition/acquire.h"

#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/error_record.h"
#include "log/trace.h"
#include "orivane/errors.h"
#include "orivane/twain_manager.h"
#include "platform/clock.h"
#include "platform/interrupt.h"
#include "platform/locale.h"
#include "platform/ui.h"
#include "twain/capabilities/switches.h"
#include "twain/session/dsm.h"
#include "twain/session/session.h"

namespace twain {
namespace {

// Longest wait for new input between two pump rounds.
constexpr int kInputWaitMs = 200;
// Polling step while waiting in a remote session.
constexpr int kRemotePollMs = 100;
// Waiting-window delay of each remote-session wait round, seconds.
constexpr int kRemoteRoundSeconds = 400;
// Polling step while only messages the pump put back are queued.
constexpr int kRequeuedPollMs = 10;

struct WaitingText {
  std::uint16_t lang_id;  // full language id; its primary language is the fallback
  const char* format;
};

constexpr WaitingText kWaitingTexts[] = {
    {0x0409, "Waiting for %s..."},     // English
    {0x0407, "Warten auf: %s..."},     // German
    {0x040c, "Attendre: %s..."},       // French
    {0x0410, "Aspettare: %s..."},      // Italian
    {0x0816, "A espera para: %s..."},  // Portuguese
    {0x0c0a, "Esperar: %s..."},        // Spanish
};

const char* waiting_format(std::uint16_t lang_id) {
  for (const WaitingText& t : kWaitingTexts)
    if (t.lang_id == lang_id) return t.format;
  for (const WaitingText& t : kWaitingTexts)
    if (platform::locale_primary(t.lang_id) == platform::locale_primary(lang_id)) return t.format;
  return kWaitingTexts[0].format;
}

// Waits up to `timeout_ms` for input the pump has not seen yet. Messages the
// pump put back (WM_QUIT, the auto-click retry) do not end the wait.
void wait_for_new_input(int timeout_ms) {
  const std::size_t held = acquisition().requeued;
  if (held == 0) {
    platform::wait_message(timeout_ms);
    return;
  }
  const std::uint32_t start = platform::tick_count_ms();
  while (platform::queued_message_count() <= held &&
         static_cast<int>(platform::tick_count_ms() - start) < timeout_ms)
    platform::sleep_ms(kRequeuedPollMs);
}

class WaitingWindow {
 public:
  ~WaitingWindow() { close(); }
  bool shown() const { return shown_; }
  void show() {
    shown_ = true;
    up_ = platform::ui().waiting_window_show(
        waiting_text(platform::locale_get(), session().source_product));
  }
  bool cancelled() { return up_ && platform::ui().waiting_window_cancelled(); }
  void close() {
    if (up_) platform::ui().waiting_window_close();
    up_ = false;
  }

 private:
  bool shown_ = false;
  bool up_ = false;
};

bool past(std::uint32_t start, int seconds) {
  return seconds >= 0 &&
         platform::tick_count_ms() - start >= static_cast<std::uint32_t>(seconds) * 1000u;
}

// The wait loop proper; the caller traces around it.
int wait_loop(int dialog_delay_s, int limit_s) {
  Session& s = session();
  Acquisition& a = acquisition();
  const int start_state = s.state;
  const std::uint32_t start = platform::tick_count_ms();
  WaitingWindow window;
  for (;;) {
    pump_messages(2);
    if (s.state != start_state) return 1;
    if (s.transfer_ended) {
      LogPrint(" break!");
      return 2;
    }
    // The console's cancel (Ctrl-C, SIGTERM) is the waiting window's Cancel.
    if (window.cancelled() || platform::interrupt_raised()) a.wait_cancelled = true;
    if (a.wait_cancelled) {
      LogPrint("wait cancelled!\n");
      RecordError(ERR_CANCELLED, nullptr);
      return 3;
    }
    if (s.state == 5 && a.ui.ShowUI == 0) {
      if (past(start, limit_s)) return 3;
      if (past(start, dialog_delay_s) && !window.shown()) {
        LogPrint("Posting 'waiting for' dialog\n");
        window.show();
      }
    }
    wait_for_new_input(kInputWaitMs);
  }
}

// Some remote sessions lose the transfer-ready notification: the image
// information is polled and a plausible answer taken as the notification.
void wait_remote_session() {
  const int level = LogLevel();
  if (level == 0) LogSetLevelOnly(1);
  LogPrint("#Hack[Citrix] try to detect missed XFERREADY\n");
  const auto delay = static_cast<unsigned>(switches().wait_dialog_delay);
  unsigned waited = 0;
  for (;;) {
    platform::sleep_ms(kRemotePollMs);
    std::fflush(nullptr);
    TW_IMAGEINFO info{};
    if (ds_call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info) && info.ImageWidth != 0 &&
        info.ImageLength != 0 && info.SamplesPerPixel != 0 && info.BitsPerPixel != 0) {
      LogPrint("#Hack[Citrix]: Missed XFERREADY, jump to State 6\n");
      platform::sleep_ms(kRemotePollMs);
      set_state(6);
      break;
    }
    if (session().state != 5) break;
    // Only an answer of 3 without a cancel (the hidden-dialog wait that
    // cannot run) polls again; the user's Cancel ends the wait.
    if (wait_for_state_change(kRemoteRoundSeconds, -1) != 3 || acquisition().wait_cancelled)
      break;
    waited += kRemoteRoundSeconds;
    if (delay != 0 && waited >= delay) break;
  }
  if (level == 0) LogSetLevelOnly(0);
}

}  // namespace

std::string waiting_text(std::uint16_t lang_id, const std::string& source_name) {
  char text[512];
  std::snprintf(text, sizeof text, waiting_format(lang_id), source_name.c_str());
  return text;
}

bool remote_session_detect() {
  const char* name = std::getenv("SESSIONNAME");
  return name != nullptr && strncasecmp(name, "ica-", 4) == 0;
}

int wait_for_state_change(int dialog_delay_s, int limit_s) {
  Session& s = session();
  Acquisition& a = acquisition();
  s.transfer_ended = false;
  a.wait_cancelled = false;
  if (a.auto_click && !switches().hide_ui) {
    LogPrint("start autoclick! ");
    auto_click_post();
  }
  if (s.state < 5) {
    LogPrint("OOPS: PMUSC in state<5!");
    return 0;
  }
  if (switches().hide_ui && s.state == 5 && s.previous_state != 4) {
    RecordErrorF(ERR_FAILURE, "NoUI Wait in State 5 after State %d", s.previous_state);
    ReportErrorUnconditionally();
    return 3;
  }
  LogPrint("PMUSC<");
  int result = 0;
  {
    LogNest nest;
    result = wait_loop(dialog_delay_s, limit_s);
  }
  LogPrint(">PMUSC\n");
  s.transfer_ended = false;
  return result;
}

}  // namespace twain

using twain::acquisition;
using twain::session;

void TWAIN_WaitForXfer(uintptr_t window) {
  const std::uint32_t start = platform::tick_count_ms();
  const int level = LogLevel();
  LogApiCall("WaitForXfer\n");
  LogNest nest;
  twain::Session& s = session();
  if (window != 0 && !platform::window_is_valid(window))
    LogPrint("**Internal error: invalid HWND(0x%08lx)\n", static_cast<unsigned long>(window));
  if (s.state < 5 && !TWAIN_EnableSource(window)) {
    if (s.last_return_code == TWRC_CANCEL) {
      RecordError(ERR_CANCELLED, nullptr);
    } else {
      RecordError(ERR_NOT_RESPONDING, s.source_product.c_str());
    }
  }
  if (s.state == 5) {
    LogPrint("Source enabled, wait for transition.\n");
    acquisition().remote_session = twain::remote_session_detect();
    if (acquisition().remote_session) {
      twain::wait_remote_session();
    } else if (twain::wait_for_state_change(twain::switches().wait_dialog_delay, -1) == 3) {
      RecordError(ERR_NOT_RESPONDING, s.source_product.c_str());
    }
  }
  LogPrint("WaitForXfer returning in State %d [%dms]\n", s.state,
           static_cast<int>(platform::tick_count_ms() - start));
  LogSetLevelOnly(level);
}
