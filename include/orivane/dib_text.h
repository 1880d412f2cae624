/* Text drawing on images: a line or a block of text rendered with a font of
 * the system into a box of a page of any depth, anti-aliased on gray and
 * colour pages, optionally over a translucent background.
 *
 * The text settings (face, height, colour, background, flags, angle) are
 * process-wide: set them, then draw. They keep their values from one drawing
 * to the next until changed or reset (DIB_ResetTextSettings, TWAIN_ResetAll).
 *
 * Fonts: the face is found through fontconfig and drawn by FreeType. "Arial",
 * "Courier New" and "Times New Roman" are drawn with installed faces of the
 * same metrics (Liberation Sans, Mono and Serif; DejaVu when those are not
 * installed); any other name is matched by fontconfig, and a name that
 * matches no installed face is drawn with the default face ("Arial"), which
 * the trace notes. Bold and italic use the face's own bold and italic styles,
 * or are made from the regular style when the face has none.
 *
 * Text is read as UTF-8; a byte that does not begin a valid UTF-8 sequence is
 * read as one Latin-1 character, so no text is lost to a stray byte. "\n"
 * (or "\r\n") starts a new line; a tab is drawn as a space and other control
 * characters are left out (the trace counts them).
 *
 * The same rules as dib_api.h hold for handles. Drawing records no error in
 * the error record: what went wrong is written to the trace.
 */
#ifndef ORIVANE_DIB_TEXT_H
#define ORIVANE_DIB_TEXT_H

#include <stdint.h>

#include "orivane/dib_api.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Text flags (DIB_SetTextFlags). Without a horizontal bit lines start at the
 * left of the box; without a vertical bit the block stands at its top. */
enum {
  DIB_TEXT_BOLD = 0x0001,
  DIB_TEXT_ITALIC = 0x0002,      /* also narrows the usable line by height / 6 */
  DIB_TEXT_UNDERLINE = 0x0004,
  DIB_TEXT_STRIKEOUT = 0x0008,
  DIB_TEXT_BOTTOM = 0x0100,      /* the block at the bottom of the box */
  DIB_TEXT_VCENTER = 0x0200,     /* the block centred vertically */
  DIB_TEXT_JUSTIFY = 0x0800,     /* lines that nearly fill the box are stretched to it */
  DIB_TEXT_CENTER = 0x1000,      /* each line centred (its outer spaces dropped) */
  DIB_TEXT_RIGHT = 0x2000,       /* each line against the right of the box */
  DIB_TEXT_WRAP = 0x4000         /* long lines wrapped at spaces */
};

/* The longest face name kept, in bytes; longer names are cut. */
#define DIB_TEXT_FACE_MAX 127
/* The height used for heights of 0 or less, in pixels. */
#define DIB_TEXT_DEFAULT_HEIGHT 14

/* Draws `text` into the box (x, y, w, h) of the page: pixels, rows counted
 * from the top.
 *   dib:  in: the page; changed in place.
 *   text: in: UTF-8 text (see above); null draws nothing.
 *   x, y, w, h: the box. A width below 1, or a box reaching past the right
 *         edge, becomes the page's width less 2-pixel margins (x = 2 when x
 *         was below 1); the same for the height. A box partly outside the
 *         page is cut to the page; one wholly outside draws nothing.
 * Lines are laid out in the box with the current settings; text that does
 * not fit is cut off at the box. On GRAY and RGB pages (any depth) the text
 * is drawn at twice the size and scaled down, so its edges carry
 * intermediate levels; 1-bit pages stay black and white: each pixel under
 * the text takes the table entry nearest the colour (with the usual table
 * white text sets bits and black text clears them; with an inverted table
 * the text still shows). Palette and 4-bit pages take the nearest colour of
 * their table. The angle setting
 * turns the text by quarter turns, the block placed in the box as the flags
 * say in the page's terms (DIB_TEXT_RIGHT with an angle of 90 stands at the
 * right of the box, reading downwards).
 * Returns 1 when text or background was drawn, 0 when nothing was (invalid
 * image, null text, a box outside the page, no usable font, no memory);
 * the trace says why. No error is recorded. Memory: a 1-bit mask of at
 * most 4 x the box's pixels (gray and colour pages; 1 x otherwise), then a
 * byte of coverage per pixel of the drawn rows. */
int32_t DIB_DrawText(DIB_HANDLE dib, const char* text, int32_t x, int32_t y, int32_t w, int32_t h);

/* Sets the face name. Null or "" means "Arial"; "Courier" (any letter case)
 * becomes "Courier New" and "Times" "Times New Roman"; other names are kept
 * as given, cut to DIB_TEXT_FACE_MAX bytes. */
void DIB_SetTextFace(const char* face);
/* Sets the text height: the font's em size in pixels of the page's vertical
 * direction. 0 or less means DIB_TEXT_DEFAULT_HEIGHT. */
void DIB_SetTextHeight(int32_t height);
/* Sets the text colour; components are clamped to 0..255. */
void DIB_SetTextColor(int32_t red, int32_t green, int32_t blue);
/* The text colour: each non-null out parameter gets its component.
 * Returns the colour packed as 0x00BBGGRR. */
int32_t DIB_GetTextColor(int32_t* out_red, int32_t* out_green, int32_t* out_blue);
/* Sets the background laid under the text block: colour and opacity alpha
 * (0 = none, the default; 255 = opaque); each clamped to 0..255. */
void DIB_SetTextBackground(int32_t red, int32_t green, int32_t blue, int32_t alpha);
/* Sets the text flags (DIB_TEXT_*); other bits are kept and ignored. */
void DIB_SetTextFlags(int32_t flags);
/* Sets the text angle in degrees, clockwise as displayed: 90 reads from top
 * to bottom, -90 (or 270) from bottom to top, 180 upside down. Stored in
 * tenths of a degree modulo 3600. Angles between quarter turns are drawn at
 * the nearest quarter turn (the trace notes it). */
void DIB_SetTextAngle(int32_t degrees);
/* Every text setting back to its default: "Arial", 14 pixels, black, no
 * background, flags 0, angle 0. */
void DIB_ResetTextSettings(void);

#ifdef __cplusplus
}
#endif
#endif
