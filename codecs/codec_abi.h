/* The contract between the Orivane library and its six codec modules
 * (OrvJpeg, OrvTiff, OrvPng, OrvGif, OrvDcx, OrvPdf).
 *
 * A module is a shared object "<Name>.so" loaded at run time. It exports plain
 * C functions named "<PREFIX>_<Entry>" (ORVJPEG_DibFromFile,
 * ORVTIFF_BmiWriteToFile, ...); the typedefs below give each entry point's
 * exact signature. The library resolves EVERY entry of a module's list: a
 * module that lacks one (other than the two optional OrvJpeg entries) is
 * unloaded and treated as absent.
 *
 * A module never links against the program. Everything it needs from the
 * library (image allocation, movable memory, the error record, the trace) it
 * reaches through the OrvHost table handed to <PREFIX>_SetHost right after the
 * module is loaded and before any other call except <PREFIX>_Version.
 *
 * ---- Images ---------------------------------------------------------------
 *
 * "Locked DIB" (parameter `bmi`): a `const void*` to the packed DIB block
 * exactly as the library keeps it:
 *   - 40-byte BITMAPINFOHEADER, little-endian: size(u32)=40, width(i32),
 *     height(i32), planes(u16)=1, bit_count(u16), compression(u32),
 *     size_image(u32), x_ppm(i32), y_ppm(i32), clr_used(u32), clr_important(u32);
 *   - then the colour table, 4 bytes per entry (blue, green, red, 0); the
 *     entry count is clr_used, or 2^bit_count when clr_used is 0 and
 *     bit_count <= 8; images deeper than 8 bits have no table;
 *   - or, when the low byte of `compression` is 3 (bit fields), three 32-bit
 *     masks (red, green, blue) instead of a table; 16-bit gray carries the
 *     masks 0xFFFF, 0xFFFF, 0xFFFF;
 *   - then the pixel rows. Stride = ((bit_count * width + 31) / 32) * 4 bytes.
 *     The picture's top row is row 0 for every caller, but the block stores
 *     rows BOTTOM-UP when height > 0 (the top row is the LAST row in the
 *     block) and top-down when height < 0 (the top row first). Images made by
 *     the library, and by OrvHost.dib_alloc, have height > 0 (bottom-up); a
 *     writer must accept both signs. Rows of |height| are present.
 *   Pixel layouts by depth (the library's pixel types, DIB_PT_* of
 *   orivane/dib_api.h; ORV_PT_* below):
 *     1 bit  BW (table of 2; entry 0 is usually black, but honour the table:
 *            a table with entry 0 white is a "min-is-white" image), MSB first;
 *     4, 8   gray (the table is a gray ramp) or palette (any other table);
 *     16     gray, little-endian 16-bit samples (masks 0xFFFF);
 *     24     B, G, R per pixel; 32 B, G, R, 0; 48 B, G, R as 16-bit LE;
 *     compression low byte 5 = subtractive data: 24-bit CMY as C, M, Y;
 *            32-bit CMYK as C, M, Y, K (byte order as stored, first byte C).
 *   Resolution is x_ppm / y_ppm in pixels per metre (dpi = ppm * 0.0254).
 *   Compressed stream: when bits 8..15 of `compression` are not 0 the data
 *   after the table is an encoded stream of size_image bytes, not rows; code
 *   6 (compression = 0x0600 | low byte) is a complete JPEG (JFIF) stream.
 *   OrvJpeg and OrvPdf write such a JPEG stream as it is, without
 *   re-encoding; other writers refuse compressed DIBs (return non-zero).
 *   The block stays locked by the library for the duration of the call only:
 *   a module must not keep the pointer.
 *
 * "DIB handle" (result `uintptr_t`, never 0 for a real image): a movable block
 * of the library (a DIB_HANDLE of orivane/dib_api.h) holding the packed DIB
 * described above. A reader makes it with OrvHost.dib_alloc (which lays out
 * header and default table and counts the image as live), never with a plain
 * mem_alloc block; it then locks it (mem_lock), may grow or shrink it with
 * mem_realloc while unlocked (e.g. a larger colour table), fills header,
 * table and rows, and unlocks it before returning. The library checks every
 * returned block and refuses (frees) one that is not a valid DIB.
 * Ownership of a returned handle passes to the caller. On failure a reader
 * frees what it allocated and returns 0.
 *
 * ---- Results and errors ---------------------------------------------------
 *
 * Write/Begin/Page/End entries return 0 on success and a non-zero module
 * failure code otherwise (the library passes a non-zero result on to its own
 * caller unchanged, so prefer negative values below -10 or small positive
 * ones; never -1..-5, which mean other things to the library's callers).
 * CountPagesIn... return the page count, negative on failure.
 * A module that fails should say why: through its error handler when one is
 * installed (OrvTiff, OrvPdf), and in any case through OrvHost.record_error
 * with a library error code (ERR_* of orivane/errors.h, e.g.
 * ERR_FILE_READ 45, ERR_FILE_WRITE 47, ERR_MEMORY 35, ERR_NOT_FOUND 33,
 * ERR_FILE_ACCESS 34) and a short detail such as the path. The library's
 * error record keeps the first error since it was cleared, so recording is
 * always safe.
 *
 * A fault inside a module (SIGSEGV, SIGBUS, SIGFPE, SIGILL) during a write,
 * read, page count or multipage call is caught by the library: the call
 * fails (writers -5, readers no image, counts -1) with ERR_FAILURE recorded,
 * and the module's frames are abandoned where they stood (what they held is
 * lost). The module stays loaded; a module that can be left inconsistent by
 * an interrupted call must cope with its next call.
 *
 * Writers never leave a truncated file behind on failure: the library hands
 * single-file writes a temporary path in the final folder and renames it into
 * place only after success, but a module must still report every write error
 * (short write, failed flush/close) as a failure.
 *
 * ---- Threads --------------------------------------------------------------
 *
 * The library never calls one module from two threads at the same time. A
 * module keeps its settings (quality, tags, passwords, append flag, open
 * multipage file, ...) in process-wide state; the settings persist until
 * changed. One multipage file per module is open at a time.
 */
