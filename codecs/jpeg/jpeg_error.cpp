#include "codecs/jpeg/jpeg_error.h"

#include <cstring>

namespace orvjpeg {
namespace {

[[noreturn]] void on_error_exit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->text);
  std::longjmp(err->jump, 1);
}

// Warnings are silent, except that a stream ending early is a failure: the
// decoder would otherwise pad the missing rows and report success.
void on_emit_message(j_common_ptr cinfo, int level) {
  if (level < 0) {
    ++cinfo->err->num_warnings;
    if (cinfo->err->msg_code == JWRN_JPEG_EOF) on_error_exit(cinfo);
  }
}

void on_output_message(j_common_ptr) {}

}  // namespace

jpeg_error_mgr* error_manager_install(ErrorManager* err) {
  jpeg_error_mgr* pub = jpeg_std_error(&err->pub);
  pub->error_exit = on_error_exit;
  pub->emit_message = on_emit_message;
  pub->output_message = on_output_message;
  err->text[0] = '\0';
  return pub;
}

void error_fail(j_common_ptr cinfo, const char* text) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  std::snprintf(err->text, sizeof err->text, "%s", text);
  std::longjmp(err->jump, 1);
}

}  // namespace orvjpeg
