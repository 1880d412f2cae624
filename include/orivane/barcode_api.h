/* Barcode recognition engines of the Orivane library. */
#ifndef ORIVANE_BARCODE_API_H
#define ORIVANE_BARCODE_API_H

#ifdef __cplusplus
extern "C" {
#endif

/* Chooses the barcode engine (1 Talven, 2 Axtel, 3 LEADTOOLS, 4 BLACKICE).
 * 1 if it is available, else 0. */
int BARCODE_SelectEngine(int engine);
/* Name of an engine ("" for an unknown number). Static text. */
const char* BARCODE_EngineName(int engine);
/* Bit set of the barcode types an engine recognises (0 if unavailable). */
int BARCODE_SupportedTypes(int engine);

#ifdef __cplusplus
}
#endif
#endif