#ifndef ORIVANE_CODEC_ABI_H
#define ORIVANE_CODEC_ABI_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Bumped whenever a signature below or the OrvHost layout changes. */
#define ORV_CODEC_ABI_VERSION 1

/* Versions (major * 100 + minor) the modules report through Version(). The
 * library refuses OrvTiff below 1.57 and OrvPdf other than exactly 1.60. */
#define ORVJPEG_VERSION 100
#define ORVTIFF_VERSION 157
#define ORVPNG_VERSION 100
#define ORVGIF_VERSION 100
#define ORVDCX_VERSION 100
#define ORVPDF_VERSION 160
#define ORVTIFF_MIN_VERSION 157
#define ORVPDF_REQUIRED_VERSION 160

/* Pixel types (same numbers as DIB_PT_* and the TWAIN pixel types). */
enum { ORV_PT_BW = 0, ORV_PT_GRAY = 1, ORV_PT_RGB = 2, ORV_PT_PALETTE = 3, ORV_PT_CMY = 4, ORV_PT_CMYK = 5 };

/* Compressed-stream code in bits 8..15 of the header's compression field. */
#define ORV_STREAM_JPEG 6

/* A DIB or memory handle of the library; 0 = none. */
typedef uintptr_t OrvHandle;

/* ---- The host table ---------------------------------------------------- */

