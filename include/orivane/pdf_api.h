/* PDF options of the Orivane library (effective through the PDF codec). */
#ifndef ORIVANE_PDF_API_H
#define ORIVANE_PDF_API_H

#ifdef __cplusplus
extern "C" {
#endif

/* Compression of PDF pages of pixel type `pixel_type` (-1 = all types).
 * 1 when the PDF codec took it, 0 when it is missing or refused. */
int PDF_SetCompression(int pixel_type, int compression);
/* -1 when the PDF codec is missing. */
int PDF_GetCompression(int pixel_type);
/* PDF/A compliance level of files written later (0 off, 1 PDF/A-1b). */
int PDF_SetPDFACompliance(int level);
int PDF_GetPDFACompliance(void);
/* Passwords for PDF files written later; never traced. */
int PDF_SetUserPassword(const char* password);
int PDF_SetOwnerPassword(const char* password);
/* Media box of PDF pages from a TWAIN paper-size code (0 = from the image). */
int PDF_SelectPageSize(int code);

#ifdef __cplusplus
}
#endif
#endif
