/* File formats, output settings and codec options of the Orivane library. */
#ifndef ORIVANE_TWAIN_FILES_H
#define ORIVANE_TWAIN_FILES_H

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
/* Multipage writes through the background writer thread (default 1). */
void TWAIN_SetLazyWriting(int flag);
int TWAIN_GetLazyWriting(void);

#ifdef __cplusplus
}
#endif
#endif

#ifndef ORIVANE_TWAIN_FILES_NAMES_H
#define ORIVANE_TWAIN_FILES_NAMES_H
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

#ifndef ORIVANE_TWAIN_FILES_VERSION_H
#define ORIVANE_TWAIN_FILES_VERSION_H
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
