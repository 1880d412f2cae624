// The bridge's process-wide state: the SANE devices listed, the Source
// Manager's entry points, and one session per application with a device
// open. DS_Entry holds the lock for the whole of each call.
#pragma once
#include <mutex>
#include <optional>
#include <vector>

#include "sources/common/device_form.h"
#include "sources/sane/bridge.h"

namespace sanebridge {

using twsource::DsState;

struct Session {
  TW_IDENTITY app{};       // who opened it
  TW_IDENTITY identity{};  // the device as opened, with the Source Manager's Id
  std::string sane_name;  // what sane_open took
  std::unique_ptr<SaneDevice> device;
  DeviceModel model;
  Settings settings, defaults;
  DsState state = DsState::Open;
  TW_UINT16 condition = TWCC_SUCCESS;
  bool show_ui = false;
  // Images handed over since enabling (CAP_XFERCOUNT counts them).
  int transfers = 0;
  // State 6 and 7: the scan sane_start began (failed: its refusal, given to
  // the transfer), its page once read, and for memory transfers the rows
  // already handed over.
  Reply started = kDone;
  std::optional<Page> page;
  int rows_sent = 0;
};

struct SourceState {
  std::recursive_mutex mutex;
  std::vector<DeviceInfo> devices;
  bool listed = false;
  std::optional<std::size_t> selected;  // the device the next MSG_OPENDS opens
  TW_ENTRYPOINT dsm{};                  // Size 0 until DAT_ENTRYPOINT
  std::vector<std::unique_ptr<Session>> sessions;
  TW_UINT16 condition = TWCC_SUCCESS;  // of calls without a session
};

SourceState& source_state();
// Lists the devices again unless one is open (listed indexes must not move
// under an open device).
void source_list_devices(SourceState& state);
// The identity this bridge presents for listed device `index` (`Id` untouched).
void device_fill_identity(const SourceState& state, std::size_t index, TW_IDENTITY& out);

// DG_CONTROL / DAT_CAPABILITY.
Reply capability_call(Session& session, const DsmMemory& memory, TW_UINT16 msg,
                      TW_CAPABILITY& capability);
// DG_IMAGE / DAT_IMAGELAYOUT.
Reply layout_call(Session& session, TW_UINT16 msg, TW_IMAGELAYOUT& layout);

// Enabling and transfers (states 5 to 7).
Reply user_interface_call(SourceState& state, Session& session, TW_UINT16 msg, TW_MEMREF data);
Reply pending_xfers_call(SourceState& state, Session& session, TW_UINT16 msg, TW_MEMREF data);
Reply image_info_call(SourceState& state, Session& session, TW_UINT16 msg, TW_MEMREF data);
Reply native_xfer_call(SourceState& state, Session& session, TW_UINT16 msg, TW_MEMREF data);
Reply setup_mem_xfer_call(SourceState& state, Session& session, TW_UINT16 msg, TW_MEMREF data);
Reply mem_xfer_call(SourceState& state, Session& session, TW_UINT16 msg, TW_MEMREF data);
// Ends whatever scan is under way (sane_cancel) and goes back to state 4.
void session_stop(Session& session);

// The device's own dialog (the scan dialog, or with `settings_only` the
// settings dialog) in the application's windows, when it lends them.
using DialogAnswer = twsource::FormAnswer;
DialogAnswer device_dialog(Session& session, bool settings_only);

}  // namespace sanebridge
