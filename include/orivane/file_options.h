/* File formats, output settings and codec options of the Orivane library. */
#ifndef ORIVANE_FILE_OPTIONS_H
#define ORIVANE_FILE_OPTIONS_H

#ifdef __cplusplus
extern "C" {
#endif

/* File-format codes. */
enum {
  FF_UNKNOWN = -1,
  FF_TIFF = 0,
  FF_BMP = 2,
  FF_JPEG = 4,
  FF_PNG = 7,
  FF_DCX = 97,
  FF_GIF = 98,
  FF_PDF = 99
};

/* Multipage-format codes. */
enum {
  MPF_TIFF = 0,
  MPF_PDF = 1,
  MPF_DCX = 2,
  MPF_JPEG = 4,
  MPF_BMP = 5,
  MPF_PNG = 7,
  MPF_GIF = 98
};

/* 1 if files of the format can be written and read now (BMP always; the
 * others when their codec module loads), 0 otherwise and for unknown codes. */
int IsFormatAvailable(int format);
/* Appending to existing TIFF, PDF and DCX files on write (stored as 0/1). */
void TWAIN_SetFileAppendFlag(int flag);
int TWAIN_GetFileAppendFlag(void);
/* Format of multipage files begun later: 0 accepted, -1 unknown code,
 * -2 codec missing (the setting is kept). */
int TWAIN_SetMultipageFormat(int code);
int TWAIN_GetMultipageFormat(void);
/* JPEG quality 1..100; outside that range records ERR_JPEG_QUALITY, and the
 * value is stored in any case. */
void TWAIN_SetJpegQuality(int quality);
int TWAIN_GetJpegQuality(void);
/* TIFF compression per pixel type (-1 = all types; compression -1 = default).
 * 1 when the stored value now equals the request, else 0 (recorded). */
int TWAIN_SetTiffCompression(int pixel_type, int compression);
int TWAIN_GetTiffCompression(int pixel_type);
/* Whether a write may replace a file already under its name (default 1).
 * With 0 nothing is ever replaced, even by a file another process finishes
 * at the same moment: a taken name makes the write (or a multipage file's
 * end) take the next free number, the digits before the extension counted
 * up ("1" added when there are none), and LastOutputFileName then names
 * the file written. Appends still add to the file they name. */
void TWAIN_SetReplaceExisting(int flag);
int TWAIN_GetReplaceExisting(void);
/* Multipage writes through the background writer thread (default 1). */
void TWAIN_SetLazyWriting(int flag);
int TWAIN_GetLazyWriting(void);

#ifdef __cplusplus
}
#endif
#endif

#ifndef ORIVANE_FILE_OPTIONS_NAMES_H
#define ORIVANE_FILE_OPTIONS_NAMES_H
#ifdef __cplusplus
extern "C" {
#endif
/* File-format code of an extension, file name or path ("tif", ".JPEG",
 * "a/b.pdf"); `default_format` for empty text or an unknown extension. */
int FormatFromExtension(const char* text, int default_format);
/* Default extension of a format (".tif", ...), or `default_text`. */
const char* FormatExtension(int format, const char* default_text);
#ifdef __cplusplus
}
#endif
#endif

#ifndef ORIVANE_FILE_OPTIONS_VERSION_H
#define ORIVANE_FILE_OPTIONS_VERSION_H
#ifdef __cplusplus
extern "C" {
#endif
/* Version (major * 100 + minor) of the codec behind a format; the library's
 * own for BMP; 0 when the codec does not load. Unknown codes record
 * ERR_BAD_PARAMETER and return 0. */
int FormatVersion(int format);
#ifdef __cplusplus
}
#endif
#endif

#ifndef ORIVANE_FILE_OPTIONS_TIFF_H
#define ORIVANE_FILE_OPTIONS_TIFF_H
#ifdef __cplusplus
extern "C" {
#endif
/* TIFF settings held by the TIFF codec for the files written next. Each
 * loads the codec and returns its answer (1 taken, 0 refused); 0 when the
 * codec does not load. */
int TWAIN_SetTiffStripSize(int rows);
int TWAIN_GetTiffStripSize(void);
int TWAIN_SetTiffImageDescription(const char* text);
int TWAIN_SetTiffDocumentName(const char* text);
int TWAIN_SetTiffTagShort(int tag, int value);
int TWAIN_SetTiffTagLong(int tag, long value);
int TWAIN_SetTiffTagString(int tag, const char* text);
int TWAIN_SetTiffTagDouble(int tag, double value);
int TWAIN_SetTiffTagRational(int tag, double value);
int TWAIN_SetTiffTagRationalArray(int tag, const double* values, int count);
int TWAIN_SetTiffTagBytes(int tag, const void* bytes, int count);
int TWAIN_SetTiffTagUndefined(int tag, const void* bytes, int count);
/* Drops every tag set above; does nothing unless the codec is loaded. */
void TWAIN_ResetTiffTags(void);
/* Makes a private tag known to the codec (TIFF field type code). */
int TWAIN_DefineCustomTiffTag(int tag, int read_count, int field_type, const char* name);
/* Text of an ASCII tag of a page of a TIFF file into `buffer` (`size`
 * bytes, terminated): the text's length, negative when missing. */
int TWAIN_GetTiffTagAscii(const char* path, int page, int tag, char* buffer, int size);
/* The same into a buffer of the library's, valid until the next call; ""
 * when missing. */
const char* TWAIN_TiffTagAscii(const char* path, int page, int tag);
#ifdef __cplusplus
}
#endif
#endif
