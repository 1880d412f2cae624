/* The contract between the Orivane library and its barcode module OrvSymbol.
 *
 * The module is a shared object "OrvSymbol.so" loaded at run time. It exports
 * the plain C functions below, named "OrvSymbol_<Entry>"; the library
 * resolves every one of them and refuses a module that lacks any ("wrong
 * version"). The module never links against the program: the library hands
 * it the image to read and a log handler, nothing else.
 *
 * Engines: a module holds up to 15 engines, numbered from 1. One is selected
 * at a time (engine 1 at load); every engine answers the same entry points.
 *
 * ---- Images ---------------------------------------------------------------
 *
 * DibAnalyze reads a locked DIB block exactly as the library keeps it (the
 * layout of codecs/codec_abi.h "Locked DIB": 40-byte header, colour table or
 * masks, rows bottom-up for a positive height, top-down for a negative one)
 * of `bytes` bytes. The module checks the header against `bytes` before it
 * reads a pixel, and must not keep the pointer after the call. Every depth of
 * the library is read (1, 4, 8, 16 gray, 24, 32, 48, CMY/CMYK); compressed
 * streams are refused.
 *
 * ---- Results --------------------------------------------------------------
 *
 * DibAnalyze returns the number of codes found (0 or more) and keeps them,
 * in reading order (top to bottom, then left to right), until the next
 * call; Text, Type and GetRect read them by index. Failures are the negative
 * ORVSYMBOL_E_* codes; after one, no codes are kept. Rectangles are in pixels
 * of the image given, from its top-left corner.
 *
 * ---- Threads --------------------------------------------------------------
 *
 * The library never calls the module from two threads at once. A fault
 * inside the module (SIGSEGV, SIGBUS, SIGFPE, SIGILL) is caught by the
 * library: the call fails and the module stays loaded, so every call starts
 * from a clean state of its own.
 */
#ifndef ORIVANE_SYMBOL_ABI_H
#define ORIVANE_SYMBOL_ABI_H

#include <stddef.h>
#include <stdint.h>

#include "orivane/barcode_api.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The module's version (major * 100 + minor) as OrvSymbol_Version says it. */
#define ORVSYMBOL_VERSION 100

/* DibAnalyze's failures. */
#define ORVSYMBOL_E_NO_ENGINE (-1) /* the selected engine is not there */
#define ORVSYMBOL_E_BAD_INPUT (-3) /* null or malformed image, compressed data */
#define ORVSYMBOL_E_MEMORY (-4)    /* out of memory */
#define ORVSYMBOL_E_FAILURE (-5)   /* the engine failed for another reason */

/* One line (or part of one) for the library's trace. */
typedef void (*OrvSymbolLogFn)(const char* text);

/* Version number, e.g. 100 for 1.00. Callable before anything else. */
typedef int32_t (*OrvSymbol_VersionFn)(void);
/* Reads the codes of `bmi` (`bytes` bytes): at most `max_count` (0 or less =
 * all) of the type bits `types` (-1 = every type the engine reads), reading
 * in the direction bits `directions` (BARCODE_LEFT_TO_RIGHT, ...). */
typedef int32_t (*OrvSymbol_DibAnalyzeFn)(const void* bmi, size_t bytes, int32_t max_count,
                                          int32_t types, int32_t directions);
/* The text of code `index` of the last DibAnalyze (UTF-8, NUL-terminated;
 * "" out of range). Valid until the next DibAnalyze. */
typedef const char* (*OrvSymbol_TextFn)(int32_t index);
/* The type bit of code `index`; 0 out of range. */
typedef int32_t (*OrvSymbol_TypeFn)(int32_t index);
/* The rectangle around code `index`: left, top, width, height. 1, or 0 out of
 * range. Every output must be non-null. */
typedef int32_t (*OrvSymbol_GetRectFn)(int32_t index, int32_t* left, int32_t* top, int32_t* width,
                                       int32_t* height);
/* 1 when `engine` is in the module. */
typedef int32_t (*OrvSymbol_IsEngineAvailableFn)(int32_t engine);
/* Selects `engine`: 1, or 0 (selection unchanged) when it is not there. */
typedef int32_t (*OrvSymbol_SelectEngineFn)(int32_t engine);
/* The selected engine. */
typedef int32_t (*OrvSymbol_SelectedEngineFn)(void);
/* The direction bits the selected engine tells apart. */
typedef int32_t (*OrvSymbol_AvailableDirectionFlagsFn)(void);
/* The name of `engine` ("" for a number the module does not know). Static. */
typedef const char* (*OrvSymbol_EngineNameFn)(int32_t engine);
/* The type bits `engine` reads (0 when it is not there). */
typedef int32_t (*OrvSymbol_ReadableCodesFn)(int32_t engine);
/* Where the module's trace lines go (null = nowhere). */
typedef void (*OrvSymbol_SetLogHandlerFn)(OrvSymbolLogFn handler);

/* Every entry point, for binders: X(entry). */
#define ORV_SYMBOL_ENTRIES(X)                                                              \
  X(Version) X(DibAnalyze) X(Text) X(Type) X(GetRect) X(IsEngineAvailable) X(SelectEngine) \
  X(SelectedEngine) X(AvailableDirectionFlags) X(EngineName) X(ReadableCodes) X(SetLogHandler)

#ifdef __cplusplus
}
#endif
#endif
