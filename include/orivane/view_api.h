/* The image viewer: one image, or the pages of an image file one at a time,
 * in a window with an OK button and, as the view options say, Cancel,
 * Print... and Save As... buttons; a page scroll bar and the page text "n/N"
 * for files of several pages. The picture is fitted to the window with
 * non-square pixels made square.
 *
 * A view is modal by default (the call returns when the window is closed)
 * or modeless (option "modeless"): the call returns at once and the window
 * stays up while the caller pumps messages (TWAIN_PumpMessages,
 * TWAIN_EmptyMessageQueue) and goes away with TWAIN_ViewClose, OK, Cancel or
 * its close box.
 *
 * Windows need a display and the window user interface: without one no
 * window is made and the calls answer as for a window that could not be
 * created (nothing waits for a person). The two names of each operation
 * (TWAIN_ and DIB_) behave alike and trace under their own family. */
#ifndef ORIVANE_VIEW_API_H
#define ORIVANE_VIEW_API_H

#include <stdint.h>

#include "orivane/dib_api.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Views the pages of the image file `path` (null or "": the open dialog).
 * Returns 1 OK; 0 Cancel or the window closed; -1 no file chosen; -2 the
 * file has no readable page (ERR_FILE_READ with the path) or no window could
 * be made. Modeless: 1 when the window exists. The "title" option applies to
 * this one view and is cleared. */
int32_t TWAIN_ViewFile(const char* path);

/* Views a copy of `dib` (the caller keeps its own) captioned `title` (null
 * or "": the "title" option). `parent`: a window of the program or 0; one
 * that is no window is reported (ERR_BAD_WINDOW "DIB_View") and ignored.
 * Returns as TWAIN_ViewFile; modal without a window: -1 with ERR_FAILURE;
 * modeless without a window: 0. */
int32_t DIB_View(DIB_HANDLE dib, const char* title, uintptr_t parent);

/* Sets a view option (names without regard to case). Flags take "1",
 * "yes", "true", "oui", "ja", "si", "vrai" or "" for on and "0", "no",
 * "false", "non", "nein", "faux" for off:
 *   modeless, cancel.visible, print.visible, save.visible, pos.remember,
 *   position.remember, center: any other word turns them on;
 *   modal, visible, ok.visible: the opposite flag; another word changes
 *   nothing.
 * Placement (pixels, or "n%" of the desktop's work area; "" not given):
 *   left|x, top|y, right, bottom, width|w, height|h; topleft "x,y";
 *   size "w,h"; position|pos "l,t,w,h" ("" clears the four edges and keeps
 *   the size); center (also clears the edges and stops remembering).
 * Others: title (next view's caption, at most 127 characters), timeout
 * (kept, not used), reset (every option back to its start value).
 * An open window follows at once. Returns 1, or 0 with ERR_BAD_PARAMETER
 * (the name) for an unknown name, nothing changed. */
int32_t TWAIN_SetViewOption(const char* name, const char* value);
int32_t DIB_SetViewOption(const char* name, const char* value);

/* Shows a copy of `dib` in the open viewer (nothing when none is open). */
void DIB_SetViewImage(DIB_HANDLE dib);

/* 1 while the viewer window exists. */
int32_t TWAIN_IsViewOpen(void);
int32_t DIB_IsViewOpen(void);

/* Closes the viewer window if there is one and drops its image. Returns 1. */
int32_t TWAIN_ViewClose(void);
int32_t DIB_ViewClose(void);

/* The viewer window's last rectangle (screen pixels), as recorded when it
 * was placed or resized. Any out pointer may be null. Returns 1. */
int32_t TWAIN_GetLastViewPosition(int32_t* out_left, int32_t* out_top, int32_t* out_width,
                                  int32_t* out_height);

#ifdef __cplusplus
}
#endif

#endif