typedef struct OrvHost {
  /* ORV_CODEC_ABI_VERSION of the library, and sizeof(OrvHost) it was built
   * with; a module refuses (SetHost returns non-zero) an abi_version it does
   * not know, or a table shorter than the fields up to trace_level. Fields
   * are only ever appended (which keeps the version): a module checks `size`
   * before it reads an appended one. */
  int32_t abi_version;
  uint32_t size;

  /* New DIB block: header filled (width, height > 0 i.e. bottom-up,
   * bit_count, default colour table or masks for the pixel type, no
   * resolution), pixels zero, counted as a live image. `depth` <= 0 takes the
   * type's usual depth; others are normalised to 1, 4, 8, 16, 24, 32, 48.
   * 0 when out of memory or the size overflows (nothing recorded: the module
   * records ERR_MEMORY itself). A module must check width and height against
   * its own limits BEFORE calling this. */
  OrvHandle (*dib_alloc)(int32_t pixel_type, int32_t width, int32_t height, int32_t depth);
  /* Releases a DIB made by dib_alloc (and lowers the live-image count). */
  void (*dib_free)(OrvHandle dib);

  /* Plain movable memory blocks (for BmiWriteToMemory results and for DIBs
   * a module lays out itself). mem_alloc: zero-filled, 0 on failure.
   * mem_realloc: keeps contents, returns the same handle or 0 (block kept).
   * mem_lock: pointer to the bytes, nullptr for a bad handle; each lock is
   * paired with mem_unlock (1 ok, 0 bad or not locked). mem_size: bytes.
   * mem_free: releases a block (never a DIB made by dib_alloc). */
  OrvHandle (*mem_alloc)(size_t size);
  OrvHandle (*mem_realloc)(OrvHandle h, size_t size);
  void* (*mem_lock)(OrvHandle h);
  int32_t (*mem_unlock)(OrvHandle h);
  size_t (*mem_size)(OrvHandle h);
  void (*mem_free)(OrvHandle h);

  /* Records an error in the library's last-error record (first error wins):
   * `code` an ERR_* code of orivane/errors.h, `detail` the text that
   * goes with it (may be null). */
  void (*record_error)(int32_t code, const char* detail);
  /* Writes one line (or part line) to the library's trace log when the
   * trace is on; cheap when it is off. The module adds its own "\n". */
  void (*log)(const char* text);
  /* The library's trace level (0 off); a module may skip building trace
   * text when it is 0. */
  int32_t (*trace_level)(void);

  /* ---- Appended fields: a module reads one only when `size` covers it
   * (ORV_HOST_HAS(host, field)); a library that predates it leaves it out. */

  /* The largest image, in pixels (width x height), a reader may make from a
   * file or buffer (DIB_GetMaxImagePixels; it can change between calls, so
   * ask per image). A reader refuses a larger image from its header, before
   * allocating, and records its usual error code with a text naming the size
   * and this limit. Without this field: ORV_DEFAULT_MAX_IMAGE_PIXELS. */
  int64_t (*max_image_pixels)(void);
} OrvHost;

/* The size of the table before the first appended field: the least a module
 * accepts. */
#define ORV_HOST_BASE_SIZE offsetof(OrvHost, max_image_pixels)

/* Whether the host table `h` holds the appended field `field`. */
#define ORV_HOST_HAS(h, field) \
  ((h)->size >= offsetof(OrvHost, field) + sizeof(((OrvHost*)0)->field))

/* The loading limit a module applies when the library does not say
 * (DIB_DEFAULT_MAX_IMAGE_PIXELS of orivane/dib_api.h). */
#define ORV_DEFAULT_MAX_IMAGE_PIXELS 320000000LL

/* <PREFIX>_SetHost(host): called once after loading. `host` stays valid
 * until the module is unloaded. 0 = accepted; non-zero = the module cannot
 * work with this library (it is then unloaded). */
typedef int32_t (*OrvSetHostFn)(const OrvHost* host);

/* ---- Hooks ---------------------------------------------------------------- */

/* Log handler: one message of the module's own trace (no trailing newline
 * needed). The library prefixes "[OrvTiff] " etc. */
typedef void (*OrvLogHandler)(const char* text);
/* Error handler: `code` is the module's own error number (OrvPdf: the
 * ORVPDF_E_* codes below; OrvTiff: any, the library records ERR_TIFF),
 * `text` a readable message (may be null). Called before the failing entry
 * returns. A null handler uninstalls the hook. */
typedef void (*OrvErrorHandler)(int32_t code, const char* text);

/* OrvPdf error numbers passed to its error handler. */
enum {
  ORVPDF_E_NONE = 0,
  ORVPDF_E_MEMORY = 1,
  ORVPDF_E_IO = 2,           /* read/write failure (recorded as ERR_FILE_READ) */
  ORVPDF_E_TEXT = 3,
  ORVPDF_E_BAD_DIB = 4,
  ORVPDF_E_FILE = 5,         /* cannot open (recorded as ERR_FILE_READ) */
  ORVPDF_E_FAILURE = 6,
  ORVPDF_E_COMPRESSION = 7,  /* 7..11: the page's compression failed */
  ORVPDF_E_FEATURE = 12,     /* unsupported PDF feature */
  ORVPDF_E_FORMAT = 13,      /* not a PDF / damaged */
  ORVPDF_E_INVALID = 14,     /* invalid argument or state */
  ORVPDF_E_PASSWORD = 15     /* missing or wrong password */
};

