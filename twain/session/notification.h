// The source's notifications (MSG_XFERREADY, MSG_CLOSEDSREQ, MSG_CLOSEDSOK,
// MSG_DEVICEEVENT) reach the library through the procedure it registers with
// the Source Manager after opening a source. That procedure runs on whatever
// thread the source sends from; it only posts a message into the queue of
// the thread that opened the source and returns. The engine's pump takes it
// from there and forwards it to the source with DAT_EVENT / MSG_PROCESSEVENT.
#pragma once
#include <cstdint>

#include "platform/window.h"

namespace twain {

// The thread message a notification becomes: wparam holds the TWAIN message
// (MSG_XFERREADY, ...), lparam is 0.
constexpr std::uint32_t kMsgSourceNotification = platform::kMsgUser + 0x0257;

// The thread the notifications go to (0 before a source was opened).
int notification_thread();

}  // namespace twain
