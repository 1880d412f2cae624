/* The DIB family: the library's image handles and the operations on them.
 *
 * A DIB handle names one movable memory block holding a packed bitmap: the
 * 40-byte information header, the colour table (or three 32-bit masks for the
 * bit-field layout), then the pixel rows, each padded to a multiple of 4 bytes.
 * Rows are always addressed from the top of the picture (row 0 = top), whether
 * the block stores them bottom-up (positive height) or top-down.
 *
 * Ownership: a function that returns a new handle gives it to the caller, who
 * releases it with DIB_Free. A function that takes a handle never frees it
 * unless its name or comment says so. DIB_Free(0) does nothing.
 *
 * Errors: a null handle given to a query yields 0 and records nothing; a handle
 * that is stale, freed or not a DIB is refused (0 or null) and records
 * ERR_BAD_DIB. Operations that fail record their reason in the library's error
 * record (the first error wins, see errors.h).
 */
#ifndef ORIVANE_DIB_API_H
#define ORIVANE_DIB_API_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* An image handle; 0 is never a valid handle. */
typedef uintptr_t DIB_HANDLE;

/* Pixel types: the TWAIN pixel-type codes. */
enum {
  DIB_PT_BW = 0,
  DIB_PT_GRAY = 1,
  DIB_PT_RGB = 2,
  DIB_PT_PALETTE = 3,
  DIB_PT_CMY = 4,
  DIB_PT_CMYK = 5
};

/* Length units for resolutions and lengths: the TWAIN unit codes. */
enum {
  DIB_UNIT_INCHES = 0,
  DIB_UNIT_CENTIMETERS = 1,
  DIB_UNIT_PICAS = 2,
  DIB_UNIT_POINTS = 3,
  DIB_UNIT_TWIPS = 4
};

/* ---- Creation and release ------------------------------------------------ */

/* New image of `pixel_type` (DIB_PT_*), `width` x `height` pixels and `depth`
 * bits per pixel. depth <= 0 picks the type's usual depth (BW 1, GRAY and
 * PALETTE 8, CMYK 32, others 24); other depths are normalised to one of
 * 1, 4, 8, 16, 24, 32, 48 (15 -> 16, 2..4 -> 4, 5..8 -> 8, 9 and above -> 24).
 * Negative sizes count as 0. The colour table is the type's default (gray ramp,
 * standard palette; masks 0xFFFF for 16-bit gray); pixels are zero.
 * Returns the caller's new handle, or 0 with ERR_MEMORY recorded. */
DIB_HANDLE DIB_Create(int32_t pixel_type, int32_t width, int32_t height, int32_t depth);
/* As DIB_Create with the pixel type taken from the depth: 1 BW; 4, 8, 16 GRAY;
 * others RGB. */
DIB_HANDLE DIB_Allocate(int32_t depth, int32_t width, int32_t height);
/* Releases the image. 0 does nothing; a stale or foreign handle is left alone. */
void DIB_Free(DIB_HANDLE dib);
/* Releases every non-null entry among the first `count` entries of `array`;
 * the entries themselves are left as they were. */
void DIB_FreeArray(DIB_HANDLE* array, int32_t count);
/* Releases the image without the DIB_Free trace line (used by the library's
 * own layers, which trace for themselves). */
void DibFree(DIB_HANDLE dib);
/* New handle holding a byte-for-byte copy of the whole block; the caller owns
 * it. 0 for a null, stale or empty handle or when memory runs out. */
DIB_HANDLE DibCopy(DIB_HANDLE dib);
/* Number of image handles made and not yet released. */
int32_t DIB_LiveImageCount(void);

/* ---- Loading limit --------------------------------------------------------- */

/* The default of DIB_SetMaxImagePixels: 320 million pixels. The largest page a
 * scanner delivers, A3 (11.69 x 16.54 in) at 1200 dpi, is about 278 million
 * pixels; the rest is room for over-scan and larger beds. */
#define DIB_DEFAULT_MAX_IMAGE_PIXELS 320000000LL

/* Sets the largest image, in pixels (width x height), that the library's
 * loaders accept: every file and buffer reader (BMP, and the JPEG, TIFF, PNG,
 * GIF, DCX and PDF modules) refuses a larger image from its header, before any
 * memory is taken for it, and records the format's own error code (ERR_FILE_READ,
 * ERR_JPEG, ERR_TIFF, ERR_MEMORY for PDF) with a text naming the size and the
 * limit. Images made otherwise (DIB_Create, scans, conversions) are not
 * limited. Independently of this limit the loaders refuse an image that the
 * compressed data present in the file cannot fill, and keep their caps on the
 * bytes of one image (1 GiB of pixel data in the codec modules, 400 MB of
 * samples for a PDF page image).
 *   pixels: in: the new limit; 0 or negative restores the default
 *           (DIB_DEFAULT_MAX_IMAGE_PIXELS).
 * Returns the former limit. Settable from Orivane3.ini as MaxImagePixels=N.
 * Nothing is recorded. The limit stays until changed (TWAIN_ResetAll keeps it). */
