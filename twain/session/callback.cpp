// What follows opening the Source Manager and a source: the Source
// Manager's memory functions and the notification procedure.
#include "twain/session/dsm.h"

#include <atomic>

#include "core/state_registry.h"
#include "log/trace.h"
#include "platform/clock.h"
#include "platform/memblock.h"
#include "twain/session/notification.h"
#include "twain/session/session.h"

namespace twain {

namespace {

// Read by the notification procedure on the source's thread.
std::atomic<int>& target_thread() {
  static std::atomic<int> thread{0};
  return thread;
}

TW_UINT16 on_notification(pTW_IDENTITY /*origin*/, pTW_IDENTITY /*dest*/, TW_UINT32 /*dg*/,
                          TW_UINT16 /*dat*/, TW_UINT16 msg, TW_MEMREF /*data*/) {
  platform::Message m;
  m.message = kMsgSourceNotification;
  m.wparam = msg;
  return platform::post_thread_message(target_thread().load(), m) ? TWRC_SUCCESS : TWRC_FAILURE;
}

}  // namespace

int notification_thread() { return target_thread().load(); }

namespace {

// True when a block the Source Manager makes is one of this program's
// movable blocks.
bool shares_blocks(const TW_ENTRYPOINT& entry) {
  constexpr std::size_t kProbeBytes = 3;
  TW_HANDLE probe = entry.DSM_MemAllocate(kProbeBytes);
  if (!probe) return false;
  const auto h = reinterpret_cast<platform::MemHandle>(probe);
  bool shared = false;
  if (platform::mem_size(h) == kProbeBytes) {
    void* ours = platform::mem_lock(h);
    shared = ours != nullptr && ours == entry.DSM_MemLock(probe);
    if (ours) platform::mem_unlock(h);
    if (shared) entry.DSM_MemUnlock(probe);
  }
  entry.DSM_MemFree(probe);
  return shared;
}

}  // namespace

void fetch_memory_functions() {
  TW_ENTRYPOINT entry{};
  entry.Size = sizeof entry;
  if (!mgr_call(DG_CONTROL, DAT_ENTRYPOINT, MSG_GET, &entry) || !entry.DSM_MemAllocate ||
      !entry.DSM_MemFree || !entry.DSM_MemLock || !entry.DSM_MemUnlock) {
    return;
  }
  Session& s = session();
  s.dsm_memory = entry;
  s.dsm_memory_shared = shares_blocks(entry);
  if (!s.dsm_memory_shared)
    LogPrint("** The Source Manager's memory blocks are not the program's: sizes unknown\n");
}

void register_notification_callback() {
  // Using the queue is what makes this thread reachable by posted messages.
  platform::queued_message_count();
  target_thread().store(platform::thread_id());
  TW_CALLBACK2 callback{};
  callback.CallBackProc = reinterpret_cast<TW_MEMREF>(&on_notification);
  // The open's own result stays the last result the caller sees.
  Session& s = session();
  const int rc = s.last_return_code, cc = s.last_condition_code;
  ds_call(DG_CONTROL, DAT_CALLBACK2, MSG_REGISTER_CALLBACK, &callback);
  s.last_return_code = rc;
  s.last_condition_code = cc;
}

void drain_notifications() {
  const std::size_t queued = platform::queued_message_count();
  for (std::size_t i = 0; i < queued; ++i) {
    platform::Message m;
    if (!platform::peek_message(&m, true)) break;
    // Other messages go to the back of the queue in their order.
    if (m.message != kMsgSourceNotification) platform::post_thread_message(platform::thread_id(), m);
  }
}

}  // namespace twain

namespace {

// The thread the device's callbacks are handed to, set while one waits.
const bool kCallbackRegistered =
    core::register_state({"twain.callback_thread", nullptr, nullptr, core::ResetStage::Resource});

}  // namespace
