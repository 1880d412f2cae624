// DG_CONTROL / DAT_SETUPFILEXFER and DG_IMAGE / DAT_IMAGEFILEXFER: the page
// written by the device to the file the application named, in the format it
// chose among those ICAP_IMAGEFILEFORMAT offers.
#include <algorithm>
#include <cstring>

#include "sources/virtual/file_write.h"
#include "sources/virtual/transfer.h"

namespace vscan {
namespace {

constexpr const char* kDefaultFileName = "TWAIN.TMP";

void fill_setup(TW_SETUPFILEXFER& setup, const std::string& name, TW_UINT16 format) {
  std::memset(setup.FileName, 0, sizeof setup.FileName);
  std::memcpy(setup.FileName, name.data(), std::min(name.size(), sizeof setup.FileName - 1));
  setup.Format = format;
  setup.VRefNum = 0;
}

}  // namespace

Reply setup_file_xfer_call(SourceState& state, Session& session, TW_UINT16 msg, TW_MEMREF data) {
  auto* setup = static_cast<TW_SETUPFILEXFER*>(data);
  if (setup == nullptr) return refuse(TWCC_BADVALUE);
  const DeviceConfig& device = session_device(state, session);
  // The file of an image being transferred is fixed.
  if (session.state == DsState::Transferring && msg != MSG_GET) return refuse(TWCC_SEQERROR);
  switch (msg) {
    case MSG_GET:
      fill_setup(*setup, session.file_name, session.settings.file_format);
      return kDone;
    case MSG_GETDEFAULT:
      fill_setup(*setup, kDefaultFileName, session.defaults.file_format);
      return kDone;
    case MSG_RESET:
      session.file_name = kDefaultFileName;
      session.settings.file_format = session.defaults.file_format;
      fill_setup(*setup, session.file_name, session.settings.file_format);
      return kDone;
    case MSG_SET: {
      const std::string name(setup->FileName, ::strnlen(setup->FileName, sizeof setup->FileName));
      const auto& formats = device.file_formats;
      if (name.empty() || std::find(formats.begin(), formats.end(), setup->Format) == formats.end())
        return refuse(TWCC_BADVALUE);
      session.file_name = name;
      session.settings.file_format = setup->Format;
      return kDone;
    }
    default:
      return refuse(TWCC_BADPROTOCOL);
  }
}

Reply file_xfer_call(SourceState& state, Session& session, TW_UINT16 msg, TW_MEMREF) {
  if (msg != MSG_GET) return refuse(TWCC_BADPROTOCOL);
  const DeviceConfig& device = session_device(state, session);
  const Raster* raster = nullptr;
  const Reply begun = transfer_begin(session, device, TWSX_FILE, raster);
  if (begun.rc != TWRC_SUCCESS) return begun;
  Page& page = *session.page;
  if (!image_file_write(*raster, session.settings.file_format, page.shape.compression,
                        static_cast<int>(session.settings.jpeg_quality), session.file_name))
    return refuse(TWCC_FILEWRITEERROR);
  page.delivered = true;
  session.state = DsState::Transferring;
  return Reply{TWRC_XFERDONE, TWCC_SUCCESS};
}

}  // namespace vscan
