/* The Source Manager and the TWAIN states: loading and opening the Source
 * Manager, closing step by step, and the two call gates through which every
 * call to the Source Manager and to the open source passes.
 *
 * States: 1 PRESESSION, 2 DSM_LOADED, 3 DSM_OPEN, 4 SOURCE_OPEN,
 * 5 SOURCE_ENABLED, 6 TRANSFER_READY, 7 TRANSFERRING. A fault inside the
 * Source Manager or a source is contained: the state falls to 2 and the
 * fault is reported. */
#ifndef ORIVANE_TWAIN_MANAGER_H
#define ORIVANE_TWAIN_MANAGER_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The Source Manager file is "libtwaindsm.so", looked for beside the
 * library, then through the normal library search. The environment variable
 * QUILLET_DSM_PATH, when set, names the file (or the folder holding it) to
 * try first instead of the library's folder. */

/* Loads the Source Manager: 1 if the state is 2 or more afterwards. A
 * missing Source Manager records ERR_DSM_LOAD. */
int TWAIN_LoadSourceManager(void);
/* Loads and opens the Source Manager with `window` as its parent (0 or a
 * dead window: a hidden proxy window stands in; a dead non-zero handle is
 * reported first). 1 if the state is 3 or more afterwards. */
int TWAIN_OpenSourceManager(uintptr_t window);
/* Closes the source (if open) and the Source Manager. 1 if the state is
 * below 3 afterwards. */
int TWAIN_CloseDSM(uintptr_t window);
/* Ends the current transfer (state 7 -> 6 or 5). 1 if below 7 afterwards. */
int TWAIN_EndXfer(void);
/* Ends the current transfer and drops the pending ones (-> state 5). 1 if
 * below 6 afterwards. */
int TWAIN_AbortAllPendingXfers(void);
/* Walks down to `target` (1..7) one closing step at a time; a target at or
 * above the current state changes nothing. 1 if the state is <= target
 * afterwards. */
int TWAIN_DropToState(int target);
/* 1 when the source is no longer enabled (state below 5; below 6 while the
 * device's own dialog is hidden), else 0. */
int TWAIN_IsDone(void);

/* The call gates. `dg` is a DG_ group, `dat` a DAT_ and `msg` a MSG_ code;
 * `data` the structure the triplet takes. Each call is timed and traced,
 * refused while another Source Manager call is in progress, guarded against
 * faults, and moves the state machine by its result. 1 if the call
 * succeeded (for TWAIN_DS, by the per-call rules), else 0. An identity the
 * Source Manager fills through TWAIN_Mgr gets exactly its 156 bytes, its
 * product name always ending inside its field (an over-long name is cut). */
int TWAIN_Mgr(uint32_t dg, unsigned dat, unsigned msg, void* data);
int TWAIN_DS(uint32_t dg, unsigned dat, unsigned msg, void* data);

#ifdef __cplusplus
}
#endif
#endif
