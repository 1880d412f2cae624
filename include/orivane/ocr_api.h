/* Text recognition (OCR) of the Orivane library, through the separately
 * loaded engine module OrvOcr; and the searchable PDF output built on it.
 *
 * The module is loaded on first use, from the library's folder first and then
 * through the system's search; a failed load is tried again at the next call
 * and records ERR_OCR ("OCR: %s") with "Could not find and load OrvOcr.dll."
 * or "Wrong version of OrvOcr.dll.". Without the module every other feature
 * of the library works as before.
 *
 * Recognised text is Windows-1252, one byte per character; each character has
 * a box (left, top, width, height) in pixels of the page it was read from. */
#ifndef ORIVANE_OCR_API_H
#define ORIVANE_OCR_API_H

#include <stdint.h>

#include "orivane/dib_api.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Engines of the module; engine 0 means none. */
#define OCR_ENGINE_TESSERACT 1

/* Recognises the text of `dib` (left unchanged; the caller keeps it) and
 * keeps it, with the page's size, resolution and orientation, as the last
 * recognition: the number of characters (0 for a page without text), or
 *   -1 the module is missing or refused (ERR_OCR recorded),
 *   -2 `dib` is no image (ERR_BAD_DIB),
 *   -5 the engine failed on the page (ERR_OCR recorded; the last
 *      recognition is then empty).
 * Traces "OCR_RecognizeDib => %d [%dms]". */
int32_t OCR_RecognizeDib(DIB_HANDLE dib);
/* As OCR_RecognizeDib on the rectangle x, y, w, h (pixels from the top left)
 * of `dib`, cut out first (parts outside the image white); the boxes are
 * those of the cut-out. -3 when the cut fails (an empty rectangle, memory). */
int32_t OCR_RecognizeDibZone(DIB_HANDLE dib, int32_t x, int32_t y, int32_t w, int32_t h);
/* Recognises `dib` and writes it, with its text as an invisible layer, as the
 * next page of the open multipage PDF (TWAIN_BeginMultipageFile); the caller
 * keeps `dib`. With auto-rotation on (OCR_SetAutoRotatePagesToPDF) a page
 * whose text lies turned is written turned upright. 1 when the page was
 * written or queued for the background writer; 0 when no multipage file is
 * open (ERR_FAILURE "OCR_WritePage: No multipage file open."), the open file
 * is no PDF (ERR_PDF_ONLY "Writing text only supported to PDF"), the
 * recognition fails (its error) or the page is not written (the writer's
 * error). */
int32_t OCR_WritePage(DIB_HANDLE dib);
/* Hands the text of the last recognition, with its boxes and the page's
 * resolution, to the PDF text layer for the next PDF page written (single
 * file or multipage). With auto-rotation on, a page whose text lies turned is
 * written turned upright and the boxes turned with it. 1 (also when there is
 * no text); 0 when memory runs out (ERR_MEMORY "OCR_WritePage") or the PDF
 * codec takes no text. Traces "OCR_WriteTextToPDF". */
int32_t OCR_WriteTextToPDF(void);
/* Copies the last recognition's text, terminated, into `buffer` of `size`
 * bytes: its length when it fits, else 0 (and nothing copied). */
int32_t OCR_GetText(char* buffer, int32_t size);
/* The degrees (0, 90, 180, 270) the last recognised page must be turned
 * clockwise for its text to read upright. */
int32_t OCR_TextOrientation(void);
/* 1: pages whose text lies turned go into PDF files turned upright (see
 * OCR_WritePage, OCR_WriteTextToPDF); 0 (the default): as they lie. */
void OCR_SetAutoRotatePagesToPDF(int32_t flag);
int32_t OCR_GetAutoRotatePagesToPDF(void);

/* The module's version x 100 (loading it): 0 when it does not load. */
int32_t OCR_Version(void);
/* 1 when engine `engine` can recognise pages (loading the module). */
int32_t OCR_IsEngineAvailable(int32_t engine);
/* Chooses the engine: 1 when it is available (and now selected), else 0. The
 * module selects its first available engine when it is loaded. */
int32_t OCR_SelectEngine(int32_t engine);
/* The selected engine; 0 when none is (or the module is missing). */
int32_t OCR_SelectedEngine(void);
/* The engine's name ("Tesseract"); "" for an unknown number. Static text. */
const char* OCR_EngineName(int32_t engine);
/* The languages to recognise, as Tesseract names its trained data, joined by
 * '+' ("eng", "deu+eng"); null or "" = the default: the environment's
 * QUILLET_OCR_LANG when set, else the settings file's OcrLanguage, else
 * "eng". Kept for the module when it is not loaded yet. 1 when the data of each language is installed (or the module is not
 * loaded yet), else 0 with ERR_OCR recorded. */
int32_t OCR_SetLanguage(const char* languages);
/* The languages in effect (static text, valid until the next change). */
const char* OCR_GetLanguage(void);

/* Automatic OCR: 1 = every page an acquisition delivers is recognised after
 * its other processing, and its text laid over it when it is written into a
 * PDF file (single or multipage); 0 (the default) off. */
void TWAIN_SetAutoOCR(int32_t flag);
int32_t TWAIN_GetAutoOCR(void);

/* Searchable PDF: 1 = every page written into a PDF file is recognised first
 * and its text laid over it invisibly. Needs a selected, available OCR engine:
 * otherwise 0 with ERR_TEXT ("Can't generate searchable PDF, no OCR engine
 * selected." or "..., selected OCR (%s) not available."); 0 also without the
 * PDF codec. 0 turns it off (1). Traces "PDF_SetSearchable(%d)". */
int32_t PDF_SetSearchable(int32_t flag);
int32_t PDF_GetSearchable(void);

#ifdef __cplusplus
}
#endif
#endif
