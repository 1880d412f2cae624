// DG_CONTROL / DAT_CUSTOMDSDATA: the device's whole setup as one block, so an
// application can keep it between runs and give it back.
//
// The block is text, one capability a line after a header naming the
// device: "0x0101=2" (the current value, in the units it was saved in) or,
// for ICAP_FRAMES, "0x1114=left,top,right,bottom". Units come first, then
// the pixel type, its depth and the resolutions, since later values are read
// in their terms. Restoring starts from the device's defaults and applies each
// line as a MSG_SET of its capability would, so nothing the device would
// refuse from the application gets in through custom data.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <cstring>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "sources/virtual/cap_table.h"
#include "sources/virtual/device_data.h"
#include "sources/virtual/negotiation.h"

namespace vscan {
namespace {

constexpr const char* kHeader = "VirtualScanner custom data 1";
// Larger blocks are no setup of ours.
constexpr TW_UINT32 kMaxCustomBytes = 64 * 1024;
constexpr TW_UINT16 kFirstCaps[] = {ICAP_UNITS, ICAP_PIXELTYPE, ICAP_BITDEPTH, ICAP_XRESOLUTION,
                                    ICAP_YRESOLUTION};

// A capability the setup holds: one the application can set to one value.
bool saved_in_setup(const DeviceConfig& device, TW_UINT16 cap) {
  const CapDef* def = cap_find(cap);
  return def != nullptr && cap_offered(device, cap) && !def->read_only &&
         (def->store != nullptr || cap == ICAP_FRAMES);
}

std::vector<TW_UINT16> setup_caps(const DeviceConfig& device) {
  std::vector<TW_UINT16> caps;
  for (TW_UINT16 cap : kFirstCaps) {
    if (saved_in_setup(device, cap)) caps.push_back(cap);
  }
  for (TW_UINT16 cap : caps_offered(device)) {
    if (saved_in_setup(device, cap) &&
        std::find(std::begin(kFirstCaps), std::end(kFirstCaps), cap) == std::end(kFirstCaps))
      caps.push_back(cap);
  }
  return caps;
}

// A value as an application reads it from a container: FIX32 values (and
// frames) on their 1/65536 grid, so that saving what was restored gives the
// same text.
std::string number_text(double value, TW_UINT16 item_type) {
  if (item_type == TWTY_FIX32 || item_type == TWTY_FRAME) value = fix32_to(fix32_from(value));
  char text[40];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

std::string setup_text(const Session& session, const DeviceConfig& device) {
  std::string text = std::string(kHeader) + "\nproduct=" + device.product + "\n";
  for (TW_UINT16 cap : setup_caps(device)) {
    const CapValue value = cap_find(cap)->describe(session, device);
    char name[8];
    std::snprintf(name, sizeof name, "0x%04x", cap);
    text += name;
    text += "=";
    if (cap == ICAP_FRAMES) {
      const Frame& f = value.current_frame;
      const double edges[] = {f.left, f.top, f.right, f.bottom};
      for (std::size_t i = 0; i < std::size(edges); ++i)
        text += (i > 0 ? "," : "") + number_text(edges[i], TWTY_FRAME);
    } else {
      text += number_text(value.current, value.item_type);
    }
    text += "\n";
  }
  return text;
}

Reply custom_get(SourceState& state, Session& session, TW_CUSTOMDSDATA& custom) {
  const std::string text = setup_text(session, session_device(state, session));
  const DsmMemory memory(state.dsm);
  TW_HANDLE handle = memory.allocate(text.size());
  auto* bytes = static_cast<char*>(memory.lock(handle));
  if (bytes == nullptr) {
    memory.free(handle);
    return refuse(TWCC_LOWMEMORY);
  }
  std::memcpy(bytes, text.data(), text.size());
  memory.unlock(handle);
  custom.InfoLength = static_cast<TW_UINT32>(text.size());
  custom.hData = handle;
  return kDone;
}

struct SetupLine {
  TW_UINT16 cap = 0;
  std::vector<double> numbers;
};

std::optional<std::vector<SetupLine>> parse_setup(const std::string& text,
                                                  const DeviceConfig& device) {
  std::istringstream in(text);
  std::string line;
  if (!std::getline(in, line) || line != kHeader) return std::nullopt;
  if (!std::getline(in, line) || line != "product=" + device.product) return std::nullopt;
  std::vector<SetupLine> lines;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    SetupLine parsed;
    unsigned cap = 0;
    int used = 0;
    if (std::sscanf(line.c_str(), "0x%4x=%n", &cap, &used) != 1 || used == 0) return std::nullopt;
    parsed.cap = static_cast<TW_UINT16>(cap);
    std::istringstream values(line.substr(static_cast<std::size_t>(used)));
    std::string item;
    while (std::getline(values, item, ',')) {
      char* end = nullptr;
      const double number = std::strtod(item.c_str(), &end);
      if (item.empty() || end == nullptr || *end != '\0') return std::nullopt;
      parsed.numbers.push_back(number);
    }
    const std::size_t wanted = parsed.cap == ICAP_FRAMES ? 4 : 1;
    if (!saved_in_setup(device, parsed.cap) || parsed.numbers.size() != wanted)
      return std::nullopt;
    lines.push_back(parsed);
  }
  return lines;
}

// One line, as the application's MSG_SET of a one value would be taken.
bool apply_line(Session& session, const DeviceConfig& device, const DsmMemory& memory,
                const SetupLine& line) {
  CapValue value = cap_find(line.cap)->describe(session, device);
  value.shape = Shape::OneValue;
  if (line.cap == ICAP_FRAMES) {
    value.current_frame = Frame{line.numbers[0], line.numbers[1], line.numbers[2], line.numbers[3]};
  } else {
    value.current = line.numbers[0];
  }
  TW_UINT16 kind = TWON_ONEVALUE;
  TW_CAPABILITY capability{line.cap, TWON_ONEVALUE, nullptr};
  capability.hContainer = container_build(memory, value, TWON_ONEVALUE, ValueWanted::Current, kind);
  if (capability.hContainer == nullptr) return false;
  const Reply reply = capability_call(session, device, memory, MSG_SET, capability);
  memory.free(capability.hContainer);
  return reply.rc == TWRC_SUCCESS || reply.rc == TWRC_CHECKSTATUS;
}

Reply custom_set(SourceState& state, Session& session, const TW_CUSTOMDSDATA& custom) {
  if (custom.hData == nullptr || custom.InfoLength > kMaxCustomBytes) return refuse(TWCC_BADVALUE);
  const DsmMemory memory(state.dsm);
  const auto* bytes = static_cast<const char*>(memory.lock(custom.hData));
  if (bytes == nullptr) return refuse(TWCC_BADVALUE);
  const std::string text(bytes, custom.InfoLength);
  memory.unlock(custom.hData);
  const DeviceConfig& device = session_device(state, session);
  const auto lines = parse_setup(text, device);
  if (!lines) return refuse(TWCC_BADVALUE);
  const Settings before = session.settings;
  session.settings = settings_default(device);
  for (const SetupLine& line : *lines) {
    if (!apply_line(session, device, memory, line)) {
      session.settings = before;
      return refuse(TWCC_BADVALUE);
    }
  }
  return kDone;
}

}  // namespace

Reply custom_data_call(SourceState& state, Session& session, TW_UINT16 msg, TW_MEMREF data) {
  auto* custom = static_cast<TW_CUSTOMDSDATA*>(data);
  if (msg != MSG_GET && msg != MSG_SET) return refuse(TWCC_BADPROTOCOL);
  if (custom == nullptr) return refuse(TWCC_BADVALUE);
  if (session.state != DsState::Open) return refuse(TWCC_SEQERROR);
  return msg == MSG_GET ? custom_get(state, session, *custom) : custom_set(state, session, *custom);
}

}  // namespace vscan
