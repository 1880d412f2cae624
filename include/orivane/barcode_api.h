/* Barcode recognition: the BARCODE_ family over the separately loaded barcode
 * module OrvSymbol. The module is loaded on first use (the library's folder
 * first, then the ordinary search); a failed load is tried again at the next
 * call. Without it every call fails softly and no engine is available. */
#ifndef ORIVANE_BARCODE_API_H
#define ORIVANE_BARCODE_API_H

#include <stdint.h>

#include "orivane/dib_api.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Barcode type bits, as BARCODE_SupportedTypes answers and BARCODE_Recognize
 * takes them (-1 = every type). Bits above BARCODE_CODE93 are types beyond
 * the classic linear ones; their names are shown as "0x%04x". */
enum {
  BARCODE_EAN13 = 0x0001,          /* "EAN-13" */
  BARCODE_EAN8 = 0x0002,           /* "EAN-8" */
  BARCODE_UPCA = 0x0004,           /* "UPC-A/UCC-12" */
  BARCODE_UPCE = 0x0008,           /* "UPC-E" */
  BARCODE_CODE39 = 0x0010,         /* "Code 39" */
  BARCODE_CODE39_FULL = 0x0020,    /* "Code 39 (Full ASCII)" */
  BARCODE_CODE128 = 0x0040,        /* "Code 128" */
  BARCODE_I2OF5 = 0x0080,          /* "Interleaved 2 of 5" */
  BARCODE_CODABAR = 0x0100,        /* "Codabar" */
  BARCODE_EAN_UCC = 0x0200,        /* "EAN.UCC": GS1-128 (Code 128 with FNC1) */
  BARCODE_CODE93 = 0x0400,         /* "Code 93" */
  BARCODE_QR = 0x0800,             /* QR Code, shown as "0x0800" */
  BARCODE_DATAMATRIX = 0x1000,     /* Data Matrix, shown as "0x1000" */
  BARCODE_PDF417 = 0x2000          /* PDF417, shown as "0x2000" */
};

/* Direction bits: which way a code reads on the page. A code turned by a
 * few degrees counts as the nearest of the four. */
enum {
  BARCODE_LEFT_TO_RIGHT = 1, /* upright */
  BARCODE_RIGHT_TO_LEFT = 2, /* upside down */
  BARCODE_TOP_TO_BOTTOM = 4, /* turned a quarter clockwise */
  BARCODE_BOTTOM_TO_TOP = 8  /* turned a quarter anticlockwise */
};

/* The most characters BARCODE_GetText copies (a buffer needs one more). */
#define BARCODE_TEXT_MAX 64

/* Reads the barcodes of an image with the selected engine (engine 1 unless
 * BARCODE_SelectEngine chose another).
 *   dib        the image (any depth); left unchanged, never freed.
 *   max_count  the most codes to report; -1 or 0 = all found.
 *   types      type bits to look for; -1 = every type.
 * With a zone set (BARCODE_SetZone) only that part of the page is read (the
 * part outside the image counts as white); rectangles are in page pixels in
 * any case. Only codes reading in the directions of BARCODE_SetDirections
 * (default all) that the engine can tell are reported.
 * Result: the number of codes found (0 or more), kept for BARCODE_GetText,
 * BARCODE_GetType and BARCODE_GetRect until the next call. Failure: -1 the
 * engine is not available (error 50 "Engine(name) not available", or the
 * module's load error), -3 a bad image or argument (error 57), -4 no memory
 * (error 35), -5 a fault in the engine (error 58), other negatives the
 * engine's own failure (error 58 "(BARCODE_Recognize => n)"); no codes are
 * kept after a failure. */
int32_t BARCODE_Recognize(DIB_HANDLE dib, int32_t max_count, int32_t types);

/* The text of code `index` (0 .. count-1) of the last recognition, cut to
 * BARCODE_TEXT_MAX characters (never inside a UTF-8 sequence), into `buffer`
 * (at least BARCODE_TEXT_MAX + 1 bytes). 1 when the text is not empty; 0 for
 * an empty text or an index out of range (buffer then ""), and for a null
 * buffer (error 57). */
int32_t BARCODE_GetText(int32_t index, char* buffer);
/* The type bit of code `index` of the last recognition; 0 out of range. */
int32_t BARCODE_GetType(int32_t index);
/* The rectangle around code `index` of the last recognition, in pixels of
 * the page from its top-left corner: left, top, width, height. 1 on success;
 * 0 for an index out of range (outputs 0); null outputs: error 57
 * "BARCODE_GetRect:NULL ptr" and 0. */
int32_t BARCODE_GetRect(int32_t index, int32_t* out_left, int32_t* out_top, int32_t* out_width,
                        int32_t* out_height);

/* The name of a type bit ("EAN-13", ..., "0x0800" for a type without a
 * name) into `buffer` (at least 32 bytes). Returns `buffer`. */
const char* BARCODE_TypeName(int32_t type, char* buffer);

/* Limits reading to a zone of the page, in pixels from the top-left corner;
 * a width or height of 0 or less reads the whole page (the default). */
void BARCODE_SetZone(int32_t left, int32_t top, int32_t width, int32_t height);
/* The directions to report, as direction bits; -1 = all (the default). */
void BARCODE_SetDirections(int32_t mask);
/* The direction bits the selected engine can tell; 0 without the module. */
int32_t BARCODE_AvailableDirections(void);

/* Chooses the barcode engine (1 Talven, 2 Axtel, 3 LEADTOOLS, 4 BLACKICE).
 * 1 if it is available, else 0 (nothing recorded for an engine the module
 * lacks; error 50 when the module does not load). */
int32_t BARCODE_SelectEngine(int32_t engine);
/* The selected engine's number; 0 without the module. */
int32_t BARCODE_SelectedEngine(void);
/* 1 when the module offers `engine`, else 0 (nothing recorded). */
int32_t BARCODE_IsEngineAvailable(int32_t engine);
/* Name of an engine ("" for an unknown number), also without the module.
 * Static text. */
const char* BARCODE_EngineName(int32_t engine);
/* Bit set of the barcode types an engine recognises (0 if unavailable). */
int32_t BARCODE_SupportedTypes(int32_t engine);
/* The module's version number (e.g. 100 for 1.00), loading it if needed; 0
 * when it does not load (nothing recorded). */
int32_t BARCODE_Version(void);

#ifdef __cplusplus
}
#endif
#endif
