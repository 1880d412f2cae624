/* BMP files: the one image format the library reads and writes itself. A BMP
 * file is the 14-byte file header followed by the packed DIB exactly as it
 * lies in its block (header, colour table or masks, rows). */
#ifndef ORIVANE_BMP_API_H
#define ORIVANE_BMP_API_H

#include <stdint.h>

#include "orivane/dib_api.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Writes the image to the file at `path`, creating missing folders and
 * replacing any file there. CMY and CMYK images are written as 24-bit RGB.
 * Returns 0 on success; -2 when the folder or the file cannot be made
 * (ERR_CREATE_FOLDER or ERR_FILE_ACCESS); -3 for a bad image (ERR_BAD_DIB);
 * -4 when writing fails (ERR_FILE_WRITE naming the path). The error record is
 * cleared first. The image is not changed. */
int32_t DIB_WriteToBmp(DIB_HANDLE dib, const char* path);
/* Writes the image to `fd`, a file descriptor the caller opened for writing
 * and closes. Returns 0, -3 (bad image, ERR_BAD_DIB) or -4 (short write,
 * ERR_FILE_WRITE). */
int32_t DIB_WriteToBmpFile(DIB_HANDLE dib, int32_t fd);
/* The size in bytes of the BMP file of `dib`; the file is stored into `buffer`
 * only when `buffer` is not null and `capacity` is at least that size. CMY and
 * CMYK images are stored as they are. 0 for a bad image (ERR_BAD_DIB). */
uint32_t WriteDibToBmpBuffer(DIB_HANDLE dib, void* buffer, uint32_t capacity);
/* Reads the BMP file at `path` into a new image owned by the caller. On
 * failure returns 0 and leaves a message (at most 1023 characters and a
 * terminator) in `message`, which holds 1024 bytes and may be null; the error
 * record is not touched (the file loader records ERR_FILE_READ with it). */
DIB_HANDLE LoadBmp(const char* path, char* message);
/* Reads a BMP file held in memory into a new image owned by the caller.
 * 0 on failure with ERR_FILE_READ or ERR_MEMORY recorded ("BMP in memory"). */
DIB_HANDLE BMP_LoadFromBuffer(uint32_t length, const void* bytes);

#ifdef __cplusplus
}
#endif
#endif
