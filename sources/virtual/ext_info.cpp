// DG_IMAGE / DAT_EXTIMAGEINFO: facts about the image just transferred, for
// the codes the application lists: which side of the sheet it is, the
// document and page numbers, the barcode the device read on it (its own: the
// page carries a Code 128 of its number), the frame, and a checksum of the
// pixels sent (custom code kChecksumInfo). Values wider than 4 bytes travel in
// blocks made with the Source Manager's memory; the application frees them.
#include <cstdio>
#include <cstring>

#include "sources/virtual/pages/detail.h"
#include "sources/virtual/transfer.h"

namespace vscan {
namespace {

// The raster checksum of the page as TWTY_STR255 text, "%016llx".
constexpr TW_UINT16 kChecksumInfo = 0x8001;
constexpr std::size_t kStr255Bytes = 256;

struct InfoWriter {
  const DsmMemory& memory;
  bool out_of_memory = false;

  void number(TW_INFO& info, TW_UINT16 type, TW_UINT32 value) {
    info.ItemType = type;
    info.NumItems = 1;
    info.Item = value;
    info.ReturnCode = TWRC_SUCCESS;
  }
  // A block holding `bytes` (zero-filled to `size`).
  void block(TW_INFO& info, TW_UINT16 type, const void* bytes, std::size_t n, std::size_t size) {
    TW_HANDLE handle = memory.allocate(size);
    void* p = handle != nullptr ? memory.lock(handle) : nullptr;
    if (p == nullptr) {
      if (handle != nullptr) memory.free(handle);
      out_of_memory = true;
      unavailable(info, TWRC_DATANOTAVAILABLE);
      return;
    }
    std::memset(p, 0, size);
    std::memcpy(p, bytes, std::min(n, size));
    memory.unlock(handle);
    info.ItemType = type;
    info.NumItems = 1;
    info.Item = reinterpret_cast<TW_UINTPTR>(handle);
    info.ReturnCode = TWRC_SUCCESS;
  }
  void text(TW_INFO& info, TW_UINT16 type, const std::string& text) {
    const std::size_t size = type == TWTY_HANDLE ? text.size() + 1 : kStr255Bytes;
    block(info, type, text.data(), std::min(text.size(), size - 1), size);
  }
  static void unavailable(TW_INFO& info, TW_UINT16 rc) {
    info.ItemType = 0;
    info.NumItems = 0;
    info.Item = 0;
    info.ReturnCode = rc;
  }
};

TW_FIX32 fix32_of(double value) { return fix32_from(value); }

void answer(InfoWriter& out, TW_INFO& info, const Session& session, const Page& page,
            const DeviceConfig& device) {
  const Raster* raster = page.raster.get();
  const bool has_barcode = raster != nullptr && !raster->barcode_text.empty();
  const TW_UINT16 text_type =
      device.barcode_text_handle ? TW_UINT16{TWTY_HANDLE} : TW_UINT16{TWTY_STR255};
  switch (info.InfoID) {
    case TWEI_PAGESIDE:
      return out.number(info, TWTY_UINT16, page.facts.back ? TWCS_BOTTOM : TWCS_TOP);
    case TWEI_DOCUMENTNUMBER:
      return out.number(info, TWTY_UINT32, static_cast<TW_UINT32>(page.facts.document));
    case TWEI_PAGENUMBER:
      return out.number(info, TWTY_UINT32, static_cast<TW_UINT32>(page.facts.page));
    case TWEI_BARCODECOUNT:
      return out.number(info, TWTY_UINT32, has_barcode ? 1 : 0);
    default:
      break;
  }
  if (info.InfoID == kChecksumInfo && raster != nullptr) {
    char text[24];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(raster->checksum()));
    return out.text(info, TWTY_STR255, text);
  }
  if (info.InfoID == TWEI_FRAME) {
    const Settings& s = session.settings;
    const TW_FRAME frame{fix32_of(length_to_units(s.frame.left, s.units, s.x_dpi)),
                         fix32_of(length_to_units(s.frame.top, s.units, s.y_dpi)),
                         fix32_of(length_to_units(s.frame.right, s.units, s.x_dpi)),
                         fix32_of(length_to_units(s.frame.bottom, s.units, s.y_dpi))};
    return out.block(info, TWTY_FRAME, &frame, sizeof frame, sizeof frame);
  }
  const bool barcode_code = info.InfoID == TWEI_BARCODETEXT || info.InfoID == TWEI_BARCODETYPE ||
                            info.InfoID == TWEI_BARCODEX || info.InfoID == TWEI_BARCODEY ||
                            info.InfoID == TWEI_BARCODETEXTLENGTH;
  if (!barcode_code) return InfoWriter::unavailable(info, TWRC_INFONOTSUPPORTED);
  if (!has_barcode) return InfoWriter::unavailable(info, TWRC_DATANOTAVAILABLE);
  const pages::PageLayout layout = pages::page_layout(page.shape.format);
  switch (info.InfoID) {
    case TWEI_BARCODETEXT:
      return out.text(info, text_type, raster->barcode_text);
    case TWEI_BARCODETEXTLENGTH:
      return out.number(info, TWTY_UINT32, static_cast<TW_UINT32>(raster->barcode_text.size()));
    case TWEI_BARCODETYPE:
      return out.number(info, TWTY_UINT32, TWBT_CODE128);
    case TWEI_BARCODEX:
      return out.number(info, TWTY_UINT32, static_cast<TW_UINT32>(layout.barcode.x0));
    default:  // TWEI_BARCODEY
      return out.number(info, TWTY_UINT32, static_cast<TW_UINT32>(layout.barcode.y0));
  }
}

}  // namespace

Reply ext_image_info_call(SourceState& state, Session& session, TW_UINT16 msg, TW_MEMREF data) {
  auto* ext = static_cast<TW_EXTIMAGEINFO*>(data);
  if (msg != MSG_GET) return refuse(TWCC_BADPROTOCOL);
  // The facts belong to the image just handed over.
  if (session.state != DsState::Transferring || !session.page || !session.page->delivered)
    return refuse(TWCC_SEQERROR);
  if (ext == nullptr) return refuse(TWCC_BADVALUE);
  const DsmMemory memory(state.dsm);
  InfoWriter out{memory};
  const DeviceConfig& device = session_device(state, session);
  TW_INFO* infos = ext->Info;  // NumInfos of them, in the application's block
  for (TW_UINT32 i = 0; i < ext->NumInfos; ++i)
    answer(out, infos[i], session, *session.page, device);
  if (out.out_of_memory) return refuse(TWCC_LOWMEMORY);
  return kDone;
}

}  // namespace vscan
