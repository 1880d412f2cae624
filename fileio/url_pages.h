// The loaders hand names that begin with "http:", "https:" or "ftp:" to the
// download, which lives above them (upload/): it installs itself here when
// the library is attached.
#pragma once
#include "orivane/dib_api.h"

namespace fileio {

// Loads `count` pages from page `start` of the file at `url` into `array`:
// the number loaded, or -1 with the error recorded.
using UrlPagesLoader = int (*)(const char* url, DIB_HANDLE* array, int start, int count);

void set_url_pages_loader(UrlPagesLoader loader);
// The installed loader, or nullptr.
UrlPagesLoader url_pages_loader();

}  // namespace fileio
