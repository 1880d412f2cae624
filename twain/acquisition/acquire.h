// One acquisition's process-wide state and the engine's internal entry
// points shared by the enabling/pump/wait code, the transfer dispatcher, the
// memory transfer, post-transfer processing and extended image information.
#pragma once
#include <cstdint>
#include <string>

#include "dib/dib.h"
#include "orivane/twain.h"
#include "orivane/twain_acquire.h"
#include "platform/window.h"

namespace twain {

// Per-acquisition state, on the thread that acquires. The close-request,
// close-OK and transfer-ended (break) flags live in the Session.
struct Acquisition {
  TW_USERINTERFACE ui{};                         // for ENABLEDS / DISABLEDS
  platform::WindowHandle parent_to_disable = 0;  // disabled while enabled
  platform::WindowHandle dialog_window = 0;      // keeps its dialog navigation
  bool wait_cancelled = false;                   // Cancel of the waiting window
  dib::Handle pending_dib = 0;                   // last transfer, to be collected
  bool file_written = false;                     // result of a file transfer
  TWAIN_MEMORY_CALLBACK memory_callback = nullptr;  // null = MemoryXferHandler
  intptr_t memory_value = 0;
  int memory_result = 0;
  std::string saved_directory;                   // taken by PreAcquire
  bool directory_saved = false;
  std::string file_name;                         // file transfer target
  int file_format = TWFF_BMP;                    // TWFF_ of file transfers
  int units_at_enable = -1;                      // ICAP_UNITS at the last enable
  bool auto_click = false;
  std::string auto_click_caption;                // at most 63 characters
  bool remote_session = false;
  // Messages the pump put back into the queue in its last round (WM_QUIT,
  // the auto-click retry): the wait between rounds does not count them as
  // new input.
  std::size_t requeued = 0;
};

Acquisition& acquisition();
// Back to the start values (library reset, tests); frees a pending DIB.
void acquisition_reset();

// --- Enabling, the pump and the wait (enable.cpp, pump.cpp, wait.cpp) ---
// Pumps the thread's messages once in `mode` (0, 1, 2). Returns the TWAIN
// notification that ended the round (MSG_NULL when none).
unsigned pump_messages(int mode);
// The inner wait: 1 state changed, 2 break, 3 cancelled or limit, 0 below
// state 5. Seconds; -1 = none.
int wait_for_state_change(int dialog_delay_s, int limit_s);

// Shows one message to the source (from state 5 on) and acts on the
// notification the source answers with, as the pump's `mode` allows. Answers
// that notification (MSG_NULL when none); *out_consumed tells whether the
// source took the message.
unsigned filter_message(const platform::Message& m, int mode, bool* out_consumed);
// Acts on one notification of the source as the pump's `mode` allows.
void filter_notification(unsigned tw_message, int mode);
// The waiting window's line in the language `lang_id` (a Windows language id)
// for the source `source_name`.
std::string waiting_text(std::uint16_t lang_id, const std::string& source_name);
// True when the process runs in a remote session whose own transfer-ready
// notifications may get lost: SESSIONNAME begins with "ica-" (any case).
bool remote_session_detect();

// --- Auto-click (auto_click.cpp) ---
// The private thread message that runs one auto-click search.
constexpr std::uint32_t kMsgAutoClick = 0x7FA0;
// Posts the search message to the calling thread.
void auto_click_post();
// Runs one search; true when the message was posted again (nothing found
// yet and auto-click still on).
bool auto_click_run();
// The button text auto-click looks for matches `text` (ampersands removed,
// any case); an empty `caption` matches the usual scan captions.
bool auto_click_matches(const std::string& text, const std::string& caption);

// --- Transfers (transfer.cpp) ---
// Performs the transfer of state 6 by the current mechanism, then ends it.
void transfer_ready_image();
// Ends the transfer without the public trace (sets the break flag; state 7
// -> MSG_ENDXFER).
void end_transfer();

// --- Memory transfer (memory_xfer.cpp) ---
// The library's memory-transfer handler: assembles the blocks into the
// pending DIB. 1 when the image is complete.
int MemoryXferHandler(intptr_t value);

// --- Post-transfer processing (post_process.cpp) ---
// Runs every page through the checks and fix-ups; answers the page to use
// (the same handle or a new one; the old one is then freed). `info` may be
// null.
dib::Handle PostProcessDib(dib::Handle page, const TW_IMAGEINFO* info);
// Restores a resolution the device left out of the DIB.
void recover_resolution(dib::Handle page);
// 1 when the last processed page was judged blank.
int& blank_flag();

// --- Extended image information (ext_info.cpp) ---
// Asks the device for the enabled codes; 0 when none is enabled.
int RetrieveExtendedImageInfo();
// Releases the answers and empties the table (library reset, tests).
void ext_info_reset();

}  // namespace twain
