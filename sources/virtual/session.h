// The source's process-wide state: the devices it presents, the Source
// Manager's entry points, and one session per application that has a device
// open. The lock is held for the whole of each DS_Entry call (the call that is
// made to crash leaves it first).
#pragma once
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "orivane/twain.h"
#include "sources/common/ds_calls.h"
#include "sources/virtual/config.h"
#include "sources/virtual/device.h"
#include "sources/virtual/notify.h"
#include "sources/virtual/paper.h"

namespace vscan {

using twsource::DsState;
using twsource::kDone;
using twsource::refuse;
using twsource::Reply;

struct Session {
  TW_IDENTITY app{};       // who opened it
  TW_IDENTITY identity{};  // the device as opened, with the Source Manager's Id
  std::size_t device = 0;  // index into the config's devices
  DsState state = DsState::Open;
  TW_UINT16 condition = TWCC_SUCCESS;
  Settings settings;
  Settings defaults;  // what RESET returns to
  // Paper waiting to be scanned.
  int flatbed_pages = 0;
  int feeder_sheets = 0;
  // Reads of CAP_DUPLEX since the open (a late duplex unit answers the first
  // one with TWDX_NONE).
  int duplex_reads = 0;
  // Notifications sent to the application and not yet claimed through
  // MSG_PROCESSEVENT, oldest first.
  std::deque<TW_UINT16> notifications;
  // Device events announced with MSG_DEVICEEVENT and not yet read through
  // DAT_DEVICEEVENT (TWDE_ codes), oldest first.
  std::deque<TW_UINT16> device_events;
  // Of those, the ones whose MSG_DEVICEEVENT is still to be sent.
  int device_events_unsent = 0;

  // Enabling: how the application asked for it. Each enable starts a new
  // generation; a notification planned for an older one is dropped.
  bool show_ui = false;
  bool ui_only = false;
  unsigned enable_generation = 0;
  // Sends the notifications (after a delay) from its own thread; alive while
  // the device is enabled.
  std::unique_ptr<Notifier> notifier;
  // Images handed over since enabling (CAP_XFERCOUNT counts them).
  int transfers_since_enable = 0;
  // The paper path: pages and sheets started in this session, for numbering.
  PaperCounter counter;
  // The image waiting (state 6) or being transferred (state 7).
  std::optional<Page> page;
  // File transfers: where the next image is written (its format is in the
  // settings).
  std::string file_name = "TWAIN.TMP";
};

struct SourceState {
  std::recursive_mutex mutex;
  Config config;
  bool config_loaded = false;
  TW_ENTRYPOINT dsm{};                  // from DAT_ENTRYPOINT / MSG_SET; Size 0 until then
  std::optional<std::size_t> selected;  // the device the next MSG_OPENDS opens
  std::vector<std::unique_ptr<Session>> sessions;
  // The condition code of the last call from an application without a session.
  TW_UINT16 condition = TWCC_SUCCESS;
  // Work for the end of the current DS_Entry call, done once the lock is
  // released: notifiers of disabled or closed sessions to stop (their thread
  // may be waiting for the lock).
  std::vector<std::unique_ptr<Notifier>> retired;
};

SourceState& source_state();

// The session of the application whose Id is `app_id`, or null. Caller holds
// the lock.
Session* find_session_by_id(SourceState& state, TW_UINT32 app_id);

// Reads the config again unless a device is open (the devices of open
// sessions must not change under them). Caller holds the lock.
void source_reload_config(SourceState& state);

// The session of the application `app`, or null. Caller holds the lock.
Session* find_session(SourceState& state, const TW_IDENTITY* app);

const DeviceConfig& session_device(const SourceState& state, const Session& session);

enum class NameWrite {
  InField,      // the product name cut to its field
  AsConfigured  // with name_overrun, whole and past the field, as a careless
                // driver writes it (the caller's area must have room)
};
// Fills a device's identity as this source presents it; `Id` is left as it is.
void device_fill_identity(const DeviceConfig& device, TW_IDENTITY& out, NameWrite name_write);

}  // namespace vscan
