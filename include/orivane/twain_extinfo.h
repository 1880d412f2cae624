/* Extended image information: facts a device reports beside each image
 * (barcodes it read, page side, document number, frames...), named by TWEI_
 * codes. Enable the codes before acquiring; read the answers after each
 * transfer. */
#ifndef ORIVANE_TWAIN_EXTINFO_H
#define ORIVANE_TWAIN_EXTINFO_H

#ifdef __cplusplus
extern "C" {
#endif

/* flag non-zero adds the code to the request table, 0 removes it; 1 if the
 * code is (now) in the table (for removal: if it was). At most 512 codes. */
int TWAIN_EnableExtendedInfo(unsigned code, int flag);
int TWAIN_IsExtInfoEnabled(unsigned code);
/* Releases the answers; the codes stay enabled. */
void TWAIN_DisableExtendedInfo(void);
/* Asks the device to report extended information; its answer (0 or 1). */
int TWAIN_IsExtendedInfoSupported(void);
int TWAIN_ExtendedInfoItemCount(unsigned code);
int TWAIN_ExtendedInfoItemType(unsigned code);
int TWAIN_ExtendedInfoInt(unsigned code, int index);
double TWAIN_ExtendedInfoFloat(unsigned code, int index);
/* The value as text in a buffer of the library (valid until the next call). */
const char* TWAIN_ExtendedInfoString(unsigned code, int index);
int TWAIN_GetExtendedInfoString(unsigned code, int index, char* buffer, int buffer_size);
int TWAIN_ExtendedInfoFrame(unsigned code, int index, double* left, double* top, double* right,
                            double* bottom);

#ifdef __cplusplus
}
#endif
#endif
