#include "sources/common/ds_calls.h"

#include <cstring>

namespace twsource {
namespace {

void copy_text(char* field, std::size_t field_size, const std::string& text) {
  const std::size_t n = std::min(text.size(), field_size - 1);
  std::memcpy(field, text.data(), n);
  std::memset(field + n, 0, field_size - n);
}

}  // namespace

Reply status_get(TW_UINT16 msg, TW_MEMREF data, TW_UINT16& condition) {
  auto* status = static_cast<TW_STATUS*>(data);
  if (msg != MSG_GET) return refuse(TWCC_BADPROTOCOL);
  if (status == nullptr) return refuse(TWCC_BADVALUE);
  status->ConditionCode = condition;
  status->Data = 0;
  condition = TWCC_SUCCESS;
  return kDone;
}

Reply entry_points_set(TW_UINT16 msg, TW_MEMREF data, TW_ENTRYPOINT& out) {
  const auto* entry_points = static_cast<const TW_ENTRYPOINT*>(data);
  if (msg != MSG_SET) return refuse(TWCC_BADPROTOCOL);
  // Size says how much the caller's structure holds.
  if (entry_points == nullptr || entry_points->Size < sizeof(TW_ENTRYPOINT))
    return refuse(TWCC_BADVALUE);
  out = *entry_points;
  return kDone;
}

void identity_fill(TW_IDENTITY& out, const IdentityText& text) {
  out.Version.Language = TWLG_ENGLISH_USA;
  out.Version.Country = TWCY_USA;
  copy_text(out.Version.Info, sizeof out.Version.Info, text.version_info);
  out.ProtocolMajor = TWON_PROTOCOLMAJOR;
  out.ProtocolMinor = TWON_PROTOCOLMINOR;
  out.SupportedGroups = DG_CONTROL | DG_IMAGE | DF_DS2;
  copy_text(out.Manufacturer, sizeof out.Manufacturer, text.manufacturer);
  copy_text(out.ProductFamily, sizeof out.ProductFamily, text.family);
  copy_text(out.ProductName, sizeof out.ProductName, text.product);
}

bool product_name_is(const TW_IDENTITY& presented, const TW_IDENTITY& wanted) {
  return std::strncmp(presented.ProductName, wanted.ProductName, sizeof presented.ProductName) == 0;
}

}  // namespace twsource
