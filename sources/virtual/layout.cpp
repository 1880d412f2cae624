#include "sources/virtual/layout.h"

#include "sources/virtual/device.h"

namespace vscan {
namespace {

TW_FRAME frame_out(const Frame& f, const Settings& s) {
  return TW_FRAME{fix32_from(length_to_units(f.left, s.units, s.x_dpi)),
                  fix32_from(length_to_units(f.top, s.units, s.y_dpi)),
                  fix32_from(length_to_units(f.right, s.units, s.x_dpi)),
                  fix32_from(length_to_units(f.bottom, s.units, s.y_dpi))};
}

Frame frame_in(const TW_FRAME& f, const Settings& s) {
  return Frame{length_from_units(fix32_to(f.Left), s.units, s.x_dpi),
               length_from_units(fix32_to(f.Top), s.units, s.y_dpi),
               length_from_units(fix32_to(f.Right), s.units, s.x_dpi),
               length_from_units(fix32_to(f.Bottom), s.units, s.y_dpi)};
}

void fill(TW_IMAGELAYOUT& layout, const Frame& frame, const Settings& numbers, const Settings& s) {
  layout.Frame = frame_out(frame, s);
  layout.DocumentNumber = numbers.document_number;
  layout.PageNumber = numbers.page_number;
  layout.FrameNumber = numbers.frame_number;
}

Reply set_layout(Session& session, const DeviceConfig& device, const TW_IMAGELAYOUT& layout) {
  if (session.state != DsState::Open) return refuse(TWCC_SEQERROR);
  Settings& s = session.settings;
  Frame frame = frame_in(layout.Frame, s);
  const FrameFit fit = frame_fit(device, frame);
  if (fit == FrameFit::Invalid) return refuse(TWCC_BADVALUE);
  s.frame = frame;
  s.paper_size = TWSS_NONE;
  // TWON_DONTCARE32 keeps a number as it is.
  if (layout.DocumentNumber != TWON_DONTCARE32) s.document_number = layout.DocumentNumber;
  if (layout.PageNumber != TWON_DONTCARE32) s.page_number = layout.PageNumber;
  if (layout.FrameNumber != TWON_DONTCARE32) s.frame_number = layout.FrameNumber;
  return fit == FrameFit::Exact ? kDone : Reply{TWRC_CHECKSTATUS, TWCC_SUCCESS};
}

}  // namespace

Reply image_layout_call(Session& session, const DeviceConfig& device, TW_UINT16 msg,
                        TW_IMAGELAYOUT& layout) {
  Settings& s = session.settings;
  switch (msg) {
    case MSG_GET:
    case MSG_GETCURRENT:
      fill(layout, s.frame, s, s);
      return kDone;
    case MSG_GETDEFAULT:
      fill(layout, frame_full(device), session.defaults, s);
      return kDone;
    case MSG_SET:
      return set_layout(session, device, layout);
    case MSG_RESET:
      if (session.state != DsState::Open) return refuse(TWCC_SEQERROR);
      s.frame = frame_full(device);
      s.paper_size = TWSS_NONE;
      s.document_number = s.page_number = s.frame_number = 1;
      fill(layout, s.frame, s, s);
      return kDone;
    default:
      return refuse(TWCC_BADPROTOCOL);
  }
}

}  // namespace vscan
