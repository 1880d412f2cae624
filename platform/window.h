// Window records and per-thread message queues: the stand-in for the
// platform's window handles, thread message queue and "wait for window input".
// A window here is a record (title, owner, enabled, thread); the GUI back end
// may attach a real window to it later.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

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
// A control tells its parent it was used: wparam = the control's identifier,
// lparam = the control's handle.
constexpr std::uint32_t kMsgCommand = 0x0111;
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

// --- Child controls and window procedures ---
// Creates a push button inside `parent` (a live window of any thread; the
// button belongs to the parent's thread). Buttons start visible and enabled.
// 0 when the parent is invalid. Destroying a window destroys its controls.
WindowHandle window_create_button(WindowHandle parent, const std::string& caption, int id);
bool window_is_button(WindowHandle w);
// Identifier of a control (0 for other windows and invalid handles).
int window_control_id(WindowHandle w);
// The window a control sits in (0 for top-level windows and invalid ones).
WindowHandle window_parent(WindowHandle w);
// Shows or hides a window; returns the previous visibility (false if
// invalid). Windows start visible.
bool window_set_visible(WindowHandle w, bool visible);
bool window_is_visible(WindowHandle w);
// Every control inside `w`, depth first, in creation order.
std::vector<WindowHandle> window_children(WindowHandle w);
// The top-level window at the top of the window order: the one created or
// activated last. 0 when none is live.
WindowHandle window_top();

// Handles the messages dispatched to a window.
using WindowProcedure = std::function<void(const Message&)>;
// Installs (or, with an empty procedure, removes) a window's procedure.
bool window_set_procedure(WindowHandle w, WindowProcedure procedure);
// Hands a message to its window's procedure; thread messages and windows
// without one are dropped. True when a procedure ran.
bool dispatch_message(const Message& m);

// Forgets every window record and queue (tests).
void windows_reset_for_tests();

}  // namespace platform
