/* Acquiring whole documents: every page the device delivers, until the
 * document ends (the device disables itself, the feeder runs empty or the
 * user answers No to the next-page question), handed to a page hook, a
 * multipage file, an array of DIBs, one file per image or a file per N pages.
 * Windows are window handles of the platform layer (0 = the library's own).
 *
 * Failure codes: -1 general failure (also when an error was recorded during
 * the document), -10 the user cancelled (device dialog or save dialog), -4 the
 * array is full, or the code a page step returned. */
#ifndef ORIVANE_TWAIN_MULTIPAGE_ACQUIRE_H
#define ORIVANE_TWAIN_MULTIPAGE_ACQUIRE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Called with each delivered, non-blank page and the hook's value; answers
 * the DIB to go on with: the same one, a replacement, or 0. When it answers
 * anything but the page it was given, that page is the hook's to free. Recording an error in the
 * hook ends the document after the page is freed. */
typedef uintptr_t (*TWAIN_PAGE_HOOK)(uintptr_t dib, intptr_t value);

/* Sets (or with null removes) the page hook of the multipage acquisitions. */
void SetPageHook(TWAIN_PAGE_HOOK hook, intptr_t value);

/* Every page goes to the page hook, then is freed. 0 or a failure code. */
int TWAIN_AcquireMultipage(uintptr_t window);
/* Every page into one multipage file `path` (at most 260 characters; format
 * from its extension). 0, or a failure code; -1 with ERR_NO_PAGES recorded
 * when no page was written. */
int TWAIN_AcquireMultipageFile(uintptr_t window, const char* path);
/* Stores the pages in `array` (its first `capacity` entries are cleared
 * first); the DIBs belong to the caller. Answers the number stored; -4 when
 * a page did not fit (ERR_TOO_MANY_IMAGES); -1 with ERR_NO_PAGES when none
 * came. On any failure every stored DIB has been freed. */
int TWAIN_AcquireToArray(uintptr_t window, uintptr_t* array, int capacity);
/* One file per image: `path` for the first, then IncrementFilename of it for
 * each next one (empty path: the save dialog). Answers the number of files
 * written, or a failure code (-1 with ERR_NO_PAGES when none was written). */
int TWAIN_AcquireImagesToFiles(uintptr_t window, const char* path);
/* `pages_per_file` sheets per multipage file (two images per sheet with
 * duplex on), the names counted up as IncrementFilename does. Answers the
 * number of files begun, or a failure code. A short last file is kept and
 * records ERR_NOT_ENOUGH_PAGES. */
int TWAIN_AcquirePagesToFiles(uintptr_t window, int pages_per_file, const char* path);

/* Counts of the last multipage acquisition: pages dropped as blank; pages
 * handed to the consumer. */
int TWAIN_BlankDiscardCount(void);
int TWAIN_ProcessedPageCount(void);
/* Files of the last TWAIN_AcquireImagesToFiles / TWAIN_AcquirePagesToFiles. */
int TWAIN_FileCount(void);

/* Counts the number at the end of the file name up by one, in place,
 * keeping its width and the whole extension: "scan007.tif" -> "scan008.tif",
 * "scan99.tif" -> "scan100.tif", "scan.tif" -> "scan1.tif"; a number of any
 * length. `path` is a buffer of at least 260 bytes. A next name that would
 * not fit leaves `path` empty (a write to an empty name asks for a name). */
void IncrementFilename(char* path);

#ifdef __cplusplus
}
#endif
#endif
