#include "twain/capabilities/item_values.h"

#include <cmath>
#include <cstring>
#include <iterator>
#include <limits>

#include "orivane/twain.h"

namespace twain {

namespace {

// Item sizes by type code, as the standard's types lay them out here.
constexpr std::size_t kItemSizes[] = {
    sizeof(TW_INT8),   sizeof(TW_INT16),  sizeof(TW_INT32),   sizeof(TW_UINT8),
    sizeof(TW_UINT16), sizeof(TW_UINT32), sizeof(TW_BOOL),    sizeof(TW_FIX32),
    sizeof(TW_FRAME),  sizeof(TW_STR32),  sizeof(TW_STR64),   sizeof(TW_STR128),
    sizeof(TW_STR255), sizeof(TW_STR1024), sizeof(TW_UNI512), sizeof(TW_HANDLE)};

// Truncates toward zero into the 64-bit range; NaN gives 0. Values outside
// the range saturate instead of being undefined.
std::int64_t truncate_to_int64(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 9223372036854775807.0) return std::numeric_limits<std::int64_t>::max();
  if (value <= -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(value);
}

template <typename T>
void store(unsigned char* at, T value) {
  std::memcpy(at, &value, sizeof value);
}

template <typename T>
T load(const unsigned char* at) {
  T value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

}  // namespace

std::size_t item_size(int type) {
  if (type >= 0 && type < static_cast<int>(std::size(kItemSizes))) return kItemSizes[type];
  return 0;
}

bool item_is_number(int type) { return type >= kTyInt8 && type <= kTyFix32; }
bool item_is_text(int type) { return type >= kTyStr32 && type <= kTyUni512; }

std::int32_t fix32_from_double(double value) {
  if (!std::isfinite(value)) return 0;
  double scaled = std::round(value * 65536.0);  // std::round: halves away from zero
  if (scaled >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
  if (scaled <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(scaled);
}

double fix32_to_double(std::int16_t whole, std::uint16_t frac) {
  return (static_cast<double>(whole) * 65536.0 + frac) / 65536.0;
}

bool item_write_number(unsigned char* at, int type, double value) {
  // Cutting to the width is a conversion of the 64-bit two's complement
  // value, so -1 stored as UINT16 reads back as 65535.
  const auto whole = static_cast<std::uint64_t>(truncate_to_int64(value));
  switch (type) {
    case kTyInt8:
    case kTyUint8: store(at, static_cast<std::uint8_t>(whole)); return true;
    case kTyInt16:
    case kTyUint16:
    case kTyBool: store(at, static_cast<std::uint16_t>(whole)); return true;
    case kTyInt32:
    case kTyUint32: store(at, static_cast<std::uint32_t>(whole)); return true;
    case kTyFix32: {
      const std::int32_t n = fix32_from_double(value);
      store(at, static_cast<std::int16_t>(n >> 16));          // Whole
      store(at + 2, static_cast<std::uint16_t>(n & 0xffff));  // Frac
      return true;
    }
    default: return false;
  }
}

double item_read_number(const unsigned char* at, int type) {
  switch (type) {
    case kTyInt8: return load<std::int8_t>(at);
    case kTyInt16: return load<std::int16_t>(at);
    case kTyInt32: return load<std::int32_t>(at);
    case kTyUint8: return load<std::uint8_t>(at);
    case kTyUint16:
    case kTyBool: return load<std::uint16_t>(at);
    case kTyUint32: return load<std::uint32_t>(at);
    case kTyFix32: return fix32_to_double(load<std::int16_t>(at), load<std::uint16_t>(at + 2));
    default: return 0;
  }
}

int round_to_int(double value) {
  if (std::isnan(value)) return 0;
  const double r = std::round(value);
  if (r >= 2147483647.0) return std::numeric_limits<int>::max();
  if (r <= -2147483648.0) return std::numeric_limits<int>::min();
  return static_cast<int>(r);
}

}  // namespace twain
