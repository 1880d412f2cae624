/* Capability calls on the open source: get, get current, get default, query
 * support, set (container, one value, boolean, fixed-point, number of deduced
 * type, text), reset; custom source data; image information.
 *
 * Every call needs an open source (state 4 or more). Setting is allowed in
 * state 4 only, unless CAP_EXTENDEDCAPS has been set in this session: then in
 * states 5 to 7 as well (until the source is closed or the library reset).
 * Failures of the state rule record ERR_NO_DEVICE_OPEN (states 1-3) or
 * ERR_STATE4_ONLY (states 5-7); a source's refusal of a set is only the
 * result 0 (the caller records what it wants). */
#ifndef ORIVANE_TWAIN_CAPABILITY_H
#define ORIVANE_TWAIN_CAPABILITY_H

#include "orivane/twain.h"
#include "orivane/twain_container.h"

#ifdef __cplusplus
extern "C" {
#endif

/* MSG_GET / MSG_GETCURRENT / MSG_GETDEFAULT of capability `cap`. Returns the
 * source's container (the caller frees it with CONTAINER_Free) or null. Below
 * state 4 records ERR_NO_DEVICE_OPEN ("MSG_GET", ...) and shows it. */
CONTAINER TWAIN_Get(unsigned cap);
CONTAINER TWAIN_GetCurrent(unsigned cap);
CONTAINER TWAIN_GetDefault(unsigned cap);
/* The TWQC_ flags the source reports for `cap`; 0 if it answers nothing. */
int TWAIN_QuerySupport(unsigned cap);
/* 1 if MSG_GET of `cap` succeeds with a container. */
int TWAIN_IsCapAvailable(unsigned cap);
/* The current value of a boolean capability (1/0), or `default_value` when
 * it cannot be read. */
int TWAIN_GetCapBool(unsigned cap, int default_value);
/* The current value of `cap` read as FIX32 / UINT16 / UINT32, or
 * `default_value` when it cannot be read in that type. */
double TWAIN_GetCurrentFix32(unsigned cap, double default_value);
int TWAIN_GetCurrentUint16(unsigned cap, int default_value);
uint32_t TWAIN_GetCurrentUint32(unsigned cap, uint32_t default_value);

/* Sends `container` with MSG_SET (the container stays the caller's). A bad
 * container records ERR_BAD_APP_CONTAINER. 1 if the source took it. */
int TWAIN_Set(unsigned cap, CONTAINER container);
/* Sets a one value of `item_type` (TWTY_INT8 ... TWTY_BOOL). A type above
 * BOOL is reported urgently (ERR_BAD_PARAMETER). */
int TWAIN_SetCapOneValue(unsigned cap, int item_type, int value);
int TWAIN_SetCapBool(unsigned cap, int flag);
int TWAIN_SetCapFix32(unsigned cap, double value);
/* FIX32 of numerator / denominator. */
int TWAIN_SetCapFix32R(unsigned cap, int numerator, int denominator);
/* Sets `value` in the item type the source uses for `cap` (learned with
 * MSG_GET): FIX32 as is, other number types truncated. ERR_CAP_REJECTED when
 * the type cannot be learned. */
int TWAIN_SetCapability(unsigned cap, double value);
/* Sets a text capability (STR32 ... STR1024), the text cut to the item.
 * ERR_CAP_REJECTED when the capability does not take text. */
int TWAIN_SetCapString(unsigned cap, const char* text);
/* MSG_RESET of `cap`; below state 4 ERR_NO_DEVICE_OPEN. */
int TWAIN_Reset(unsigned cap);

/* Saves the source's custom data (DAT_CUSTOMDSDATA) to a file / restores it
 * from one. State 4 only. Clear the error record first; 1 on success, else 0
 * with the failure recorded. */
int TWAIN_GetCustomDataToFile(const char* file_name);
int TWAIN_SetCustomDataFromFile(const char* file_name);

/* DG_IMAGE / DAT_IMAGEINFO / MSG_GET into `out_info`. 1 on success. */
int TWAIN_GetImageInfo(TW_IMAGEINFO* out_info);

#ifdef __cplusplus
}
#endif
#endif
