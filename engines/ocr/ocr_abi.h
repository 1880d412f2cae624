/* The contract between the Orivane library and its OCR engine module,
 * OrvOcr (OrvOcr.so, built from engines/ocr/).
 *
 * The module exports plain C functions named "ORVOCR_<Entry>"; the typedefs
 * below give each one's exact signature. The library binds every entry of
 * ORVOCR_REQUIRED_ENTRIES and refuses a module that lacks one, or whose
 * ORVOCR_Version is ORVOCR_MIN_VERSION - 1 or less ("Wrong version of
 * OrvOcr.dll."). The entries of ORVOCR_OPTIONAL_ENTRIES may be missing: the
 * library then does without what they offer.
 *
 * The module keeps one recognition at a time: ORVOCR_RecognizeDib replaces
 * the last one, ORVOCR_ClearText forgets it. Its entries are not meant to be
 * called from two threads at once; the library serialises them.
 *
 * ---- Engines --------------------------------------------------------------
 * Engines are numbered from 1 (at most ORVOCR_MAX_ENGINES). This module has
 * one, ORVOCR_ENGINE_TESSERACT ("Tesseract"), available when Tesseract finds
 * the trained data of every language asked for. Engine 0 means none.
 *
 * ---- The page ---------------------------------------------------------------
 * ORVOCR_RecognizeDib takes the library's packed DIB block, locked, and its
 * size in bytes: a 40-byte little-endian BITMAPINFOHEADER, the colour table
 * (or three masks for 16-bit gray), then rows padded to 4 bytes, bottom-up
 * when the height is positive. 1, 4, 8 (gray or palette), 16 (gray), 24, 32
 * and 48-bit (B, G, R) pixels are read; compression 5 marks subtractive CMY /
 * CMYK samples. A compressed stream (compression bits 8..15 set) is refused.
 * The module only reads the block, and only during the call.
 *
 * ---- The text -----------------------------------------------------------------
 * Text is Windows-1252, one byte per character; a character with no such byte
 * becomes '?', ligatures their letters. Words on a line are separated by one
 * space, lines end with the line break text (ORVOCR_SetLineBreak, default
 * "\n"), and an empty line separates paragraphs. Every byte of the text has
 * a box: left x, top y, width and height in pixels of the page handed in
 * (origin top left), as it lies, whatever its orientation. A space covers
 * the gap between its words; a line break has no width and stands at the end
 * of its line.
 */
#ifndef ORIVANE_OCR_ABI_H
#define ORIVANE_OCR_ABI_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The version this contract describes (x 100), and the least the library takes. */
#define ORVOCR_VERSION 105
#define ORVOCR_MIN_VERSION 105

/* How the module marks its exports. */
#define ORVOCR_EXPORT __attribute__((visibility("default")))

#define ORVOCR_ENGINE_TESSERACT 1
#define ORVOCR_MAX_ENGINES 15

/* ORVOCR_RecognizeDib's failures (a count of characters otherwise). */
#define ORVOCR_E_NO_ENGINE (-1)   /* no engine selected, or its data missing */
#define ORVOCR_E_BAD_DIB (-2)     /* not a readable DIB, or a compressed stream */
#define ORVOCR_E_MEMORY (-3)      /* memory ran out */
#define ORVOCR_E_ENGINE (-4)      /* the engine failed on the page */

/* Receives the module's log lines (each ends with a line feed). */
typedef void (*OrvOcrLogFn)(const char* text);

/* Version x 100 (105 = 1.05). */
typedef int32_t (*ORVOCR_VersionFn)(void);
/* Recognises the page `dib` of `bytes` bytes with the selected engine: the
 * number of characters of its text (0 for a page without text), or one of
 * the ORVOCR_E_ codes (the last recognition is then empty). */
typedef int32_t (*ORVOCR_RecognizeDibFn)(const void* dib, uint64_t bytes);
/* 1 when engine `engine` can recognise pages now, else 0. */
typedef int32_t (*ORVOCR_IsEngineAvailableFn)(int32_t engine);
/* The last recognition's text, terminated by 0 ("" when none). Owned by the
 * module; valid until the next RecognizeDib or ClearText. */
typedef const char* (*ORVOCR_TextFn)(void);
/* Forgets the last recognition. */
typedef void (*ORVOCR_ClearTextFn)(void);
/* Chooses the engine for later recognitions: 1 when it is available (then
 * selected), else 0 (the choice stays). */
typedef int32_t (*ORVOCR_SelectEngineFn)(int32_t engine);
/* The selected engine, 0 when none. */
typedef int32_t (*ORVOCR_SelectedEngineFn)(void);
/* The engine's name ("" for a number without an engine). Static text. */
typedef const char* (*ORVOCR_EngineNameFn)(int32_t engine);
/* Copies the left x and top y of the first `capacity` characters' boxes:
 * the number copied. */
typedef int32_t (*ORVOCR_GetCharPositionsFn)(int32_t* x, int32_t* y, int32_t capacity);
/* Copies the widths and heights of the first `capacity` boxes: the number
 * copied. */
typedef int32_t (*ORVOCR_GetCharSizesFn)(int32_t* widths, int32_t* heights, int32_t capacity);
/* Selects the first available engine: its number, 0 when none is. */
typedef int32_t (*ORVOCR_SelectDefaultEngineFn)(void);
/* How the last page's text lay: the degrees (0, 90, 180, 270) the page must
 * be turned clockwise for its text to read upright. */
typedef int32_t (*ORVOCR_TextOrientationFn)(void);
/* Where the module's log lines go (null: nowhere). */
typedef void (*ORVOCR_SetLogHandlerFn)(OrvOcrLogFn handler);
/* The text that ends each line (at most 7 bytes; null or "" = "\n"). */
typedef void (*ORVOCR_SetLineBreakFn)(const char* text);

/* Optional: the languages to read, as Tesseract names its trained data,
 * joined by '+' ("eng", "deu+eng"); null or "" = "eng". Takes effect at the
 * next recognition. 1 when every language's data is installed, else 0 (the
 * languages are kept; the engine is unavailable until they are installed). */
typedef int32_t (*ORVOCR_SetLanguageFn)(const char* languages);
/* Optional: the longest one page's recognition may take, in milliseconds
 * (0 = no limit). A page that reaches it keeps the text found so far. */
typedef void (*ORVOCR_SetTimeLimitFn)(int32_t milliseconds);

#define ORVOCR_REQUIRED_ENTRIES(X)                                                            \
  X(Version) X(RecognizeDib) X(IsEngineAvailable) X(Text) X(ClearText) X(SelectEngine)       \
  X(SelectedEngine) X(EngineName) X(GetCharPositions) X(GetCharSizes) X(SelectDefaultEngine) \
  X(TextOrientation) X(SetLogHandler) X(SetLineBreak)
#define ORVOCR_OPTIONAL_ENTRIES(X) X(SetLanguage) X(SetTimeLimit)

#ifdef __cplusplus
}
#endif
#endif
