/* Image files: format detection, the save format, writing one image to a file
 * or into memory, and loading pages from files and memory.
 *
 * Writes are all-or-nothing: a file is written under a temporary name in its
 * final folder, flushed to disk and renamed into place, so a failed write
 * never leaves a truncated file under the final name (an append copies the
 * old file first and the old file stays as it was when the append fails).
 *
 * Results of the writers: 0 success; -1 the save dialog was cancelled; -2 the
 * folder could not be made or the file could not be opened; -3 codec module
 * missing, image cannot be locked or unknown format; -4 BMP write failed;
 * -5 a conversion for GIF or DCX failed or a fault was caught; any other
 * non-zero value is the codec's own failure result. The reason is in the
 * library's error record (errors.h).
 */
#ifndef ORIVANE_FILE_API_H
#define ORIVANE_FILE_API_H

#include <stdint.h>

#include "orivane/dib_api.h"
#include "orivane/file_options.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Formats ---------------------------------------------------------- */

/* File-format code (FF_*) from the file's first bytes, or FF_UNKNOWN. A file
 * that cannot be opened records ERR_NOT_FOUND, ERR_FILE_ACCESS or
 * ERR_FILE_READ with the path. */
int TWAIN_FormatOfFile(const char* path);
int DIB_FormatOfFile(const char* path);
/* The same for bytes in memory (fewer than 4 bytes are padded with zeros). */
int DIB_FormatOfBuffer(const void* bytes, uint32_t length);
/* IsFormatAvailable of the format named by the path's extension. */
int IsFileFormatAvailable(const char* path);
/* Copies FormatExtension(format, "") into `buffer` (5 bytes); returns 1 when
 * the format has an extension, else 0 and an empty text. */
int FormatExtensionToBuffer(int format, char* buffer);

/* Format used for names without a recognised extension (default FF_BMP).
 * 1 accepted; 0 for an unknown code, or when the format's codec module does
 * not load (the error is recorded and the previous format kept). */
int TWAIN_SetSaveFormat(int format);
int TWAIN_GetSaveFormat(void);

/* The full name used by the last single-file write (with any extension the
 * writer added); "" before the first. Valid until the next write. */
const char* LastOutputFileName(void);

/* 1 when the folder of `path` exists or was made (parents first), else 0
 * with ERR_CREATE_FOLDER recorded. */
int EnsureFolderExists(const char* path);
/* A path in the temporary folder that does not exist yet: prefix, a number
 * (starting at the thread identifier, counting up) and the format's extension
 * (".tmp" for codes without one), into `out` (260 bytes). 1, or 0. */
int GenerateTempImageName(const char* prefix, int format, char* out);

/* ---- Writing ---------------------------------------------------------- */

/* Writes the image in the format of the name's extension; a name without
 * one gets the save format's extension; an unknown extension keeps the name
 * and uses the save format. See the result codes above. */
int32_t DIB_WriteToFilename(DIB_HANDLE dib, const char* path);
int32_t TWAIN_WriteNativeToFilename(DIB_HANDLE dib, const char* path);
int32_t TWAIN_SaveToFilename(DIB_HANDLE dib, const char* path);
/* One format whatever the extension (DIB_WriteToBmp is in bmp_api.h). GIF
 * writes images deeper than 8 bits through an 8-bit palette copy, DCX images
 * deeper than 1 bit through a 1-bit copy; the caller's image is unchanged.
 * TIFF, DCX and PDF add a page to an existing file when the append flag is
 * on. */
int32_t DIB_WriteToJpeg(DIB_HANDLE dib, const char* path);
int32_t DIB_WriteToTiff(DIB_HANDLE dib, const char* path);
int32_t DIB_WriteToPng(DIB_HANDLE dib, const char* path);
int32_t DIB_WriteToGif(DIB_HANDLE dib, const char* path);
int32_t DIB_WriteToDcx(DIB_HANDLE dib, const char* path);
int32_t DIB_WriteToPdf(DIB_HANDLE dib, const char* path);

/* The encoded image's size in bytes; the bytes are copied into `buffer` only
 * when it is not null and `capacity` holds them all. 0 on failure. Ask with
 * capacity 0 first, then call again with a buffer of that size. */
uint32_t DIB_WriteToBuffer(DIB_HANDLE dib, int format, void* buffer, uint32_t capacity);
/* Several pages encoded as one document in memory: the document's size in
 * bytes, copied into `buffer` (as much of it as fits in `capacity`) when the
 * buffer is not null. `array` holds `count` images (the caller keeps them);
 * `format` is FF_PDF, FF_TIFF or FF_DCX for a multipage document, or FF_BMP,
 * FF_JPEG, FF_PNG, FF_GIF for one image with the pages stacked top to bottom.
 * 0 on failure, with the reason in the error record (a null array or a count
 * below 1 records ERR_BAD_PARAMETER). As with DIB_WriteToBuffer, ask with
 * capacity 0 first. */
uint32_t DIB_WriteArrayToBuffer(const DIB_HANDLE* array, int count, int format, void* buffer, uint32_t capacity);

