// The row readers: every analysis and conversion reads image rows through
// these, which turn any supported layout into one byte per pixel (a gray level
// or one colour component), into 24-bit colour, or, for the 16-bit-per-sample
// paths, into 16-bit gray or 48-bit colour.
//
// A reader is made once per image: it checks that the rows are usable and
// prepares lookup tables from the colour table, so each row costs one pass.
// Identity-ramp 8-bit and 16-level 4-bit gray images skip the table.
#pragma once
#include <array>
#include <cstdint>

#include "dib/dib.h"

namespace dib {

// Component codes of the one-byte reader.
enum Component : int { kCompGray = 0, kCompRed = 1, kCompGreen = 2, kCompBlue = 3, kCompChroma = 4, kCompHue = 5 };

class RowReader {
 public:
  // Throws (see DibView::require_rows) when the rows cannot be read.
  explicit RowReader(const DibView& v);

  int width() const { return v_.width(); }
  int height() const { return v_.height(); }
  int pixel_type() const { return type_; }
  // Whether the layout is one the readers know; otherwise reads leave the
  // buffer unchanged and return false.
  bool supported() const { return supported_; }

  // One byte per pixel into out[0..width).
  bool gray(int y, std::uint8_t* out) const;
  bool component(int y, int code, std::uint8_t* out) const;
  // Blue, green, red per pixel into out[0..3 x width).
  bool rgb(int y, std::uint8_t* out) const;
  // 16-bit forms: exact for 16-bit gray and 48-bit sources, samples x 257
  // for the others.
  bool gray16(int y, std::uint16_t* out) const;
  bool rgb48(int y, std::uint16_t* out) const;
  // Whether the source keeps 16 bits per sample.
  bool wide() const { return depth_ == 48 || (depth_ == 16 && type_ == kGray); }

 private:
  void gray_indexed(const std::uint8_t* src, std::uint8_t* out) const;
  void table_component(const std::uint8_t* src, const std::array<std::uint8_t, 256>& lut,
                       std::uint8_t* out) const;
  void rgb_indexed(const std::uint8_t* src, std::uint8_t* out) const;

  const DibView& v_;
  int depth_;
  int type_;
  bool supported_ = true;
  bool identity_ = false;  // 8-bit identity ramp or 4-bit ramp in steps of 17
  std::array<std::uint8_t, 256> lum_{}, red_{}, green_{}, blue_{};
  std::array<std::uint64_t, 256> expand1_{};  // 1-bit: eight gray bytes per source byte
  // 16-bit colour: mask, shift and width of each field (red, green, blue)
  std::array<std::uint32_t, 3> mask_{}, shift_{}, bits_{};
};

}  // namespace dib