/* Common entries. */
typedef int32_t (*OrvVersionFn)(void);                      /* major*100+minor */
typedef int32_t (*OrvLastErrorCodeFn)(void);                /* ERR_* of the last failure, 0 none */
typedef const char* (*OrvLastErrorTextFn)(void);            /* never null; module-owned, valid until the next call */
typedef OrvHandle (*OrvDibFromPathFn)(const char* path);    /* new DIB or 0 */
typedef int32_t (*OrvBmiWriteFn)(const void* bmi, const char* path);
typedef int32_t (*OrvBeginMultipageFileFn)(const char* path);
typedef int32_t (*OrvDibWritePageFn)(const void* bmi);
typedef int32_t (*OrvEndMultipageFileFn)(void);
typedef int32_t (*OrvCountPagesInFileFn)(const char* path);
typedef int32_t (*OrvCountPagesInBufferFn)(const void* bytes, int32_t length);
typedef void (*OrvSetIntFn)(int32_t value);
typedef int32_t (*OrvGetIntFn)(void);
typedef void (*OrvSetLogHandlerFn)(OrvLogHandler handler);
typedef void (*OrvSetErrorHandlerFn)(OrvErrorHandler handler);

/* ---- OrvJpeg (prefix ORVJPEG_) ---------------------------------------------
 * DibFromFile(path): decode a JPEG file; gray -> 8-bit gray, colour -> 24-bit
 *   RGB, CMYK/YCCK -> 32-bit CMYK; resolution from the JFIF density. 0 on
 *   failure (LastErrorCode/Text say why).
 * DibFromBuffer(bytes, length) [optional entry]: the same from memory.
 * BmiWriteToFile(bmi, path) -> 0 or non-zero: 1-bit and 4-bit images are
 *   refused (ERR_JPEG_PIXELS); 8-bit gray -> 1 component, palette/24/32/48 ->
 *   YCbCr, CMYK -> Adobe CMYK; a DIB holding a JPEG stream is written as it is.
 *   Resolution written as JFIF density (dots per inch).
 * SetQuality(q) / GetQuality(): 1..100 (clamped by the module), default 75.
 * LastErrorCode() / LastErrorText(): the last failure (ERR_JPEG,
 *   ERR_FILE_READ, ERR_MEMORY, ...), text like "Not a JPEG file".
 * DibForwardDCT(src bmi, dst bmi) [optional entry]: fills `dst` (a locked
 *   DIB of the same pixel type, width, height and depth made by the library)
 *   with the forward DCT of `src` (per 8x8 block, per component, coefficient
 *   values offset by 128 and clamped to the sample range). Components are
 *   the stored sample bytes (8-bit: the byte; 24-bit: B, G, R; 32-bit: all
 *   four), untouched by colour conversion. Each block's 64 coefficients sit
 *   in the block's own 8x8 place in natural order: coefficient (u, v) of
 *   horizontal frequency u and vertical frequency v at column 8*bx + u, row
 *   8*by + v (rows counted from the top); DC = 8 x (mean sample - 128), the
 *   JPEG encoder's scale. 8-, 24- and 32-bit images only (others refused with
 *   ERR_JPEG_PIXELS). 0 or non-zero.
 * BmiWriteToMemory(bmi, &block) -> size in bytes of the JPEG stream, placed in
 *   a new block from OrvHost.mem_alloc stored in *block (the block may be
 *   larger than the size); the caller frees it with mem_free. Negative on
 *   failure (*block = 0).
 */
typedef OrvHandle (*ORVJPEG_DibFromFileFn)(const char* path);
typedef OrvHandle (*ORVJPEG_DibFromBufferFn)(const void* bytes, int32_t length);
typedef int32_t (*ORVJPEG_BmiWriteToFileFn)(const void* bmi, const char* path);
typedef void (*ORVJPEG_SetQualityFn)(int32_t quality);
typedef int32_t (*ORVJPEG_GetQualityFn)(void);
typedef int32_t (*ORVJPEG_VersionFn)(void);
typedef int32_t (*ORVJPEG_LastErrorCodeFn)(void);
typedef int32_t (*ORVJPEG_DibForwardDCTFn)(const void* src_bmi, void* dst_bmi);
typedef int32_t (*ORVJPEG_BmiWriteToMemoryFn)(const void* bmi, OrvHandle* out_block);
typedef const char* (*ORVJPEG_LastErrorTextFn)(void);

