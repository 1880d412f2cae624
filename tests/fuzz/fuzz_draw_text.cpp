// Fuzz target: any text, box, flags, height, angle, colours and face drawn
// on a small page of any depth: no crash, no image handle left behind, no
// error recorded, and rows outside the box as they were.
//
// Input: 16 bytes of settings, then the text.
//   0 page kind (depth and type)   1 width - 1 (0..63)   2 height - 1 (0..63)
//   3..6 box x, y, w, h (signed)   7..8 flags   9 text height (signed)
//   10 angle / 10                  11..14 colour and background alpha
//   15 face: 0..3 from a list, else that many bytes of the text
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/error_record.h"
#include "orivane/errors.h"
#include "dib/text_draw.h"
#include "orivane/dib_api.h"
#include "orivane/dib_text.h"

namespace {

struct Kind {
  int type, depth;
};
constexpr Kind kKinds[] = {{DIB_PT_BW, 1},       {DIB_PT_GRAY, 4},  {DIB_PT_GRAY, 8},  {DIB_PT_PALETTE, 8},
                           {DIB_PT_GRAY, 16},    {DIB_PT_RGB, 16},  {DIB_PT_RGB, 24},  {DIB_PT_RGB, 32},
                           {DIB_PT_CMYK, 32},    {DIB_PT_RGB, 48},  {DIB_PT_CMY, 24}};
constexpr const char* kFaces[] = {"", "Courier", "times", "No Such Face"};

std::vector<std::vector<std::uint8_t>> rows_of(DIB_HANDLE h) {
  std::vector<std::vector<std::uint8_t>> rows;
  for (int y = 0; y < DIB_Height(h); ++y) {
    std::vector<std::uint8_t> row(static_cast<std::size_t>(DIB_RowBytes(h)));
    DIB_ReadRow(h, y, row.data(), static_cast<int32_t>(row.size()));
    rows.push_back(row);
  }
  return rows;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 16) return 0;
  const auto s8 = [&](std::size_t i) { return static_cast<int>(static_cast<std::int8_t>(data[i])); };
  core::error_reset_for_tests();
  const int live = DIB_LiveImageCount();
  const Kind kind = kKinds[data[0] % (sizeof kKinds / sizeof kKinds[0])];
  const int w = 1 + data[1] % 64, h = 1 + data[2] % 64;
  const DIB_HANDLE page = DIB_Create(kind.type, w, h, kind.depth);
  std::vector<std::uint8_t> fill(static_cast<std::size_t>(DIB_RowBytes(page)), static_cast<std::uint8_t>(data[11]));
  for (int y = 0; y < h; ++y) DIB_WriteRow(page, y, fill.data(), static_cast<int32_t>(fill.size()));
  DIB_SetResolution(page, 72 + data[12], 72 + data[13]);

  std::string text(reinterpret_cast<const char*>(data) + 16, size - 16);
  std::string face = data[15] < 4 ? kFaces[data[15]] : text.substr(0, data[15] % 40);
  DIB_ResetTextSettings();
  DIB_SetTextFace(face.c_str());
  DIB_SetTextFlags(data[7] | data[8] << 8);
  DIB_SetTextHeight(s8(9));
  DIB_SetTextAngle(s8(10) * 10);
  DIB_SetTextColor(data[11], data[12], data[13]);
  DIB_SetTextBackground(data[13], data[12], data[11], data[14]);
  const auto before = rows_of(page);
  DIB_DrawText(page, text.c_str(), s8(3), s8(4), s8(5), s8(6));

  // Rows outside the box are untouched.
  const auto box = dib::text_box_on_page({s8(3), s8(4), s8(5), s8(6)}, w, h);
  const auto after = rows_of(page);
  for (int y = 0; y < h; ++y) {
    const bool inside = box && y >= box->y && y < box->y + box->h;
    if (!inside && after[static_cast<std::size_t>(y)] != before[static_cast<std::size_t>(y)]) __builtin_trap();
  }
  DIB_Free(page);
  if (DIB_LiveImageCount() != live || TWAIN_LastErrorCode() != 0) __builtin_trap();
  return 0;
}
