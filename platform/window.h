// Window records and per-thread message queues: the stand-in for the
// platform's window handles, thread message queue and "wait for window input".
// A window here is a record (title, owner, enabled, thread); the GUI back end
// may attach a real window to it later.
#pragma once
#include <cstdint>
#include <string>

namespace platform {

// Opaque window handle; 0 means "no window".
using WindowHandle = std::uintptr_t;

struct Message {
  WindowHandle window = 0;     // target window, 0 for a thread message
  std::uint32_t message = 0;   // message number
  std::uintptr_t wparam = 0;
  std::intptr_t lparam = 0;
};

// Messages the system itself uses.
constexpr std::uint32_t kMsgNull = 0x0000;
constexpr std::uint32_t kMsgClose = 0x0010;
constexpr std::uint32_t kMsgQuit = 0x0012;
constexpr std::uint32_t kMsgUser = 0x0400;

// Creates a window record owned by the calling thread. Never shown here.
WindowHandle window_create(const std::string& title, WindowHandle owner = 0);
// Destroys the record; messages queued for it are dropped. False if invalid.
bool window_destroy(WindowHandle w);
// True for a live window record.
bool window_is_valid(WindowHandle w);
// Enables or disables input to a window; returns the previous enabled state
// (false for an invalid handle).
bool window_enable(WindowHandle w, bool enable);
bool window_is_enabled(WindowHandle w);
// Thread that created the window, 0 if invalid.
int window_thread(WindowHandle w);
std::string window_title(WindowHandle w);
// First live window whose title equals `title`, 0 if none.
WindowHandle window_find(const std::string& title);
// Brings a window to the foreground (records it as the active window).
bool window_activate(WindowHandle w);
WindowHandle window_active();

// Posts a message into the queue of the thread that owns `m.window`; false if
// the window is invalid.
bool post_message(const Message& m);
// Posts a message into a thread's queue (by platform::thread_id()); false if
// that thread has never used its queue.
bool post_thread_message(int thread, const Message& m);
// Takes (or only looks at) the oldest message of the calling thread's queue.
bool peek_message(Message* out_message, bool remove);
// Waits until the calling thread's queue holds a message or `timeout_ms`
// passes (negative: wait forever). True when a message is there.
bool wait_message(int timeout_ms);
// Number of messages queued for the calling thread.
std::size_t queued_message_count();

// Forgets every window record and queue (tests).
void windows_reset_for_tests();

}  // namespace platform