/* ---- OrvTiff (prefix ORVTIFF_) ---------------------------------------------
 * DibFromFile(path, page) / DibFromBuffer(bytes, length, page): page 0-based;
 *   any bit depth the library models (1, 4, 8, 16 gray/palette, RGB 24/48,
 *   RGBA -> 32, separated CMYK -> 32 CMYK, min-is-white handled), resolution
 *   from the resolution tags. 0 on failure (error handler + record_error).
 * BmiWriteToFile(bmi, path): one page, compression = the current setting for
 *   the image's pixel type; with the append flag on, adds the page to an
 *   existing file (a missing file is created). Output page count (SetPageCount)
 *   when not -1 is written as PageNumber of the page. 0 or non-zero.
 * BeginMultipageFile(path) / DibWritePage(bmi) / EndMultipageFile(): one
 *   multipage file (append flag honoured at Begin); 0 or non-zero; End closes,
 *   flushes and reports any write error.
 * SetSoftwareName(text), SetScannerModel(text): Software / Model tags of the
 *   files written next (copied; null clears).
 * SetJpegQuality(q): quality for compression 7.
 * SetErrorHandler(h), SetLogHandler(h): see the hooks above.
 * GetStripSize() / SetStripSize(rows or 0 = codec default) -> previous/new.
 * SetCompression(pixel type 0..5, TIFF code) -> 1 taken, 0 refused;
 *   GetCompression(pixel type) -> code. Codes: 1 none, 2 CCITT RLE, 3 G3,
 *   4 G4 (1-bit only), 5 LZW, 7 JPEG (8-bit gray and colour only), 8/32946
 *   deflate, 32773 PackBits.
 * CountPagesInFile(path), CountPagesInMemory(bytes, length) -> pages or < 0.
 * SetAppendFlag(0/1).
 * SetImageDescription(text), SetDocumentName(text) -> 1 ok.
 * SetTag*(tag, ...): tags added to every page written next until ResetTags;
 *   Long(tag, value), Short(tag, value), Ascii(tag, text), Double(tag, v),
 *   Rational(tag, v), RationalArray(tag, values, count), Bytes(tag, bytes,
 *   count) (BYTE type), Undefined(tag, bytes, count) (UNDEFINED type);
 *   each -> 1 ok, 0 refused (unknown tag not defined with DefineCustomTag).
 *   Data is copied.
 * DefineCustomTag(tag, read_count, field_type (TIFF type code), name) -> 1/0.
 * GetTagAscii(path, page, tag, buffer, size) -> length of the tag's text (may
 *   exceed size - 1; the copy is truncated and terminated), negative when the
 *   file or tag is missing.
 * SetPageCount(n): total pages of the next single-page write (-1 = unknown).
 */
typedef OrvHandle (*ORVTIFF_DibFromFileFn)(const char* path, int32_t page);
typedef OrvHandle (*ORVTIFF_DibFromBufferFn)(const void* bytes, int32_t length, int32_t page);
typedef int32_t (*ORVTIFF_BmiWriteToFileFn)(const void* bmi, const char* path);
typedef int32_t (*ORVTIFF_BeginMultipageFileFn)(const char* path);
typedef int32_t (*ORVTIFF_DibWritePageFn)(const void* bmi);
typedef int32_t (*ORVTIFF_EndMultipageFileFn)(void);
typedef void (*ORVTIFF_SetSoftwareNameFn)(const char* name);
typedef void (*ORVTIFF_SetScannerModelFn)(const char* model);
typedef void (*ORVTIFF_SetJpegQualityFn)(int32_t quality);
typedef int32_t (*ORVTIFF_VersionFn)(void);
typedef void (*ORVTIFF_SetErrorHandlerFn)(OrvErrorHandler handler);
typedef void (*ORVTIFF_SetLogHandlerFn)(OrvLogHandler handler);
typedef int32_t (*ORVTIFF_GetStripSizeFn)(void);
typedef int32_t (*ORVTIFF_SetStripSizeFn)(int32_t rows);
typedef int32_t (*ORVTIFF_SetCompressionFn)(int32_t pixel_type, int32_t compression);
typedef int32_t (*ORVTIFF_GetCompressionFn)(int32_t pixel_type);
typedef int32_t (*ORVTIFF_CountPagesInFileFn)(const char* path);
typedef void (*ORVTIFF_SetAppendFlagFn)(int32_t flag);
typedef int32_t (*ORVTIFF_SetImageDescriptionFn)(const char* text);
typedef int32_t (*ORVTIFF_SetDocumentNameFn)(const char* text);
typedef int32_t (*ORVTIFF_SetTagLongFn)(int32_t tag, int32_t value);
typedef int32_t (*ORVTIFF_SetTagBytesFn)(int32_t tag, const void* bytes, int32_t count);
typedef int32_t (*ORVTIFF_SetTagUndefinedFn)(int32_t tag, const void* bytes, int32_t count);
typedef int32_t (*ORVTIFF_SetTagDoubleFn)(int32_t tag, double value);
typedef int32_t (*ORVTIFF_SetTagRationalFn)(int32_t tag, double value);
typedef int32_t (*ORVTIFF_SetTagRationalArrayFn)(int32_t tag, const double* values, int32_t count);
typedef void (*ORVTIFF_ResetTagsFn)(void);
typedef int32_t (*ORVTIFF_DefineCustomTagFn)(int32_t tag, int32_t read_count, int32_t field_type,
                                             const char* name);
