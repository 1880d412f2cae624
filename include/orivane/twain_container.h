/* Capability containers: a checked handle over a TWAIN container block (one
 * value, enumeration, range or array) with the operations that build, read,
 * edit, copy and compare them.
 *
 * Numbers are converted exactly: integer item types take the value truncated
 * toward zero and cut to their width (UINT32 keeps values up to 4294967295);
 * FIX32 takes value * 65536 rounded half away from zero. The "Int" readers
 * round half away from zero.
 *
 * Every operation checks its handle first: a null, freed or foreign handle
 * makes it return its failure value (-1, -1.0, 0 or null as listed) and do
 * nothing. No operation records an error. */
#ifndef ORIVANE_TWAIN_CONTAINER_H
#define ORIVANE_TWAIN_CONTAINER_H

#include "orivane/twain.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Opaque handle; owned by whoever created or received it. */
typedef struct OrvContainer* CONTAINER;

/* Builders. Each returns a new container (free it with CONTAINER_Free), or
 * null when the item type is unknown or memory runs out. */
/* A one value holding `value` as `item_type` (TWTY_). */
CONTAINER CONTAINER_OneValue(int item_type, double value);
/* An array / enumeration of `count` (>= 0) zeroed items; an enumeration's
 * current and default index are 0. */
CONTAINER CONTAINER_Array(int item_type, int count);
CONTAINER CONTAINER_Enumeration(int item_type, int count);
/* A range min..max by step, default and current = min. Item types above FIX32
 * give null. A step below 1 or not whole (for FIX32: below 0.00001) is traced
 * as suspicious, and the range is built anyway. */
CONTAINER CONTAINER_Range(int item_type, double min, double max, double step);
/* Takes ownership of `block` as a container of `kind` (TWON_). Null block:
 * null. When the block cannot be locked, or memory runs out, the block is
 * freed and null returned. */
CONTAINER CONTAINER_Wrap(int kind, TW_HANDLE block);
/* Frees the container and its block. */
void CONTAINER_Free(CONTAINER c);
/* Frees the container but leaves its block alive (it belongs to someone else). */
void CONTAINER_Release(CONTAINER c);
/* The block (still owned by the container), or null. */
TW_HANDLE CONTAINER_Handle(CONTAINER c);
/* A new container with a byte copy of the whole block, or null. */
CONTAINER CONTAINER_Copy(CONTAINER c);
/* 1 when the handle is live, the kind is 3..6, the block still locks at the
 * same address, the item type is 0..14, a range's step is not zero and the
 * block holds the whole layout; else 0. */
int CONTAINER_IsValid(CONTAINER c);

/* Kind (TWON_), item type (TWTY_), number of items; -1 for a bad handle. A
 * range has (max - min) / step + 1 items (step 0 counts as 1). */
int CONTAINER_Format(CONTAINER c);
int CONTAINER_ItemType(CONTAINER c);
int CONTAINER_ItemCount(CONTAINER c);

/* Item `index` as a number / rounded integer; -1 for an index outside
 * 0..count-1. Item i of a range is min(max, min + i * step); an index past
 * the end of a range therefore reads as the maximum. */
double CONTAINER_FloatItem(CONTAINER c, int index);
int CONTAINER_IntItem(CONTAINER c, int index);
/* Address of item `index` (clamped to 0..count-1) inside the block; arrays,
 * enumerations and one values only; null otherwise or when empty. */
void* CONTAINER_ItemPointer(CONTAINER c, int index);
/* Writes item `index` as text into `out` (1024 bytes): numbers "%g", BOOL
 * "TRUE"/"FALSE", FRAME "{l, t, r, b}", texts as held. 1 on success, else 0
 * with `out` empty. */
int CONTAINER_FormatItem(CONTAINER c, int index, char* out);

/* Current and default value: enumeration: the item at the current / default
 * index (-1 if that index is past the end); one value: the item; range: the
 * current / default value; array: -1. */
double CONTAINER_CurrentValue(CONTAINER c);
double CONTAINER_DefaultValue(CONTAINER c);
int CONTAINER_CurrentValueInt(CONTAINER c);
int CONTAINER_DefaultValueInt(CONTAINER c);
/* Smallest / largest item (array, enumeration; -1 when empty), the item (one
 * value), or the range's bounds. */
double CONTAINER_MinValue(CONTAINER c);
double CONTAINER_MaxValue(CONTAINER c);
int CONTAINER_MinValueInt(CONTAINER c);
int CONTAINER_MaxValueInt(CONTAINER c);
/* A range's step; -1 for other kinds. */
double CONTAINER_StepSize(CONTAINER c);
int CONTAINER_StepSizeInt(CONTAINER c);
/* Enumeration: the stored index; range: the index of the current / default
 * value; one value: 0; array: -1. */
int CONTAINER_CurrentIndex(CONTAINER c);
int CONTAINER_DefaultIndex(CONTAINER c);
/* Highest index whose item equals `value` exactly, or -1. */
int CONTAINER_FindValue(CONTAINER c, double value);
int CONTAINER_ContainsValue(CONTAINER c, double value);
/* Enumeration: stores the index; range: stores item(index) as the current /
 * default value. 0 for other kinds and indexes outside 0..count-1. */
int CONTAINER_SetCurrentIndex(CONTAINER c, int index);
int CONTAINER_SetDefaultIndex(CONTAINER c, int index);

/* Editing (arrays, enumerations, one values at index 0; not ranges). 1 on
 * success, 0 on failure. */
int CONTAINER_SetItem(CONTAINER c, int index, double value);
/* Text item types only; the text is cut to fit the item with its terminator. */
int CONTAINER_SetItemString(CONTAINER c, int index, const char* text);
/* FRAME items only; the getter zeroes its outputs first. */
int CONTAINER_SetItemFrame(CONTAINER c, int index, double left, double top, double right,
                           double bottom);
int CONTAINER_GetItemFrame(CONTAINER c, int index, double* out_left, double* out_top,
                           double* out_right, double* out_bottom);
/* Arrays and enumerations: inserts `value` before `index` (an index below 0
 * or past the end appends), growing the block when needed. The indexes of an
 * enumeration are not adjusted. */
int CONTAINER_InsertItem(CONTAINER c, int index, double value);
/* Arrays and enumerations: removes item `index`; the indexes of an
 * enumeration are not adjusted (they may then point past the end). */
int CONTAINER_DeleteItem(CONTAINER c, int index);
/* 1 when both hold the same kind, item type and items (and, for ranges and
 * enumerations, the same current and default); the same handle is equal. */
int CONTAINER_Equal(CONTAINER a, CONTAINER b);

#ifdef __cplusplus
}
#endif
#endif
