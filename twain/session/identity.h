// TWAIN identities: their text fields, and the work area every identity the
// Source Manager fills is received into.
#pragma once
#include <cstddef>
#include <string>

#include "orivane/twain.h"

namespace twain {

// Bytes of a product name field (TW_STR32): at most 34 characters when the
// terminator falls just behind the field.
constexpr std::size_t kProductNameMax = 34;

// The text of a TW_STR32 field: up to its terminator, at most 34 characters.
std::string identity_text(const TW_STR32 field);
// Copies at most `max` characters (at most 33) of `text` into a TW_STR32
// field, zero-filling the rest.
void identity_set_text(TW_STR32 field, const std::string& text, std::size_t max = 33);

// A zeroed 188-byte area that an identity is received into. It is larger
// than the 156-byte TW_IDENTITY, so a source that writes an over-long product
// name cannot overrun it; a non-zero byte just behind the product name field
// is the sign of such an overrun. A Source Manager that hands on only the 156
// bytes (ours does) leaves another sign: a product name that fills its whole
// field, with no terminator inside it.
class IdentityArea {
 public:
  static constexpr std::size_t kBytes = 188;

  IdentityArea() { clear(); }
  void clear();
  TW_IDENTITY* identity() { return reinterpret_cast<TW_IDENTITY*>(bytes_); }
  const TW_IDENTITY* identity() const { return reinterpret_cast<const TW_IDENTITY*>(bytes_); }
  // True when the product name ran past its field (or filled all of it).
  bool overrun() const;
  // Ends an over-long product name after 34 characters.
  void cut_name();
  std::string product_name() const { return identity_text(identity()->ProductName); }

 private:
  alignas(TW_IDENTITY) unsigned char bytes_[kBytes];
};

// Checks an area for an overrun; on one, traces `trace_text` and cuts the
// name. Returns whether there was one.
bool identity_check_overrun(IdentityArea& area, const char* trace_text);

}  // namespace twain
