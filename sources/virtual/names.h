// The words of the config file: names of capabilities, pixel types, transfer
// mechanisms, compressions, containers, duplex kinds, condition codes, driver
// calls and signals, each mapped to its TWAIN value (or our own enum).
// Lookups ignore case; capabilities and condition codes also take numbers
// ("0x1118", "4376").
#pragma once
#include <optional>
#include <string_view>

#include "orivane/twain.h"

namespace vscan {

enum class NameKind {
  Capability,   // "ICAP_XRESOLUTION"
  PixelType,    // "rgb"
  XferMech,     // "memory"
  Compression,  // "group4"
  Container,    // "enumeration" (TWON_ value)
  Duplex,       // "1pass", "none"
  Condition,    // "badcap" (TWCC_ value)
  Call,         // "opends" (DsCall value)
  Signal,       // "segv" (signal number)
};

std::optional<TW_UINT16> name_lookup(NameKind kind, std::string_view name);

// The name of a capability this source knows ("CAP_0x%04x" otherwise is not
// needed: only known capabilities are named in messages).
const char* cap_name(TW_UINT16 cap);

}  // namespace vscan
