/* Upload and download: posting images and files to a web server as one
 * multipart form, and loading the pages of an image file fetched from a URL.
 * Transfers go through the system's libcurl (libcurl.so.4), loaded on first
 * use; without it only these calls fail (ERR_FILE_TRANSFER, "Could not load
 * OrvCurl.dll (GLE %d)").
 *
 * Results: 0 success; -3 bad arguments or libcurl missing; -5 a local
 * failure (temporary files, memory, the form, the transfer handle); -100 - c
 * for libcurl's error c (-122: the server answered 400 or above, -128: time
 * out, -163: a download over the size limit). DibArrayFromURL answers the
 * number of pages loaded, or -1 whenever an error was recorded.
 *
 * The server's certificate is verified against the system's certificate
 * store, or against UPLOAD_SetCertificateFile's file when one is set; only
 * UPLOAD_SetVerifyPeer(0) turns the check off (traced as insecure). */
#ifndef ORIVANE_UPLOAD_API_H
#define ORIVANE_UPLOAD_API_H

#include <stdint.h>

#include "orivane/dib_api.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Posts the files of `paths` (separated by ';' or '|', blanks around them
 * skipped) as parts <field>1, <field>2, ... ("file" when `field` is empty or
 * null), each under its own name with the content type of its format. */
int32_t UPLOAD_FilesToURL(const char* paths, const char* url, const char* field);
/* Writes the images into one file named like `remote_name` (its extension
 * chooses the format: a multipage file, or a merged image for formats of one
 * page) and posts it as part `field` under that name. */
int32_t UPLOAD_DibsToURL(const DIB_HANDLE* images, int32_t count, const char* url, const char* remote_name,
                         const char* field);
/* One file per image: part <field>n with remote name <base>n.<ext>. */
int32_t UPLOAD_DibsToURLSeparately(const DIB_HANDLE* images, int32_t count, const char* url,
                                   const char* remote_name, const char* field);
int32_t UPLOAD_DibToURL(DIB_HANDLE image, const char* url, const char* remote_name, const char* field);

/* Fetches `url` and loads `count` pages from page `start` into `array`
 * (its first `count` entries are set to 0 first). */
int32_t DibArrayFromURL(const char* url, DIB_HANDLE* array, int32_t start, int32_t count);

/* Form fields posted before the files of the next upload (at most 128; they
 * are cleared after every upload). 1, or 0 with the error recorded. */
int32_t UPLOAD_AddFormField(const char* name, const char* value);
/* Header lines sent with the next transfer (cleared after it). 1, or 0. */
int32_t UPLOAD_AddHeader(const char* line);
int32_t UPLOAD_AddCookie(const char* cookie);
/* Proxy for every later transfer ("" or null: none); user:password. */
void UPLOAD_SetProxy(const char* address, const char* user_password, int32_t tunnel);
void UPLOAD_EnableProgressBar(int32_t enable);
/* The callback is told "started:<total>", "progress:<n>%", "stopped" and
 * "server response:" with `user` during every transfer. */
typedef void (*UPLOAD_PROGRESS_CALLBACK)(const char* text, intptr_t user);
void UPLOAD_SetProgressCallback(UPLOAD_PROGRESS_CALLBACK callback, intptr_t user);
/* The server's reply to the last transfer, at most 1024 bytes with the
 * terminator. */
void UPLOAD_GetResponse(char* out);

/* Certificate-authority file for the server's certificate ("" or null: the
 * system's store). At most 259 characters; 1, or 0. */
int32_t UPLOAD_SetCertificateFile(const char* path);
/* 0 turns the verification of the server's certificate and name off:
 * anyone on the way can read and change what is sent. Default 1. */
void UPLOAD_SetVerifyPeer(int32_t verify);
/* Largest download accepted, in bytes (default 1 GiB; at least 1). */
void UPLOAD_SetMaxDownloadBytes(int64_t bytes);
/* Seconds to connect (default 20) and seconds a transfer may go without
 * moving a byte before it is given up (default 60); at least 1 each. */
void UPLOAD_SetTimeouts(int32_t connect_seconds, int32_t stall_seconds);

#ifdef __cplusplus
}
#endif

#endif
