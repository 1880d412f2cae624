// The viewer's C entry points (TWAIN_ViewFile, DIB_View and their options).
// They live in the TWAIN layer, not beside the window in ui/, because an
// accepted option ends by letting the thread's waiting messages through the
// library's message pump (TWAIN_PumpMessages, TWAIN_EmptyMessageQueue), which
// is this layer's; the window itself and all its behaviour are ui/'s.
#include "orivane/view_api.h"

#include <string>

#include "core/error_record.h"
#include "log/trace.h"
#include "orivane/errors.h"
#include "orivane/file_api.h"
#include "orivane/twain_acquire.h"
#include "ui/viewer_window.h"

namespace {

std::string text_of(const char* s) { return s != nullptr ? s : ""; }

// Nothing thrown inside the viewer crosses the C boundary: it is recorded
// and the call answers `failed`.
template <typename Call>
auto guarded(decltype(std::declval<Call>()()) failed, Call call) {
  try {
    return call();
  } catch (...) {
    RecordError(ERR_FAILURE, "viewer");
    return failed;
  }
}

int32_t set_option(const char* name, const char* value) {
  const bool known = guarded(false, [&] { return ui::viewer_set_option(text_of(name), text_of(value)); });
  if (!known) return 0;
  // Let the window act on the option now.
  TWAIN_PumpMessages(2);
  TWAIN_EmptyMessageQueue();
  return 1;
}

int32_t is_open() {
  const int32_t open = ui::viewer_is_open() ? 1 : 0;
  LogPrint("IsViewOpen => %d\n", open);
  return open;
}

int32_t view_close() {
  guarded(0, [] {
    ui::viewer_close();
    return 0;
  });
  return 1;
}

}  // namespace

int32_t TWAIN_ViewFile(const char* path_in) {
  LogApiCall("ViewFile(%s)\n", path_in != nullptr ? path_in : "");
  std::string path = text_of(path_in);
  if (path.empty()) {
    char chosen[260] = {0};
    if (!PromptForOpenFilename(chosen)) return -1;
    path = chosen;
  }
  return guarded(-2, [&] { return ui::viewer_view_file(path); });
}

int32_t DIB_View(DIB_HANDLE dib, const char* title, uintptr_t parent) {
  LogDibCall("View(0x%08x, '%s', 0x%08x)\n", static_cast<unsigned>(dib),
             title != nullptr ? title : "", static_cast<unsigned>(parent));
  return guarded(-1, [&] { return ui::viewer_view_image(dib, text_of(title), parent); });
}

int32_t TWAIN_SetViewOption(const char* name, const char* value) {
  LogApiCall("SetViewOption(\"%s\",\"%s\")\n", name ? name : "", value ? value : "");
  return set_option(name, value);
}

int32_t DIB_SetViewOption(const char* name, const char* value) {
  LogDibCall("SetViewOption(\"%s\",\"%s\")\n", name ? name : "", value ? value : "");
  return set_option(name, value);
}

void DIB_SetViewImage(DIB_HANDLE dib) {
  LogDibCall("SetViewImage(%08x)\n", static_cast<unsigned>(dib));
  guarded(0, [&] {
    ui::viewer_set_image(dib);
    return 0;
  });
}

int32_t TWAIN_IsViewOpen(void) {
  LogApiCall("%s", "");
  return is_open();
}

int32_t DIB_IsViewOpen(void) {
  LogDibCall("%s", "");
  return is_open();
}

int32_t TWAIN_ViewClose(void) {
  LogApiCall("ViewClose\n");
  return view_close();
}

int32_t DIB_ViewClose(void) {
  LogDibCall("ViewClose\n");
  return view_close();
}

int32_t TWAIN_GetLastViewPosition(int32_t* out_left, int32_t* out_top, int32_t* out_width,
                                  int32_t* out_height) {
  const ui::ViewRect r = ui::viewer_last_position();
  LogApiCall("GetLastViewPosition(%d,%d,%d,%d)\n", r.left, r.top, r.width(), r.height());
  if (out_left) *out_left = r.left;
  if (out_top) *out_top = r.top;
  if (out_width) *out_width = r.width();
  if (out_height) *out_height = r.height();
  return 1;
}
