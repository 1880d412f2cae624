// DG_IMAGE / DAT_IMAGENATIVEXFER: the page as a DIB in a block made with the
// Source Manager's memory functions; the application owns and frees it.
#include <cstdlib>

#include "sources/virtual/dib_image.h"
#include "sources/virtual/transfer.h"

namespace vscan {
namespace {

// The page as a DIB in a block made with the Source Manager's memory.
Reply native_block(SourceState& state, const Raster& raster, TW_HANDLE& out_handle) {
  const DsmMemory memory(state.dsm);
  TW_HANDLE handle = memory.allocate(dib_bytes(raster.format));
  if (handle == nullptr) return refuse(TWCC_LOWMEMORY);
  auto* block = static_cast<std::uint8_t*>(memory.lock(handle));
  if (block == nullptr) {
    memory.free(handle);
    return refuse(TWCC_LOWMEMORY);
  }
  dib_write(raster, block);
  memory.unlock(handle);
  out_handle = handle;
  return kDone;
}

}  // namespace

Reply native_xfer_call(SourceState& state, Session& session, TW_UINT16 msg, TW_MEMREF data) {
  auto* out_handle = static_cast<TW_HANDLE*>(data);
  if (msg != MSG_GET) return refuse(TWCC_BADPROTOCOL);
  if (out_handle == nullptr) return refuse(TWCC_BADVALUE);
  const DeviceConfig& device = session_device(state, session);
  const Raster* raster = nullptr;
  const Reply begun = transfer_begin(session, device, TWSX_NATIVE, raster);
  if (begun.rc != TWRC_SUCCESS) return begun;

  if (device.native_calloc) {
    // The fault on request: plain heap memory where a handle belongs. The
    // application cannot free it through the Source Manager; it is lost.
    auto* block = static_cast<std::uint8_t*>(std::calloc(1, dib_bytes(raster->format)));
    if (block == nullptr) return refuse(TWCC_LOWMEMORY);
    dib_write(*raster, block);
    *out_handle = block;
  } else {
    const Reply made = native_block(state, *raster, *out_handle);
    if (made.rc != TWRC_SUCCESS) return made;
  }
  session.page->delivered = true;
  session.state = DsState::Transferring;
  return Reply{TWRC_XFERDONE, TWCC_SUCCESS};
}

}  // namespace vscan