typedef int32_t (*ORVTIFF_SetTagAsciiFn)(int32_t tag, const char* text);
typedef int32_t (*ORVTIFF_SetTagShortFn)(int32_t tag, int32_t value);
typedef int32_t (*ORVTIFF_GetTagAsciiFn)(const char* path, int32_t page, int32_t tag, char* buffer,
                                         int32_t size);
typedef void (*ORVTIFF_SetPageCountFn)(int32_t pages);
typedef int32_t (*ORVTIFF_CountPagesInMemoryFn)(const void* bytes, int32_t length);

/* ---- OrvPng (prefix ORVPNG_), OrvGif (prefix ORVGIF_) ----------------------
 * DibFromFile(path) -> new DIB or 0. PNG: gray 1/2/4/8 -> 1/4/8 gray (2-bit
 *   widened to 4), 16-bit gray -> 16, palette -> 8 (or 1/4), RGB -> 24,
 *   RGBA -> 32, 16-bit colour -> 48; pHYs -> resolution. GIF: first image,
 *   8-bit palette (1/4 for small tables allowed).
 * BmiWriteToFile(bmi, path) -> 0 or non-zero. GIF takes 1-, 4- and 8-bit
 *   images only (the library converts deeper ones first).
 * Version().
 */
typedef OrvHandle (*ORVPNG_DibFromFileFn)(const char* path);
typedef int32_t (*ORVPNG_BmiWriteToFileFn)(const void* bmi, const char* path);
typedef int32_t (*ORVPNG_VersionFn)(void);
typedef OrvHandle (*ORVGIF_DibFromFileFn)(const char* path);
typedef int32_t (*ORVGIF_BmiWriteToFileFn)(const void* bmi, const char* path);
typedef int32_t (*ORVGIF_VersionFn)(void);

/* ---- OrvDcx (prefix ORVDCX_) -----------------------------------------------
 * DibFromFile(path): reads the page chosen by SelectPageToRead (then resets
 *   the selection to 0); 1-bit (also 8-bit / 24-bit PCX pages if present).
 * BmiWriteToFile(bmi, path): one page; with the append flag on, adds the page
 *   to an existing DCX. 1-bit only (the library converts first).
 * Begin/DibWritePage/End: as OrvTiff.
 * CountPagesInFile(path), CountPagesInBuffer(bytes, length) -> pages or < 0.
 * SelectPageToRead(page 0-based). SetAppendFlag(0/1). SetLogHandler(h).
 */
typedef OrvHandle (*ORVDCX_DibFromFileFn)(const char* path);
typedef int32_t (*ORVDCX_BmiWriteToFileFn)(const void* bmi, const char* path);
typedef int32_t (*ORVDCX_BeginMultipageFileFn)(const char* path);
typedef int32_t (*ORVDCX_DibWritePageFn)(const void* bmi);
typedef int32_t (*ORVDCX_EndMultipageFileFn)(void);
typedef int32_t (*ORVDCX_VersionFn)(void);
typedef int32_t (*ORVDCX_CountPagesInFileFn)(const char* path);
typedef void (*ORVDCX_SelectPageToReadFn)(int32_t page);
typedef void (*ORVDCX_SetAppendFlagFn)(int32_t flag);
typedef void (*ORVDCX_SetLogHandlerFn)(OrvLogHandler handler);
typedef int32_t (*ORVDCX_CountPagesInBufferFn)(const void* bytes, int32_t length);

