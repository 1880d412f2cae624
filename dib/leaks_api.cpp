// The leak report of the public error operations. It counts image handles,
// so it lives with them rather than with the error record below this layer.
#include "orivane/errors.h"

#include <cstdio>

#include "core/error_record.h"
#include "dib/live_count.h"
#include "log/trace.h"

int TWAIN_ReportLeaks(void) {
  LogApiCall("ReportLeaks\n");
  long live = dib::live_count();
  if (live == 0) return 0;
  char text[64];
  std::snprintf(text, sizeof text, "Image handles (DIBs) in use: %ld\n", live);
  ReportUrgentError(ERR_FAILURE, text);
  return 1;
}
