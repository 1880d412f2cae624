/* The TWAIN sources: listing the installed ones, the default source, the
 * Source Manager's selection, and opening a source by name or the default.
 *
 * A source is named by its identity's product name (at most 34 characters);
 * names are compared without regard to case over at most 32 characters.
 * Listing, the default-name query and the selection leave the state as they
 * found it (a Source Manager opened for them is closed and unloaded again). */
#ifndef ORIVANE_TWAIN_SOURCES_H
#define ORIVANE_TWAIN_SOURCES_H

#include <stdint.h>

#include "orivane/twain.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Reads the product names of the installed sources (at most 50) into the
 * library's list and sets its cursor to the first. 1 on success (also for an
 * empty list); 0 with ERR_DSM_INIT or ERR_DSM_OPERATION recorded. */
int TWAIN_GetSourceList(void);
/* Copies the name under the list's cursor into `out` (at least 35 bytes; the
 * empty text at the end) and advances. 1 if a name was copied, 0 at the end.
 * A null `out` is reported (ERR_BAD_PARAMETER) and answers 0. */
int TWAIN_GetNextSourceName(char* out);
/* The same as a library-owned text ("" at the end), valid until the next
 * call. */
const char* TWAIN_NextSourceName(void);
/* Copies the default source's name into `out` (at least 35 bytes). 1 on
 * success; 0 with ERR_DSM_INIT / ERR_DSM_OPERATION recorded. */
int TWAIN_GetDefaultSourceName(char* out);
/* The default source's name as a library-owned text ("" on failure). Leaves
 * the Source Manager open. */
const char* TWAIN_DefaultSourceName(void);
/* Shows the Source Manager's source selection; the chosen source becomes
 * the default. 1 if a source was chosen; 0 when cancelled (nothing recorded)
 * or when the Source Manager cannot be opened (reported). `window` 0 or dead:
 * the active window owns the selection. */
int TWAIN_SelectImageSource(uintptr_t window);

/* Opens the source named `name` (null or empty: the default source),
 * closing another open source first, then applies the device settings asked
 * for so far. 1 if a source is open (state 4) afterwards. Failures record
 * ERR_DSM_INIT, ERR_NO_SUCH_DEVICE, ERR_OPEN_DEVICE or ERR_OPEN_DEFAULT. */
int TWAIN_OpenSource(const char* name);
/* Opens the Source Manager's default source. 1 if it is open afterwards;
 * ERR_OTHER_DEVICE_OPEN when another source is open. */
int TWAIN_OpenDefaultSource(void);
/* The open source's product name into `out` (at least 35 bytes; "" when none
 * is open). A null `out` is reported. */
void TWAIN_GetSourceName(char* out);
/* The same as a library-owned text, valid until the next call. */
const char* TWAIN_SourceName(void);
/* Copies the open source's identity (156 bytes) into `out` when given;
 * returns 156. */
int TWAIN_GetSourceIdentity(TW_IDENTITY* out);

#ifdef __cplusplus
}
#endif
#endif
