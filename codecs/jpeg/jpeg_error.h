// The longjmp error manager shared by the JPEG encoder and decoder. A function
// that calls setjmp on `jump` must hold no C++ object with a destructor that
// the jump would skip.
#pragma once
#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>
#include <jerror.h>

namespace orvjpeg {

struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  char text[JMSG_LENGTH_MAX];
};

// Installs the manager on `err` and returns libjpeg's view of it.
jpeg_error_mgr* error_manager_install(ErrorManager* err);
// Stores `text` as the failure and jumps back to the caller's setjmp.
[[noreturn]] void error_fail(j_common_ptr cinfo, const char* text);

}  // namespace orvjpeg
