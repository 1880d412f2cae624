/* Printing images: one image, an array, every page of a file, or a job built
 * page by page. A page prints at the image's own resolution (72 dpi when it
 * has none), centred on the sheet, or scaled to fit the printable area when
 * it is too large and scale-to-fit is on. Jobs go to a CUPS destination as
 * one PDF document of the destination's default media, which CUPS filters
 * for the printer.
 *
 * Results: 0 success; -2 no printer (ERR_PRINT); -3 a bad image or file;
 * -4 the job or a page could not be started; -5 no job open; -10 the print
 * dialog was cancelled (ERR_CANCELLED "Print Dialog"); DIB_PrintFile -1 when
 * no file was chosen. The print dialog (the prompting calls) lists the
 * destinations with the default selected, one copy, and the page range when
 * the job knows its pages; without someone to ask (no window) it answers
 * cancelled: use the NoPrompt calls or a specified printer. */
#ifndef ORIVANE_PRINT_API_H
#define ORIVANE_PRINT_API_H

#include <stdint.h>

#include "orivane/dib_api.h"

#ifdef __cplusplus
extern "C" {
#endif

int32_t DIB_Print(DIB_HANDLE dib, const char* job_name);
int32_t DIB_PrintNoPrompt(DIB_HANDLE dib, const char* job_name);
int32_t DIB_PrintArray(const DIB_HANDLE* array, int32_t count, const char* job_name, int32_t no_prompt);
int32_t DIB_PrintFile(const char* path, const char* job_name, int32_t no_prompt);
int32_t DIB_PrintJobBegin(const char* job_name, int32_t no_prompt);
int32_t DIB_PrintPage(DIB_HANDLE dib);
int32_t DIB_PrintJobEnd(void);
void DIB_SetNextPrintJobPageCount(int32_t count);
/* The destination of jobs without a dialog (null or "": the default one). */
int32_t DIB_SpecifyPrinter(const char* name);
/* Lists the destinations; the count. */
int32_t DIB_EnumeratePrinters(void);
/* Name of listed destination `index` ("" out of range). */
const char* DIB_PrinterName(int32_t index);
/* The same into `out` (256 bytes): 1, or 0 with `out` emptied. */
int32_t DIB_GetPrinterName(int32_t index, char* out);
void DIB_SetPrintScaleToFit(int32_t on);
int32_t DIB_GetPrintScaleToFit(void);
/* The CUPS job number of the last job sent (0 when none). */
int32_t DIB_LastPrintJobId(void);

#ifdef __cplusplus
}
#endif

#endif
