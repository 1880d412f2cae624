#include "twain/session/identity.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "log/trace.h"

namespace twain {

namespace {
constexpr std::size_t kNameEnd = offsetof(TW_IDENTITY, ProductName) + kProductNameMax;
static_assert(kNameEnd == sizeof(TW_IDENTITY), "the product name ends the identity");
}  // namespace

std::string identity_text(const TW_STR32 field) {
  return std::string(field, strnlen(field, kProductNameMax));
}

void identity_set_text(TW_STR32 field, const std::string& text, std::size_t max) {
  std::memset(field, 0, sizeof(TW_STR32));
  std::memcpy(field, text.data(), std::min({text.size(), max, sizeof(TW_STR32) - 1}));
}

void IdentityArea::clear() { std::memset(bytes_, 0, sizeof bytes_); }

bool IdentityArea::overrun() const { return bytes_[kNameEnd] != 0 || bytes_[kNameEnd - 1] != 0; }

void IdentityArea::cut_name() { bytes_[kNameEnd] = 0; }

bool identity_check_overrun(IdentityArea& area, const char* trace_text) {
  if (!area.overrun()) return false;
  LogPrint("%s", trace_text);
  area.cut_name();
  return true;
}

}  // namespace twain
