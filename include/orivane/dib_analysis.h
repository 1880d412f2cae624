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

/* 1 when less than `threshold` (a fraction) of the page, its outer 5 % left
 * out, is dark; else 0 (also for a null handle or an empty page). */
int32_t DIB_IsBlank(DIB_HANDLE dib, double threshold);
/* The dark fraction DIB_IsBlank compares, or -1 when the page has no
 * measurable area. */
double DIB_DarkFraction(DIB_HANDLE dib);
/* Fills hist[0..255] with the gray histogram of the region (left, top, right,
 * bottom, right and bottom exclusive, rows from the top; null = the whole
 * image). `mode` 0 counts gray levels. 1 on success, 0 on failure. */
int32_t DIB_GrayHistogram(DIB_HANDLE dib, int32_t mode, uint32_t hist[256], const int32_t region[4]);

/* ---- Skew ---- */

/* The value of an angle search that found no skew; any value not above -9
 * means the same. */
#define DIB_NO_SKEW (-99.0)

/* The estimated skew of the page in radians (the angle it must be turned by
 * to be straight), or DIB_NO_SKEW. */
double DIB_DeskewAngle(DIB_HANDLE dib);
/* Turns the image in place by `degrees`; size, depth and resolution kept.
 * 1 on success. */
int32_t DIB_SkewByDegrees(DIB_HANDLE dib, double degrees);
/* Turns the image in place by `radians` (nothing for |radians| <= 0.001). */
int32_t DIB_SkewByRadians(DIB_HANDLE dib, double radians);
/* A new, straightened copy of the page (estimated and turned when a skew was
 * found, else an unchanged copy); 0 when the copy cannot be made. */
DIB_HANDLE DIB_AutoDeskew(DIB_HANDLE dib);

/* ---- Automatic crop ---- */

/* Crop option bits; 0 means DARK | LIGHT | EDGE. */
enum {
  DIB_CROP_DARK = 1,
  DIB_CROP_LIGHT = 2,
  DIB_CROP_EDGE = 4,
  DIB_CROP_CHECK = 8,
  DIB_CROP_CHECK_BACK = 16
};

/* The document's rectangle on the page (x, y from the top-left). 1 when a
 * rectangle other than the whole image was found, else 0. */
int32_t DIB_GetCropRect(DIB_HANDLE dib, int32_t options, int32_t* x, int32_t* y, int32_t* w,
                        int32_t* h);
/* A new image cut to the rectangle DIB_GetCropRect finds, or 0 when it finds
 * none; the caller keeps `dib`. */
DIB_HANDLE DIB_AutoCrop(DIB_HANDLE dib, int32_t options);
/* The document size range the crop may choose (TWAIN unit code `unit`). */
void TWAIN_SetAutoCropSizeRange(double min_w, double max_w, double min_h, double max_h, int32_t unit);
void TWAIN_SetAutoCropSize(double w, double h, int32_t unit);
void TWAIN_ClearAutoCropSizeRange(void);
void TWAIN_ClearAutoCropSize(void);
/* Rectangles of at least min_w x min_h pixels whose average gray level is at
 * least `brightness`; at most `capacity` written; returns how many. */
int32_t DIB_GetBrightRects(DIB_HANDLE dib, int32_t min_w, int32_t min_h, int32_t brightness,
                           int32_t* xs, int32_t* ys, int32_t* ws, int32_t* hs, int32_t capacity);

/* ---- Region statistics ---- */

/* Component codes: 0 gray level, 1 red, 2 green, 3 blue. */
/* The average component value over the region (clipped to the image); 0 for an
 * empty region, -1 on failure. */
double DIB_AvgRegion(DIB_HANDLE dib, int32_t component, int32_t x, int32_t y, int32_t w, int32_t h);
/* A one-row 8-bit gray image of width w: pixel j is the average of column
 * x + j over rows y..y + h - 1. */
DIB_HANDLE DIB_ProjectColumns(DIB_HANDLE dib, int32_t x, int32_t y, int32_t w, int32_t h,
                              int32_t component);
/* A one-row gray image as wide as the source is high: pixel i is the average
 * of row i. */
DIB_HANDLE DIB_ProjectRows(DIB_HANDLE dib, int32_t component);

/* ---- Contrast and levels ---- */

/* Stretches the page's gray levels in place so paper becomes white and ink
 * black. 1 when applied or nothing needed changing, 0 on failure. */
int32_t DIB_AutoContrast(DIB_HANDLE dib);
/* A new 8-bit gray image of the edge strength: mode 0 vertical, 1 horizontal
 * gradient, 2 their sum, 3 the spread maximum; values below `threshold`
 * become 0. */
DIB_HANDLE DIB_EdgeStrength(DIB_HANDLE dib, int32_t mode, int32_t threshold);
/* Brightness and contrast, each -1000..1000, in place. */
int32_t DIB_BrightnessContrast(DIB_HANDLE dib, int32_t brightness, int32_t contrast);
/* Maps every gray level (or colour sample) through `table`, in place. */
int32_t DIB_ApplyLevelTable(DIB_HANDLE dib, const uint8_t table[256]);
/* Reduces every sample to `levels` levels (at least 2), in place. */
int32_t DIB_Posterize(DIB_HANDLE dib, int32_t levels);

#ifdef __cplusplus
}
#endif

#endif
