/* Page analysis: blank-page judgement, skew estimation and deskew, automatic
 * crop, automatic contrast, region statistics and level operations.
 *
 * The same rules as dib_api.h hold for handles, ownership and errors. Angles
 * of the skew family are in radians unless the name says degrees; positive
 * angles turn the picture counter-clockwise as displayed.
 */
#ifndef ORIVANE_DIB_ANALYSIS_H
#define ORIVANE_DIB_ANALYSIS_H

#include <stdint.h>

#include "orivane/dib_api.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Blank pages ---- */

/* 1 when less than `threshold` (a fraction, 0.02 = 2 %) of the page, its outer
 * 5 % left out, is dark; else 0 (also for a null or stale handle, an empty
 * page, or one whose rows cannot be read). Dark means below the page's
 * automatic threshold; on 1-bit pages, showing black. Traces the fraction and
 * the result; records no error. */
int32_t DIB_IsBlank(DIB_HANDLE dib, double threshold);
/* The dark fraction DIB_IsBlank compares (0..1), or -1 when the page has no
 * measurable area or cannot be read. Records no error. */
double DIB_DarkFraction(DIB_HANDLE dib);
/* Fills hist[0..255] with the histogram of the region (left, top, right,
 * bottom, right and bottom exclusive, rows from the top, clipped to the image;
 * null = the whole image). `mode`: 0 gray level, 1 red, 2 green, 3 blue,
 * 4 chroma, 5 hue. 1 on success; 0 (counters cleared when `hist` is given)
 * for a null `hist`, another mode, or an image that cannot be read. Records
 * no error. */
int32_t DIB_GrayHistogram(DIB_HANDLE dib, int32_t mode, uint32_t hist[256], const int32_t region[4]);

/* ---- Skew ---- */

/* The value of an angle search that found no skew; any value not above -9
 * means the same. */
#define DIB_NO_SKEW (-99.0)

/* The estimated skew of the page's text lines in radians: the angle it must
 * be turned by to be straight (positive: counter-clockwise), found between
 * about -13.7 and +13.7 degrees; DIB_NO_SKEW when no angle stands out (blank
 * pages, pictures), for a null handle, or with ERR_BAD_DIB recorded for a
 * stale one. Any layout is read as gray levels. The page is not changed. */
double DIB_DeskewAngle(DIB_HANDLE dib);
/* Turns the image in place by `degrees` about its centre (positive:
 * counter-clockwise) with two shears; width, height, depth, colour table and
 * resolution are kept, content turned past the edges is lost and the
 * uncovered corners are filled from the page's edges. Meant for skews of a
 * few degrees: the shears equal a true turn followed by a scale of cos(angle)
 * across and 1 / cos(angle) down. 1 on success (also when the turn is too
 * small to move a pixel); 0 for a null handle, or with ERR_BAD_DIB recorded
 * for a stale one. */
int32_t DIB_SkewByDegrees(DIB_HANDLE dib, double degrees);
/* The same in radians (nothing for |radians| <= 0.001 or an angle that is
 * not finite). DIB_SkewByRadians(dib, DIB_DeskewAngle(dib)) straightens. */
int32_t DIB_SkewByRadians(DIB_HANDLE dib, double radians);
/* A new, straightened copy of the page (the caller owns it; `dib` is kept):
 * estimated and turned when a skew was found, else an unchanged copy. 0 for a
 * null handle, when the copy cannot be made, or with the error recorded for a
 * stale handle or pixel rows that cannot be read. */
DIB_HANDLE DIB_AutoDeskew(DIB_HANDLE dib);

/* ---- Automatic crop ---- */

/* Crop option bits; 0 means DARK | LIGHT | EDGE. DARK: the background is
 * dark; LIGHT: it is light; EDGE: also look for a plain edge between similar
 * gray levels; CHECK, CHECK_BACK: cheque mode (front or back), which looks
 * for a document within the cheque size range. */
enum {
  DIB_CROP_DARK = 1,
  DIB_CROP_LIGHT = 2,
  DIB_CROP_EDGE = 4,
  DIB_CROP_CHECK = 8,
  DIB_CROP_CHECK_BACK = 16
};

/* Finds the document on a scanned page. `options`: the bits above.
 * Out (each may be null): x, y = the top-left corner in pixels (rows from the
 * top), w, h = the size in pixels; the whole image when nothing is found, 0
 * on failure. Returns 1 when a rectangle other than the whole image was
 * found, else 0 (also for pages of only pure white or black rows, and in
 * cheque mode for pages without a resolution). The page is not changed.
 * Records ERR_BAD_DIB for a null or stale handle, error 58 "DIB_AvgRegion"
 * for a layout whose rows cannot be read, 58 "CreateEdgeMap" or
 * "FindCropEdges" when an edge map fails. */
int32_t DIB_GetCropRect(DIB_HANDLE dib, int32_t options, int32_t* x, int32_t* y, int32_t* w,
                        int32_t* h);
/* A new image (same depth, colour table and resolution; the caller owns it)
 * holding the rectangle DIB_GetCropRect finds, or 0 when it finds none or
 * fails (errors as there). The caller keeps and frees `dib`. */
