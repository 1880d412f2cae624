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

/* Lays recognised text invisibly over the next page written into a PDF, so
 * that the page can be searched and its text copied.
 *   text     the characters, one byte each (Windows-1252), terminated by 0;
 *            null or "" lays nothing and succeeds
 *   x, y     per character: left column and top row of its box, in pixels of
 *            the page image, counted from the top left corner
 *   widths, heights  per character: its box in pixels
 *   x_dpi, y_dpi     the page's resolution in dots per inch (0 or less: a
 *            pixel is taken as a point, as for a page without a resolution)
 * Characters are grouped into words; each word is sized to the height of its
 * letters and stretched to the width its characters cover.
 * 1 done; 0 when an array is missing (ERR_MEMORY recorded), the PDF codec is
 * missing, or pages queued for the background writer are still being
 * written. The text visibility setting is left as it was. */
int WriteOcrTextToPDF(const char* text, const int* x, const int* y, const int* widths, const int* heights,
                      int x_dpi, int y_dpi);

#ifdef __cplusplus
}
#endif
#endif