int64_t DIB_SetMaxImagePixels(int64_t pixels);
/* The current loading limit in pixels (see DIB_SetMaxImagePixels). */
int64_t DIB_GetMaxImagePixels(void);

/* ---- Queries and setters ------------------------------------------------- */

/* Width and height in pixels (absolute values of the header fields). */
int32_t DIB_Width(DIB_HANDLE dib);
int32_t DIB_Height(DIB_HANDLE dib);
/* Bits per pixel. */
int32_t DIB_Depth(DIB_HANDLE dib);
/* Pixel type derived from depth, colour table and compression field (DIB_PT_*),
 * -1 for an unusual depth; DIB_PT_RGB when the handle cannot be used. */
int32_t DIB_PixelType(DIB_HANDLE dib);
/* 4 for CMYK and for 32-bit RGB/CMY, 3 for other RGB/CMY, else 1. */
int32_t DIB_SamplesPerPixel(DIB_HANDLE dib);
/* Bits per pixel / samples per pixel. */
int32_t DIB_BitsPerSample(DIB_HANDLE dib);
/* Bytes per stored row (a multiple of 4). */
int32_t DIB_RowBytes(DIB_HANDLE dib);
/* Resolution in dots per inch, from the stored pixels per metre; a value of 50
 * or more within 0.04 % of a whole number is returned as that number. */
double DIB_XResolution(DIB_HANDLE dib);
double DIB_YResolution(DIB_HANDLE dib);
/* The same rounded to the nearest whole number. */
int32_t DIB_XResolutionInt(DIB_HANDLE dib);
int32_t DIB_YResolutionInt(DIB_HANDLE dib);
/* Resolution in dots per `unit` (DIB_UNIT_*; other codes: per inch). */
double DIB_XResolutionInUnits(DIB_HANDLE dib, int32_t unit);
double DIB_YResolutionInUnits(DIB_HANDLE dib, int32_t unit);
/* Stores both resolutions, given in dots per inch, as pixels per metre
 * (integer part of dpi / 0.0254 + 0.5, clamped to the field's range). */
void DIB_SetResolution(DIB_HANDLE dib, double x_dpi, double y_dpi);
/* Converts `value` from length unit `from` to unit `to` (DIB_UNIT_*; other
 * codes count as inches). */
double DIB_ConvertLength(double value, int32_t from, int32_t to);

/* Entries in the colour table (0 for images without one). */
int32_t DIB_ColorCount(DIB_HANDLE dib);
/* Resizes the colour table of a 1-, 4- or 8-bit image to `count` entries
 * (1..2^depth; 0 = 2^depth), keeping the pixels; new entries are black.
 * Returns 1 on success, 0 when refused. */
int32_t DIB_SetColorCount(DIB_HANDLE dib, int32_t count);
/* Red, green, blue of colour-table entry `index`; 0 when index >= count. */
int32_t DIB_ColorTableR(DIB_HANDLE dib, int32_t index);
int32_t DIB_ColorTableG(DIB_HANDLE dib, int32_t index);
int32_t DIB_ColorTableB(DIB_HANDLE dib, int32_t index);
/* Sets entry `index` (ignored unless index < count); components 0..255. */
void DIB_SetColorTableRGB(DIB_HANDLE dib, int32_t index, int32_t red, int32_t green, int32_t blue);
/* 1 when entry 0 is white; 1 when entry 0 is black (also without a table). */
int32_t DIB_FirstEntryWhite(DIB_HANDLE dib);
int32_t DIB_FirstEntryBlack(DIB_HANDLE dib);
/* Makes the colour table the ascending gray ramp (16-bit gray: masks 0xFFFF). */
void DIB_SetGrayColorTable(DIB_HANDLE dib);
/* Marks (1) or unmarks (0) 24-, 32- and 48-bit data as subtractive colour:
 * CMY, or CMYK at 32 bits. Other depths are left alone. */
void DIB_SetSubtractive(DIB_HANDLE dib, int32_t on);
/* The low byte of the compression field: 0 plain, 3 bit fields, 5 CMY/CMYK. */
int32_t DIB_CompressionLowByte(DIB_HANDLE dib);
/* 1 when the pixel data is a compressed stream (second compression byte). */
int32_t DIB_IsCompressed(DIB_HANDLE dib);
/* The compression code of a compressed stream (0 = plain pixels). */
int32_t DIB_CompressionCode(DIB_HANDLE dib);
/* Sets that code, 0..255. */
void DIB_SetCompressionCode(DIB_HANDLE dib, int32_t code);
/* Trims the block to header + table + pixel data (rounded up to 4 bytes);
 * never cuts pixel rows. 1 on success, 0 on failure. */