DIB_HANDLE DIB_AutoCrop(DIB_HANDLE dib, int32_t options);
/* Sets the document size range the crop may choose, process-wide until
 * changed, cleared or reset: widths min_w..max_w and heights min_h..max_h in
 * TWAIN unit `unit` (0 inches, 1 cm, 2 picas, 3 points, 4 twips; other codes
 * count as inches). A range is in force when its minimum is not above its
 * maximum and the maximum is above 0; otherwise cheque mode looks for 5.71 to
 * 9 x 2.21 to 4.5 inches and other modes take any size. */
void TWAIN_SetAutoCropSizeRange(double min_w, double max_w, double min_h, double max_h, int32_t unit);
/* The same with minimum = maximum: a document of exactly w x h. */
void TWAIN_SetAutoCropSize(double w, double h, int32_t unit);
/* Both set the four sizes to 0 (no range in force). */
void TWAIN_ClearAutoCropSizeRange(void);
void TWAIN_ClearAutoCropSize(void);
/* Finds areas of at least min_w x min_h pixels (each at least 1) whose
 * average gray level is at least `brightness` (0..255), top to bottom and
 * left to right, each grown as far as it stays that bright. They are measured
 * on a copy reduced (min_w + 4) / 5 times across and (min_h + 4) / 5 times
 * down, so positions and sizes are multiples of those factors. Out: up to
 * `capacity` rectangles in xs, ys, ws, hs (pixels, rows from the top; null
 * arrays are not written). Returns how many were found (at most `capacity`);
 * 0 on failure, with ERR_BAD_DIB recorded for a null or stale handle. */
int32_t DIB_GetBrightRects(DIB_HANDLE dib, int32_t min_w, int32_t min_h, int32_t brightness,
                           int32_t* xs, int32_t* ys, int32_t* ws, int32_t* hs, int32_t capacity);

/* ---- Region statistics ---- */

/* Component codes: 0 gray level, 1 red, 2 green, 3 blue. */
/* The average of `component` over the region x, y, w x h (pixels, rows from
 * the top), clipped to the image; 0 for an empty region. -1 on failure: error
 * 58 "DIB_AvgRegion" when the rows cannot be read (or for another component
 * code), ERR_BAD_DIB for a null or stale handle. */
double DIB_AvgRegion(DIB_HANDLE dib, int32_t component, int32_t x, int32_t y, int32_t w, int32_t h);
/* A new one-row 8-bit gray image of width w (the caller owns it) whose pixel
 * j is the integer average of `component` over rows y..y + h - 1 at column
 * x + j, rows and columns clipped to the image (0 where none is left); its
 * X resolution is the source's. 0 on failure: ERR_MEMORY, error 58 (unreadable
 * rows), ERR_BAD_PARAMETER for w below 1, each with "DIB_ProjectColumns";
 * ERR_BAD_DIB for a null or stale handle. */
DIB_HANDLE DIB_ProjectColumns(DIB_HANDLE dib, int32_t x, int32_t y, int32_t w, int32_t h,
                              int32_t component);
/* A new one-row gray image as wide as the source is high (the caller owns
 * it): pixel i is the average of `component` over row i, its fraction
 * dropped. 16 bits per pixel for 16-bit gray and 48-bit colour sources,
 * else 8; its X resolution is the source's Y resolution. 0 on failure, with
 * the errors of DIB_ProjectColumns (under that name). */
DIB_HANDLE DIB_ProjectRows(DIB_HANDLE dib, int32_t component);

/* ---- Contrast and levels ---- */

/* The level operations change the image in place. Gray images map each
 * pixel; 24-, 32- and 48-bit RGB images map the luminance and keep the hue
 * (the fourth byte of 32-bit pixels is kept); 1-bit images keep their colour
 * table and have their bits kept, inverted or all set alike; colour-mapped,
 * CMY and CMYK images are left as they are. Each returns 1 on success, 0 with
 * ERR_BAD_DIB recorded for a stale handle or ERR_BAD_PARAMETER for a setting
 * out of range. */

/* Stretches the page's gray levels so paper becomes white and ink black. 1
 * when applied or nothing needed changing; 0 with ERR_FAILURE
 * ("DIB_AutoContrast") recorded when the page has no pixels or its rows
 * cannot be read, the page unchanged. Traces the peaks it found. */
int32_t DIB_AutoContrast(DIB_HANDLE dib);
/* A new 8-bit gray image of the same size and resolution holding the edge
 * strength (the caller owns it): `mode` 0 vertical, 1 horizontal gradient (each
 * signed, negative values 0), 2 their absolute sum, 3 the spread maximum used
 * to find document outlines; `threshold` > 0 turns weaker values to 0. 0 with
 * ERR_BAD_PARAMETER for another mode, ERR_MEMORY when it cannot be made. */
DIB_HANDLE DIB_EdgeStrength(DIB_HANDLE dib, int32_t mode, int32_t threshold);
/* Brightness and contrast, each -1000..1000 (0 = unchanged): contrast c scales
 * levels about mid-gray by 128^(c/1000), brightness b adds b x 255 / 1000. */
int32_t DIB_BrightnessContrast(DIB_HANDLE dib, int32_t brightness, int32_t contrast);
/* Maps every gray level (for colour images the luminance) through
 * `table[0..255]`; the caller keeps the table. */
int32_t DIB_ApplyLevelTable(DIB_HANDLE dib, const uint8_t table[256]);
/* Reduces every sample (each of red, green and blue for colour images) to
 * `levels` levels, at least 2; 256 or more leaves the image as it is. */
int32_t DIB_Posterize(DIB_HANDLE dib, int32_t levels);

#ifdef __cplusplus
}
#endif

#endif