/* The images of `array` (`count` of them; the caller keeps them) encoded as
 * one document of `format`, as DIB_WriteArrayToBuffer encodes them, handed
 * back as a length-prefixed byte string for callers that take strings
 * (scripts): bytes 0..3 hold the document's length n (unsigned, little-
 * endian), bytes 4 .. 4+n-1 the document's bytes, followed by one zero byte
 * that n does not count. The string belongs to the caller, who frees it with
 * DIB_FreeBSTR (never with free()). Null on failure, with the reason in the
 * error record, which is cleared first: ERR_FAILURE "ArrayAsBSTR:GTIN" when
 * no temporary name can be made; the writer's error when the document cannot
 * be written; ERR_FAILURE "FileAsBSTR" when it cannot be read back; ERR_MEMORY
 * "FileAsBSTR" when it cannot be held (n would pass 4 GB, or memory ran out).
 * Nothing is left in the temporary folder. */
uint8_t* DIB_ArrayAsBSTR(const DIB_HANDLE* array, int count, int format);
/* Releases a string from DIB_ArrayAsBSTR; null is ignored. */
void DIB_FreeBSTR(uint8_t* text);

/* The image's forward DCT through the JPEG codec: a new image of the same
 * type and size, or 0. */
DIB_HANDLE DIB_ForwardDCT(DIB_HANDLE dib);

/* ---- Loading ---------------------------------------------------------- */

/* Page (0-based) read by the next DIB_LoadFromFilename or
 * DIB_LoadFromBuffer; each such load resets it to 0. */
void TWAIN_SetLoadPage(int page);
/* A new image of the caller's from the file's next-load page, or 0. The
 * format is taken from the first bytes, never from the name. */
DIB_HANDLE DIB_LoadFromFilename(const char* path);
DIB_HANDLE TWAIN_LoadNativeFromFilename(const char* path);
DIB_HANDLE DIB_LoadPage(const char* path, int page);
/* Pages start .. start+count-1 into array[0..]: the number stored, or -1
 * (nothing stored: pages already loaded are freed). */
int DIB_LoadPagesFromFilename(DIB_HANDLE* array, int start, int count, const char* path);
int DIB_LoadArrayFromFilename(DIB_HANDLE* array, int count, const char* path);
DIB_HANDLE DIB_LoadFromBuffer(const void* bytes, uint32_t length);
DIB_HANDLE DIB_LoadPageFromBuffer(const void* bytes, uint32_t length, int page);
/* min(max, pages) pages into array[0..]: the count, or -1 (nothing stored). */
int DIB_LoadArrayFromBuffer(DIB_HANDLE* array, int max, const void* bytes, uint32_t length);
/* Pages in a file or in memory, -1 on failure. */
int FilePageCount(const char* path);
int BufferPageCount(const void* bytes, uint32_t length);
int DIB_PageCountOfBuffer(const void* bytes, uint32_t length);

/* Password for opening encrypted PDFs, passed with every PDF read (at most
 * 31 characters are kept; never traced). */
void PDF_SetOpenPassword(const char* password);

/* ---- PDF documents --------------------------------------------------- */

/* Document properties of PDF files written next: 1, or 0 when the PDF codec
 * does not load. Creator and producer return to the library's own after
 * every PDF file. */
int TWAIN_SetPdfTitle(const char* text);
int TWAIN_SetPdfAuthor(const char* text);
int TWAIN_SetPdfSubject(const char* text);
int TWAIN_SetPdfKeywords(const char* text);
int TWAIN_SetPdfCreator(const char* text);
int TWAIN_SetPdfProducer(const char* text);
/* Permission flags of encrypted PDFs written next (ORVPDF_PERM_* of
 * codecs/codec_abi.h). */
int PDF_SetPermissions(uint32_t flags);
uint32_t PDF_GetPermissions(void);
/* Whether text drawn into PDF pages is visible (1) or an invisible layer. */
int PDF_SetTextVisible(int visible);
int PDF_GetTextVisible(void);
/* 1 when the file is an encrypted PDF / a PDF this library wrote. */
int PDF_IsEncrypted(const char* path);
int PDF_IsOneOfOurs(const char* path);
/* Length of a document property ("Title", "Author", ...), its text copied
 * into `buffer` truncated to size - 1 characters and terminated; 0 when
 * absent. */
int PDF_GetDocumentProperty(const char* path, const char* property, char* buffer, int size);

/* ---- Dialogs ---------------------------------------------------------- */

/* The open dialog, shown by the user-interface back end: 1 with the chosen
 * file's path in `path` (255 bytes), 0 when cancelled, when no one can be
 * asked, or when the chosen path does not fit. */
int PromptForOpenFilename(char* path);
/* The save dialogs, shown by the user-interface back end; one with no one to
 * ask (no terminal, no display) cancels. Both empty `path` first (a buffer
 * of at least 260 bytes) and fill it with the chosen name; a name that would
 * not fit in 255 characters counts as cancelled. 1 when the user chose a
 * name, 0 when cancelled. The overwrite question is asked only while the
 * append flag is off.
 *
 * One image: the types of the formats that can be written now (JPEG not for
 * 1- and 4-bit images, `dib` may be 0). `format` in: the FF_ code to
 * preselect (BMP when its type is not offered); out: the chosen type's code.
 * A name without an extension gets the chosen type's. */
int PromptForSaveName(char* path, int* format, DIB_HANDLE dib);
/* A multipage file: PDF, TIFF, DCX and the merged BMP, JPEG, PNG and GIF,
 * whatever modules are present. `code` in: the MPF_ code to preselect. A
 * name typed without an extension gets the chosen entry's, and `code` becomes
 * that entry's; with an extension `code` is left as it was (the extension
 * decides when the file is begun). */
int PromptForMultipageSaveName(int* code, char* path);

#ifdef __cplusplus
}
#endif
#endif
