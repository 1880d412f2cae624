#include "dsm/dsm_log.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace dsm {

void dsm_log(const char* format, ...) {
  const char* path = std::getenv("QUILLET_DSM_LOG");
  if (path == nullptr || *path == '\0') return;
  // Opened per line: the log is rare, and a file kept open would outlive the
  // module when it is unloaded.
  std::FILE* file = std::fopen(path, "a");
  if (file == nullptr) return;
  std::fputs("twaindsm: ", file);
  va_list args;
  va_start(args, format);
  std::vfprintf(file, format, args);
  va_end(args);
  std::fputc('\n', file);
  std::fclose(file);
}

}  // namespace dsm