int32_t DIB_ShrinkToPacked(DIB_HANDLE dib);
/* Makes `target` hold the contents of `source` and releases `source` (in every
 * case but target == source). 1 on success, 0 on failure. */
int32_t DIB_ReplaceContents(DIB_HANDLE target, DIB_HANDLE source);
/* Copies min(length, block size) bytes of the whole block into `buffer`.
 * Returns the bytes copied, 0 on failure. */
int32_t DIB_ReadData(DIB_HANDLE dib, void* buffer, int32_t length);
/* 1 when the header is one the library can draw on: size 40, one plane, at most
 * 256 colours, depth 1, 4, 8, 15, 16, 24, 32 or 48, and pixel data that fits
 * the block. */
int32_t DIB_IsValid(DIB_HANDLE dib);
/* Writes the header, colour table and a few middle rows to the trace log. */
void DIB_Dump(DIB_HANDLE dib);

/* ---- Row access (rows counted from the top) ------------------------------ */

/* Copies min(row bytes, length) bytes of row `row` into `buffer`. Returns the
 * bytes copied; 0 for a row outside the image or a null buffer. */
int32_t DIB_ReadRow(DIB_HANDLE dib, int32_t row, void* buffer, int32_t length);
/* Copies min(row bytes, length) bytes from `data` into row `row`. */
int32_t DIB_WriteRow(DIB_HANDLE dib, int32_t row, const void* data, int32_t length);
/* Copies the used bytes of a row ((depth x width + 7) / 8); `buffer` must hold
 * them. Returns the bytes copied. */
int32_t DIB_ReadPackedRow(DIB_HANDLE dib, int32_t row, void* buffer);
/* Copies the used bytes into a row and clears the bits beyond the width. */
int32_t DIB_WritePackedRow(DIB_HANDLE dib, int32_t row, const void* data);
/* For 8-bit-per-sample images: stores data[i] as sample `sample` of pixel i
 * (images with one sample: copies the row). `data` holds width bytes.
 * 1 on success, 0 when refused. */
int32_t DIB_WriteRowSample(DIB_HANDLE dib, int32_t row, const void* data, int32_t sample);
/* Component codes of DIB_ReadRowComponent. */
enum {
  DIB_COMP_GRAY = 0,
  DIB_COMP_RED = 1,
  DIB_COMP_GREEN = 2,
  DIB_COMP_BLUE = 3,
  DIB_COMP_CHROMA = 4,
  DIB_COMP_HUE = 5
};
/* Reads a row as one byte per pixel: the gray level or a component (DIB_COMP_*).
 * `buffer` holds at least width + 4 bytes. 1 on success, 0 when refused. */
int32_t DIB_ReadRowComponent(DIB_HANDLE dib, int32_t row, uint8_t* buffer, int32_t component);
/* Reads a row as 24-bit colour (blue, green, red per pixel); `buffer` holds at
 * least 3 x width + 4 bytes. 1 on success, 0 when refused. */
int32_t DIB_ReadRowRGB(DIB_HANDLE dib, int32_t row, uint8_t* buffer);

/* ---- Comparison ---------------------------------------------------------- */

/* 1 when both images have the same size, depth and resolutions and every row,
 * read as 24-bit colour, matches (the same handle is equal; null is not). */
int32_t DIB_Equal(DIB_HANDLE a, DIB_HANDLE b);
/* 1 when size, pixel type and depth agree, resolutions differ by at most
 * 0.02 DPI and no colour component differs by more than `tolerance`. */
int32_t DIB_AlmostEqual(DIB_HANDLE a, DIB_HANDLE b, int32_t tolerance);

/* ---- Pixel conversions --------------------------------------------------- */

/* Conversion flags. */
enum {
  DIB_CONVERT_AUTO_THRESHOLD = 0x2,  /* BW target: isodata threshold of the source */
  DIB_CONVERT_DIFFUSE = 0x10000,     /* error diffusion */
  DIB_CONVERT_DIFFUSE2 = 0x40000     /* the second diffusion pattern (palette targets) */
};

/* Options of one conversion. */
typedef struct DIB_CONVERT_OPTIONS {
  uint32_t flags;       /* DIB_CONVERT_* */
  uint8_t threshold;    /* BW threshold; 0 = 128 */
  int32_t color_count;  /* palette targets: colours to use; 0 = the table's size */
} DIB_CONVERT_OPTIONS;

