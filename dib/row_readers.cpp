#include "dib/row_readers.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "dib/detail.h"

namespace dib {
namespace {

using detail::load16;
using detail::luminance;
using detail::luminance16;

constexpr std::uint32_t kDefaultMasks[3] = {0x7C00, 0x03E0, 0x001F};  // 5-5-5

// Hue of (r, g, b) as 0..255 for 0..360 degrees; 0 for grays.
std::uint8_t hue_of(int r, int g, int b) {
  const int mx = std::max({r, g, b}), mn = std::min({r, g, b});
  const int c = mx - mn;
  if (c == 0) return 0;
  double h;
  if (mx == r) {
    h = static_cast<double>(g - b) / c;
    if (h < 0) h += 6.0;
  } else if (mx == g) {
    h = static_cast<double>(b - r) / c + 2.0;
  } else {
    h = static_cast<double>(r - g) / c + 4.0;
  }
  const int v = static_cast<int>(h * 60.0 * 255.0 / 360.0 + 0.5);
  return static_cast<std::uint8_t>(std::min(v, 255));
}

// Subtractive bytes to red, green, blue; for CMYK black is added to each ink.
inline void cmyk_to_rgb(int c, int m, int y, int k, std::uint8_t* out_bgr) {
  out_bgr[2] = static_cast<std::uint8_t>(255 - std::min(255, c + k));
  out_bgr[1] = static_cast<std::uint8_t>(255 - std::min(255, m + k));
  out_bgr[0] = static_cast<std::uint8_t>(255 - std::min(255, y + k));
}

// A bit field of `bits` bits widened to 8 by repeating its bits (31 of 5 bits
// becomes 255, 16 becomes 132), the usual reading of 5-5-5 and 5-6-5 data.
inline std::uint8_t expand_field(std::uint32_t v, std::uint32_t bits) {
  if (bits == 0) return 0;
  if (bits >= 8) return static_cast<std::uint8_t>(v >> (bits - 8));
  std::uint32_t out = 0;
  int filled = 0;
  while (filled < 8) {
    out = (out << bits) | v;
    filled += static_cast<int>(bits);
  }
  return static_cast<std::uint8_t>(out >> (filled - 8));
}

}  // namespace

RowReader::RowReader(const DibView& v) : v_(v), depth_(v.depth()), type_(v.pixel_type()) {
  v.require_rows();
  const std::span<Rgbq> t = v.table();
  switch (depth_) {
    case 1: {
      // Set bits show white and clear bits black, the other way round when
      // entry 0 is not black.
      const bool invert = !t.empty() && (t[0].red | t[0].green | t[0].blue) != 0;
      for (int byte = 0; byte < 256; ++byte) {
        std::uint64_t packed = 0;
        for (int bit = 0; bit < 8; ++bit) {
          const bool set = ((byte >> (7 - bit)) & 1) != invert;
          packed |= std::uint64_t{set ? 0xFFu : 0u} << (8 * bit);
        }
        expand1_[byte] = packed;
      }
      for (int i = 0; i < 2; ++i) {
        const Rgbq e = i < static_cast<int>(t.size()) ? t[i] : Rgbq{0, 0, 0, 0};
        red_[i] = e.red, green_[i] = e.green, blue_[i] = e.blue;
      }
      break;
    }
    case 4:
    case 8: {
      const std::size_t n = std::size_t{1} << depth_;
      identity_ = t.size() >= n;
      for (std::size_t i = 0; i < n; ++i) {
        const Rgbq e = i < t.size() ? t[i] : Rgbq{0, 0, 0, 0};
        const std::size_t ramp = depth_ == 4 ? i * 17 : i;
        if (e.red != ramp || e.green != ramp || e.blue != ramp) identity_ = false;
        lum_[i] = luminance(e.red, e.green, e.blue);
        red_[i] = e.red, green_[i] = e.green, blue_[i] = e.blue;
      }
      break;
    }
    case 16:
      if (type_ != kGray) {
        const auto m = v.masks();
        for (int c = 0; c < 3; ++c) {
          const std::uint32_t mask = (m ? (*m)[c] : kDefaultMasks[c]) & 0xFFFF;
          mask_[c] = mask;
          shift_[c] = mask ? static_cast<std::uint32_t>(__builtin_ctz(mask)) : 0;
          bits_[c] = static_cast<std::uint32_t>(__builtin_popcount(mask));
        }
      }
      break;
    case 24: case 32: case 48: break;
    default: supported_ = false;
  }
}

void RowReader::gray_indexed(const std::uint8_t* src, std::uint8_t* out) const {
  const int w = width();
  if (depth_ == 8) {
    if (identity_) {
      std::memcpy(out, src, static_cast<std::size_t>(w));
    } else {
      for (int x = 0; x < w; ++x) out[x] = lum_[src[x]];
    }
    return;
  }
  for (int x = 0; x < w; ++x) {
    const int idx = (src[x >> 1] >> ((x & 1) ? 0 : 4)) & 0x0F;
    out[x] = identity_ ? static_cast<std::uint8_t>(idx * 17) : lum_[idx];
  }
}

void RowReader::table_component(const std::uint8_t* src, const std::array<std::uint8_t, 256>& lut,
                                std::uint8_t* out) const {
  const int w = width();
  if (depth_ == 8) {
    for (int x = 0; x < w; ++x) out[x] = lut[src[x]];
  } else {
    for (int x = 0; x < w; ++x) out[x] = lut[(src[x >> 1] >> ((x & 1) ? 0 : 4)) & 0x0F];
  }
}

bool RowReader::gray(int y, std::uint8_t* out) const {
  if (!supported_) return false;
  const std::uint8_t* s = v_.row(y);
  const int w = width();
  switch (depth_) {
    case 1: {
      const int full = w / 8;
      for (int i = 0; i < full; ++i) std::memcpy(out + 8 * i, &expand1_[s[i]], 8);
      if (w % 8) {
        std::uint8_t tail[8];
        std::memcpy(tail, &expand1_[s[full]], 8);
        std::memcpy(out + 8 * full, tail, static_cast<std::size_t>(w % 8));
      }
      return true;
    }
    case 4:
    case 8: gray_indexed(s, out); return true;
    case 16:
      if (type_ == kGray) {
        for (int x = 0; x < w; ++x) out[x] = s[2 * x + 1];
        return true;
      }
      break;
    case 24:
      if (type_ == kCMY) {
        for (int x = 0; x < w; ++x, s += 3) out[x] = luminance(255 - s[0], 255 - s[1], 255 - s[2]);
      } else {
        for (int x = 0; x < w; ++x, s += 3) out[x] = luminance(s[2], s[1], s[0]);
      }
      return true;
    case 32:
      if (type_ == kCMYK) {
        std::uint8_t bgr[3];
        for (int x = 0; x < w; ++x, s += 4) {
          cmyk_to_rgb(s[0], s[1], s[2], s[3], bgr);
          out[x] = luminance(bgr[2], bgr[1], bgr[0]);
        }
      } else {
        for (int x = 0; x < w; ++x, s += 4) out[x] = luminance(s[2], s[1], s[0]);
      }
      return true;
    case 48:
      for (int x = 0; x < w; ++x, s += 6) {
        std::uint32_t b = load16(s), g = load16(s + 2), r = load16(s + 4);
        if (type_ == kCMY) {
          const std::uint32_t c = b, m = g, yy = r;  // cyan is stored first
          r = 65535 - c, g = 65535 - m, b = 65535 - yy;
        }
        out[x] = detail::sample16_to_8(luminance16(r, g, b));
      }
      return true;
    default: return false;
  }
  // 16-bit colour: through an RGB row.
  std::vector<std::uint8_t> bgr(static_cast<std::size_t>(w) * 3);
  rgb(y, bgr.data());
  for (int x = 0; x < w; ++x) out[x] = luminance(bgr[3 * x + 2], bgr[3 * x + 1], bgr[3 * x]);
  return true;
}

bool RowReader::component(int y, int code, std::uint8_t* out) const {
  if (!supported_) return false;
  if (code == kCompGray) return gray(y, out);
  if (code < kCompGray || code > kCompHue) return false;
  const int w = width();
  if (type_ == kBW || type_ == kGray) {
    if (code >= kCompChroma) {
      std::memset(out, 0, static_cast<std::size_t>(w));
      return true;
    }
    return gray(y, out);
  }
  if ((depth_ == 4 || depth_ == 8) && code <= kCompBlue) {
    const auto& lut = code == kCompRed ? red_ : code == kCompGreen ? green_ : blue_;
    table_component(v_.row(y), lut, out);
    return true;
  }
  std::vector<std::uint8_t> bgr(static_cast<std::size_t>(w) * 3);
  rgb(y, bgr.data());
  for (int x = 0; x < w; ++x) {
    const int b = bgr[3 * x], g = bgr[3 * x + 1], r = bgr[3 * x + 2];
    switch (code) {
      case kCompRed: out[x] = static_cast<std::uint8_t>(r); break;
      case kCompGreen: out[x] = static_cast<std::uint8_t>(g); break;
      case kCompBlue: out[x] = static_cast<std::uint8_t>(b); break;
      case kCompChroma: out[x] = static_cast<std::uint8_t>(std::max({r, g, b}) - std::min({r, g, b})); break;
      default: out[x] = hue_of(r, g, b); break;
    }
  }
  return true;
}

void RowReader::rgb_indexed(const std::uint8_t* src, std::uint8_t* out) const {
  const int w = width();
  for (int x = 0; x < w; ++x, out += 3) {
    int idx;
    if (depth_ == 8) {
      idx = src[x];
    } else if (depth_ == 4) {
      idx = (src[x >> 1] >> ((x & 1) ? 0 : 4)) & 0x0F;
    } else {
      idx = (src[x >> 3] >> (7 - (x & 7))) & 1;
    }
    out[0] = blue_[idx], out[1] = green_[idx], out[2] = red_[idx];
  }
}

bool RowReader::rgb(int y, std::uint8_t* out) const {
  if (!supported_) return false;
  const std::uint8_t* s = v_.row(y);
  const int w = width();
  switch (depth_) {
    case 1:
    case 4:
    case 8: rgb_indexed(s, out); return true;
    case 16:
      if (type_ == kGray) {
        for (int x = 0; x < w; ++x, out += 3) out[0] = out[1] = out[2] = s[2 * x + 1];
      } else {
        for (int x = 0; x < w; ++x, out += 3) {
          const std::uint32_t p = load16(s + 2 * x);
          for (int c = 0; c < 3; ++c) {
            out[2 - c] = expand_field((p & mask_[c]) >> shift_[c], bits_[c]);
          }
        }
      }
      return true;
    case 24:
      if (type_ == kCMY) {
        for (int x = 0; x < w; ++x, s += 3, out += 3) {
          out[0] = 255 - s[2], out[1] = 255 - s[1], out[2] = 255 - s[0];
        }
      } else {
        std::memcpy(out, s, static_cast<std::size_t>(w) * 3);
      }
      return true;
    case 32:
      if (type_ == kCMYK) {
        for (int x = 0; x < w; ++x, s += 4, out += 3) cmyk_to_rgb(s[0], s[1], s[2], s[3], out);
      } else {
        for (int x = 0; x < w; ++x, s += 4, out += 3) out[0] = s[0], out[1] = s[1], out[2] = s[2];
      }
      return true;
    case 48:
      if (type_ == kCMY) {
        for (int x = 0; x < w; ++x, s += 6, out += 3) {
          out[0] = static_cast<std::uint8_t>(255 - s[5]);
          out[1] = static_cast<std::uint8_t>(255 - s[3]);
          out[2] = static_cast<std::uint8_t>(255 - s[1]);
        }
      } else {
        for (int x = 0; x < w; ++x, s += 6, out += 3) out[0] = s[1], out[1] = s[3], out[2] = s[5];
      }
      return true;
    default: return false;
  }
}

bool RowReader::gray16(int y, std::uint16_t* out) const {
  if (!supported_) return false;
  const int w = width();
  const std::uint8_t* s = v_.row(y);
  if (depth_ == 16 && type_ == kGray) {
    for (int x = 0; x < w; ++x) out[x] = load16(s + 2 * x);
    return true;
  }
  if (depth_ == 48) {
    for (int x = 0; x < w; ++x, s += 6) {
      std::uint32_t b = load16(s), g = load16(s + 2), r = load16(s + 4);
      if (type_ == kCMY) {
        const std::uint32_t c = b, m = g, yy = r;
        r = 65535 - c, g = 65535 - m, b = 65535 - yy;
      }
      out[x] = luminance16(r, g, b);
    }
    return true;
  }
  std::vector<std::uint8_t> g8(static_cast<std::size_t>(w));
  if (!gray(y, g8.data())) return false;
  for (int x = 0; x < w; ++x) out[x] = detail::sample8_to_16(g8[x]);
  return true;
}

bool RowReader::rgb48(int y, std::uint16_t* out) const {
  if (!supported_) return false;
  const int w = width();
  const std::uint8_t* s = v_.row(y);
  if (depth_ == 48) {
    for (int x = 0; x < w; ++x, s += 6, out += 3) {
      if (type_ == kCMY) {
        out[0] = static_cast<std::uint16_t>(65535 - load16(s + 4));
        out[1] = static_cast<std::uint16_t>(65535 - load16(s + 2));
        out[2] = static_cast<std::uint16_t>(65535 - load16(s));
      } else {
        out[0] = load16(s), out[1] = load16(s + 2), out[2] = load16(s + 4);
      }
    }
    return true;
  }
  if (depth_ == 16 && type_ == kGray) {
    for (int x = 0; x < w; ++x, out += 3) out[0] = out[1] = out[2] = load16(s + 2 * x);
    return true;
  }
  std::vector<std::uint8_t> bgr(static_cast<std::size_t>(w) * 3);
  if (!rgb(y, bgr.data())) return false;
  for (std::size_t i = 0; i < bgr.size(); ++i) out[i] = detail::sample8_to_16(bgr[i]);
  return true;
}

}  // namespace dib
