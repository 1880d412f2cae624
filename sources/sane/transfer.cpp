// Enabling and transfers over SANE. Enabling programs the device and starts
// the first scan (sane_start); the page is read whole at the first call that
// needs it (DAT_IMAGEINFO or a transfer), so that its size is the one the
// device really delivered, also when it did not know the height beforehand.
// A feeder goes on to the next sheet at MSG_ENDXFER; SANE_STATUS_NO_DOCS there
// is the end of the feeder (no more transfers pending). A scan that fails is
// reported by the transfer of that page with the condition code of its SANE
// status. Every way out of a scan ends it with sane_cancel.
#include <algorithm>
#include <cstring>

#include "sources/sane/session.h"

namespace sanebridge {
namespace {

void notify(SourceState& state, Session& ss, TW_UINT16 msg) {
  if (state.dsm.DSM_Entry == nullptr) return;
  TW_IDENTITY source = ss.identity;
  TW_IDENTITY app = ss.app;
  state.dsm.DSM_Entry(&source, &app, DG_CONTROL, DAT_NULL, msg, nullptr);
}

bool feeder_in_use(const Session& ss) {
  return ss.settings.feeder &&
         (!ss.model.source_feeder.empty() || !ss.model.source_duplex.empty());
}

bool count_reached(const Session& ss) {
  return ss.settings.xfer_count > 0 && ss.transfers >= ss.settings.xfer_count;
}

// Starts the next scan: state 6 with the scan begun (or its failure kept for
// the transfer); false when the feeder is empty.
bool scan_start(Session& ss) {
  ss.page.reset();
  ss.rows_sent = 0;
  const SANE_Status status = ss.device->start();
  if (status == SANE_STATUS_NO_DOCS) {
    ss.device->cancel();
    return false;
  }
  ss.started = status_reply(status);
  ss.state = DsState::TransferReady;
  return true;
}

// The page of state 6 or 7, read from the device on first use.
Reply page_ready(Session& ss) {
  if (ss.started.rc != TWRC_SUCCESS) return ss.started;
  if (ss.page) return kDone;
  Page page;
  const Reply r = page_read(*ss.device, ss.settings.dpi, ss.settings.y_dpi(), page);
  if (r.rc != TWRC_SUCCESS) {
    ss.device->cancel();
    ss.started = r;
    return r;
  }
  ss.page = std::move(page);
  return kDone;
}

// Back to state 5 after the last image; a device showing its dialog asks to
// be closed, as a person who pressed Scan once.
void images_done(SourceState& state, Session& ss) {
  ss.device->cancel();
  ss.page.reset();
  ss.state = DsState::Enabled;
  if (ss.show_ui) notify(state, ss, MSG_CLOSEDSREQ);
}

Reply enable(SourceState& state, Session& ss, TW_UINT16 msg, TW_MEMREF data) {
  const auto* ui = static_cast<const TW_USERINTERFACE*>(data);
  if (ss.state != DsState::Open) return refuse(TWCC_SEQERROR);
  if (ui == nullptr) return refuse(TWCC_BADVALUE);
  // The settings dialog: in the application's windows when it lends them;
  // otherwise the settings stand.
  if (msg == MSG_ENABLEDSUIONLY) {
    const DialogAnswer answer = device_dialog(ss, true);
    ss.state = DsState::Enabled;
    ss.show_ui = true;
    notify(state, ss, answer == DialogAnswer::Cancelled ? MSG_CLOSEDSREQ : MSG_CLOSEDSOK);
    return kDone;
  }
  ss.show_ui = ui->ShowUI != 0;
  // The scan dialog, where it can be shown; Cancel closes it unscanned.
  if (ss.show_ui && device_dialog(ss, false) == DialogAnswer::Cancelled) {
    ss.state = DsState::Enabled;
    notify(state, ss, MSG_CLOSEDSREQ);
    return kDone;
  }
  if (TW_UINT16 cc = settings_apply(ss.device->handle(), ss.model, ss.settings))
    return refuse(cc);
  ss.transfers = 0;
  if (!scan_start(ss)) {
    if (!ss.show_ui) return refuse(TWCC_NOMEDIA);
    ss.state = DsState::Enabled;
    notify(state, ss, MSG_CLOSEDSREQ);
    return kDone;
  }
  ss.state = DsState::Enabled;
  notify(state, ss, MSG_XFERREADY);
  ss.state = DsState::TransferReady;
  return kDone;
}

// Images still to come, the current one included: -1 when a feeder may hold
// more.
int pending_count(const Session& ss) {
  if (ss.state != DsState::TransferReady && ss.state != DsState::Transferring) return 0;
  if (ss.settings.xfer_count > 0) return ss.settings.xfer_count - ss.transfers;
  return feeder_in_use(ss) && ss.started.rc == TWRC_SUCCESS ? -1 : 1;
}

Reply end_xfer(SourceState& state, Session& ss, TW_PENDINGXFERS* pending) {
  if (ss.state != DsState::TransferReady && ss.state != DsState::Transferring)
    return refuse(TWCC_SEQERROR);
  const bool delivered = ss.state == DsState::Transferring;
  const bool failed = ss.started.rc != TWRC_SUCCESS;
  if (delivered) ++ss.transfers;
  // The device finishes this scan; a feeder goes on to its next sheet.
  if (!failed && feeder_in_use(ss) && !count_reached(ss) && scan_start(ss)) {
    pending->Count = static_cast<TW_UINT16>(pending_count(ss));
    return kDone;
  }
  images_done(state, ss);
  pending->Count = 0;
  return kDone;
}

}  // namespace

void session_stop(Session& ss) {
  if (ss.device) ss.device->cancel();
  ss.page.reset();
  ss.state = DsState::Open;
}

Reply user_interface_call(SourceState& state, Session& ss, TW_UINT16 msg, TW_MEMREF data) {
  switch (msg) {
    case MSG_ENABLEDS:
    case MSG_ENABLEDSUIONLY:
      return enable(state, ss, msg, data);
    case MSG_DISABLEDS:
      if (ss.state != DsState::Enabled) return refuse(TWCC_SEQERROR);
      session_stop(ss);
      return kDone;
    default:
      return refuse(TWCC_BADPROTOCOL);
  }
}

Reply pending_xfers_call(SourceState& state, Session& ss, TW_UINT16 msg, TW_MEMREF data) {
  auto* pending = static_cast<TW_PENDINGXFERS*>(data);
  if (pending == nullptr) return refuse(TWCC_BADVALUE);
  pending->EOJ = 0;
  switch (msg) {
    case MSG_GET:
      pending->Count = static_cast<TW_UINT16>(pending_count(ss));
      return kDone;
    case MSG_ENDXFER:
      return end_xfer(state, ss, pending);
    case MSG_RESET:
      if (ss.state != DsState::TransferReady) return refuse(TWCC_SEQERROR);
      session_stop(ss);
      ss.state = DsState::Enabled;
      pending->Count = 0;
      return kDone;
    default:
      return refuse(TWCC_BADPROTOCOL);
  }
}

Reply image_info_call(SourceState&, Session& ss, TW_UINT16 msg, TW_MEMREF data) {
  auto* info = static_cast<TW_IMAGEINFO*>(data);
  if (msg != MSG_GET) return refuse(TWCC_BADPROTOCOL);
  if (info == nullptr) return refuse(TWCC_BADVALUE);
  if (ss.state != DsState::TransferReady && ss.state != DsState::Transferring)
    return refuse(TWCC_SEQERROR);
  if (Reply r = page_ready(ss); r.rc != TWRC_SUCCESS) return r;
  const Page& p = *ss.page;
  std::memset(info, 0, sizeof *info);
  info->XResolution = twsource::fix32_from(p.dpi);
  info->YResolution = twsource::fix32_from(p.dpi_y);
  info->ImageWidth = p.width;
  info->ImageLength = p.height;
  info->SamplesPerPixel = p.pixel_type == TWPT_RGB ? 3 : 1;
  for (int i = 0; i < info->SamplesPerPixel; ++i)
    info->BitsPerSample[i] = static_cast<TW_INT16>(p.bits / info->SamplesPerPixel);
  info->BitsPerPixel = static_cast<TW_INT16>(p.bits);
  info->Planar = 0;
  info->PixelType = static_cast<TW_INT16>(p.pixel_type);
  info->Compression = TWCP_NONE;
  return kDone;
}

Reply native_xfer_call(SourceState& state, Session& ss, TW_UINT16 msg, TW_MEMREF data) {
  auto* out = static_cast<TW_HANDLE*>(data);
  if (msg != MSG_GET) return refuse(TWCC_BADPROTOCOL);
  if (out == nullptr) return refuse(TWCC_BADVALUE);
  if (ss.state != DsState::TransferReady) return refuse(TWCC_SEQERROR);
  if (ss.settings.xfer_mech != TWSX_NATIVE) return refuse(TWCC_SEQERROR);
  if (Reply r = page_ready(ss); r.rc != TWRC_SUCCESS) return r;
  const DsmMemory memory(state.dsm);
  TW_HANDLE handle = memory.allocate(dib_bytes(*ss.page));
  auto* block = handle != nullptr ? static_cast<std::uint8_t*>(memory.lock(handle)) : nullptr;
  if (block == nullptr) {
    memory.free(handle);
    return refuse(TWCC_LOWMEMORY);
  }
  dib_write(*ss.page, block);
  memory.unlock(handle);
  *out = handle;
  ss.state = DsState::Transferring;
  return Reply{TWRC_XFERDONE, TWCC_SUCCESS};
}

namespace {

constexpr TW_UINT32 kMemPreferred = 64 * 1024;
constexpr TW_UINT32 kMemMax = 1024 * 1024;

}  // namespace

Reply setup_mem_xfer_call(SourceState&, Session& ss, TW_UINT16 msg, TW_MEMREF data) {
  auto* setup = static_cast<TW_SETUPMEMXFER*>(data);
  if (msg != MSG_GET) return refuse(TWCC_BADPROTOCOL);
  if (setup == nullptr) return refuse(TWCC_BADVALUE);
  if (ss.state != DsState::TransferReady) return refuse(TWCC_SEQERROR);
  if (Reply r = page_ready(ss); r.rc != TWRC_SUCCESS) return r;
  const auto row = static_cast<TW_UINT32>(ss.page->bytes_per_row);
  setup->MinBufSize = row;
  setup->Preferred = std::max(kMemPreferred, row);
  setup->MaxBufSize = std::max(kMemMax, row);
  return kDone;
}

Reply mem_xfer_call(SourceState& state, Session& ss, TW_UINT16 msg, TW_MEMREF data) {
  auto* block = static_cast<TW_IMAGEMEMXFER*>(data);
  if (msg != MSG_GET) return refuse(TWCC_BADPROTOCOL);
  if (block == nullptr) return refuse(TWCC_BADVALUE);
  if (ss.state != DsState::TransferReady && ss.state != DsState::Transferring)
    return refuse(TWCC_SEQERROR);
  if (ss.settings.xfer_mech != TWSX_MEMORY) return refuse(TWCC_SEQERROR);
  if (Reply r = page_ready(ss); r.rc != TWRC_SUCCESS) return r;
  const Page& p = *ss.page;
  const DsmMemory memory(state.dsm);
  const TW_MEMORY& m = block->Memory;
  if (m.TheMem == nullptr || m.Length < p.bytes_per_row) return refuse(TWCC_BADVALUE);
  auto* out = static_cast<std::uint8_t*>((m.Flags & TWMF_HANDLE) ? memory.lock(m.TheMem) : m.TheMem);
  if (out == nullptr) return refuse(TWCC_BADVALUE);
  const int rows = std::min<int>(static_cast<int>(m.Length / p.bytes_per_row), p.height - ss.rows_sent);
  std::memcpy(out, p.pixels.data() + p.bytes_per_row * ss.rows_sent, p.bytes_per_row * rows);
  if (m.Flags & TWMF_HANDLE) memory.unlock(m.TheMem);
  block->Compression = TWCP_NONE;
  block->BytesPerRow = static_cast<TW_UINT32>(p.bytes_per_row);
  block->Columns = static_cast<TW_UINT32>(p.width);
  block->Rows = static_cast<TW_UINT32>(rows);
  block->XOffset = 0;
  block->YOffset = static_cast<TW_UINT32>(ss.rows_sent);
  block->BytesWritten = static_cast<TW_UINT32>(p.bytes_per_row * rows);
  ss.rows_sent += rows;
  ss.state = DsState::Transferring;
  if (ss.rows_sent < p.height) return kDone;
  return Reply{TWRC_XFERDONE, TWCC_SUCCESS};
}

}  // namespace sanebridge