/* New image of `pixel_type` (DIB_PT_*) and `depth` (as DIB_Create) holding the
 * pixels of `dib`, which is left unchanged. `options` may be null: then BW
 * targets use the default threshold, gray targets diffuse, and palette targets
 * diffuse with the colour count set by DIB_SetNextColorCount. Returns the
 * caller's new handle, or 0 with ERR_FAILURE (or ERR_MEMORY) recorded. */
DIB_HANDLE DIB_ConvertToFormat(DIB_HANDLE dib, int32_t pixel_type, int32_t depth,
                               const DIB_CONVERT_OPTIONS* options);
/* DIB_ConvertToFormat to the type's usual depth. */
DIB_HANDLE DIB_ConvertToPixelType(DIB_HANDLE dib, int32_t pixel_type);
/* New 1-bit image: pixels whose gray level is at least `threshold` (clamped to
 * 0..255; 0 = 128) are white. */
DIB_HANDLE DIB_ConvertToBW(DIB_HANDLE dib, int32_t threshold);
/* The same with the isodata threshold of the image. */
DIB_HANDLE DIB_ConvertToBWAuto(DIB_HANDLE dib);
/* Sets the threshold used by conversions to BW without options; returns the
 * former value. */
int32_t DIB_SetDefaultThreshold(int32_t threshold);
/* Sets the diffusion flags (DIB_CONVERT_DIFFUSE2 or 0) added for palette
 * targets converted without options; returns the former value. */
int32_t DIB_SetPaletteDiffusion(int32_t flags);
/* Colours for the next conversion to a palette image without options (0 = the
 * target table's size); used once. */
void DIB_SetNextColorCount(int32_t count);
/* The isodata threshold of the image's gray histogram; 128 for a bad handle. */
int32_t DIB_AutoThreshold(DIB_HANDLE dib);

/* ---- Scaling ------------------------------------------------------------- */

/* New 8-bit gray image reduced by `factor` (>= 1) in both directions, each
 * pixel the average of a factor x factor block (ceil(w / f) x ceil(h / f)).
 * 0 with ERR_MEMORY or ERR_BAD_PARAMETER recorded on failure. */
DIB_HANDLE DIB_ScaleToGray(DIB_HANDLE dib, int32_t factor);
/* New image of `width` x `height` by area averaging: 8-bit gray for BW and
 * gray sources, 24-bit RGB for others (the same size: an exact copy).
 * 0 with ERR_WRONG_IMAGE_TYPE recorded on failure. */
DIB_HANDLE DIB_ScaledCopy(DIB_HANDLE dib, int32_t width, int32_t height);
/* New image scaled to the given resolution (8- and 24-bit sources only).
 * 0 with ERR_BAD_PARAMETER, ERR_WRONG_IMAGE_TYPE or ERR_MEMORY on failure. */
DIB_HANDLE DIB_Resample(DIB_HANDLE dib, double x_dpi, double y_dpi);
/* Replaces the image with its scaled copy (nothing when the size is already
 * that). 1 on success, 0 on failure. */
int32_t DIB_ScaleInPlace(DIB_HANDLE dib, int32_t width, int32_t height);

/* ---- Orientation and in-place edits -------------------------------------- */

/* Inverts every used byte of every row; the colour table is kept. 1 / 0. */
int32_t DIB_Negate(DIB_HANDLE dib);
/* New image turned `turns` x 90 degrees clockwise as displayed (negative turns
 * count anticlockwise). The caller owns it; 0 on failure. */
DIB_HANDLE DIB_Rotate90(DIB_HANDLE dib, int32_t turns);
/* Turns the image itself. 1 on success, 0 on failure (image unchanged). */
int32_t DIB_Rotate90InPlace(DIB_HANDLE dib, int32_t turns);
/* Swaps rows top to bottom. 1 / 0. */
int32_t DIB_FlipVertical(DIB_HANDLE dib);
/* Reverses the pixel order of every row (mirror). 1 / 0. */
int32_t DIB_FlipHorizontal(DIB_HANDLE dib);
/* Exchanges red and blue of every pixel of a 24-, 32- or 48-bit RGB image.
 * 1 / 0. */
int32_t DIB_SwapRedBlue(DIB_HANDLE dib);

/* ---- Drawing --------------------------------------------------------------- */

/* Draws the image into the rectangle (x, y, width, height) of the device
 * context `dc` (a handle the window back end or the printing gives while it
 * draws), the source starting at column sx and row sy. Shrinking averages
 * areas; deep, CMY, CMYK and compressed images are converted first. A null
 * image, an unknown context, an empty rectangle or one outside the context's
 * clipping box draws nothing. */
void DIB_DrawToDC(DIB_HANDLE dib, uintptr_t dc, int32_t x, int32_t y, int32_t width,
                  int32_t height, int32_t sx, int32_t sy);

#ifdef __cplusplus
}
#endif
#endif
