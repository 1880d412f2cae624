/* Multipage output: one multipage file open per process (TIFF, PDF or DCX
 * pages, or the single-image formats stacked into one tall image), written
 * page by page, by default through a background writer thread so that
 * scanning goes on while the previous page is compressed and written.
 *
 * The file is written under a temporary name in its folder and renamed into
 * place when it is ended, so a crash or a kill never leaves a truncated file
 * under the final name, and a file being appended to stays intact until the
 * new one is complete. */
#ifndef ORIVANE_MULTIPAGE_FILES_H
#define ORIVANE_MULTIPAGE_FILES_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Begins a multipage file: 0, -1 (no name and the save dialog cancelled),
 * -2 (folder or file not accessible, or the PDF to append to is
 * unreadable), -3 (format not supported or its codec missing), -6 (a
 * multipage file is already open), or the codec's own result. The format is
 * the extension's when it names one, else the multipage format setting
 * (whose extension is added to a name without one). */
int TWAIN_BeginMultipageFile(const char* path);
/* Writes a copy of the page (the caller keeps it): 0, -2, -6 or the codec's
 * result. */
int TWAIN_DibWritePage(uintptr_t dib);
/* Writes the page and frees it, also on failure. */
int TWAIN_WritePageAndFree(uintptr_t dib);
/* Ends the file: every queued page is written first, then the finished
 * file replaces what the name held (or, with TWAIN_SetReplaceExisting(0),
 * takes the next free number; LastOutputFileName names it). Until then the
 * pages live in a temporary file beside it, so a failure leaves the name as
 * it was. 0, -3, -4, -5, -6 or the codec's result.
 * While a file is being appended to or replaced, the name is claimed for
 * this process: another process beginning a file of that name waits for
 * up to a minute, then fails with -2 (ERR_FILE_IN_USE). */
int TWAIN_EndMultipageFile(void);
/* Ends the file like TWAIN_EndMultipageFile but keeps the finished file
 * apart, under a temporary name of its own (TWAIN_HeldMultipageFileName),
 * leaving the final name as it was: for a caller that shows the file before
 * deciding. TWAIN_CommitMultipageFile then moves it into place, or
 * TWAIN_DiscardMultipageFile drops it; a TWAIN_BeginMultipageFile of the
 * same name with the append flag on continues it. Results as
 * TWAIN_EndMultipageFile; on failure nothing is held. */
int TWAIN_HoldMultipageFile(void);
/* The held file's temporary name ("" when none is held). */
const char* TWAIN_HeldMultipageFileName(void);
/* Moves the held file into place as TWAIN_EndMultipageFile would: 0, -4
 * (recorded; the held file is gone), -6 when nothing is held. */
int TWAIN_CommitMultipageFile(void);
/* Drops the open or the held file: its pages are gone and the final name
 * keeps what it held before. 0, or -6 when there was nothing. */
int TWAIN_DiscardMultipageFile(void);
/* Pages announced for the next TIFF output (-1 unknown). */
void TWAIN_SetOutputPageCount(int count);
int TWAIN_IsMultipageFileOpen(void);
/* Path of the open multipage file ("" when none). */
const char* TWAIN_MultipageFileName(void);
/* Pages written or queued to the open file. */
int TWAIN_MultipagePageCount(void);
/* MPF_ code of the open file (-1 when none). */
int TWAIN_MultipageFileFormat(void);
/* Writes several pages into one file (one page: a single image). 0 or the
 * first failure. The caller keeps the pages. */
int DIB_WriteArrayToFilename(const uintptr_t* array, int count, const char* path);
/* Copies every page of `input` into `output` (format by its name): the
 * end's result, -2 when the input cannot be read, -3 when it has no pages.
 * `options` is not used. */
int FileCopy(const char* input, const char* output, int options);
/* Writes a page into the open PDF now (no queue). */
int PDF_DibWritePage(uintptr_t dib);

#ifdef __cplusplus
}
#endif
#endif