/* ---- OrvPdf (prefix ORVPDF_) -----------------------------------------------
 * Writing. BmiWriteToFile(bmi, path, append): one page; append = 1 adds it to
 *   an existing PDF (a missing file is created). BeginMultipageFile(path,
 *   append) / DibWritePage(bmi) / EndMultipageFile(): a multipage PDF file.
 *   SetAppendSource(path): the existing PDF that appends read their pages
 *   from, instead of the file they write (null or "" = that file itself);
 *   the output file is then written from the start, never read.
 *   BeginMultipage(writer) / DibWritePage / EndMultipage(): a PDF produced
 *   into the writer's callback instead of a file (the in-memory PDF); the
 *   module calls writer->write for each chunk, in order; a non-zero return
 *   from write aborts with that value. All -> 0 or non-zero.
 *   Page images: a JPEG-stream DIB as DCT without re-encoding; BW as CCITT G4;
 *   others per SetCompression. Media box: SetMediaBox, or when it is empty
 *   the image's size / resolution.
 *   Settings in force at each page: SetJpegQuality(q), SetCompression(pixel
 *   type 0..5 or -1 all, code) -> 1 taken / 0 refused (codes ORVPDF_COMP_*),
 *   GetCompression(pixel type) -> code; SetMediaBox(x0, y0, x1, y1) in
 *   INCHES, all 0 = from the image; document properties SetTitle, SetAuthor,
 *   SetSubject, SetKeywords, SetCreator, SetProducer (text copied, -> 1 ok);
 *   SetUserPassword, SetOwnerPassword (null or "" = none; AES),
 *   SetPermissions(flags, ORVPDF_PERM_*) / GetPermissions();
 *   SetPDFACompliance(level 0 off, 1 PDF/A-1b) -> 1 ok / GetPDFACompliance().
 *   With PDF/A on, passwords are ignored (PDF/A forbids encryption): the
 *   module writes an unencrypted file and traces the fact.
 * Text layer (drawn invisibly or visibly over the NEXT page written):
 *   SetTextSize(points), SetTextHorizontalScaling(ratio, 1.0 = normal),
 *   SetTextRenderMode(mode 0 fill .. 3 invisible) / GetTextRenderMode(),
 *   DrawText(x, y, text): x, y in pixels of the next page image, origin top
 *   left, y is the baseline -> 0 ok; AnsiTextWidth(text, points) -> width in
 *   points of the text in the layer's font (Helvetica metrics).
 * Reading (password = the open password, null or "" when none):
 *   DibFromFile(path, page, password), DibFromBuffer(bytes, length, page,
 *   password) -> new DIB or 0; CountPagesInFile(path, password),
 *   CountPagesInBuffer(bytes, length, password) -> pages or < 0;
 *   LoadDibsFromFile(path, start, count, password, out) stores up to count
 *   new DIBs of pages start.. into out[0..] -> number stored, negative on
 *   failure (then out holds no DIBs: the module freed them);
 *   SetOpenPassword(password): default used when a read gets null;
 *   IsEncrypted(path) -> 1 / 0, negative when unreadable;
 *   IsOneOfOurs(path, password) -> 1 when this module wrote the file, else 0;
 *   ReadDocumentProperty(path, property ("Title", "Author", "Subject",
 *   "Keywords", "Creator", "Producer", "CreationDate", "ModDate"), password,
 *   buffer, size) -> length of the value (copy truncated to size - 1 and
 *   terminated when buffer is not null and size > 0), negative when absent.
 * Hooks: SetErrorHandler(h) (ORVPDF_E_* codes), SetLogHandler(h).
 */
typedef struct OrvPdfWriter {
  const char* name;   /* for the trace, e.g. "PDF-in-memory" */
  void* context;
  int32_t (*write)(void* context, const void* bytes, int32_t length);  /* 0 ok */
} OrvPdfWriter;

enum {
  ORVPDF_COMP_DEFAULT = -1,
  ORVPDF_COMP_NONE = 0,
  ORVPDF_COMP_FLATE = 1,
  ORVPDF_COMP_JPEG = 2,   /* DCT at the current JPEG quality (8-bit gray, colour) */
  ORVPDF_COMP_G4 = 3      /* CCITT Group 4 (BW only) */
};

/* Permission flags (the PDF standard's P bits). */
enum {
  ORVPDF_PERM_PRINT = 0x0004,
  ORVPDF_PERM_MODIFY = 0x0008,
  ORVPDF_PERM_COPY = 0x0010,
  ORVPDF_PERM_ANNOTATE = 0x0020,
  ORVPDF_PERM_FILL_FORMS = 0x0100,
  ORVPDF_PERM_EXTRACT = 0x0200,
  ORVPDF_PERM_ASSEMBLE = 0x0400,
  ORVPDF_PERM_PRINT_HIGH = 0x0800,
  ORVPDF_PERM_ALL = 0x0F3C
};

