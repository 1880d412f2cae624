/* Every public header compiled as C, each renamed header beside its former
 * name: the headers promise plain C, and a program may include both names. */
#include "orivane/barcode_api.h"
#include "orivane/bmp_api.h"
#include "orivane/dib_analysis.h"
#include "orivane/dib_api.h"
#include "orivane/dib_text.h"
#include "orivane/errors.h"
#include "orivane/file_api.h"
#include "orivane/file_options.h"
#include "orivane/multipage_files.h"
#include "orivane/ocr_api.h"
#include "orivane/print_api.h"
#include "orivane/pdf_api.h"
#include "orivane/trace_log.h"
#include "orivane/twain.h"
#include "orivane/twain_acquire.h"
#include "orivane/twain_capability.h"
#include "orivane/twain_container.h"
#include "orivane/twain_error.h"
#include "orivane/twain_extinfo.h"
#include "orivane/twain_files.h"
#include "orivane/twain_log.h"
#include "orivane/twain_manager.h"
#include "orivane/twain_multipage.h"
#include "orivane/twain_multipage_acquire.h"
#include "orivane/twain_session.h"
#include "orivane/twain_settings.h"
#include "orivane/twain_sources.h"
#include "orivane/twain_switches.h"
#include "orivane/upload_api.h"
#include "orivane/view_api.h"

typedef void (*AnyFunction)(void);

/* One operation of each renamed header as a C program links to it; null past
 * the last. */
AnyFunction c_view_of_renamed_header(int index) {
  switch (index) {
    case 0: return (AnyFunction)&TWAIN_LastErrorCode;      /* errors.h */
    case 1: return (AnyFunction)&TWAIN_SetJpegQuality;     /* file_options.h */
    case 2: return (AnyFunction)&TWAIN_BeginMultipageFile; /* multipage_files.h */
    case 3: return (AnyFunction)&TWAIN_LogFile;            /* trace_log.h */
    default: return 0;
  }
}

/* An error code as a C program sees it. */
int c_view_of_error_code(void) { return ERR_FILE_IN_USE; }
