// The message pump and the message filter.
//
// While a source is enabled every message of the thread is first shown to
// the source (DAT_EVENT / MSG_PROCESSEVENT); the source answers with the
// notification it has for the application (transfer ready, close request,
// ...). What the library does with a notification depends on the phase it
// is in, the pump's mode:
//   2  waiting for an image: everything is accepted;
//   1  tidying up after a transfer: transfer-ready is ignored (some drivers
//      send a stray one), and the pump gives up after 20 messages;
//   0  as 1, and close requests are ignored as well.
#include "twain/acquisition/acquire.h"

#include <optional>
#include <string>

#include "log/trace.h"
#include "orivane/twain_manager.h"
#include "orivane/twain_session.h"
#include "platform/clock.h"
#include "twain/session/constant_names.h"
#include "twain/session/dsm.h"
#include "twain/session/session.h"
#include "ui/viewer_window.h"

namespace twain {
namespace {

// Messages a pump in mode 1 looks at before it gives up.
constexpr int kModeOneMessageLimit = 20;

std::string name_of(unsigned tw_message) { return short_name(message_name(tw_message)); }

bool accepts_stray_ready() {
  const std::string& product = session().source_product;
  return product.find("Visioneer") != std::string::npos ||
         product.find("EPSON") != std::string::npos;
}

void on_transfer_ready(int mode) {
  Session& s = session();
  if (s.state != 5) {
    LogPrint("Ignored %s in State %d\n", name_of(MSG_XFERREADY).c_str(), s.state);
    return;
  }
  if (mode == 2) {
    set_state(6);
  } else if (accepts_stray_ready()) {
    // These drivers announce the next page while the last one is tidied up
    // and never repeat it.
    LogPrint("#Hack[%s] XFERREADY override\n", s.source_product.c_str());
    set_state(6);
  } else {
    LogPrint("Ignored %s - not accepting these now.\n", name_of(MSG_XFERREADY).c_str());
  }
}

void on_close_request(int mode) {
  Session& s = session();
  if (mode == 0) {
    LogPrint("Ignoring: not accepting these now.\n");
  } else if (s.state < 5) {
    LogPrint("Ignoring, state=%d.\n", s.state);
  } else if (s.close_request_seen) {
    LogPrint("Ignoring: Already saw one.\n");
  } else {
    s.close_request_seen = true;
    TWAIN_DisableSource();
  }
}

// Dialog navigation of the application's dialog window: messages for the
// dialog or one of its controls are handled by the dialog.
bool dialog_takes(platform::WindowHandle dialog, const platform::Message& m) {
  if (dialog == 0 || m.window == 0 || !platform::window_is_valid(dialog)) return false;
  platform::WindowHandle w = m.window;
  while (w != 0 && w != dialog) w = platform::window_parent(w);
  if (w != dialog) return false;
  platform::dispatch_message(m);
  return true;
}

// Shows one message to the source, then to the dialog or its window.
// Answers the source's notification.
unsigned process_one(const platform::Message& m, int mode) {
  if (session().state >= 5) {
    bool consumed = false;
    const unsigned tw_message = filter_message(m, mode, &consumed);
    if (consumed) return tw_message;
    if (!dialog_takes(acquisition().dialog_window, m)) platform::dispatch_message(m);
    return tw_message;
  }
  if (!dialog_takes(acquisition().dialog_window, m)) platform::dispatch_message(m);
  return MSG_NULL;
}

// Puts a message back at the end of the thread's queue.
void requeue(const platform::Message& m) {
  platform::post_thread_message(platform::thread_id(), m);
  ++acquisition().requeued;
}

enum class RoundEnd { Empty, StateChanged, Notification, Quit, Limit, AutoClickAgain };

// Takes the waiting messages one by one. `stop_on_state_change` is the
// pump's rule; the idle-time emptying goes on until a notification.
RoundEnd pump_round(int mode, bool stop_on_state_change, unsigned* out_notification) {
  Session& s = session();
  acquisition().requeued = 0;
  const int start_state = s.state;
  *out_notification = MSG_NULL;
  int count = 0;
  for (;;) {
    if (stop_on_state_change && s.state != start_state) return RoundEnd::StateChanged;
    platform::Message m;
    if (!platform::peek_message(&m, true)) return RoundEnd::Empty;
    if (m.message == platform::kMsgQuit) {
      // The application's own loop must still see it.
      requeue(m);
      return RoundEnd::Quit;
    }
    if (m.message == kMsgAutoClick && m.window == 0) {
      if (auto_click_run()) {
        ++acquisition().requeued;
        return RoundEnd::AutoClickAgain;
      }
      continue;
    }
    *out_notification = process_one(m, mode);
    if (*out_notification != MSG_NULL) return RoundEnd::Notification;
    if (mode == 1 && ++count >= kModeOneMessageLimit) {
      if (LogLevel() & kLogVerbose) LogPrint(" count=%d, breaking\n", count);
      return RoundEnd::Limit;
    }
  }
}

}  // namespace

void filter_notification(unsigned tw_message, int mode) {
  switch (tw_message) {
    case MSG_NULL:
      break;
    case MSG_XFERREADY:
      on_transfer_ready(mode);
      break;
    case MSG_CLOSEDSOK:
      session().close_ok_seen = true;
      on_close_request(mode);
      break;
    case MSG_CLOSEDSREQ:
      on_close_request(mode);
      break;
    default:
      LogPrint("Ignored %s\n", name_of(tw_message).c_str());
      break;
  }
}

unsigned filter_message(const platform::Message& m, int mode, bool* out_consumed) {
  TW_EVENT event{};
  event.pEvent = const_cast<platform::Message*>(&m);
  event.TWMessage = MSG_NULL;
  *out_consumed = ds_call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event) != 0;
  const unsigned tw_message = event.TWMessage;
  filter_notification(tw_message, mode);
  return tw_message;
}

