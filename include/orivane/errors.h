/* The Orivane library's error record: one per process; the first error
 * recorded stays until a caller clears it. */
#ifndef ORIVANE_ERRORS_H
#define ORIVANE_ERRORS_H

#ifdef __cplusplus
extern "C" {
#endif

/* Error codes: stable numbers, part of the library's interface. */
enum {
  ERR_NONE = 0,
  ERR_UNSPECIFIED = 1,
  ERR_CAP_GET = 2,
  ERR_CAP_REJECTED = 3,
  ERR_DSM_OPERATION = 4,
  ERR_DS_OPERATION = 5,
  ERR_XFER_FAILED = 6,
  ERR_UNSPECIFIED_7 = 7,
  ERR_DSM_INIT = 8,
  ERR_OPEN_DEFAULT = 9,
  ERR_STATE4_ONLY = 10,
  ERR_NULL_CONTAINER = 11,
  ERR_BAD_CONTAINER_HANDLE = 12,
  ERR_BAD_CONTAINER_TYPE = 13,
  ERR_BAD_ITEM_TYPE = 14,
  ERR_EMPTY_CONTAINER = 15,
  ERR_NONE_SUPPORTED = 16,
  ERR_BAD_WINDOW = 17,
  ERR_PROXY_WINDOW = 18,
  ERR_CANCELLED = 19,
  ERR_RESOLUTION = 20,
  ERR_JPEG_LIBRARY = 22,
  ERR_DRIVER_FAULT = 23,
  ERR_DSM_LOAD = 24,
  ERR_NO_SUCH_DEVICE = 25,
  ERR_OPEN_DEVICE = 26,
  ERR_NOT_RESPONDING = 27,
  ERR_XFER = 28,
  ERR_JPEG_PIXELS = 29,
  ERR_JPEG_QUALITY = 30,
  ERR_BAD_DIB = 31,
  ERR_BAD_FILENAME = 32,
  ERR_NOT_FOUND = 33,
  ERR_FILE_ACCESS = 34,
  ERR_MEMORY = 35,
  ERR_JPEG = 36,
  ERR_JPEG_2 = 37,
  ERR_NO_PAGES = 38,
  ERR_FORMAT_UNSUPPORTED = 39,
  ERR_TIFF_LIBRARY = 40,
  ERR_TIFF = 41,
  ERR_TEXT = 42,
  ERR_PDF_LIBRARY = 43,
  ERR_GIF_CONVERT = 44,
  ERR_FILE_READ = 45,
  ERR_BAD_REGION = 46,
  ERR_FILE_WRITE = 47,
  ERR_NO_DEVICE_OPEN = 48,
  ERR_DCX_CONVERT = 49,
  ERR_BARCODE = 50,
  ERR_UNKNOWN_FORMAT = 51,
  ERR_WRONG_IMAGE_TYPE = 52,
  ERR_PRINT = 53,
  ERR_DCX_LIBRARY = 54,
  ERR_BAD_APP_CONTAINER = 55,
  ERR_BAD_PARAMETER = 57,
  ERR_FAILURE = 58,
  ERR_LIBRARY_LOAD = 59,
  ERR_FILE_TRANSFER = 60,
  ERR_MULTIPAGE_OPEN = 61,
  ERR_IMPROPER_SHUTDOWN = 62,
  ERR_WRONG_VERSION = 63,
  ERR_OCR = 64,
  ERR_PDF_ONLY = 65,
  ERR_APP_TITLE = 66,
  ERR_CREATE_FOLDER = 67,
  ERR_PDF_PASSWORD = 69,
  ERR_PDF_FEATURE = 70,
  ERR_PDF_FORMAT = 71,
  ERR_PDF_INVALID = 72,
  ERR_PDF_COMPRESSION = 73,
  ERR_NOT_ENOUGH_PAGES = 74,
  ERR_TOO_MANY_IMAGES = 75,
  ERR_PAPER_JAM = 76,
  ERR_DOUBLE_FEED = 77,
  ERR_COMMUNICATION = 78,
  ERR_COVER_OPEN = 79,
  ERR_BAD_DOCUMENT_HANDLE = 80,
  ERR_OTHER_DEVICE_OPEN = 81,
  ERR_FILE_IN_USE = 82
};

/* The recorded error code (0 = none). Not traced. */
int TWAIN_LastErrorCode(void);
/* Copies the recorded text (at most 512 bytes with its terminator) into
 * `buffer`, which must hold 512 bytes. A null buffer is itself reported as an
 * error (ERR_BAD_PARAMETER, shown at once). */
void TWAIN_GetLastErrorText(char* buffer);
/* Clears the record: code 0, text "Success - No error.". */
void TWAIN_ClearError(void);
/* Shows the recorded error (prefixed by `context` when not empty) unless it is
 * one the user need not see (an operation error or a cancel from the device),
 * then clears the record. */
void TWAIN_ReportLastError(const char* context);
/* Shows `message` in a box captioned with the application title, unless error
 * messages are suppressed (then it is only traced). */
void TWAIN_ErrorBox(const char* message);
/* 1 silences every message box of the library, urgent ones included. */
void TWAIN_SetNoMessageBoxes(int flag);
/* Non-zero silences ordinary error boxes (urgent ones still show). Returns the
 * previous setting. */
int TWAIN_SuppressErrorMessages(int flag);
/* 1 if image handles are still allocated (and says so urgently), else 0. */
int TWAIN_ReportLeaks(void);

#ifdef __cplusplus
}
#endif
#endif