typedef int32_t (*ORVPDF_BmiWriteToFileFn)(const void* bmi, const char* path, int32_t append);
typedef int32_t (*ORVPDF_BeginMultipageFileFn)(const char* path, int32_t append);
typedef void (*ORVPDF_SetAppendSourceFn)(const char* path);
typedef int32_t (*ORVPDF_DibWritePageFn)(const void* bmi);
typedef int32_t (*ORVPDF_EndMultipageFileFn)(void);
typedef void (*ORVPDF_SetJpegQualityFn)(int32_t quality);
typedef int32_t (*ORVPDF_VersionFn)(void);
typedef int32_t (*ORVPDF_SetTitleFn)(const char* text);
typedef int32_t (*ORVPDF_SetAuthorFn)(const char* text);
typedef int32_t (*ORVPDF_SetSubjectFn)(const char* text);
typedef int32_t (*ORVPDF_SetKeywordsFn)(const char* text);
typedef int32_t (*ORVPDF_SetCreatorFn)(const char* text);
typedef int32_t (*ORVPDF_SetProducerFn)(const char* text);
typedef int32_t (*ORVPDF_CountPagesInFileFn)(const char* path, const char* password);
typedef void (*ORVPDF_SetErrorHandlerFn)(OrvErrorHandler handler);
typedef void (*ORVPDF_SetLogHandlerFn)(OrvLogHandler handler);
typedef OrvHandle (*ORVPDF_DibFromFileFn)(const char* path, int32_t page, const char* password);
typedef int32_t (*ORVPDF_BeginMultipageFn)(const OrvPdfWriter* writer);
typedef int32_t (*ORVPDF_EndMultipageFn)(void);
typedef int32_t (*ORVPDF_DrawTextFn)(double x, double y, const char* text);
typedef void (*ORVPDF_SetTextSizeFn)(double points);
typedef void (*ORVPDF_SetTextHorizontalScalingFn)(double ratio);
typedef void (*ORVPDF_SetTextRenderModeFn)(int32_t mode);
typedef int32_t (*ORVPDF_GetTextRenderModeFn)(void);
typedef void (*ORVPDF_SetMediaBoxFn)(double x0, double y0, double x1, double y1);
typedef int32_t (*ORVPDF_SetCompressionFn)(int32_t pixel_type, int32_t compression);
typedef int32_t (*ORVPDF_GetCompressionFn)(int32_t pixel_type);
typedef double (*ORVPDF_AnsiTextWidthFn)(const char* text, double points);
typedef int32_t (*ORVPDF_SetUserPasswordFn)(const char* password);
typedef int32_t (*ORVPDF_SetOwnerPasswordFn)(const char* password);
typedef void (*ORVPDF_SetPermissionsFn)(uint32_t flags);
typedef uint32_t (*ORVPDF_GetPermissionsFn)(void);
typedef int32_t (*ORVPDF_SetPDFAComplianceFn)(int32_t level);
typedef int32_t (*ORVPDF_GetPDFAComplianceFn)(void);
typedef OrvHandle (*ORVPDF_DibFromBufferFn)(const void* bytes, int32_t length, int32_t page,
                                            const char* password);
typedef int32_t (*ORVPDF_CountPagesInBufferFn)(const void* bytes, int32_t length,
                                               const char* password);
typedef void (*ORVPDF_SetOpenPasswordFn)(const char* password);
typedef int32_t (*ORVPDF_IsEncryptedFn)(const char* path);
typedef int32_t (*ORVPDF_IsOneOfOursFn)(const char* path, const char* password);
typedef int32_t (*ORVPDF_LoadDibsFromFileFn)(const char* path, int32_t start, int32_t count,
                                             const char* password, OrvHandle* out);
typedef int32_t (*ORVPDF_ReadDocumentPropertyFn)(const char* path, const char* property,
                                                 const char* password, char* buffer, int32_t size);

/* In a module's source, declare each export with the matching typedef's
 * signature and ORV_CODEC_EXPORT, e.g.
 *   ORV_CODEC_EXPORT int32_t ORVPNG_Version(void) { return ORVPNG_VERSION; }
 * Compile modules with -fvisibility=hidden so only these are exported. */
#if defined(__GNUC__)
#define ORV_CODEC_EXPORT __attribute__((visibility("default")))
#else
#define ORV_CODEC_EXPORT
#endif

#ifdef __cplusplus
}
#endif
#endif
