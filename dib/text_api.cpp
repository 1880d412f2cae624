// The C surface of text drawing: the drawing call and the text settings.
#include "orivane/dib_text.h"

#include <algorithm>
#include <cstdint>
#include <exception>

#include "dib/dib.h"
#include "dib/edit.h"
#include "dib/text_draw.h"
#include "log/trace.h"

namespace {

unsigned long hex(std::uintptr_t v) { return static_cast<unsigned long>(v); }

int byte(int32_t v) { return std::clamp(v, 0, 255); }

// Drawing never records an error: an image it cannot use is traced and left.
bool usable(DIB_HANDLE h) {
  if (h == 0 || !dib::dib_is_block(h)) return false;
  try {
    const dib::Locked lock(h);
    return dib::is_valid(lock.view()) && lock->rows_ok();
  } catch (...) {
    return false;
  }
}

}  // namespace

int32_t DIB_DrawText(DIB_HANDLE h, const char* text, int32_t x, int32_t y, int32_t w, int32_t ht) {
  LogDibCall("DrawText(0x%lx, 0x%lx, xywh=%d,%d,%d,%d)\n", hex(h), hex(reinterpret_cast<std::uintptr_t>(text)), x,
             y, w, ht);
  LogNest nest;
  if (!usable(h)) {
    LogPrint("* invalid DIB!\n");
    return 0;
  }
  if (text == nullptr) {
    LogPrint("* NULL text ptr\n");
    return 0;
  }
  try {
    const dib::Locked page(h);
    return dib::draw_text(page.view(), text, {x, y, w, ht}, dib::text_settings()) ? 1 : 0;
  } catch (const std::exception&) {
    LogPrint("DrawText-CreateBitmap failed.\n");
    return 0;
  }
}

void DIB_SetTextFace(const char* face) {
  LogDibCall("SetTextFace('%s')\n", face ? face : "(null)");
  try {
    dib::text_settings().face = dib::text_face_normalise(face ? face : "");
  } catch (const std::exception&) {
    LogPrint("SetTextFace: no memory\n");
  }
}

void DIB_SetTextHeight(int32_t height) {
  LogDibCall("SetTextHeight(%d)\n", height);
  dib::text_settings().height = height > 0 ? height : DIB_TEXT_DEFAULT_HEIGHT;
}

void DIB_SetTextColor(int32_t red, int32_t green, int32_t blue) {
  LogDibCall("SetTextColor(%d, %d, %d)\n", red, green, blue);
  dib::TextSettings& s = dib::text_settings();
  s.red = byte(red), s.green = byte(green), s.blue = byte(blue);
}

int32_t DIB_GetTextColor(int32_t* out_red, int32_t* out_green, int32_t* out_blue) {
  const dib::TextSettings& s = dib::text_settings();
  if (out_red) *out_red = s.red;
  if (out_green) *out_green = s.green;
  if (out_blue) *out_blue = s.blue;
  return s.red | s.green << 8 | s.blue << 16;
}

void DIB_SetTextBackground(int32_t red, int32_t green, int32_t blue, int32_t alpha) {
  LogDibCall("SetTextBackground(%d, %d, %d, %d)\n", red, green, blue, alpha);
  dib::TextSettings& s = dib::text_settings();
  s.bg_red = byte(red), s.bg_green = byte(green), s.bg_blue = byte(blue), s.bg_alpha = byte(alpha);
}

void DIB_SetTextFlags(int32_t flags) {
  LogDibCall("SetTextFlags(0x%x)\n", static_cast<unsigned>(flags));
  dib::text_settings().flags = flags;
}

void DIB_SetTextAngle(int32_t degrees) {
  LogDibCall("SetTextAngle(%d)\n", degrees);
  const long tenths = static_cast<long>(degrees) * 10 % 3600;
  dib::text_settings().angle = static_cast<int>(tenths < 0 ? tenths + 3600 : tenths);
}

void DIB_ResetTextSettings(void) {
  LogDibCall("ResetTextSettings()\n");
  dib::text_settings() = dib::TextSettings{};
}
