// Copying an image file page by page into a new file of the format its name
// asks for (a PDF of a TIFF, a TIFF of scanned DCX pages...).
#include "fileio/multipage.h"
#include "log/trace.h"
#include "orivane/file_api.h"
#include "orivane/multipage_files.h"

int FileCopy(const char* input, const char* output, int options) {
  LogPrint("FileCopy\n..in=  '%s'\n..out= '%s'\n..opts=%d\n", input ? input : "", output ? output : "",
           options);
  const int pages = FilePageCount(input);
  if (pages < 0) return -2;
  if (pages == 0) return -3;
  if (const int rc = TWAIN_BeginMultipageFile(output); rc != 0) return rc;
  for (int page = 0; page < pages; ++page) {
    const DIB_HANDLE dib = DIB_LoadPage(input, page);
    if (dib == 0) break;  // the pages that load are copied
    if (const int rc = fileio::DibWritePage(dib, 2); rc != 0) {
      TWAIN_EndMultipageFile();
      return rc;
    }
  }
  return TWAIN_EndMultipageFile();
}
