// DG_CONTROL / DAT_USERINTERFACE: enabling with or without the device's
// dialog, the settings dialog, disabling; and the notifications that follow.
// With ShowUI the dialogs are shown in the application's windows when it
// lends them (dialog.cpp); otherwise the device behaves as the person at it
// would (Scan pressed once; the settings dialog closed with OK, or Cancel
// when the config says so).
#include <utility>
#include <vector>

#include "sources/virtual/dialog.h"
#include "sources/virtual/transfer.h"

namespace vscan {
namespace {

// Device events an application never reads do not pile up without end.
constexpr std::size_t kMaxDeviceEvents = 64;

bool feeder_in_use(const Session& session, const DeviceConfig& device) {
  return device.feeder && session.settings.feeder_enabled;
}

bool duplex_in_use(const Session& session, const DeviceConfig& device) {
  return feeder_in_use(session, device) && device.duplex != TWDX_NONE &&
         session.settings.duplex_enabled;
}

// What a planned notification sends when it falls due, with the session
// changed accordingly; 0 for nothing.
TW_UINT16 notification_due(SourceState& state, Session& session, Plan plan) {
  if (plan == Plan::CloseOk) return MSG_CLOSEDSOK;
  if (plan == Plan::CloseRequest) return MSG_CLOSEDSREQ;
  const DeviceConfig& device = session_device(state, session);
  if (images_pending(session, device) <= 0) return MSG_CLOSEDSREQ;
  page_start(session, device);
  if (page_has_event(*session.page, PageEventKind::CloseRequest)) {
    // The person closed the dialog instead of scanning this page.
    session.page.reset();
    session.state = DsState::Enabled;
    return MSG_CLOSEDSREQ;
  }
  return MSG_XFERREADY;
}

Reply enable(SourceState& state, Session& session, TW_UINT16 msg, TW_MEMREF data) {
  auto* ui = static_cast<TW_USERINTERFACE*>(data);
  if (session.state != DsState::Open) return refuse(TWCC_SEQERROR);
  if (ui == nullptr) return refuse(TWCC_BADVALUE);
  const DeviceConfig& device = session_device(state, session);
  const bool ui_only = msg == MSG_ENABLEDSUIONLY;
  const bool show_ui = ui_only || ui->ShowUI != 0;
  session.transfers_since_enable = 0;
  // Without a dialog nobody can load paper: an empty device says so now.
  if (!show_ui && images_pending(session, device) <= 0) return refuse(TWCC_NOMEDIA);
  session.show_ui = show_ui;
  session.ui_only = ui_only;
  session.state = DsState::Enabled;
  session.page.reset();
  session.notifications.clear();
  ++session.enable_generation;
  const DialogAnswer answer =
      show_ui ? device_dialog(state, session, ui_only) : DialogAnswer::NoOneToAsk;
  if (ui_only) {
    const bool ok = answer == DialogAnswer::NoOneToAsk ? device.settings_dialog_ok
                                                       : answer == DialogAnswer::Accepted;
    plan_notification(state, session, 0, ok ? Plan::CloseOk : Plan::CloseRequest);
  } else if (answer == DialogAnswer::Cancelled) {
    // The person closed the dialog without scanning.
    plan_notification(state, session, 0, Plan::CloseRequest);
  } else {
    plan_notification(state, session, device.xfer_delay_ms, Plan::FirstImage);
  }
  return kDone;
}

Reply disable(SourceState& state, Session& session) {
  if (session.state != DsState::Enabled) return refuse(TWCC_SEQERROR);
  session_disable(state, session);
  return kDone;
}

// The MSG_DEVICEEVENT notifications owed for device events queued since the
// last ones went out.
std::vector<TW_UINT16> take_device_announcements(Session& session) {
  std::vector<TW_UINT16> messages(session.device_events_unsent, TW_UINT16{MSG_DEVICEEVENT});
  session.device_events_unsent = 0;
  return messages;
}

}  // namespace

Reply user_interface_call(SourceState& state, Session& session, TW_UINT16 msg, TW_MEMREF data) {
  switch (msg) {
    case MSG_ENABLEDS:
    case MSG_ENABLEDSUIONLY:
      return enable(state, session, msg, data);
    case MSG_DISABLEDS:
      return disable(state, session);
    default:
      return refuse(TWCC_BADPROTOCOL);
  }
}

void plan_notification(SourceState& state, Session& session, int delay_ms, Plan plan) {
  if (!session.notifier) session.notifier = std::make_unique<Notifier>();
  const TW_UINT32 app_id = session.app.Id;
  const unsigned generation = session.enable_generation;
  session.notifier->schedule(std::chrono::milliseconds(delay_ms), [app_id, generation, plan] {
    SourceState& state = source_state();
    TW_IDENTITY source{}, app{};
    DSMENTRYPROC dsm_entry = nullptr;
    std::vector<TW_UINT16> messages;
    {
      std::lock_guard<std::recursive_mutex> lock(state.mutex);
      Session* session = find_session_by_id(state, app_id);
      if (session == nullptr || session->enable_generation != generation) return;
      if (plan == Plan::DeviceEvents) {
        // The events of a page the device went on to by itself (state 6).
        messages = take_device_announcements(*session);
      } else {
        if (session->state != DsState::Enabled) return;
        const TW_UINT16 msg = notification_due(state, *session, plan);
        // A page's device events go out before the page is announced.
        messages = take_device_announcements(*session);
        messages.push_back(msg);
      }
      for (TW_UINT16 m : messages) session->notifications.push_back(m);
      source = session->identity;
      app = session->app;
      dsm_entry = state.dsm.DSM_Entry;
    }
    for (TW_UINT16 m : messages) notify_send(dsm_entry, source, app, m);
  });
}

void page_start(Session& session, const DeviceConfig& device) {
  PaperCounter& counter = session.counter;
  const bool duplex = duplex_in_use(session, device);
  PageFacts facts;
  facts.back = duplex && counter.back_next;
  if (!facts.back) ++counter.sheets;
  facts.document = counter.sheets;
  facts.page = ++counter.pages;
  Page page;
  page.facts = facts;
  page.shape = image_shape(device, session.settings);
  page.response = response_for(session.settings, page.shape);
  page.events = device_page_events(device, facts.page);
  for (const PageEvent& event : page.events) {
    if (event.kind == PageEventKind::DeviceEvent) {
      if (session.device_events.size() >= kMaxDeviceEvents) session.device_events.pop_front();
      session.device_events.push_back(event.device_event);
      ++session.device_events_unsent;
    }
    if (event.kind == PageEventKind::Blank) page.facts.blank = true;
    if (event.kind == PageEventKind::Platen) page.facts.platen_inches = event.inches;
    if (event.kind == PageEventKind::UpsideDown) page.facts.upside_down = true;
    // A device that straightens its pages itself delivers them straight.
    if (event.kind == PageEventKind::Skew && !session.settings.automatic_deskew)
      page.facts.skew_degrees = event.degrees;
  }
  session.page = std::move(page);
  session.state = DsState::TransferReady;
}

int images_pending(const Session& session, const DeviceConfig& device) {
  int images = 0;
  if (feeder_in_use(session, device)) {
    images = duplex_in_use(session, device)
                 ? 2 * session.feeder_sheets - (session.counter.back_next ? 1 : 0)
                 : session.feeder_sheets;
  } else if (device.flatbed) {
    images = session.flatbed_pages;
  }
  const int limit = session.settings.xfer_count;
  if (limit > 0) images = std::min(images, limit - session.transfers_since_enable);
  return std::max(images, 0);
}

void session_disable(SourceState& state, Session& session) {
  if (session.notifier) state.retired.push_back(std::move(session.notifier));
  session.notifications.clear();
  // The events stay readable; their announcements are dropped with the rest.
  session.device_events_unsent = 0;
  session.page.reset();
  session.state = DsState::Open;
  ++session.enable_generation;
}

}  // namespace vscan
