// DAT_PENDINGXFERS and DAT_IMAGEINFO, and the first steps every transfer
// shares (state, scripted page events, rendering).
#include <algorithm>
#include <chrono>
#include <thread>

#include "sources/virtual/transfer.h"

namespace vscan {
namespace {

bool feeder_in_use(const Session& session, const DeviceConfig& device) {
  return device.feeder && session.settings.feeder_enabled;
}

// The current page leaves the device: the sheet (or the flatbed page) is
// used up, except the front of a duplex sheet, whose back comes next.
void page_finish(Session& session, const DeviceConfig& device) {
  if (!session.page) return;
  const bool back = session.page->facts.back;
  const bool duplex = feeder_in_use(session, device) && device.duplex != TWDX_NONE &&
                      session.settings.duplex_enabled;
  if (feeder_in_use(session, device)) {
    if (duplex && !back) {
      session.counter.back_next = true;
    } else {
      session.counter.back_next = false;
      session.feeder_sheets = std::max(0, session.feeder_sheets - 1);
    }
  } else {
    session.flatbed_pages = std::max(0, session.flatbed_pages - 1);
  }
  ++session.transfers_since_enable;
  session.page.reset();
}

// After MSG_ENDXFER: the next page (state 6), or state 5 when none is
// pending. Answers the count pending.
int go_on(SourceState& state, Session& session, const DeviceConfig& device) {
  if (images_pending(session, device) > 0) {
    page_start(session, device);
    if (!page_has_event(*session.page, PageEventKind::CloseRequest)) {
      if (session.device_events_unsent > 0)
        plan_notification(state, session, 0, Plan::DeviceEvents);
      return images_pending(session, device);
    }
    session.page.reset();
    session.state = DsState::Enabled;
    plan_notification(state, session, 0, Plan::CloseRequest);
    return 0;
  }
  session.state = DsState::Enabled;
  if (session.show_ui) plan_notification(state, session, 0, Plan::CloseRequest);
  return 0;
}

TW_UINT16 page_event_condition(PageEventKind kind) {
  switch (kind) {
    case PageEventKind::Jam:
      return TWCC_PAPERJAM;
    case PageEventKind::DoubleFeed:
      return TWCC_PAPERDOUBLEFEED;
    case PageEventKind::CoverOpen:
      return TWCC_INTERLOCK;
    case PageEventKind::Offline:
      return TWCC_CHECKDEVICEONLINE;
    default:
      return TWCC_SUCCESS;
  }
}

bool transferring(const Session& session) {
  return session.state == DsState::TransferReady || session.state == DsState::Transferring;
}

}  // namespace

Reply pending_xfers_call(SourceState& state, Session& session, TW_UINT16 msg, TW_MEMREF data) {
  auto* pending = static_cast<TW_PENDINGXFERS*>(data);
  if (msg != MSG_GET && msg != MSG_ENDXFER && msg != MSG_RESET) return refuse(TWCC_BADPROTOCOL);
  if (pending == nullptr) return refuse(TWCC_BADVALUE);
  const DeviceConfig& device = session_device(state, session);
  int count = 0;
  switch (msg) {
    case MSG_GET:
      count = session.state == DsState::Enabled && session.ui_only
                  ? 0
                  : images_pending(session, device);
      break;
    case MSG_ENDXFER:
      if (!transferring(session)) return refuse(TWCC_SEQERROR);
      page_finish(session, device);
      count = go_on(state, session, device);
      break;
    case MSG_RESET:
      if (session.state != DsState::TransferReady) return refuse(TWCC_SEQERROR);
      // The scanned page is dropped; the paper still waiting stays.
      session.page.reset();
      session.state = DsState::Enabled;
      break;
  }
  pending->Count = static_cast<TW_UINT16>(std::min(count, 0x7fff));
  pending->EOJ = 0;
  return kDone;
}

Reply image_info_call(SourceState&, Session& session, TW_UINT16 msg, TW_MEMREF data) {
  auto* info = static_cast<TW_IMAGEINFO*>(data);
  if (msg != MSG_GET) return refuse(TWCC_BADPROTOCOL);
  if (!transferring(session) || !session.page) return refuse(TWCC_SEQERROR);
  if (info == nullptr) return refuse(TWCC_BADVALUE);
  const ImageShape& shape = session.page->shape;
  const PageFormat& f = shape.format;
  *info = TW_IMAGEINFO{};
  info->XResolution = fix32_from(f.x_dpi);
  info->YResolution = fix32_from(f.y_dpi);
  info->ImageWidth = f.width;
  info->ImageLength = f.height;
  info->SamplesPerPixel = static_cast<TW_INT16>(shape.samples);
  for (int i = 0; i < shape.samples && i < 8; ++i)
    info->BitsPerSample[i] = static_cast<TW_INT16>(shape.bits_per_sample);
  info->BitsPerPixel = static_cast<TW_INT16>(f.bit_depth);
  info->Planar = shape.planar ? 1 : 0;
  info->PixelType = static_cast<TW_INT16>(f.pixel_type);
  info->Compression = shape.compression;
  return kDone;
}

bool session_crashes_in(const Session& session, DsCall kind) {
  if (!session.page || !page_has_event(*session.page, PageEventKind::Crash)) return false;
  if (session.state != DsState::TransferReady) return false;
  const TW_UINT16 mech = session.settings.xfer_mech;
  return (kind == DsCall::NativeXfer && mech == TWSX_NATIVE) ||
         (kind == DsCall::MemoryXfer && mech == TWSX_MEMORY) ||
         (kind == DsCall::FileXfer && mech == TWSX_FILE);
}

Reply transfer_begin(Session& session, const DeviceConfig&, TW_UINT16 mechanism,
                     const Raster*& out_raster) {
  if (session.state != DsState::TransferReady || !session.page) return refuse(TWCC_SEQERROR);
  // The image was prepared for the negotiated mechanism (its compression
  // and layout depend on it).
  if (session.settings.xfer_mech != mechanism) return refuse(TWCC_SEQERROR);
  Page& page = *session.page;
  for (const PageEvent& event : page.events) {
    if (event.kind == PageEventKind::Slow)
      std::this_thread::sleep_for(std::chrono::milliseconds(event.ms));
  }
  for (const PageEvent& event : page.events) {
    if (const TW_UINT16 cc = page_event_condition(event.kind); cc != TWCC_SUCCESS)
      return refuse(cc);
    if (event.kind == PageEventKind::Cancel) {
      session.state = DsState::Transferring;
      return Reply{TWRC_CANCEL, TWCC_SUCCESS};
    }
  }
  out_raster = page_raster(page);
  if (out_raster == nullptr) return refuse(TWCC_LOWMEMORY);
  return kDone;
}

}  // namespace vscan
