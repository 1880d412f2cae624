#include "sources/virtual/names.h"

#include <strings.h>

#include <charconv>
#include <csignal>
#include <span>
#include <string>

#include "sources/virtual/config.h"

namespace vscan {
namespace {

struct Named {
  const char* name;
  TW_UINT16 value;
};

constexpr Named kCapabilities[] = {
    {"CAP_XFERCOUNT", CAP_XFERCOUNT},
    {"ICAP_COMPRESSION", ICAP_COMPRESSION},
    {"ICAP_PIXELTYPE", ICAP_PIXELTYPE},
    {"ICAP_UNITS", ICAP_UNITS},
    {"ICAP_XFERMECH", ICAP_XFERMECH},
    {"CAP_FEEDERENABLED", CAP_FEEDERENABLED},
    {"CAP_FEEDERLOADED", CAP_FEEDERLOADED},
    {"CAP_SUPPORTEDCAPS", CAP_SUPPORTEDCAPS},
    {"CAP_EXTENDEDCAPS", CAP_EXTENDEDCAPS},
    {"CAP_AUTOFEED", CAP_AUTOFEED},
    {"CAP_INDICATORS", CAP_INDICATORS},
    {"CAP_PAPERDETECTABLE", CAP_PAPERDETECTABLE},
    {"CAP_UICONTROLLABLE", CAP_UICONTROLLABLE},
    {"CAP_DEVICEONLINE", CAP_DEVICEONLINE},
    {"CAP_AUTOSCAN", CAP_AUTOSCAN},
    {"CAP_DUPLEX", CAP_DUPLEX},
    {"CAP_DUPLEXENABLED", CAP_DUPLEXENABLED},
    {"ICAP_AUTOBRIGHT", ICAP_AUTOBRIGHT},
    {"ICAP_BRIGHTNESS", ICAP_BRIGHTNESS},
    {"ICAP_CONTRAST", ICAP_CONTRAST},
    {"ICAP_GAMMA", ICAP_GAMMA},
    {"ICAP_HIGHLIGHT", ICAP_HIGHLIGHT},
    {"ICAP_PHYSICALWIDTH", ICAP_PHYSICALWIDTH},
    {"ICAP_PHYSICALHEIGHT", ICAP_PHYSICALHEIGHT},
    {"ICAP_SHADOW", ICAP_SHADOW},
    {"ICAP_FRAMES", ICAP_FRAMES},
    {"ICAP_XRESOLUTION", ICAP_XRESOLUTION},
    {"ICAP_YRESOLUTION", ICAP_YRESOLUTION},
    {"ICAP_TILES", ICAP_TILES},
    {"ICAP_LIGHTPATH", ICAP_LIGHTPATH},
    {"ICAP_PIXELFLAVOR", ICAP_PIXELFLAVOR},
    {"ICAP_BITORDER", ICAP_BITORDER},
    {"ICAP_PLANARCHUNKY", ICAP_PLANARCHUNKY},
    {"ICAP_SUPPORTEDSIZES", ICAP_SUPPORTEDSIZES},
    {"ICAP_THRESHOLD", ICAP_THRESHOLD},
    {"ICAP_BITDEPTH", ICAP_BITDEPTH},
    {"ICAP_UNDEFINEDIMAGESIZE", ICAP_UNDEFINEDIMAGESIZE},
    {"ICAP_EXTIMAGEINFO", ICAP_EXTIMAGEINFO},
    {"ICAP_AUTOMATICDESKEW", ICAP_AUTOMATICDESKEW},
    {"ICAP_JPEGQUALITY", ICAP_JPEGQUALITY},
    {"ICAP_IMAGEFILEFORMAT", ICAP_IMAGEFILEFORMAT},
};

constexpr Named kPixelTypes[] = {
    {"bw", TWPT_BW},           {"gray", TWPT_GRAY}, {"grey", TWPT_GRAY}, {"rgb", TWPT_RGB},
    {"palette", TWPT_PALETTE}, {"cmy", TWPT_CMY},   {"cmyk", TWPT_CMYK},
};

constexpr Named kXferMechs[] = {
    {"native", TWSX_NATIVE},
    {"file", TWSX_FILE},
    {"memory", TWSX_MEMORY},
    {"memfile", TWSX_MEMFILE},
};

constexpr Named kCompressions[] = {
    {"none", TWCP_NONE},         {"packbits", TWCP_PACKBITS},
    {"group31d", TWCP_GROUP31D}, {"group31deol", TWCP_GROUP31DEOL},
    {"group32d", TWCP_GROUP32D}, {"group4", TWCP_GROUP4},
    {"jpeg", TWCP_JPEG},         {"lzw", TWCP_LZW},
    {"jbig", TWCP_JBIG},         {"png", TWCP_PNG},
    {"zip", TWCP_ZIP},
};

constexpr Named kContainers[] = {
    {"onevalue", TWON_ONEVALUE},
    {"enumeration", TWON_ENUMERATION},
    {"range", TWON_RANGE},
    {"array", TWON_ARRAY},
};

constexpr Named kDuplex[] = {
    {"none", TWDX_NONE},       {"no", TWDX_NONE},           {"1pass", TWDX_1PASSDUPLEX},
    {"yes", TWDX_1PASSDUPLEX}, {"2pass", TWDX_2PASSDUPLEX},
};

constexpr Named kConditions[] = {
    {"capunsupported", TWCC_CAPUNSUPPORTED},
    {"badcap", TWCC_BADCAP},
};

constexpr Named kCalls[] = {
    {"identity", static_cast<TW_UINT16>(DsCall::Identity)},
    {"entrypoint", static_cast<TW_UINT16>(DsCall::EntryPoint)},
    {"opends", static_cast<TW_UINT16>(DsCall::OpenDs)},
    {"closeds", static_cast<TW_UINT16>(DsCall::CloseDs)},
    {"status", static_cast<TW_UINT16>(DsCall::Status)},
    {"capability", static_cast<TW_UINT16>(DsCall::Capability)},
    {"imagelayout", static_cast<TW_UINT16>(DsCall::ImageLayout)},
    {"enableds", static_cast<TW_UINT16>(DsCall::EnableDs)},
    {"enabledsuionly", static_cast<TW_UINT16>(DsCall::EnableDsUiOnly)},
    {"disableds", static_cast<TW_UINT16>(DsCall::DisableDs)},
    {"processevent", static_cast<TW_UINT16>(DsCall::ProcessEvent)},
    {"pendingxfers", static_cast<TW_UINT16>(DsCall::PendingXfers)},
    {"setupmemxfer", static_cast<TW_UINT16>(DsCall::SetupMemXfer)},
    {"setupfilexfer", static_cast<TW_UINT16>(DsCall::SetupFileXfer)},
    {"imageinfo", static_cast<TW_UINT16>(DsCall::ImageInfo)},
    {"nativexfer", static_cast<TW_UINT16>(DsCall::NativeXfer)},
    {"memxfer", static_cast<TW_UINT16>(DsCall::MemoryXfer)},
    {"filexfer", static_cast<TW_UINT16>(DsCall::FileXfer)},
};

constexpr Named kSignals[] = {
    {"segv", SIGSEGV}, {"bus", SIGBUS}, {"fpe", SIGFPE}, {"ill", SIGILL}, {"abrt", SIGABRT},
};

std::span<const Named> table(NameKind kind) {
  switch (kind) {
    case NameKind::Capability:
      return kCapabilities;
    case NameKind::PixelType:
      return kPixelTypes;
    case NameKind::XferMech:
      return kXferMechs;
    case NameKind::Compression:
      return kCompressions;
    case NameKind::Container:
      return kContainers;
    case NameKind::Duplex:
      return kDuplex;
    case NameKind::Condition:
      return kConditions;
    case NameKind::Call:
      return kCalls;
    case NameKind::Signal:
      return kSignals;
  }
  return {};
}

// "4376" or "0x1118"; nothing unless the whole text is a 16-bit number.
std::optional<TW_UINT16> parse_number(std::string_view text) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  unsigned value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (error != std::errc() || end != text.data() + text.size() || value > 0xffff)
    return std::nullopt;
  return static_cast<TW_UINT16>(value);
}

}  // namespace

std::optional<TW_UINT16> name_lookup(NameKind kind, std::string_view name) {
  for (const Named& entry : table(kind)) {
    if (name.size() == std::char_traits<char>::length(entry.name) &&
        ::strncasecmp(entry.name, name.data(), name.size()) == 0)
      return entry.value;
  }
  if (kind == NameKind::Capability || kind == NameKind::Condition) return parse_number(name);
  return std::nullopt;
}

const char* cap_name(TW_UINT16 cap) {
  for (const Named& entry : kCapabilities) {
    if (entry.value == cap) return entry.name;
  }
  return "CAP_?";
}

}  // namespace vscan
