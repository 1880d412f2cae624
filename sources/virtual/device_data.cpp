#include "sources/virtual/device_data.h"

#include <algorithm>
#include <cstring>

namespace vscan {
namespace {

constexpr int kResponseLevels = 256;

// Response curves are negotiated with an open device, before enabling.
bool response_settable(const Session& session) { return session.state == DsState::Open; }

ResponseCurve identity_curve() {
  ResponseCurve curve{};
  for (auto& channel : curve) {
    for (int level = 0; level < kResponseLevels; ++level)
      channel[level] = static_cast<std::uint8_t>(level);
  }
  return curve;
}

// Reads the application's 256 elements; the element's Index names the level
// it maps, so a table in any order means the same.
ResponseCurve curve_from(const TW_ELEMENT8* elements, int channels) {
  ResponseCurve curve = identity_curve();
  for (int i = 0; i < kResponseLevels; ++i) {
    const TW_ELEMENT8& e = elements[i];
    const TW_UINT8 out[3] = {e.Channel1, e.Channel2, e.Channel3};
    for (int c = 0; c < 3; ++c) curve[c][e.Index] = out[channels == 1 ? 0 : c];
  }
  return curve;
}

void write_identity(TW_ELEMENT8* elements) {
  for (int i = 0; i < kResponseLevels; ++i) {
    const auto level = static_cast<TW_UINT8>(i);
    elements[i] = TW_ELEMENT8{level, level, level, level};
  }
}

// The common rules of both curves: state 4, the pixel type and depth the
// curve is for, then set or reset the curve in `slot`.
Reply response_call(Session& session, TW_UINT16 msg, TW_MEMREF data, TW_UINT16 pixel_type,
                    TW_UINT16 depth, int channels, std::optional<ResponseCurve>& slot) {
  if (msg != MSG_SET && msg != MSG_RESET) return refuse(TWCC_BADPROTOCOL);
  auto* elements = static_cast<TW_ELEMENT8*>(data);
  if (elements == nullptr) return refuse(TWCC_BADVALUE);
  if (!response_settable(session)) return refuse(TWCC_SEQERROR);
  if (msg == MSG_RESET) {
    slot.reset();
    write_identity(elements);
    return kDone;
  }
  // A curve has one entry per level of the current pixel type: 256 only for
  // 8-bit samples, the only ones this device takes a curve for.
  const Settings& settings = session.settings;
  const auto current_depth = settings.bit_depth.find(pixel_type);
  if (settings.pixel_type != pixel_type || current_depth == settings.bit_depth.end() ||
      current_depth->second != depth)
    return refuse(TWCC_BADVALUE);
  slot = curve_from(elements, channels);
  return kDone;
}

}  // namespace

Reply xfer_group_call(SourceState&, Session&, TW_UINT16 msg, TW_MEMREF data) {
  auto* group = static_cast<TW_UINT32*>(data);
  if (group == nullptr) return refuse(TWCC_BADVALUE);
  switch (msg) {
    case MSG_GET:
      *group = DG_IMAGE;
      return kDone;
    case MSG_SET:
      return *group == DG_IMAGE ? kDone : refuse(TWCC_BADVALUE);
    default:
      return refuse(TWCC_BADPROTOCOL);
  }
}

Reply device_event_call(SourceState& state, Session& session, TW_UINT16 msg, TW_MEMREF data) {
  auto* event = static_cast<TW_DEVICEEVENT*>(data);
  if (msg != MSG_GET) return refuse(TWCC_BADPROTOCOL);
  if (event == nullptr) return refuse(TWCC_BADVALUE);
  if (session.device_events.empty()) return refuse(TWCC_SEQERROR);
  *event = TW_DEVICEEVENT{};
  event->Event = session.device_events.front();
  session.device_events.pop_front();
  const std::string& product = session_device(state, session).product;
  std::memcpy(event->DeviceName, product.data(),
              std::min(product.size(), sizeof event->DeviceName - 1));
  return kDone;
}

Reply gray_response_call(SourceState&, Session& session, TW_UINT16 msg, TW_MEMREF data) {
  return response_call(session, msg, data, TWPT_GRAY, 8, 1, session.settings.gray_response);
}

Reply rgb_response_call(SourceState&, Session& session, TW_UINT16 msg, TW_MEMREF data) {
  return response_call(session, msg, data, TWPT_RGB, 24, 3, session.settings.rgb_response);
}

}  // namespace vscan
