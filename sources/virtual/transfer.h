// Enabling and transfers: the triplets of states 5 to 7, and the steps they
// share. Each handler runs with the source's lock held, for an application
// that has the device open.
//
// The device's flow: MSG_ENABLEDS (state 5) plans the announcement of the
// first image: after the device's `xfer_delay_ms` the Notifier sends
// MSG_XFERREADY (state 6), or MSG_CLOSEDSREQ when there is nothing to scan or
// the page is scripted to be closed instead. A transfer hands the image over
// (state 7); MSG_ENDXFER finishes the page and goes on to the next one (state
// 6) while transfers are pending, else back to state 5, where a device
// showing its dialog asks to be closed (MSG_CLOSEDSREQ), as a person who
// pressed Scan once and closes the dialog when the pages are through.
#pragma once
#include <cstdint>
#include <vector>

#include "orivane/twain.h"
#include "sources/virtual/config.h"
#include "sources/virtual/session.h"

namespace vscan {

// DG_CONTROL
Reply user_interface_call(SourceState& state, Session& session, TW_UINT16 msg, TW_MEMREF data);
Reply pending_xfers_call(SourceState& state, Session& session, TW_UINT16 msg, TW_MEMREF data);
Reply setup_mem_xfer_call(SourceState& state, Session& session, TW_UINT16 msg, TW_MEMREF data);
Reply setup_file_xfer_call(SourceState& state, Session& session, TW_UINT16 msg, TW_MEMREF data);
// DG_IMAGE
Reply image_info_call(SourceState& state, Session& session, TW_UINT16 msg, TW_MEMREF data);
Reply native_xfer_call(SourceState& state, Session& session, TW_UINT16 msg, TW_MEMREF data);
Reply mem_xfer_call(SourceState& state, Session& session, TW_UINT16 msg, TW_MEMREF data);
Reply file_xfer_call(SourceState& state, Session& session, TW_UINT16 msg, TW_MEMREF data);
Reply palette_call(SourceState& state, Session& session, TW_UINT16 msg, TW_MEMREF data);
Reply ext_image_info_call(SourceState& state, Session& session, TW_UINT16 msg, TW_MEMREF data);

// Images the device can still hand over in this enable (the current one
// included), within CAP_XFERCOUNT.
int images_pending(const Session& session, const DeviceConfig& device);

// What a planned notification will be.
enum class Plan {
  FirstImage,    // MSG_XFERREADY for the next page (state 6), or MSG_CLOSEDSREQ
                 // when none is coming
  CloseRequest,  // MSG_CLOSEDSREQ
  CloseOk,       // MSG_CLOSEDSOK
  DeviceEvents,  // MSG_DEVICEEVENT for each device event not yet announced
                 // (sent in states 5 to 7)
};
// Has the session's notifier send a notification after `delay_ms`, if the
// device is then still in state 5 of the same enable (DeviceEvents: still in
// the same enable).
void plan_notification(SourceState& state, Session& session, int delay_ms, Plan plan);

// Takes the next page from the paper path: the session holds it in state 6.
// The page's scripted device events are queued for DAT_DEVICEEVENT, their
// announcements owed (device_events_unsent).
void page_start(Session& session, const DeviceConfig& device);

// Stops the session's notifier (at the end of the DS_Entry call) and forgets
// what it had planned; the session goes back to state 4.
void session_disable(SourceState& state, Session& session);

// Whether the transfer call `kind` is the one a scripted crash of the
// current page happens in.
bool session_crashes_in(const Session& session, DsCall kind);

// The first steps of every transfer of the current page: state 6 (or 7 for
// the later blocks of a memory transfer), the page's scripted events (a
// refusal, a cancel, a delay), its pixels. On TWRC_SUCCESS `out_raster` is
// set.
Reply transfer_begin(Session& session, const DeviceConfig& device, TW_UINT16 mechanism,
                     const Raster*& out_raster);

}  // namespace vscan