unsigned pump_messages(int mode) {
  const bool verbose = LogLevel() != 0 && (LogLevel() & kLogVerbose);
  std::optional<LogNest> nest;
  if (verbose) {
    nest.emplace();
    LogFlush();
  }
  unsigned notification = MSG_NULL;
  pump_round(mode, true, &notification);
  return notification;
}

}  // namespace twain

using twain::acquisition;
using twain::session;

// A modeless viewer window lives on the calling thread: whoever pumps the
// thread's messages lets it take its window events too.
void TWAIN_PumpMessages(int mode) {
  ui::viewer_pump_events();
  twain::pump_messages(mode);
}

void TWAIN_EmptyMessageQueue(void) {
  ui::viewer_pump_events();
  if (!platform::peek_message(nullptr, false)) return;
  const bool traced = LogLevel() != 0;
  if (traced) LogPrint("EMQ<");
  unsigned notification = MSG_NULL;
  twain::pump_round(2, false, &notification);
  if (traced) LogPrint(">EMQ\n");
}

void TWAIN_FlushMessageQueue(void) {
  LogPrint("FlushMsgQ<");
  // Only what is waiting now: a window procedure may post more.
  const std::size_t waiting = platform::queued_message_count();
  bool quit = false;
  platform::Message quit_message;
  for (std::size_t i = 0; i < waiting; ++i) {
    platform::Message m;
    if (!platform::peek_message(&m, true)) break;
    LogPrint("-");
    if (m.message == platform::kMsgQuit) {
      quit = true;
      quit_message = m;
      continue;
    }
    platform::dispatch_message(m);
  }
  // Closing the Source Manager must not swallow the application's exit.
  if (quit) platform::post_thread_message(platform::thread_id(), quit_message);
  LogPrint(">\n");
}

void TWAIN_BreakModalLoop(void) {
  LogApiCall("BreakModalLoop()\n");
  session().transfer_ended = true;
}

int TWAIN_CloseRequested(void) { return session().close_request_seen ? 1 : 0; }

int TWAIN_MessageHook(const void* message) {
  twain::Session& s = session();
  if (message == nullptr || s.state < 5) return 0;
  bool consumed = false;
  const auto& m = *static_cast<const platform::Message*>(message);
  const unsigned tw_message = twain::filter_message(m, 2, &consumed);
  // The application runs its own loop: the image is fetched at once and
  // waits as the pending DIB.
  if (tw_message == MSG_XFERREADY && s.state == 6 && !s.transfer_ended)
    twain::transfer_ready_image();
  return consumed ? 1 : 0;
}
